#pragma once
// The stand-in product's log: what it did, one line an event, written as it happens.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

std::vector<std::string> ReadLogLines(const std::wstring& path);
// Log lines are a word, then possibly a blank and a value; lines are matched by that word.
// Waits until the log holds `lines` in this order (other lines may come between).
bool WaitForLogSequence(const std::wstring& path, const std::vector<std::string>& lines,
                        std::chrono::milliseconds limit);
int CountLogLines(const std::wstring& path, std::string_view word);
// The rest of the first line "<key> <value>", or nothing when no line has that key.
std::optional<std::string> LogValue(const std::wstring& path, std::string_view key);

}  // namespace e2e
