// What a step's line may hold: nothing that ends it or moves the terminal showing the log.
#include "ui/run_log.h"

#include <gtest/gtest.h>

namespace mv {
namespace {

TEST(LogLineText, ControlCharactersAndLineSeparatorsBecomeBlanks) {
  const struct {
    const wchar_t* detail;
    const wchar_t* line;
  } cases[] = {
      {L"C:\\Мир вейн\\中文\\mvm3.pak", L"Step: C:\\Мир вейн\\中文\\mvm3.pak"},
      {L"two\r\nlines", L"Step: two  lines"},
      {L"tab\there, nul\0end", L"Step: tab here, nul"},
      {L"esc \x1B[2J del \x7F", L"Step: esc  [2J del  "},
      {L"next line \x85, C1 \x80 \x9F, kept \xA0", L"Step: next line  , C1    , kept \xA0"},
      {L"line \x2028 paragraph \x2029 kept \x2027\x202A", L"Step: line   paragraph   kept \x2027\x202A"},
  };
  for (const auto& c : cases) EXPECT_EQ(LogLineText("Step: ", c.detail), c.line);
  EXPECT_EQ(LogLineText("a\nb\x1F", {}), L"a b ");
  const wchar_t nul[] = L"nul \0 inside";
  EXPECT_EQ(LogLineText("", std::wstring_view(nul, 12)), L"nul   inside");
}

}  // namespace
}  // namespace mv
