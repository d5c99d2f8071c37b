#include "startup/console_command.h"

#include <gtest/gtest.h>

#include <string>

namespace mv {
namespace {

TEST(ConsoleCapture, FileNameAndCommandLine) {
  Lcg random(1);
  EXPECT_EQ(CaptureFileName("C:\\Temp", random), "C:\\Temp\\awfhriej");
  Lcg eightDraws(1);
  for (int i = 0; i < 8; ++i) eightDraws.Draw(26);
  EXPECT_EQ(random.Seed(), eightDraws.Seed());
  const std::string again = CaptureFileName("C:\\Temp\\", random);
  ASSERT_EQ(again.size(), 16u) << "one backslash, 8 letters";
  for (char c : again.substr(8)) EXPECT_TRUE(c >= 'a' && c <= 'z') << again;
  EXPECT_EQ(CaptureFileName("", random).size(), 8u) << "no Temp: a bare name";

  EXPECT_EQ(ConsoleCommandLine("C:\\Windows\\system32\\cmd.exe", "ver", "C:\\Temp\\awfhriej"),
            "\"C:\\Windows\\system32\\cmd.exe\" /c ver > \"C:\\Temp\\awfhriej\"");
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
