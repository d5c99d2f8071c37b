// The rules that decide whether a payload is older than the installed copy.
#include "install/versions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mv {
namespace {

TEST(TextToInteger, AcceptsWhatTheVersionFieldsUse) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"0", 0},
      {"12", 12},
      {"   12", 12},
      {"+7", 7},
      {"-7", -7},
      {"007", 7},
      {"$1F", 31},
      {"x1f", 31},
      {"X1F", 31},
      {"0x1F", 31},
      {"0X1f", 31},
      {"-$10", -16},
      {" +0x10", 16},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"$7FFFFFFF", INT32_MAX},
      {"$FFFFFFFF", -1},
      {"0x80000000", INT32_MIN},
      {"$00000000000001", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(TextToInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(TextToInteger, RejectsEverythingElse) {
  const char* const cases[] = {
      "",           " ",           "+",   "-",   "$",   "0x",         "x",           "12 ",
      "12\t",       "\t12",        "1 2", "- 1", "+-1", "--1",        "1.0",         "12a",
      "a12",        "0x1G",        "$-1", "0b1", "1e3", "2147483648", "-2147483649", "99999999999999999999",
      "$100000000", "0x1FFFFFFFF",
      "\xd9\xa1",  // not an ASCII digit
  };
  for (const char* text : cases) EXPECT_EQ(TextToInteger(text), std::nullopt) << '"' << text << '"';
  EXPECT_EQ(TextToInteger(std::string("1\0", 2)), std::nullopt);
}

TEST(LngVersion, LineAfterTheFirstHeader) {
  const struct {
    std::string content;
    std::optional<std::int32_t> version;
  } cases[] = {
      {"[langver]\r\n12\r\n[other]\r\nx\r\n", 12},
      {"[LangVer]\n12\n", 12},              // case does not matter
      {"[LANGVER]   \r\n12\r\n", 12},       // nor trailing blanks
      {"[langver] anything\n34\n", 34},     // nor text after the bracket
      {"a\n[langver]\n 12\nlast\n", 12},    // leading blanks are converted away
      {"[langver]\n12 \n", std::nullopt},   // a trailing blank is not
      {"[langver]\n-5", -5},                // no final line end
      {"[langver]\n1\n[langver]\n2\n", 1},  // the first section counts
      {"[langver]\n\n7\n", std::nullopt},   // the very next line, empty here
      {"x\n[langver]", std::nullopt},       // header on the last line
      {"x\n[langver]\n", std::nullopt},
      {" [langver]\n12\n99\n", 99},  // a blank before "[" is no header
      {"[lang ver]\n12\n99", 99},
      {"1\r\n2\r\n7\r\n", 7},  // no header: the last line
      {"1\n2\nseven\n", std::nullopt},
      {"", std::nullopt},             // an empty file
      {"7\n\n", std::nullopt},        // its last line is the empty one
      {"[langver]\r\n1\r2\r\n", 12},  // a lone carriage return is dropped
      {"[langver]\n4\x1A\n5\n", 4},   // 0x1A ends the text
      {"3\n\x1A[langver]\n9\n", 3},
      {"[langver]\n\x1A"
       "9\n",
       std::nullopt},
      {"[langver]\n$1A\n", 26},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LngVersionFromText(c.content), c.version) << ::testing::PrintToString(c.content);
}

TEST(ExecutableVersions, OlderOnlyWhenTheInstalledCopyIsNewer) {
  const struct {
    const wchar_t* payload;
    const wchar_t* installed;
    bool older;
  } cases[] = {
      {L"1.2.3.4", L"1.2.3.5", true},
      {L"1.2.3.4", L"1.2.3.4", false},
      {L"1.2.3.5", L"1.2.3.4", false},
      {L"1.9.0.0", L"2.0.0.0", true},
      {L"2.0.0.0", L"1.9.9.9", false},
      {L"1.10.0.0", L"1.9.0.0", false},  // numbers, not texts
      {L"1.2.3.4", L"", false},          // no installed version: never newer
      {L"1.2", L"1.2.0.0", false},       // missing components are zeros
      {L"1.2.0.0", L"1.2", false},
      {L"2", L"1.0.0.0", false},
      {L"1", L"1.0.0.1", true},
      {L".5.0.0", L"0.4.0.0", false},  // a leading dot stands for a zero
      {L".5.0.0", L"0.6", true},
      {L"1.2.3.4", L"1.2.3.x", false},    // unreadable installed version: never newer
      {L"1.2.3.x", L"1.2.3.4", true},     // unreadable payload version: ask
      {L"1.2.3.4", L"1.2.3.4.5", false},  // the fourth component takes the rest
      {L"1, 0, 0, 1", L"1, 0, 0, 2", false},
      {L"$10.0.0.0", L"17.0.0.0", true},
      {L"1.2.3.4", L" 1.2.3.5", true},
      // Characters beyond ASCII make a component unreadable, as any other stray character does.
      {L"1.0.0.0", L"1.0.0.1 (бета)", false},
      {L"1.0.0.1 (бета)", L"1.0.0.1", true},
      {L"1.0.0.α", L"1.0.0.β", false},
      {L"１.0.0.0", L"1.0.0.0", true},  // a fullwidth digit is no digit
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExecutablePayloadIsOlder(c.payload, c.installed), c.older)
        << ::testing::PrintToString(c.payload) << " vs " << ::testing::PrintToString(c.installed);
}

TEST(VersionKinds, ExactLowerCaseNamesOnly) {
  EXPECT_EQ(VersionKindOf("pak"), VersionKind::Pak);
  EXPECT_EQ(VersionKindOf("cok"), VersionKind::Cok);
  EXPECT_EQ(VersionKindOf("3bs"), VersionKind::Bs3);
  EXPECT_EQ(VersionKindOf("lng"), VersionKind::Lng);
  EXPECT_EQ(VersionKindOf("exe"), VersionKind::Exe);
  for (const char* kind : {"PAK", "Pak", "txt", "", "pak "}) EXPECT_EQ(VersionKindOf(kind), VersionKind::None) << kind;
}

// The builder warns when a payload's own version differs from the one it builds for, reading the
// version as the installer reads an installed copy's.
TEST(PayloadVersion, AsTheInstallerReadsIt) {
  using Bytes = std::vector<std::uint8_t>;
  const auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
  const struct {
    const char* kind;
    Bytes content;
    std::optional<std::int32_t> version;
  } cases[] = {
      {"pak", {0, 0, 0, 0, 0, 0, 0x34, 0x12}, 0x1234},
      {"pak", {0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 't', 'a', 'i', 'l'}, 0xFFFF},
      {"pak", {0, 0, 0, 0, 0, 0, 0x34}, 0},  // too short
      {"cok", {0, 0, 0, 0, 0, 0x34, 0x12, 0x99}, 0x1234},
      {"cok", {0, 0, 0, 0, 0, 0}, 0},
      {"3bs", {0, 0, 0, 0, 0, 0, 0xC8, 0x01}, 200},
      {"3bs", {0, 0, 0, 0, 0, 0}, 0},
      {"lng", text("[Strings]\r\nok=OK\r\n[LangVer]\r\n 93\r\n[More]\r\nx=1\r\n"), 93},
      {"lng", text("[LangVer]\r\n$2A\r\n"), 42},
      {"lng", text("[langver]\r\n$FFFFFFFF\r\n"), -1},
      {"lng", text("[LangVer]\r\nv2\r\n"), 0},  // no integer
      {"lng", {}, 0},
      {"dat", Bytes(16, 0), std::nullopt},
      {"exe", Bytes(16, 0), std::nullopt},  // executables compare version strings
      {"PAK", Bytes(16, 0), std::nullopt},  // kinds are case-sensitive
  };
  for (const auto& c : cases) EXPECT_EQ(PayloadVersion(c.kind, c.content), c.version) << c.kind;
}

}  // namespace
}  // namespace mv
