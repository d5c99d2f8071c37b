#include "install/folder_size.h"

#include <gtest/gtest.h>

namespace mv {
namespace {

TEST(FolderSize, KibFromBytesClampsInsteadOfWrapping) {
  EXPECT_EQ(KibFromBytes(0), 0);
  EXPECT_EQ(KibFromBytes(5ull << 30), 5 * 1024 * 1024) << "beyond 4 GiB";
  EXPECT_EQ(KibFromBytes((2ull << 40) - 1), 0x7FFFFFFF);
  EXPECT_EQ(KibFromBytes(3ull << 40), 0x7FFFFFFF);
}

}  // namespace
}  // namespace mv
