#include "install/safe_write.h"

#include <gtest/gtest.h>

namespace mv {
namespace {

TEST(MakeTempName, TildeBeforeTheFileName) {
  const struct {
    const char* path;
    const char* temp;
  } cases[] = {
      {"C:\\Apps\\Mirvane\\mvm3.pak", "C:\\Apps\\Mirvane\\~mvm3.pak"},
      {"mvm3.pak", "~mvm3.pak"},
      {"\\mvm3.pak", "\\~mvm3.pak"},
      {"dir\\", "~dir\\"},  // the final character is never looked at
      {"a\\b\\", "a\\~b\\"},
      {"\\", "~\\"},
      {"", "~"},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeTempName(c.path), c.temp) << c.path;
}

}  // namespace
}  // namespace mv
