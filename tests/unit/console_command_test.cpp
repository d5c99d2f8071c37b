#include "startup/console_command.h"

#include <gtest/gtest.h>

#include <string>

namespace mv {
namespace {

TEST(ConsoleCapture, TheCommandLineNamesTheInterpreterAndSkipsItsAutoRun) {
  EXPECT_EQ(ConsoleCommandLine("C:\\Windows\\system32\\cmd.exe", "ver"), "\"C:\\Windows\\system32\\cmd.exe\" /d /c ver");
}

TEST(ConsoleCapture, EveryLineEndsInCrLfAndThereIsAtLeastOne) {
  struct Case {
    const char* content;
    const char* joined;
  } cases[] = {
      {"", "\r\n"},
      {"\r\n", "\r\n"},
      {"a", "a\r\n"},
      {"\r\nMicrosoft Windows 6.1.7601\r\n", "\r\nMicrosoft Windows 6.1.7601\r\n"},
      {"a\nb", "a\r\nb\r\n"},
      {"a\rb\r", "a\r\nb\r\n"},
      {"a\r\n\r\n", "a\r\n\r\n"},
      {"a\n\n", "a\r\n\r\n"},
      {"a\r\r\n", "a\r\n\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(JoinCapturedLines(c.content), c.joined) << c.content;
}

}  // namespace
}  // namespace mv
