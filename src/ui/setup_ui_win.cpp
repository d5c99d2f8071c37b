#include "ui/setup_ui_win.h"

#include "ui/message_boxes_win.h"
#include "ui/progress_window_win.h"

namespace mv {

void WinSetupUi::ShowError(std::wstring_view en, std::wstring_view ru) { ShowErrorBox(russian_ ? ru : en, russian_); }

void WinSetupUi::ShowNotice(std::wstring_view en, std::wstring_view ru) { ShowNoticeBox(russian_ ? ru : en, russian_); }

bool WinSetupUi::Ask(std::wstring_view text, std::wstring_view caption, bool russian) {
  return AskQuestionBox(text, caption, russian);
}

void WinSetupUi::HideProgressWindow() { mv::HideProgress(); }

bool WinSetupUi::ShowProgressWindow(std::string_view caption, std::string_view text) {
  return mv::ShowProgress(caption, text);
}

}  // namespace mv
