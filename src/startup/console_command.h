#pragma once
// Running a console command and reading what it printed, as rules without any Windows call:
// the output goes to a capture file in the temporary folder, named from the generator so that
// two installers started at once do not share one.
#include <string>
#include <string_view>

#include "startup/random.h"

namespace mv {

// The capture file: the temporary folder (with a backslash added) and 8 lower-case letters
// drawn from the generator.
std::string CaptureFileName(std::string tempFolder, Lcg& random);

// "interpreter" /c command > "capture file".
std::string ConsoleCommandLine(std::string_view interpreter, std::string_view command, std::string_view captureFile);

// The capture file's text read line by line, each line followed by "\r\n"; at least one line,
// so an empty file gives "\r\n". A line ends at CR LF, LF or a lone CR.
std::string JoinCapturedLines(std::string_view content);

}  // namespace mv
