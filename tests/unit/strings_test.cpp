#include "base/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace mv {
namespace {

TEST(AsciiLower, OnlyLatinCapitalsChange) {
  EXPECT_EQ(AsciiLower("MoDeSt"), "modest");
  EXPECT_EQ(AsciiLower("AZ RUNAPP-1_@[`"), "az runapp-1_@[`");
  // Cyrillic capitals in code page 1251 (and UTF-8 bytes) stay as they are.
  EXPECT_EQ(AsciiLower("\xCC\xCE\xC4"), "\xCC\xCE\xC4");
  EXPECT_EQ(AsciiLower("\xD0\x9C"), "\xD0\x9C");
}

TEST(AddBackslash, AppendsOnceAndLeavesEmptyAlone) {
  for (auto [in, out] : {std::pair{"", ""}, {"C:", "C:\\"}, {"C:\\", "C:\\"}, {"Mirvane", "Mirvane\\"}}) {
    std::string path = in;
    AddBackslash(path);
    EXPECT_EQ(path, out);
  }
}

TEST(AddBackslash, WidePathsAlike) {
  for (auto [in, out] : {std::pair{L"", L""}, {L"C:\\Уроки", L"C:\\Уроки\\"}, {L"C:\\", L"C:\\"}}) {
    std::wstring path = in;
    AddBackslash(path);
    EXPECT_EQ(path, out);
  }
}

TEST(DecimalText, WholeRange) {
  EXPECT_EQ(DecimalText(0), L"0");
  EXPECT_EQ(DecimalText(92), L"92");
  EXPECT_EQ(DecimalText(-7), L"-7");
  EXPECT_EQ(DecimalText(std::numeric_limits<std::int32_t>::max()), L"2147483647");
  EXPECT_EQ(DecimalText(std::numeric_limits<std::int32_t>::min()), L"-2147483648");
}

// What "%X" writes: capital digits, no leading zeros, a lone 0 for zero.
TEST(HexText, AsPrintfWritesIt) {
  const struct {
    std::uint32_t value;
    const char* text;
  } cases[] = {{0, "0"},
               {0x5, "5"},
               {0xC, "C"},
               {0x10, "10"},
               {0xFFFF, "FFFF"},
               {0x1234ABCD, "1234ABCD"},
               {0x0F000000, "F000000"},
               {0xFFFFFFFF, "FFFFFFFF"}};
  for (const auto& c : cases) EXPECT_EQ(HexText(c.value), c.text) << c.value;
}

}  // namespace
}  // namespace mv
