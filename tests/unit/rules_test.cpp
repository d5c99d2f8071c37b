#include "env/rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace mv {
namespace {

TEST(RussianLocale, ExactlyTheSevenLocales) {
  for (std::uint32_t lcid : {1026u, 1049u, 1058u, 1059u, 1087u, 1092u, 2073u}) EXPECT_TRUE(IsRussianLocale(lcid)) << lcid;
  // English (US), Polish, Russian with another sort order, the neutral Russian language.
  for (std::uint32_t lcid : {1033u, 1045u, 0x10419u, 0x19u, 0u}) EXPECT_FALSE(IsRussianLocale(lcid)) << lcid;
}

TEST(AsciiLower, OnlyLatinCapitalsChange) {
  EXPECT_EQ(AsciiLower("MoDeSt"), "modest");
  EXPECT_EQ(AsciiLower("RUNAPP-1_@[`"), "runapp-1_@[`");
  // Cyrillic capitals in code page 1251 (and UTF-8 bytes) stay as they are.
  EXPECT_EQ(AsciiLower("\xCC\xCE\xC4"), "\xCC\xCE\xC4");
  EXPECT_EQ(AsciiLower("\xD0\x9C"), "\xD0\x9C");
}

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

TEST(Lcg, FollowsTheRecurrenceAndScalesByTheHighHalf) {
  Lcg random(1);
  // seed 1 -> 134775814; 134775814 * 26 >> 32 = 0
  EXPECT_EQ(random.Draw(26), 0u);
  EXPECT_EQ(random.Seed(), 134775814u);
  Lcg wraps(0xFFFFFFFFu);
  wraps.Draw(10);
  EXPECT_EQ(wraps.Seed(), static_cast<std::uint32_t>(0xFFFFFFFFull * 134775813ull + 1ull));
  Lcg big(0);
  for (int i = 0; i < 1000; ++i) EXPECT_LT(big.Draw(26), 26u);
  Lcg top(0x12345678);
  const std::uint32_t next = 0x12345678u * 134775813u + 1u;
  EXPECT_EQ(top.Draw(0xFFFFFFFFu), static_cast<std::uint32_t>((std::uint64_t{next} * 0xFFFFFFFFu) >> 32));
}

TEST(AddBackslash, AppendsOnceAndLeavesEmptyAlone) {
  for (auto [in, out] : {std::pair{"", ""}, {"C:", "C:\\"}, {"C:\\", "C:\\"}, {"Mirvane", "Mirvane\\"}}) {
    std::string path = in;
    AddBackslash(path);
    EXPECT_EQ(path, out);
  }
}

TEST(UninstallFolderPart, TakesTheFolderUpToTheLastBackslash) {
  struct Case {
    const char* value;
    std::optional<std::string> folder;
  } cases[] = {
      {"C:\\Program Files\\Mirvane\\unins000.exe", "C:\\Program Files\\Mirvane\\"},
      // The last character is not examined: a trailing backslash gives the parent.
      {"C:\\Apps\\Mirvane\\", "C:\\Apps\\"},
      {"\"C:\\Program Files\\Mirvane\\unins000.exe\"", "C:\\Program Files\\Mirvane\\"},
      {"\"C:\\Program Files\\Mirvane\\unins000.exe\" /SILENT", "C:\\Program Files\\Mirvane\\"},
      {"\"C:\\Apps\\Mirvane\\\"", "C:\\Apps\\"},
      {"C:\\unins.exe \"x\\y\"", "C:\\unins.exe \"x\\"},  // unquoted: taken as it stands
      {"\\x", "\\"},
      {"", std::nullopt},
      {"\\", std::nullopt},
      {"unins000.exe", std::nullopt},
      {"\"unins000.exe\"", std::nullopt},
      {"\"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(UninstallFolderPart(c.value), c.folder) << c.value;
}

TEST(DecimalText, WholeRange) {
  EXPECT_EQ(DecimalText(0), "0");
  EXPECT_EQ(DecimalText(92), "92");
  EXPECT_EQ(DecimalText(-7), "-7");
  EXPECT_EQ(DecimalText(std::numeric_limits<std::int32_t>::max()), "2147483647");
  EXPECT_EQ(DecimalText(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}

// What "%X" writes: capital digits, no leading zeros, a lone 0 for zero.
TEST(HexText, AsPrintfWritesIt) {
  const struct {
    std::uint32_t value;
    const char* text;
  } cases[] = {{0, "0"}, {0x5, "5"}, {0xC, "C"}, {0x10, "10"}, {0xFFFF, "FFFF"}, {0x1234ABCD, "1234ABCD"},
               {0x0F000000, "F000000"}, {0xFFFFFFFF, "FFFFFFFF"}};
  for (const auto& c : cases) EXPECT_EQ(HexText(c.value), c.text) << c.value;
}

}  // namespace
}  // namespace mv
