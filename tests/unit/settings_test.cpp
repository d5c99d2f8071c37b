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
  StartupSettings s = MakeStartupSettings(2073, "\"C:\\x y\\setup.exe\" MoDeSt RunApp extra");
  EXPECT_TRUE(s.RussianMessages);
  EXPECT_EQ(s.Arguments.CommandSwitch, "modest");
  EXPECT_EQ(s.Arguments.SecondArgument, "runapp");
  s = MakeStartupSettings(1045, "setup.exe");
  EXPECT_FALSE(s.RussianMessages);
  EXPECT_EQ(s.Arguments.CommandSwitch, "");
}

}  // namespace
}  // namespace mv
