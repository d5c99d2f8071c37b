#include "startup/settings.h"

#include <vector>

#include "base/strings.h"
#include "startup/command_line.h"

namespace mv {

namespace {

// An argument compared with the run's switches: ASCII letters lowercased, every other code unit
// one that spells no switch.
std::string SwitchText(std::wstring_view argument) {
  std::string text;
  for (const wchar_t c : argument) text += c < 0x80 ? static_cast<char>(c) : '\x7F';
  return AsciiLower(text);
}

}  // namespace

bool IsRussianLocale(std::uint32_t lcid) {
  // Bulgarian, Russian, Ukrainian, Belarusian, Kazakh, Tatar, Russian (Moldova).
  static constexpr std::uint32_t kRussianLocales[] = {0x0402, 0x0419, 0x0422, 0x0423, 0x043F, 0x0444, 0x0819};
  for (std::uint32_t id : kRussianLocales)
    if (id == lcid) return true;
  return false;
}

StartupSettings MakeStartupSettings(std::uint32_t userLcid, std::wstring_view commandLine) {
  StartupSettings settings;
  settings.RussianMessages = IsRussianLocale(userLcid);
  const std::vector<std::wstring> args = SplitCommandLine(commandLine);
  CommandArguments& arguments = settings.Arguments;
  int described = 0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string text = SwitchText(args[i]);
    if (text == kQuietSwitch) {
      arguments.Quiet = true;
    } else if (text == kLogSwitch) {
      if (i + 1 < args.size()) arguments.LogPath = args[++i];
    } else if (++described == 1) {
      arguments.CommandSwitch = std::move(text);
    } else if (described == 2) {
      arguments.SecondArgument = std::move(text);
    }
  }
  return settings;
}

}  // namespace mv
