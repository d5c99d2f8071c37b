#include "startup/settings.h"

#include <array>
#include <vector>

#include "base/strings.h"
#include "startup/command_line.h"

namespace mv {

bool IsRussianLocale(std::uint32_t lcid) {
  // Bulgarian, Russian, Ukrainian, Belarusian, Kazakh, Tatar, Russian (Moldova).
  constexpr std::array<std::uint32_t, 7> kRussianLocales{0x0402, 0x0419, 0x0422, 0x0423, 0x043F, 0x0444, 0x0819};
  for (std::uint32_t id : kRussianLocales)
    if (id == lcid) return true;
  return false;
}

StartupSettings MakeStartupSettings(std::uint32_t userLcid, std::string_view commandLine) {
  StartupSettings settings;
  settings.RussianMessages = IsRussianLocale(userLcid);
  const std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.size() > 1) settings.Arguments.CommandSwitch = AsciiLower(args[1]);
  if (args.size() > 2) settings.Arguments.SecondArgument = AsciiLower(args[2]);
  return settings;
}

}  // namespace mv
