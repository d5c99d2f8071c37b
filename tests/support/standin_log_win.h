#pragma once
// The stand-in product's log (tests/standin): what it did, one line an event, written as it
// happens. A line is a word, then possibly a blank and a value; lines are matched by that word.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/files_win.h"
#include "support/wait_win.h"

namespace mv::testing {

inline std::vector<std::string> ReadLogLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::string line;
  for (std::uint8_t c : ReadBytes(path).value_or(std::vector<std::uint8_t>())) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += static_cast<char>(c);
    }
  }
  return lines;  // an unfinished last line is not yet a line
}

namespace detail {

inline bool IsLogEntry(const std::string& line, std::string_view word) {
  return line.rfind(word, 0) == 0 && (line.size() == word.size() || line[word.size()] == ' ');
}

}  // namespace detail

// Waits until the log holds `lines` in this order (other lines may come between).
inline bool WaitForLogSequence(const std::wstring& path, const std::vector<std::string>& lines,
                               std::chrono::milliseconds limit) {
  return WaitUntil(
      [&] {
        std::size_t next = 0;
        for (const std::string& line : ReadLogLines(path))
          if (next < lines.size() && detail::IsLogEntry(line, lines[next])) ++next;
        return next == lines.size();
      },
      limit);
}

inline int CountLogLines(const std::wstring& path, std::string_view word) {
  const auto lines = ReadLogLines(path);
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [&](const std::string& line) { return detail::IsLogEntry(line, word); }));
}

// The rest of the first line "<key> <value>", or nothing when no line has that key.
inline std::optional<std::string> LogValue(const std::wstring& path, std::string_view key) {
  for (const std::string& line : ReadLogLines(path))
    if (detail::IsLogEntry(line, key)) return line.size() > key.size() ? line.substr(key.size() + 1) : std::string();
  return std::nullopt;
}

}  // namespace mv::testing
