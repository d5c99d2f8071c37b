#include "ui/message_boxes_win.h"

#include <windows.h>

#include <string>

#include "ui/texts.h"
#include "win/code_page_win.h"

namespace mv {

namespace {

constexpr UINT kErrorStyle = MB_OK | MB_ICONERROR | MB_SERVICE_NOTIFICATION;
constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST;
constexpr UINT kUnhandledErrorStyle = MB_OK | MB_ICONERROR | MB_TASKMODAL;
constexpr WORD kRussianLanguage = MAKELANGID(LANG_RUSSIAN, SUBLANG_NEUTRAL);

// Set once, before any step runs; read only on the way out of the process. Both start as zero:
// the installer keeps no initialized writable data (design notes).
RunLog* unhandledLog = nullptr;
bool unhandledQuietly = false;

int ShowBox(std::wstring_view text, std::wstring_view caption, UINT style, bool russian) {
  const std::wstring t(text);
  const std::wstring c(caption);
  if (russian) return ::MessageBoxExW(nullptr, t.c_str(), c.c_str(), style, kRussianLanguage);
  return ::MessageBoxW(nullptr, t.c_str(), c.c_str(), style);
}

}  // namespace

void ShowErrorBox(std::wstring_view text, bool russian) {
  ShowBox(text, russian ? text::kUpdateTitleRu : text::kUpdateTitleEn, kErrorStyle, russian);
}

bool AskQuestionBox(std::wstring_view text, std::wstring_view caption, bool russian) {
  return ShowBox(text, caption, kQuestionStyle, russian) == IDYES;
}

void ReportUnhandledErrorsTo(RunLog* log, bool showBox) {
  unhandledLog = log;
  unhandledQuietly = !showBox;
}

void EndWithUnhandledError(std::string_view what) {
  const std::wstring text = AnsiToWide(what);
  if (unhandledLog != nullptr) {
    unhandledLog->Line("Error that no step handles: ", text);
    unhandledLog->Line("Exit code 1: a failure that no step handles", {});
  }
  if (!unhandledQuietly) ShowBox(text, text::kUpdateTitleEn, kUnhandledErrorStyle, false);
  // Whatever else runs (the progress window's thread) goes with the process.
  ::ExitProcess(1);
}

}  // namespace mv
