#include "startup/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mv {
namespace {

TEST(SplitCommandLine, BlanksAndControlsSeparateQuotesGroup) {
  using Args = std::vector<std::string>;
  struct Case {
    const char* line;
    Args args;
  } cases[] = {
      {"setup.exe", {"setup.exe"}},
      {"setup.exe modest runapp", {"setup.exe", "modest", "runapp"}},
      {"\"C:\\Down loads\\setup.exe\" MODEST", {"C:\\Down loads\\setup.exe", "MODEST"}},
      {"setup.exe\tmodest\x01runapp", {"setup.exe", "modest", "runapp"}},
      {"  setup.exe   \"mod\"est  ", {"setup.exe", "modest"}},
      {"setup.exe \"two words\" x", {"setup.exe", "two words", "x"}},
      {"setup.exe \"unterminated tail", {"setup.exe", "unterminated tail"}},
      {"setup.exe \"\" modest", {"setup.exe", "", "modest"}},
      {"", {}},
      {"   ", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
}

}  // namespace
}  // namespace mv
