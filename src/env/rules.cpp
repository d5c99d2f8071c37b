#include "env/rules.h"

#include <array>
#include <cstdint>

namespace mv {

bool IsRussianLocale(std::uint32_t lcid) {
  // Bulgarian, Russian, Ukrainian, Belarusian, Kazakh, Tatar, Russian (Moldova).
  constexpr std::array<std::uint32_t, 7> kRussianLocales{0x0402, 0x0419, 0x0422, 0x0423,
                                                         0x043F, 0x0444, 0x0819};
  for (std::uint32_t id : kRussianLocales)
    if (id == lcid) return true;
  return false;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  auto separates = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  for (;;) {
    while (i < n && commandLine[i] != '\0' && separates(commandLine[i])) ++i;
    if (i >= n || commandLine[i] == '\0') break;
    std::string arg;
    bool quoted = false;
    for (; i < n && commandLine[i] != '\0'; ++i) {
      const char c = commandLine[i];
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

std::uint32_t Lcg::Draw(std::uint32_t n) {
  seed_ = seed_ * 134775813u + 1u;
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed_) * n) >> 32);
}

void AddBackslash(std::string& path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
}

std::optional<std::string> UninstallFolderPart(std::string_view uninstallString) {
  // "C:\Program Files\Mirvane\unins000.exe" /SILENT is as common as the bare form: take the
  // path inside the quotes.
  std::string_view command = uninstallString;
  if (!command.empty() && command.front() == '"') {
    command.remove_prefix(1);
    command = command.substr(0, command.find('"'));
  }
  // The last character is never looked at, so "C:\Apps\Mirvane\" gives "C:\Apps\".
  if (command.size() < 2) return std::nullopt;
  const std::size_t slash = command.substr(0, command.size() - 1).rfind('\\');
  if (slash == std::string_view::npos) return std::nullopt;
  return std::string(command.substr(0, slash + 1));
}

std::string DecimalText(std::int32_t value) {
  // Through the unsigned magnitude, so that the most negative value has a text too.
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char digits[12];
  int pos = sizeof digits;
  do {
    digits[--pos] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--pos] = '-';
  return std::string(digits + pos, sizeof digits - pos);
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

}  // namespace mv
