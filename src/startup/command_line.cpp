#include "startup/command_line.h"

namespace mv {

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  auto separates = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  for (;;) {
    while (i < n && commandLine[i] != '\0' && separates(commandLine[i])) ++i;
    if (i >= n || commandLine[i] == '\0') break;
    std::string arg;
    bool quoted = false;
    for (; i < n && commandLine[i] != '\0'; ++i) {
      const char c = commandLine[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (quoted || !separates(c)) {
        arg += c;
      } else {
        break;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace mv
