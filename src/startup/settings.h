#pragma once
// What start-up reads from the user's locale and the command line, as rules without any
// Windows call.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/run_mode.h"

namespace mv {

// The first argument that asks nothing, and the second that then starts the product.
inline constexpr std::string_view kModestSwitch = "modest";
inline constexpr std::string_view kRunAppSwitch = "runapp";
// For deployment: a run that shows nothing at all, and the log it (or any run) appends to.
// Either may stand anywhere on the command line, in any letter case; they are taken out before
// the first and second arguments are counted. They are the installer's only switches: any other
// argument that begins with "/" is one it cannot read.
inline constexpr std::string_view kQuietSwitch = "/quiet";
inline constexpr std::string_view kLogSwitch = "/log";

// The arguments the run looks at.
struct CommandArguments {
  std::string CommandSwitch;   // first argument, ASCII-lowercased
  std::string SecondArgument;  // second argument, ASCII-lowercased: "runapp" starts the product
  RunMode Mode = RunMode::Interactive;
  std::wstring LogPath;  // the argument after "/log"; empty: no log
  // The first argument the installer cannot read, as it was given: a switch it does not know
  // ("/S", "/qn", "/silent" of other installers), or "/log" with no file after it (the next
  // argument a switch, or none). Empty when the whole line is understood. Such a run must not go
  // on: a switch that was meant to make it quiet may have been missed, and a run as SYSTEM would
  // then wait for ever on a question nobody sees.
  std::wstring Unreadable;
};

struct StartupSettings {
  bool RussianMessages = false;
  CommandArguments Arguments;
};

// True for the seven user locales that get Russian messages.
bool IsRussianLocale(std::uint32_t lcid);

// The settings for a given user locale and command line (as GetCommandLineW gives it: a log
// path outside the ANSI code page comes through whole, and no character is mapped to a
// lookalike that would spell a switch).
StartupSettings MakeStartupSettings(std::uint32_t userLcid, std::wstring_view commandLine);

}  // namespace mv
