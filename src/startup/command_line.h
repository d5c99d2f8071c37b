#pragma once
// The command line as the program sees its arguments.
#include <string>
#include <string_view>
#include <vector>

namespace mv {

// Splits a command line: blanks and control characters separate, double quotes group and are
// dropped. Element 0 is the program itself.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace mv
