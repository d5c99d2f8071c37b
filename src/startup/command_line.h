#pragma once
// The command line as the program sees its arguments.
#include <string>
#include <string_view>
#include <vector>

namespace mv {

// Splits a command line: blanks and control characters separate, double quotes group and are
// dropped. Element 0 is the program itself. The line ends at its first NUL.
template <typename Char>
std::vector<std::basic_string<Char>> SplitCommandLine(std::basic_string_view<Char> commandLine) {
  const auto separates = [](Char c) { return c >= 0 && c <= ' '; };
  std::vector<std::basic_string<Char>> args;
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  for (;;) {
    while (i < n && commandLine[i] != 0 && separates(commandLine[i])) ++i;
    if (i >= n || commandLine[i] == 0) break;
    std::basic_string<Char> arg;
    bool quoted = false;
    for (; i < n && commandLine[i] != 0; ++i) {
      const Char c = commandLine[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (quoted || !separates(c)) {
        arg += c;
      } else {
        break;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

inline std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  return SplitCommandLine<char>(commandLine);
}
inline std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine) {
  return SplitCommandLine<wchar_t>(commandLine);
}

}  // namespace mv
