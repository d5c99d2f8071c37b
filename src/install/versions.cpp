#include "install/versions.h"

#include "base/strings.h"

namespace mv {

namespace {

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (!hex) return -1;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::int32_t> TextToInteger(std::string_view text) {
  std::size_t at = text.find_first_not_of(' ');
  if (at == std::string_view::npos) return std::nullopt;
  bool negative = false;
  if (text[at] == '+' || text[at] == '-') negative = text[at++] == '-';
  bool hex = false;
  if (at < text.size() && (text[at] == '$' || text[at] == 'x' || text[at] == 'X')) {
    hex = true;
    at += 1;
  } else if (at + 1 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
    hex = true;
    at += 2;
  }
  if (at == text.size()) return std::nullopt;  // a sign or prefix without digits

  // Hexadecimal digits spell the 32 bits themselves ("$FFFFFFFF" is -1); a decimal value must
  // fit the signed range.
  const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
  std::uint64_t value = 0;
  for (; at < text.size(); ++at) {
    const int digit = DigitValue(text[at], hex);
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (value > limit) return std::nullopt;
  }
  const auto bits = static_cast<std::uint32_t>(value);
  return static_cast<std::int32_t>(negative ? 0u - bits : bits);
}

std::optional<std::int32_t> LngVersionFromText(std::string_view content) {
  // A byte 0x1A ends the text as if the file ended there.
  content = content.substr(0, content.find('\x1A'));

  // A line ends at a line feed; every carriage return is dropped from it (the one before the
  // line feed and a lone one alike).
  std::size_t at = 0;
  auto readLine = [&] {
    std::string line;
    while (at < content.size() && content[at] != '\n') {
      if (content[at] != '\r') line += content[at];
      ++at;
    }
    if (at < content.size()) ++at;  // past the line feed
    return line;
  };

  std::string last;  // stays empty for an empty file
  while (at < content.size()) {
    last = readLine();
    // Trimming the header line cannot reach its first nine characters once it begins with
    // "[", so the match is on those, ASCII-lowercased: "[LangVer] x" matches, " [langver]"
    // does not.
    if (last.empty() || last[0] != '[') continue;
    const std::string cleaned = AsciiLower(std::string_view(last).substr(0, 9));
    if (cleaned == "[langver]") {
      // The version line is taken as it stands; after a header on the last line it is empty.
      last = readLine();
      break;
    }
  }
  return TextToInteger(last);
}

namespace {

// Takes the component before the next dot off `rest` (all of it when there is no dot).
std::string_view TakeComponent(std::string_view& rest) {
  const std::size_t dot = rest.find('.');
  const std::string_view component = rest.substr(0, dot);
  rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
  return component;
}

// A missing or empty component counts as 0: "1.2" compares as "1.2.0.0" and ".5" as "0.5".
std::optional<std::int32_t> ComponentValue(std::string_view component) {
  if (component.empty()) return 0;
  return TextToInteger(component);
}

}  // namespace

// Versions are four dot-separated integers, compared from the left. The cases that a plain
// reading of "four components" leaves open are settled so that a payload is never taken for
// older by mistake: missing trailing components and an empty component (a leading dot, say)
// count as 0, so "2" is not older than "1.0.0.0". A component that is not an integer still
// decides the comparison: an unreadable installed version never makes the payload older, an
// unreadable payload version always does (the user is then asked rather than overruled). The
// fourth component takes the whole rest, so a fifth one makes that side unreadable.
bool IsOlderVersionString(std::string_view payload, std::string_view installed) {
  for (int i = 0; i < 3; ++i) {
    const auto mine = ComponentValue(TakeComponent(installed));
    if (!mine) return false;
    const auto theirs = ComponentValue(TakeComponent(payload));
    if (!theirs) return true;
    if (*mine != *theirs) return *mine > *theirs;
  }
  const auto mine = ComponentValue(installed);
  if (!mine) return false;
  const auto theirs = ComponentValue(payload);
  if (!theirs) return true;
  return *mine > *theirs;
}

namespace {

// The dotted rule reads only ASCII: any other character makes a component unreadable, and so
// does DEL, which stands in for it.
std::string AsciiForComparison(std::wstring_view text) {
  std::string ascii;
  for (const wchar_t c : text) ascii += static_cast<std::uint32_t>(c) < 0x80 ? static_cast<char>(c) : '\x7F';
  return ascii;
}

}  // namespace

bool ExecutablePayloadIsOlder(std::wstring_view payload, std::wstring_view installed) {
  return !installed.empty() && installed != payload &&
         IsOlderVersionString(AsciiForComparison(payload), AsciiForComparison(installed));
}

VersionKind VersionKindOf(std::string_view kind) {
  if (kind == "pak") return VersionKind::Pak;
  if (kind == "cok") return VersionKind::Cok;
  if (kind == "3bs") return VersionKind::Bs3;
  if (kind == "lng") return VersionKind::Lng;
  if (kind == "exe") return VersionKind::Exe;
  return VersionKind::None;
}

std::int32_t FieldValue(const VersionField& field, std::span<const std::uint8_t> content) {
  if (content.size() < field.Offset + field.Width) return 0;
  const std::uint8_t* at = content.data() + field.Offset;
  return field.Width == 2 ? at[0] | at[1] << 8 : at[0];
}

const VersionField* FixedVersionField(VersionKind kind) {
  switch (kind) {
    case VersionKind::Pak:
      return &kPakVersionField;
    case VersionKind::Cok:
      return &kCokVersionField;
    case VersionKind::Bs3:
      return &k3bsVersionField;
    case VersionKind::Lng:
    case VersionKind::Exe:
    case VersionKind::None:
      break;
  }
  return nullptr;
}

std::optional<std::int32_t> PayloadVersion(std::string_view kind, std::span<const std::uint8_t> content) {
  const VersionKind versionKind = VersionKindOf(kind);
  if (const VersionField* field = FixedVersionField(versionKind)) return FieldValue(*field, content);
  if (versionKind == VersionKind::Lng)
    return LngVersionFromText({reinterpret_cast<const char*>(content.data()), content.size()}).value_or(0);
  return std::nullopt;
}

}  // namespace mv
