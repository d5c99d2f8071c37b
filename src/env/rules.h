#pragma once
// Start-up rules without any Windows call: locales, the command line, the random generator,
// folder paths.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mv {

// True for the seven user locales that get Russian messages.
bool IsRussianLocale(std::uint32_t lcid);

// Lower-cases the ASCII letters A-Z only; every other byte stays as it is.
std::string AsciiLower(std::string_view text);

// Splits a command line as the program sees its arguments: blanks and control characters
// separate, double quotes group and are dropped. Element 0 is the program itself.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The process's 32-bit linear congruential generator.
class Lcg {
 public:
  explicit Lcg(std::uint32_t seed = 0) : seed_(seed) {}
  // A draw below n: the high half of the 64-bit product of the next seed and n.
  std::uint32_t Draw(std::uint32_t n);
  std::uint32_t Seed() const { return seed_; }

 private:
  std::uint32_t seed_;
};

// Appends one backslash to a non-empty path that does not end with one.
void AddBackslash(std::string& path);

// The folder of an uninstall command, with its final backslash. A command in double quotes
// counts from inside them. Nothing when there is no backslash before the last character.
std::optional<std::string> UninstallFolderPart(std::string_view uninstallString);

// Decimal text of a signed 32-bit number.
std::string DecimalText(std::int32_t value);
// Hexadecimal text of an unsigned 32-bit number in capital digits, without leading zeros (as
// printf's "%X" writes it).
std::string HexText(std::uint32_t value);

}  // namespace mv
