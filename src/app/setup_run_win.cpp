#include "app/setup_run_win.h"

#include <windows.h>

#include "install/extract_win.h"
#include "install/folder_size_win.h"
#include "integrity/stamp_win.h"
#include "product/launch_win.h"
#include "ui/message_boxes_win.h"
#include "win/files_win.h"
#include "win/handles_win.h"

namespace mv {

bool UserIsAdministrator() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  UniqueSid administrators;
  if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, administrators.put()))
    return false;
  // With no token given, the check uses the thread's effective token: a filtered token of a
  // non-elevated administrator has the group only for deny, which does not count.
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, administrators.get(), &member)) member = FALSE;
  return member != FALSE;
}

bool WinSetupSystem::IsUserAnAdmin() { return UserIsAdministrator(); }

bool WinSetupSystem::IsProductRunning() { return mv::IsProductRunning(); }

bool WinSetupSystem::AskProductToQuit() { return mv::AskProductToQuit(quittingProduct_); }

void WinSetupSystem::WaitForProductToEnd(unsigned milliseconds) {
  mv::WaitForProductToEnd(quittingProduct_, milliseconds);
}

IntegrityResult WinSetupSystem::CheckInstallerFile() { return check_.Verdict(); }

bool WinSetupSystem::FileExists(const std::wstring& path) { return mv::FileExists(path); }

bool WinSetupSystem::ExtractPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                                    bool checkExisting, SetupUi& ui, BeforeCommit& beforeCommit) {
  return mv::ExtractPayload(name, kind, destination, checkExisting, ui, beforeCommit);
}

bool WinSetupSystem::ExtractSplitPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                                         SetupUi& ui, BeforeCommit& beforeCommit) {
  return mv::ExtractSplitPayload(name, kind, destination, ui, beforeCommit);
}

std::int32_t WinSetupSystem::GetFolderSizeKB(const std::wstring& folder) { return mv::GetFolderSizeKB(folder); }

void WinSetupSystem::LaunchProduct(const std::wstring& productFolder) { mv::LaunchProduct(productFolder); }

void WinSetupSystem::EndWithUnhandledError(std::string_view what) { mv::EndWithUnhandledError(what); }

}  // namespace mv
