#include "app/win_setup_host.h"

#include <windows.h>

#include "app/integrity.h"
#include "app/product_launch.h"
#include "env/files.h"
#include "env/message_boxes.h"
#include "env/startup.h"
#include "install/extract.h"
#include "install/folder_size.h"
#include "ui/progress_window.h"

namespace mv {

namespace {

// The payload writer's side of the desktop: message boxes and the progress window.
class WinExtractUi final : public ExtractUi {
 public:
  void ShowBilingualError(std::wstring_view en, std::wstring_view ru) override { mv::ShowBilingualError(en, ru); }
  bool RussianMessages() override { return Settings().RussianMessages; }
  bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) override {
    return AskQuestion(text, caption, russian);
  }
  void HideProgress() override { mv::HideProgress(); }
  bool ShowProgress(std::string_view caption, std::string_view text) override {
    return mv::ShowProgress(caption, text);
  }
};

}  // namespace

bool UserIsAdministrator() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &administrators))
    return false;
  // With no token given, the check uses the thread's effective token: a filtered token of a
  // non-elevated administrator has the group only for deny, which does not count.
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  ::FreeSid(administrators);
  return member != FALSE;
}

void WinSetupHost::ShowBilingualError(std::wstring_view en, std::wstring_view ru) { mv::ShowBilingualError(en, ru); }

bool WinSetupHost::IsUserAnAdmin() { return UserIsAdministrator(); }

bool WinSetupHost::IsProductRunning() { return mv::IsProductRunning(); }

void WinSetupHost::AskProductToQuit() { mv::AskProductToQuit(); }

bool WinSetupHost::VerifyInstallerFile() { return mv::VerifyInstallerFile(*this); }

bool WinSetupHost::FileExists(const std::string& path) { return mv::FileExists(path); }

bool WinSetupHost::Ask(std::wstring_view text, std::wstring_view caption, bool russian) {
  return AskQuestion(text, caption, russian);
}

void WinSetupHost::ExtractPayload(std::string_view name, std::string_view kind, const std::string& destination,
                                  bool checkExisting) {
  WinExtractUi ui;
  mv::ExtractPayload(name, kind, destination, checkExisting, ui);
}

void WinSetupHost::ExtractSplitPayload(std::string_view name, std::string_view kind, const std::string& destination) {
  mv::ExtractSplitPayload(name, kind, destination, *this);
}

std::int32_t WinSetupHost::GetFolderSizeKB(const std::string& folder) { return mv::GetFolderSizeKB(folder); }

void WinSetupHost::LaunchProduct(const std::string& productFolder, const std::string& productName) {
  mv::LaunchProduct(productFolder, productName);
}

}  // namespace mv
