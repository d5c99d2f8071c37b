#pragma once
// What start-up reads from the user's locale and the command line, as rules without any
// Windows call.
#include <cstdint>
#include <string>
#include <string_view>

namespace mv {

// The two arguments the run looks at, ASCII-lowercased.
struct CommandArguments {
  std::string CommandSwitch;   // first argument: "modest" asks nothing
  std::string SecondArgument;  // second argument: "runapp" starts the product after a modest run
};

struct StartupSettings {
  bool RussianMessages = false;
  CommandArguments Arguments;
};

// True for the seven user locales that get Russian messages.
bool IsRussianLocale(std::uint32_t lcid);

// The settings for a given user locale and command line.
StartupSettings MakeStartupSettings(std::uint32_t userLcid, std::string_view commandLine);

}  // namespace mv
