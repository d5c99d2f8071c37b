// Fuzz target for the version texts of data files and executables: the integer conversion and
// the language file's version line, each checked against an independent reading of the same
// rules, the decimal text round trip, and the laws of the dotted "FileVersion" comparison.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../support/fuzz_check.h"
#include "base/strings.h"
#include "install/versions.h"

namespace {

// The same rules, read another way: strip, split, let the standard library convert.
std::optional<std::int32_t> Reference(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && (text.front() == '$' || text.front() == 'x' || text.front() == 'X')) {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  for (char c : text)
    if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
      return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (base == 16) {
    if (value > 0xFFFFFFFFu) return std::nullopt;
    const auto bits = static_cast<std::uint32_t>(value);
    return static_cast<std::int32_t>(negative ? 0u - bits : bits);
  }
  if (value > (negative ? 0x80000000u : 0x7FFFFFFFu)) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value));
}

// The language file read the long way round: cut at 0x1A, split into all lines first, then
// clean each "[" line in full (trim codes up to 32 at both ends, lower-case A-Z) and look for
// "langver]" as the first occurrence at the second character.
std::optional<std::int32_t> ReferenceLng(std::string_view content) {
  if (const auto eof = content.find('\x1A'); eof != std::string_view::npos) content = content.substr(0, eof);
  std::vector<std::string> lines;
  while (!content.empty()) {
    const auto feed = content.find('\n');
    std::string line(content.substr(0, feed));
    std::erase(line, '\r');
    lines.push_back(line);
    content = feed == std::string_view::npos ? std::string_view() : content.substr(feed + 1);
  }
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string cleaned = lines[i];
    if (cleaned.empty() || cleaned[0] != '[') continue;
    while (!cleaned.empty() && isBlank(cleaned.back())) cleaned.pop_back();
    std::size_t lead = 0;
    while (lead < cleaned.size() && isBlank(cleaned[lead])) ++lead;
    cleaned.erase(0, lead);
    // The fuzzer never sets a locale, and in the "C" locale std::tolower touches A-Z only.
    for (char& c : cleaned) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (cleaned.find("langver]") == 1) return Reference(i + 1 < lines.size() ? lines[i + 1] : std::string());
  }
  return Reference(lines.empty() ? std::string() : lines.back());
}

using mv::testing::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto value = mv::TextToInteger(text);
  Check(value == Reference(text));
  if (value) {
    // Every value has a decimal text and a "$" text that read back as that value.
    const std::wstring decimal = mv::DecimalText(*value);
    Check(mv::TextToInteger(std::string(decimal.begin(), decimal.end())) == value);
    char hex[16] = "$";
    const auto [end, error] = std::to_chars(hex + 1, hex + sizeof hex, static_cast<std::uint32_t>(*value), 16);
    Check(error == std::errc());
    Check(mv::TextToInteger(std::string_view(hex, static_cast<std::size_t>(end - hex))) == value);
  }

  // The language file reader must take any bytes; a file of one line is that line's value.
  const auto version = mv::LngVersionFromText(text);
  Check(version == ReferenceLng(text));
  if (text.find_first_of("\r\n\x1A") == std::string_view::npos) Check(version == value);

  // The same bytes as two dotted versions, split at the first NUL: a comparison that could
  // call each side older than the other, or a version older than itself, would let an
  // installer downgrade a file the user just replaced, or ask its question for no reason.
  const auto cut = text.find('\0');
  const std::string_view first = text.substr(0, cut);
  const std::string_view second = cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1);
  Check(!mv::IsOlderVersionString(first, first));
  Check(!(mv::IsOlderVersionString(first, second) && mv::IsOlderVersionString(second, first)));
  // A missing component counts as 0 on either side: "1.2" compares as "1.2.0".
  if (std::count(first.begin(), first.end(), '.') < 3) {
    const std::string padded = std::string(first) + ".0";
    Check(mv::IsOlderVersionString(padded, second) == mv::IsOlderVersionString(first, second));
    Check(mv::IsOlderVersionString(second, padded) == mv::IsOlderVersionString(second, first));
  }
  // The executable rule takes the UTF-16 strings of version resources: the same bytes widened
  // (beyond ASCII every character is one the dotted rule cannot read) give the same answer.
  const std::wstring firstWide = mv::WidenAscii(first);
  const std::wstring secondWide = mv::WidenAscii(second);
  Check(!mv::ExecutablePayloadIsOlder(firstWide, std::wstring_view()));
  Check(mv::ExecutablePayloadIsOlder(firstWide, secondWide) ==
        (!second.empty() && mv::IsOlderVersionString(first, second)));
  return 0;
}
