#pragma once
// The console command that naming Windows needs on systems that hide their version.
#include <string>
#include <string_view>

#include "startup/random.h"

namespace mv {

// The console output of `command` run by the interpreter named in "ComSpec", captured through
// a file in the "Temp" folder (named from `random`) and converted from the OEM to the ANSI code
// page. Empty when "ComSpec" is empty; "\r\n" when nothing could be captured. A command still
// running after 10 seconds is ended, and what it captured until then is returned.
std::string RunConsoleCommand(std::string_view command, Lcg& random);

}  // namespace mv
