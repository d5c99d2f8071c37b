#pragma once
// How the product is started, and how long starting or closing it waits for it, as rules without
// any Windows call.
#include <string>

namespace mv {

// What became of a start through the desktop shell.
enum class ShellStart {
  Started,      // the shell started the product
  Refused,      // the shell was reached and did not start it (a prompt cancelled, a policy)
  Unreachable,  // no shell to ask: none runs, or a step of the way to it failed
  NoAnswer,     // the shell did not answer in time: it may start the product yet
};

// The installer runs with administrator rights, which a program it started itself would inherit:
// on the user's desktop, with an Open dialog that browses and writes as an administrator. The
// product is therefore started only through the desktop shell, which starts it with the rights
// of the user at the desktop; where no shell can be asked (the user ended it, a kiosk runs
// another), it is not started at all, and the user is told.
// True when the product may come up after this answer of the shell, so that the launch waits for
// it: started, or a start the shell may still make. A refusal and a shell out of reach start
// nothing to wait for.
constexpr bool MayComeUp(ShellStart shell) { return shell == ShellStart::Started || shell == ShellStart::NoAnswer; }

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
// A start through the shell takes a fraction of a second; its answer is awaited 10 s at most.
inline constexpr unsigned kShellAnswerMs = 10000;
// After a quit request, the product is given about 10 s to end.
inline constexpr unsigned kQuitWaitMs = 10000;

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
