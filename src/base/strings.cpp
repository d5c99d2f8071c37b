#include "base/strings.h"

namespace mv {

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::wstring DecimalText(std::int32_t value) {
  // Through the unsigned magnitude, so that the most negative value has a text too.
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  wchar_t digits[12];
  int pos = 12;
  do {
    digits[--pos] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--pos] = L'-';
  return std::wstring(digits + pos, 12 - pos);
}

std::string HexText(std::uint32_t value) {
  char digits[8];
  int pos = sizeof digits;
  do {
    digits[--pos] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  return std::string(digits + pos, sizeof digits - pos);
}

void AddBackslash(std::string& path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
}

void AddBackslash(std::wstring& path) {
  if (!path.empty() && path.back() != L'\\') path += L"\\";
}

std::wstring WidenAscii(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace mv
