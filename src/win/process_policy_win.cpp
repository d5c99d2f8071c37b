#include "win/process_policy_win.h"

#include <windows.h>

#include "win/system_library_win.h"

namespace mv {

namespace {

// Of PROCESS_MITIGATION_POLICY and PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY, which older
// headers lack.
constexpr int kRedirectionTrustPolicy = 16;
constexpr DWORD kEnforceRedirectionTrust = 1;

}  // namespace

void ApplyProcessPolicies() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // Looked up by name: Windows 8 and later. Systems without the policy refuse it, which leaves
  // the checks of each path the installer opens.
  using SetPolicyFn = BOOL(WINAPI*)(int, PVOID, SIZE_T);
  if (const auto setPolicy = KernelProcedure<SetPolicyFn>("SetProcessMitigationPolicy")) {
    DWORD flags = kEnforceRedirectionTrust;
    setPolicy(kRedirectionTrustPolicy, &flags, sizeof flags);
  }
}

}  // namespace mv
