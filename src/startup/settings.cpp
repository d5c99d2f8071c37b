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
  bool quiet = false;
  int described = 0;
  const auto isSwitch = [](const std::wstring& argument) { return !argument.empty() && argument[0] == L'/'; };
  const auto unreadable = [&arguments](const std::wstring& argument) {
    if (arguments.Unreadable.empty()) arguments.Unreadable = argument;
  };
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string text = SwitchText(args[i]);
    if (text == kQuietSwitch) {
      quiet = true;
    } else if (text == kLogSwitch) {
      // Its file is the next argument unless that is a switch: "/log /quiet" is a log switch
      // without its file, not a log named "/quiet" in a run that then asks its questions.
      const std::wstring& given = args[i];
      std::wstring file;
      if (i + 1 < args.size() && !isSwitch(args[i + 1])) file = args[++i];
      if (file.empty()) {
        unreadable(given);
      } else {
        arguments.LogPath = std::move(file);
      }
    } else if (isSwitch(args[i])) {
      unreadable(args[i]);
    } else if (++described == 1) {
      arguments.CommandSwitch = std::move(text);
    } else if (described == 2) {
      arguments.SecondArgument = std::move(text);
    }
  }
  arguments.Mode = quiet                                      ? RunMode::Quiet
                   : arguments.CommandSwitch == kModestSwitch ? RunMode::Modest
                                                              : RunMode::Interactive;
  return settings;
}

}  // namespace mv
