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

bool WinSetupSystem::TakeRunLock(unsigned milliseconds) {
  // One lock for every installer of the product's add-ons, in every session: a deployment runs
  // as SYSTEM in session 0 while a pupil runs the installer at the desktop. Only an elevated
  // process may create an object in the global namespace, so no user can take it in advance.
  if (!runLock_) runLock_.reset(::CreateMutexW(nullptr, FALSE, L"Global\\MirvaneAddonSetup"));
  if (!runLock_) return false;
  // Abandoned: a run that ended without letting go (killed) holds nothing any more.
  const DWORD waited = ::WaitForSingleObject(runLock_.get(), milliseconds);
  return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

bool WinSetupSystem::IsProductRunning() { return mv::IsProductRunning(); }

bool WinSetupSystem::AskProductToQuit() { return mv::AskProductToQuit(quittingProduct_); }

bool WinSetupSystem::WaitForProductToEnd(unsigned milliseconds) {
  return mv::WaitForProductToEnd(quittingProduct_, milliseconds);
}

IntegrityResult WinSetupSystem::CheckInstallerFile() { return check_.Verdict(); }

bool WinSetupSystem::FileExists(const std::wstring& path) { return mv::FileExists(path); }

WriteResult WinSetupSystem::ExtractPayload(std::string_view name, std::string_view kind,
                                           const std::wstring& destination, bool checkExisting, SetupUi& ui,
                                           BeforeCommit& beforeCommit) {
  return mv::ExtractPayload(name, kind, destination, checkExisting, ui, beforeCommit);
}

WriteResult WinSetupSystem::ExtractSplitPayload(std::string_view name, std::string_view kind,
                                                const std::wstring& destination, SetupUi& ui,
                                                BeforeCommit& beforeCommit) {
  return mv::ExtractSplitPayload(name, kind, destination, ui, beforeCommit);
}

std::optional<std::int32_t> WinSetupSystem::GetFolderSizeKB(const std::wstring& folder) {
  const std::int32_t size = mv::GetFolderSizeKB(folder);
  if (size == -1) return std::nullopt;
  return size;
}

ShellStart WinSetupSystem::LaunchProduct(const std::wstring& productFolder) { return mv::LaunchProduct(productFolder); }

void WinSetupSystem::EndWithUnhandledError(std::string_view what) { mv::EndWithUnhandledError(what); }

}  // namespace mv
