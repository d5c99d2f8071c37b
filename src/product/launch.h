#pragma once
// How the product is started, and how long starting or closing it waits for it, as rules without
// any Windows call.
#include <string>

namespace mv {

// The installer runs with administrator rights, which a program it starts itself inherits. The
// product is therefore started through the desktop shell, which starts it with the rights of
// the user at the desktop; only when no shell takes it (none running, or a step of the way to
// it failed) does the installer start it itself. Never both: a second copy would come up.
template <typename ThroughShell, typename Directly>
void StartThroughShellOrDirectly(const std::wstring& productFolder, ThroughShell throughShell, Directly directly) {
  if (!throughShell(productFolder)) directly(productFolder);
}

// One of the two waits of a launch: a try after every `IntervalMs`, believed only within the
// first `BelievedTries` tries.
struct LaunchWait {
  unsigned IntervalMs;
  int BelievedTries;
};
// The mapping must appear within seven probes of 512 ms, the window within ten look-ups of
// 1024 ms: at most about 15.4 s in all.
inline constexpr LaunchWait kMappingWait{512, 7};
inline constexpr LaunchWait kWindowWait{1024, 10};
// After a quit request, the product's mapping is probed every 250 ms for about 10 s.
inline constexpr LaunchWait kQuitWait{250, 40};

// Sleeps, then tries, until a try succeeds or the counter has passed `BelievedTries`. The loop
// makes one try more than it believes, and a success on that last try still counts as a
// failure: an off-by-one the installer has always had, kept so that its timing stays the same.
template <typename SleepFor, typename Try>
bool WaitFor(const LaunchWait& wait, SleepFor sleep, Try attempt) {
  int counter = 0;
  bool done;
  do {
    sleep(wait.IntervalMs);
    ++counter;
    done = attempt();
  } while (!done && counter <= wait.BelievedTries);
  return counter <= wait.BelievedTries;
}

}  // namespace mv
