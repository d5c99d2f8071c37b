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

// The installer runs with administrator rights, which a program it starts itself inherits. The
// product is therefore started through the desktop shell, which starts it with the rights of
// the user at the desktop; only when there is no shell to ask does the installer start it
// itself. A start the shell refused or may still make is not made elevated instead: the user's
// refusal stands, and a second copy would come up.
// Returns what the shell said; Unreachable: the installer started the product itself.
template <typename ThroughShell, typename Directly>
ShellStart StartThroughShellOrDirectly(const std::wstring& productFolder, ThroughShell throughShell,
                                       Directly directly) {
  const ShellStart shell = throughShell(productFolder);
  if (shell == ShellStart::Unreachable) directly(productFolder);
  return shell;
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
