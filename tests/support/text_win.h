#pragma once
// Text conversions for test output and paths: UTF-8 so that failures print readably, the ANSI
// code page for the narrow paths the installer's own calls take.
#include <windows.h>

#include <string>
#include <string_view>

namespace mv::testing {

inline std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

inline std::wstring FromCodePage(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

inline std::wstring Wide(std::string_view utf8) { return FromCodePage(CP_UTF8, utf8); }
inline std::wstring AnsiWide(std::string_view ansi) { return FromCodePage(CP_ACP, ansi); }

}  // namespace mv::testing
