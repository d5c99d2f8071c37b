#include "startup/settings.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace mv {
namespace {

TEST(RussianLocale, ExactlyTheSevenLocales) {
  for (std::uint32_t lcid : {1026u, 1049u, 1058u, 1059u, 1087u, 1092u, 2073u})
    EXPECT_TRUE(IsRussianLocale(lcid)) << lcid;
  // English (US), Polish, Russian with another sort order, the neutral Russian language.
  for (std::uint32_t lcid : {1033u, 1045u, 0x10419u, 0x19u, 0u}) EXPECT_FALSE(IsRussianLocale(lcid)) << lcid;
}

TEST(StartupSettings, LocaleAndArguments) {
  StartupSettings s = MakeStartupSettings(2073, L"\"C:\\x y\\setup.exe\" MoDeSt RunApp extra");
  EXPECT_TRUE(s.RussianMessages);
  EXPECT_EQ(s.Arguments.CommandSwitch, "modest");
  EXPECT_EQ(s.Arguments.SecondArgument, "runapp");
  s = MakeStartupSettings(1045, L"setup.exe");
  EXPECT_FALSE(s.RussianMessages);
  EXPECT_EQ(s.Arguments.CommandSwitch, "");
}

// "/quiet" and "/log FILE" stand anywhere, in any letter case, and are taken out before the first
// and second arguments are counted; nothing but ASCII letters spells a switch.
TEST(StartupSettings, DeploymentSwitches) {
  const struct {
    const wchar_t* line;
    const char* first;
    const char* second;
    bool quiet;
    const wchar_t* log;
  } cases[] = {
      {L"setup.exe /QUIET modest runapp", "modest", "runapp", true, L""},
      {L"setup.exe modest /Log \"C:\\Logs\\Мир вейн.log\" runapp /quiet", "modest", "runapp", true,
       L"C:\\Logs\\Мир вейн.log"},
      {L"setup.exe /log", "", "", false, L""},
      {L"setup.exe /log /quiet", "", "", false, L"/quiet"},
      {L"setup.exe quiet /quietly", "quiet", "/quietly", false, L""},
      {L"setup.exe \uFF4D\uFF4F\uFF44\uFF45\uFF53\uFF54 /quiet", "\x7F\x7F\x7F\x7F\x7F\x7F", "", true, L""},
  };
  for (const auto& c : cases) {
    const CommandArguments a = MakeStartupSettings(1033, c.line).Arguments;
    EXPECT_EQ(a.CommandSwitch, c.first) << c.line;
    EXPECT_EQ(a.SecondArgument, c.second) << c.line;
    EXPECT_EQ(a.Quiet, c.quiet) << c.line;
    EXPECT_EQ(a.LogPath, c.log) << c.line;
  }
}

}  // namespace
}  // namespace mv
