#include <windows.h>

#include "env/message_boxes.h"
#include "env/messages.h"
#include "env/startup.h"

namespace mv {

namespace {

constexpr UINT kErrorStyle = MB_OK | MB_ICONERROR | MB_SERVICE_NOTIFICATION;
constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST;
constexpr WORD kRussianLanguage = MAKELANGID(LANG_RUSSIAN, SUBLANG_NEUTRAL);

int ShowBox(std::wstring_view text, std::wstring_view caption, UINT style, bool russian) {
  const std::wstring t(text);
  const std::wstring c(caption);
  if (russian) return ::MessageBoxExW(nullptr, t.c_str(), c.c_str(), style, kRussianLanguage);
  return ::MessageBoxW(nullptr, t.c_str(), c.c_str(), style);
}

}  // namespace

void ShowBilingualError(std::wstring_view en, std::wstring_view ru) {
  const bool russian = Settings().RussianMessages;
  ShowBox(russian ? ru : en, russian ? text::kUpdateTitleRu : text::kUpdateTitleEn, kErrorStyle, russian);
}

bool AskQuestion(std::wstring_view text, std::wstring_view caption, bool russian) {
  return ShowBox(text, caption, kQuestionStyle, russian) == IDYES;
}

void ShowUnhandledError(std::string_view what) {
  ShowBox(AnsiToWide(what), text::kUpdateTitleEn, MB_OK | MB_ICONERROR | MB_TASKMODAL, false);
}

std::wstring AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

}  // namespace mv
