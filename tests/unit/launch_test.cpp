// How the product is started (the shell first, the installer itself only when there is no shell
// to ask), and the two waits of a launch, run against a counting clock instead of the real
// one.
#include <gtest/gtest.h>

#include <string>

#include "product/launch.h"

namespace mv {
namespace {

TEST(StartThroughShellOrDirectly, StartsDirectlyOnlyWhenThereIsNoShellToAsk) {
  const struct {
    ShellStart shell;
    const char* calls;
  } cases[] = {
      {ShellStart::Started, "shell "},
      {ShellStart::Unreachable, "shell direct "},
      // The shell's no stands, and a shell that is slow to answer may start a copy yet.
      {ShellStart::Refused, "shell "},
      {ShellStart::NoAnswer, "shell "},
  };
  for (const auto& c : cases) {
    std::string calls;
    StartThroughShellOrDirectly(
        L"C:\\Apps\\Mirvane\\",
        [&](const std::wstring& folder) {
          calls += folder == L"C:\\Apps\\Mirvane\\" ? "shell " : "shell(elsewhere) ";
          return c.shell;
        },
        [&](const std::wstring& folder) {
          calls += folder == L"C:\\Apps\\Mirvane\\" ? "direct " : "direct(elsewhere) ";
        });
    EXPECT_EQ(calls, c.calls) << static_cast<int>(c.shell);
  }
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
