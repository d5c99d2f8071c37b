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
  EXPECT_EQ(s.Arguments.Mode, RunMode::Modest);
  EXPECT_EQ(s.Arguments.SecondArgument, "runapp");
  s = MakeStartupSettings(1045, L"setup.exe");
  EXPECT_FALSE(s.RussianMessages);
  EXPECT_EQ(s.Arguments.CommandSwitch, "");
  EXPECT_EQ(s.Arguments.Mode, RunMode::Interactive);
  // "modest" counts only as the first argument, and "/quiet" anywhere makes any run quiet.
  EXPECT_EQ(MakeStartupSettings(1033, L"setup.exe runapp modest").Arguments.Mode, RunMode::Interactive);
  EXPECT_EQ(MakeStartupSettings(1033, L"setup.exe modest runapp /QUIET").Arguments.Mode, RunMode::Quiet);
}

// "/quiet" and "/log FILE" stand anywhere, in any letter case, and are taken out before the first
// and second arguments are counted; nothing but ASCII letters spells a switch. Any other argument
// that begins with "/", and "/log" without its file, make the line unreadable; the first such
// argument is kept, and a log named elsewhere on the line is still found.
TEST(StartupSettings, DeploymentSwitches) {
  const struct {
    const wchar_t* line;
    const char* first;
    const char* second;
    bool quiet;
    const wchar_t* log;
    const wchar_t* unreadable;
  } cases[] = {
      {L"setup.exe /QUIET modest runapp", "modest", "runapp", true, L"", L""},
      {L"setup.exe modest /Log \"C:\\Logs\\Мир вейн.log\" runapp /quiet", "modest", "runapp", true,
       L"C:\\Logs\\Мир вейн.log", L""},
      {L"setup.exe /log", "", "", false, L"", L"/log"},
      {L"setup.exe /log \"\" modest", "modest", "", false, L"", L"/log"},
      {L"setup.exe /log /quiet", "", "", true, L"", L"/log"},
      {L"setup.exe quiet /quietly", "quiet", "", false, L"", L"/quietly"},
      {L"setup.exe /S /log C:\\s.log /qn", "", "", false, L"C:\\s.log", L"/S"},
      {L"setup.exe modest /silent", "modest", "", false, L"", L"/silent"},
      {L"setup.exe modest runapp extra -quiet", "modest", "runapp", false, L"", L""},
      {L"setup.exe \uFF4D\uFF4F\uFF44\uFF45\uFF53\uFF54 /quiet", "\x7F\x7F\x7F\x7F\x7F\x7F", "", true, L"", L""},
      {L"setup.exe \uFF0Fquiet", "\x7Fquiet", "", false, L"", L""},
  };
  for (const auto& c : cases) {
    const CommandArguments a = MakeStartupSettings(1033, c.line).Arguments;
    EXPECT_EQ(a.CommandSwitch, c.first) << c.line;
    EXPECT_EQ(a.SecondArgument, c.second) << c.line;
    EXPECT_EQ(a.Mode == RunMode::Quiet, c.quiet) << c.line;
    EXPECT_EQ(a.LogPath, c.log) << c.line;
    EXPECT_EQ(a.Unreadable, c.unreadable) << c.line;
  }
}

}  // namespace
}  // namespace mv
