#include "e2e/standin_log.h"

#include <windows.h>

#include <algorithm>

#include "support/files_win.h"

namespace e2e {

using Clock = std::chrono::steady_clock;
using mv::testing::ReadBytes;

std::vector<std::string> ReadLogLines(const std::wstring& path) {
  std::vector<std::string> lines;
  auto bytes = ReadBytes(path);
  if (!bytes) return lines;
  std::string line;
  for (std::uint8_t c : *bytes) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += static_cast<char>(c);
    }
  }
  return lines;  // an unfinished last line is not yet a line
}

namespace {

// A log line is a word, then possibly a blank and a value.
bool IsEntry(const std::string& line, std::string_view word) {
  return line.rfind(word, 0) == 0 && (line.size() == word.size() || line[word.size()] == ' ');
}

bool HoldsSequence(const std::vector<std::string>& log, const std::vector<std::string>& wanted) {
  std::size_t next = 0;
  for (const std::string& line : log) {
    if (next == wanted.size()) break;
    if (IsEntry(line, wanted[next])) ++next;
  }
  return next == wanted.size();
}

}  // namespace

bool WaitForLogSequence(const std::wstring& path, const std::vector<std::string>& lines,
                        std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!HoldsSequence(ReadLogLines(path), lines)) {
    if (Clock::now() > deadline) return false;
    Sleep(20);
  }
  return true;
}

int CountLogLines(const std::wstring& path, std::string_view word) {
  auto lines = ReadLogLines(path);
  return static_cast<int>(
      std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return IsEntry(line, word); }));
}

std::optional<std::string> LogValue(const std::wstring& path, std::string_view key) {
  for (const std::string& line : ReadLogLines(path))
    if (IsEntry(line, key)) return line.size() > key.size() ? line.substr(key.size() + 1) : std::string();
  return std::nullopt;
}

}  // namespace e2e
