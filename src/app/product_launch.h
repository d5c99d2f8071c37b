#pragma once
// The running product: telling whether it runs, asking it to quit, starting it.
#include <string>

namespace mv {

inline constexpr char kProductMappingName[] = "mirvane_memfile";
inline constexpr char MainWindowClass[] = "TMVMainForm";

// One of the two waits of a launch: a try after every `intervalMs`, believed only within the
// first `believedTries` tries.
struct LaunchWait {
  unsigned intervalMs;
  int believedTries;
};
// The mapping must appear within seven probes of 512 ms, the window within ten look-ups of
// 1024 ms: at most about 15.4 s in all.
inline constexpr LaunchWait kMappingWait{512, 7};
inline constexpr LaunchWait kWindowWait{1024, 10};

// Sleeps, then tries, until a try succeeds or the counter has passed `believedTries`. The loop
// makes one try more than it believes, and a success on that last try still counts as a
// failure: an off-by-one the installer has always had, kept so that its timing stays the same.
template <typename SleepFor, typename Try>
bool WaitFor(const LaunchWait& wait, SleepFor sleep, Try attempt) {
  int counter = 0;
  bool done;
  do {
    sleep(wait.intervalMs);
    ++counter;
    done = attempt();
  } while (!done && counter <= wait.believedTries);
  return counter <= wait.believedTries;
}

// True when the product's named file mapping exists.
bool IsProductRunning();
// Posts WM_QUIT to the product's main window; nothing when it has no window.
void AskProductToQuit();
// Starts the product's executable from its folder; reports no failure.
void StartProduct(const std::string& productFolder, const std::string& productName);
// Starts the product, waits for its mapping and its main window, and brings the window to the
// front. A product that does not come up in time is left alone.
void LaunchProduct(const std::string& productFolder, const std::string& productName);

}  // namespace mv
