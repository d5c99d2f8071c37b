#pragma once
// Waiting for an effect that Windows hands back nothing to wait on: a file another program
// makes, a link the Linux side makes, a window another thread brings up.
#include <windows.h>

#include <chrono>

namespace mv::testing {

// Looks at least once, then every 20 ms until `done` holds; false when `limit` passed first. The
// limit only ends a wait for what never comes: nothing is decided by how long the wait took.
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::Sleep(20);
  }
  return true;
}

}  // namespace mv::testing
