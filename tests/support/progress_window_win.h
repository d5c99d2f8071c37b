#pragma once
// The progress window as a test sees it, in the test program or in a program of its own.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "support/wait_win.h"

namespace mv::testing {

// This process's window: the window thread creates it a moment after ShowProgress returns.
inline HWND WaitForProgressWindow(bool visible) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND window = nullptr; (window = ::FindWindowExA(nullptr, window, "PlainWindow", nullptr)) != nullptr;) {
          DWORD process = 0;
          ::GetWindowThreadProcessId(window, &process);
          if (process == ::GetCurrentProcessId() && (::IsWindowVisible(window) != FALSE) == visible) found = window;
        }
        return found != nullptr;
      },
      std::chrono::seconds(5));
  return found;
}

// The window's outer size and place, its children's sizes and the height of the status line's
// own font (0: it has none), compared as one line that a failure shows whole.
struct ProgressLayout {
  int Width, Height, Left, Top, StatusWidth, StatusHeight, BarWidth, BarHeight, FontHeight;

  std::string Text() const {
    char text[160];
    std::snprintf(text, sizeof text, "window %dx%d at %d,%d; status line %dx%d; bar %dx%d; font %d", Width, Height,
                  Left, Top, StatusWidth, StatusHeight, BarWidth, BarHeight, FontHeight);
    return text;
  }
};

inline ProgressLayout LayoutOf(HWND window) {
  HWND status = ::FindWindowExA(window, nullptr, "STATIC", nullptr);
  HWND bar = ::FindWindowExA(window, nullptr, "msctls_progress32", nullptr);
  RECT w{}, s{}, b{};
  ::GetWindowRect(window, &w);
  ::GetWindowRect(status, &s);
  ::GetWindowRect(bar, &b);
  LOGFONTA font{};
  if (HGDIOBJ handle = reinterpret_cast<HGDIOBJ>(::SendMessageA(status, WM_GETFONT, 0, 0)))
    ::GetObjectA(handle, sizeof font, &font);
  return {w.right - w.left,
          w.bottom - w.top,
          w.left,
          w.top,
          s.right - s.left,
          s.bottom - s.top,
          b.right - b.left,
          b.bottom - b.top,
          static_cast<int>(font.lfHeight)};
}

}  // namespace mv::testing
