#pragma once
// The console command that naming Windows needs on systems that hide their version.
#include <string>
#include <string_view>

namespace mv {

// The standard output of `command` run by the system's command interpreter (cmd.exe in the
// system folder, without its AutoRun commands), read through a pipe and converted from the OEM
// to the ANSI code page. Empty when the system folder cannot be named; "\r\n" when nothing could
// be read. A command still running after about 10 seconds is ended with everything it started,
// and what it printed until then is returned.
std::string RunConsoleCommand(std::string_view command);

// The same with the interpreter given by its full path. The installer passes only the system's
// own; the Windows tests pass programs that never end or leave children behind.
std::string RunConsoleCommandWith(const std::string& interpreter, std::string_view command);

}  // namespace mv
