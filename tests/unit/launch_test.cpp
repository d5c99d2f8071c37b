// Which starts of the product are waited for, and the two waits of a launch, run against a
// counting clock instead of the real one.
#include <gtest/gtest.h>

#include <string>

#include "product/launch.h"

namespace mv {
namespace {

// Only a start the shell made, or may still make, is waited for: a refusal and a shell out of
// reach start nothing, and the installer starts no copy of its own.
TEST(MayComeUp, OnlyWhatTheShellStartedOrMayStillStart) {
  EXPECT_TRUE(MayComeUp(ShellStart::Started));
  EXPECT_TRUE(MayComeUp(ShellStart::NoAnswer));
  EXPECT_FALSE(MayComeUp(ShellStart::Refused));
  EXPECT_FALSE(MayComeUp(ShellStart::Unreachable));
}

TEST(LaunchWait, SleepsBeforeEachTryAndBelievesOnlyTheFirstOnes) {
  struct Case {
    const char* what;
    LaunchWait wait;
    int readyAt;  // the first try that succeeds; 0: none does
    bool found;
    int tries;
    unsigned sleptMs;
  };
  const Case cases[] = {
      {"an already running product: the first probe", kMappingWait, 1, true, 1, 512},
      {"mapping by the seventh probe", kMappingWait, 7, true, 7, 3584},
      {"mapping only at the eighth probe is not believed", kMappingWait, 8, false, 8, 4096},
      {"no mapping: eight probes", kMappingWait, 0, false, 8, 4096},
      {"window at the first look-up", kWindowWait, 1, true, 1, 1024},
      {"window by the tenth look-up", kWindowWait, 10, true, 10, 10240},
      {"window only at the eleventh look-up is not believed", kWindowWait, 11, false, 11, 11264},
      {"no window: eleven look-ups", kWindowWait, 0, false, 11, 11264},
  };
  for (const Case& c : cases) {
    std::string events;
    unsigned slept = 0;
    int tries = 0;
    const bool found = WaitFor(
        c.wait,
        [&](unsigned ms) {
          slept += ms;
          events += 's';
        },
        [&] {
          events += 't';
          return ++tries == c.readyAt;
        });
    EXPECT_EQ(found, c.found) << c.what;
    EXPECT_EQ(tries, c.tries) << c.what;
    EXPECT_EQ(slept, c.sleptMs) << c.what;
    std::string sleepThenTry;
    for (int i = 0; i < c.tries; ++i) sleepThenTry += "st";
    EXPECT_EQ(events, sleepThenTry) << c.what;
  }
}

}  // namespace
}  // namespace mv
