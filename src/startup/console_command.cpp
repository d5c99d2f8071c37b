#include "startup/console_command.h"

namespace mv {

std::string ConsoleCommandLine(std::string_view interpreter, std::string_view command) {
  // The interpreter reads its switches after its own name, which may hold a blank.
  std::string line = "\"";
  line += interpreter;
  line += "\" /d /c ";
  line += command;
  return line;
}

std::string JoinCapturedLines(std::string_view content) {
  std::string joined;
  std::size_t i = 0;
  do {
    const std::size_t end = content.find_first_of("\r\n", i);
    const std::size_t lineEnd = end == std::string_view::npos ? content.size() : end;
    joined.append(content.substr(i, lineEnd - i));
    joined += "\r\n";
    i = lineEnd;
    if (i < content.size() && content[i] == '\r') ++i;
    if (i < content.size() && content[i] == '\n') ++i;
  } while (i < content.size());
  return joined;
}

}  // namespace mv
