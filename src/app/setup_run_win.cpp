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

namespace {

// The run lock's file in the product folder: there only while a run holds it. No data file takes
// this name: a payload's name has no "-".
constexpr wchar_t kRunLockName[] = L"~mirvane-setup.lock";

}  // namespace

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

RunLock WinSetupSystem::TakeRunLock(const std::wstring& productFolder, unsigned milliseconds) {
  // One lock for every installer of the product's add-ons, in every session (a deployment runs
  // as SYSTEM in session 0 while a pupil runs the installer at the desktop): a file in the
  // product folder that the run holds open without sharing, and that goes with its last handle,
  // also when the run is killed. Only administrators may create a file there, so no other user
  // can take it in advance or hold it; a name in the global namespace of kernel objects, where
  // any user may create an object first, can be taken by anyone for good.
  if (runLock_) return {RunLock::State::Taken};
  const std::wstring path = productFolder + kRunLockName;
  const DWORD start = ::GetTickCount();
  for (int closing = 0;;) {
    // FILE_FLAG_OPEN_REPARSE_POINT: a link planted under the name is the file that goes.
    runLock_.reset(::CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
    if (runLock_) return {RunLock::State::Taken};
    const DWORD error = ::GetLastError();
    // The lock of a run that has just ended is about to go: Windows refuses to open a file on its
    // way out with "access denied".
    if (error == ERROR_ACCESS_DENIED && ++closing <= 20) {
      ::Sleep(10);
      continue;
    }
    if (error != ERROR_SHARING_VIOLATION) return {RunLock::State::Unavailable, error};
    if (::GetTickCount() - start >= milliseconds) return {RunLock::State::Held, error};
    ::Sleep(100);
  }
}

bool WinSetupSystem::IsProductRunning() { return mv::IsProductRunning(); }

bool WinSetupSystem::AskProductToQuit() { return mv::AskProductToQuit(quittingProduct_); }

bool WinSetupSystem::WaitForProductToEnd(unsigned milliseconds) {
  return mv::WaitForProductToEnd(quittingProduct_, milliseconds);
}

IntegrityResult WinSetupSystem::CheckInstallerFile() { return check_.Verdict(); }

std::wstring WinSetupSystem::InstallerFileFailure() { return check_.Failure(); }

bool WinSetupSystem::FileExists(const std::wstring& path) { return mv::FileExists(path); }

void WinSetupSystem::StagePayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                                  int parts, StagedPayload& staged) {
  mv::StagePayload(name, kind, destination, true, parts, staged);
}

WriteResult WinSetupSystem::CommitPayload(StagedPayload& staged, BeforeCommit& beforeCommit, InUsePolicy policy) {
  return mv::CommitPayload(staged, beforeCommit, policy);
}

void WinSetupSystem::DiscardPayload(StagedPayload& staged) { mv::DiscardPayload(staged); }

std::optional<std::int32_t> WinSetupSystem::GetFolderSizeKB(const std::wstring& folder,
                                                            const std::wstring& replacedAtRestart) {
  const std::int32_t size = mv::GetFolderSizeKB(folder, replacedAtRestart);
  if (size == -1) return std::nullopt;
  return size;
}

ShellStart WinSetupSystem::LaunchProduct(const std::wstring& productFolder) { return mv::LaunchProduct(productFolder); }

void WinSetupSystem::EndWithUnhandledError(std::string_view what) { mv::EndWithUnhandledError(what); }

}  // namespace mv
