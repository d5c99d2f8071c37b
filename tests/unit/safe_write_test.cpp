#include "install/safe_write.h"

#include <gtest/gtest.h>

namespace mv {
namespace {

TEST(MakeTempName, TildeBeforeTheFileName) {
  const struct {
    const wchar_t* path;
    const wchar_t* temp;
  } cases[] = {
      {L"C:\\Apps\\Mirvane\\mvm3.pak", L"C:\\Apps\\Mirvane\\~mvm3.pak"},
      {L"mvm3.pak", L"~mvm3.pak"},
      {L"\\mvm3.pak", L"\\~mvm3.pak"},
      {L"dir\\", L"~dir\\"},  // the final character is never looked at
      {L"a\\b\\", L"a\\~b\\"},
      {L"\\", L"~\\"},
      {L"", L"~"},
      {L"C:\\Уроки\\中文.pak", L"C:\\Уроки\\~中文.pak"},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeTempName(c.path), c.temp) << ::testing::PrintToString(c.path);
}

}  // namespace
}  // namespace mv
