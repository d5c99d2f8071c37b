#pragma once
// Running a console command and reading what it printed, as rules without any Windows call.
#include <string>
#include <string_view>

namespace mv {

// "interpreter" /d /c command. /d: the interpreter runs no AutoRun command of the registry
// before `command`; a user may set one for himself (HKEY_CURRENT_USER) without any rights, and
// the installer runs elevated. Nothing of the user's (no folder, no variable) is in the line.
std::string ConsoleCommandLine(std::string_view interpreter, std::string_view command);

// The command's output read line by line, each line followed by "\r\n"; at least one line, so
// an empty output gives "\r\n". A line ends at CR LF, LF or a lone CR.
std::string JoinCapturedLines(std::string_view content);

}  // namespace mv
