#include "ui/message_boxes_win.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "ui/texts.h"
#include "win/code_page_win.h"

namespace mv {

namespace {

constexpr UINT kErrorStyle = MB_OK | MB_ICONERROR | MB_SERVICE_NOTIFICATION;
constexpr UINT kNoticeStyle = MB_OK | MB_ICONWARNING | MB_SERVICE_NOTIFICATION;
constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST;
constexpr UINT kUnhandledErrorStyle = MB_OK | MB_ICONERROR | MB_TASKMODAL;
constexpr WORD kRussianLanguage = MAKELANGID(LANG_RUSSIAN, SUBLANG_NEUTRAL);

// Set once, before any step runs; read only on the way out of the process.
RunLog* unhandledLog = nullptr;
RunMode unhandledMode = RunMode::Interactive;
LONG ending = 0;  // set by the first thread on its way out

int ShowBox(std::wstring_view text, std::wstring_view caption, UINT style, bool russian) {
  const std::wstring t(text);
  const std::wstring c(caption);
  if (russian) return ::MessageBoxExW(nullptr, t.c_str(), c.c_str(), style, kRussianLanguage);
  return ::MessageBoxW(nullptr, t.c_str(), c.c_str(), style);
}

// A structured exception that nothing handles (an in-page error while the installer's own file is
// read from a share whose connection dropped, a system DLL that cannot be delay-loaded) is
// reported like any error that no step handles, with exit code 1 and a line in the log, and
// never as the system's crash report, which is a window of its own.
LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS* exception) {
  char text[64];
  const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
  ::_snprintf(text, sizeof text, "Exception 0x%08lX at address %p", record.ExceptionCode, record.ExceptionAddress);
  text[sizeof text - 1] = '\0';
  EndWithUnhandledError(text);
}

}  // namespace

void ShowErrorBox(std::wstring_view text, bool russian) {
  ShowBox(text, russian ? text::kUpdateTitleRu : text::kUpdateTitleEn, kErrorStyle, russian);
}

void ShowNoticeBox(std::wstring_view text, bool russian) {
  ShowBox(text, russian ? text::kUpdateTitleRu : text::kUpdateTitleEn, kNoticeStyle, russian);
}

bool AskQuestionBox(std::wstring_view text, std::wstring_view caption, bool russian) {
  return ShowBox(text, caption, kQuestionStyle, russian) == IDYES;
}

void ReportUnhandledErrorsTo(RunLog* log, RunMode mode) {
  unhandledLog = log;
  unhandledMode = mode;
  ::SetUnhandledExceptionFilter(EndOnUnhandledException);
}

void EndWithUnhandledError(std::string_view what) {
  // One report: a second error on the way out (on another thread, or the box's own DLL failing
  // to load) ends the process at once.
  if (::InterlockedExchange(&ending, 1) != 0) ::ExitProcess(1);
  const std::wstring text = AnsiToWide(what);
  if (unhandledLog != nullptr) {
    unhandledLog->Line("Error that no step handles: ", text);
    unhandledLog->Line("Exit code 1: a failure that no step handles", {});
  }
  if (unhandledMode != RunMode::Quiet) ShowBox(text, text::kUpdateTitleEn, kUnhandledErrorStyle, false);
  // Whatever else runs (the progress window's thread) goes with the process.
  ::ExitProcess(1);
}

}  // namespace mv
