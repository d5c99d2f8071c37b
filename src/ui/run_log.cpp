#include "ui/run_log.h"

namespace mv {

std::wstring LogLineText(std::string_view text, std::wstring_view detail) {
  std::wstring line(text.begin(), text.end());
  line.append(detail);
  for (wchar_t& c : line) {
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    const bool separator = c == 0x2028 || c == 0x2029;
    if (control || separator) c = L' ';
  }
  return line;
}

}  // namespace mv
