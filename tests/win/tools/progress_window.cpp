// Shows the progress window in a process of its own, which takes the DPI that Wine reads when a
// process starts (the LogPixels setting), and prints its layout.
#include <cstdio>

#include "support/progress_window_win.h"
#include "ui/progress_window_win.h"

int main() {
  // The installer has always asked a question before it shows the window. Wine 8 can deadlock
  // when a process's first two calls into user32 come from two threads at once (the window
  // thread's class registration and the look-up below).
  ::GetDesktopWindow();
  mv::ShowProgress("", "");
  HWND window = mv::testing::WaitForProgressWindow(true);
  if (window == nullptr) return 1;
  std::puts(mv::testing::LayoutOf(window).Text().c_str());
  return 0;
}
