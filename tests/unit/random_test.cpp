#include "startup/random.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace mv {
namespace {

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

}  // namespace
}  // namespace mv
