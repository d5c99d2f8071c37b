#include "win/code_page_win.h"

#include <windows.h>

namespace mv {

std::wstring AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string OemToAnsiText(std::string_view text) {
  // Seven-bit text reads the same in every OEM and ANSI code page, and "ver" prints nothing
  // else on most systems: without this shortcut every start on Windows 8.1 and later would
  // load user32 for the conversion.
  bool sevenBit = true;
  for (const char c : text) sevenBit = sevenBit && static_cast<unsigned char>(c) < 0x80;
  if (sevenBit) return std::string(text);
  // OemToCharBuff, not OemToChar: a NUL inside the text must not leave the rest unconverted.
  std::string converted(text.size(), '\0');
  ::OemToCharBuffA(text.data(), converted.data(), static_cast<DWORD>(text.size()));
  return converted;
}

}  // namespace mv
