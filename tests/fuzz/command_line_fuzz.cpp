// Fuzz target for the command-line splitter: whatever started the installer chose the command
// line. The raw bytes are split and compared with a character-class reading of the rule; the
// same bytes also spell a list of arguments that, quoted as a caller would quote them, must
// split back to exactly that list.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../support/fuzz_check.h"
#include "startup/command_line.h"

namespace {

using mv::testing::Check;

bool Separates(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Each character is one of three things: a quote (flips the grouping, kept nowhere), a
// separator outside quotes (ends the current argument, if one has begun), anything else (goes
// into the current argument, which begins with it). A quote also begins an argument, so "" is
// an empty one. The line ends at its first NUL, as GetCommandLine's text does.
std::vector<std::string> ReferenceSplit(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  std::vector<std::string> args;
  bool inArgument = false;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      if (!inArgument) args.emplace_back();
      inArgument = true;
      quoted = !quoted;
    } else if (Separates(c) && !quoted) {
      inArgument = false;
    } else {
      if (!inArgument) args.emplace_back();
      inArgument = true;
      args.back() += c;
    }
  }
  return args;
}

// Writes one argument so that it splits back to itself: separators only ever inside quotes,
// other quote pairs wherever the fuzzer likes (they vanish), "" for an empty argument.
void AppendQuoted(std::string& line, const std::string& arg, FuzzedDataProvider& choices, bool last) {
  if (arg.empty()) {
    line += "\"\"";
    return;
  }
  bool quoted = false;
  for (char c : arg) {
    if ((Separates(c) && !quoted) || (!Separates(c) && choices.ConsumeBool())) {
      line += '"';
      quoted = !quoted;
    }
    line += c;
  }
  // An open quote at the very end of the line needs no closing one.
  if (quoted && !(last && choices.ConsumeBool())) line += '"';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> args = mv::SplitCommandLine(line);
  Check(args == ReferenceSplit(line));
  std::size_t total = 0;
  for (const std::string& arg : args) {
    Check(arg.find('"') == std::string::npos && arg.find('\0') == std::string::npos);
    total += arg.size();
  }
  Check(total <= size);

  FuzzedDataProvider provider(data, size);
  std::vector<std::string> wanted(provider.ConsumeIntegralInRange<std::size_t>(1, 6));
  for (std::string& arg : wanted) {
    arg = provider.ConsumeRandomLengthString(40);
    // Neither can stand inside an argument: a quote only groups, a NUL ends the line.
    std::erase(arg, '"');
    std::erase(arg, '\0');
  }
  std::string built(provider.ConsumeIntegralInRange<std::size_t>(0, 2), ' ');
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (i > 0) {
      // At least one blank or control character between arguments, any mix of them.
      const std::size_t count = provider.ConsumeIntegralInRange<std::size_t>(1, 3);
      for (std::size_t k = 0; k < count; ++k) built += provider.ConsumeIntegralInRange<char>(1, ' ');
    }
    AppendQuoted(built, wanted[i], provider, i + 1 == wanted.size());
  }
  Check(mv::SplitCommandLine(built) == wanted);
  return 0;
}
