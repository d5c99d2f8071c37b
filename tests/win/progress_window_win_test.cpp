// The progress window as the user sees it: one window, centred, topmost, with its two
// children, hidden and shown again from the main thread.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "ui/progress_window_win.h"

namespace mv {
namespace {

// The window thread creates the window a moment after ShowProgress returns.
HWND WaitForWindow(bool visible) {
  for (int i = 0; i < 500; ++i) {
    HWND window = ::FindWindowA("PlainWindow", nullptr);
    if (window && (::IsWindowVisible(window) != FALSE) == visible) return window;
    ::Sleep(10);
  }
  return nullptr;
}

std::string TextOf(HWND window) {
  char text[256] = {};
  ::GetWindowTextA(window, text, sizeof text);
  return text;
}

// The window lives until the process ends, so its whole life is one test.
TEST(ProgressWindow, LifeCycle) {
  HideProgress();  // before the window exists: nothing happens
  EXPECT_EQ(::FindWindowA("PlainWindow", nullptr), nullptr);

  ShowProgress("", "");
  HWND window = WaitForWindow(true);
  ASSERT_NE(window, nullptr);
  RECT r;
  ASSERT_TRUE(::GetWindowRect(window, &r));
  EXPECT_EQ(r.right - r.left, 408);
  EXPECT_EQ(r.bottom - r.top, 76);
  EXPECT_EQ(r.left, (::GetSystemMetrics(SM_CXSCREEN) - 408) / 2);
  EXPECT_EQ(r.top, (::GetSystemMetrics(SM_CYSCREEN) - 76) / 2);
  const LONG_PTR exStyle = ::GetWindowLongPtrA(window, GWL_EXSTYLE);
  EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
  EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME);
  const LONG_PTR style = ::GetWindowLongPtrA(window, GWL_STYLE);
  EXPECT_FALSE(style & (WS_CHILD | WS_POPUP | WS_SYSMENU));
  EXPECT_TRUE(::GetClassLongA(window, GCL_STYLE) & CS_NOCLOSE);
  EXPECT_EQ(TextOf(window), "");
  EXPECT_NE(::GetWindowThreadProcessId(window, nullptr), ::GetCurrentThreadId()) << "not on its own thread";

  HWND status = ::FindWindowExA(window, nullptr, "STATIC", nullptr);
  HWND bar = ::FindWindowExA(window, nullptr, "msctls_progress32", nullptr);
  ASSERT_NE(status, nullptr);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(TextOf(status), "");
  RECT s;
  ::GetWindowRect(status, &s);
  EXPECT_EQ(s.right - s.left, 399);
  EXPECT_EQ(s.bottom - s.top, 20);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 0) << "the bar is never moved";

  HideProgress();
  EXPECT_FALSE(::IsWindowVisible(window));
  ShowProgress("Caption", "Status");
  EXPECT_TRUE(::IsWindowVisible(window));
  EXPECT_EQ(TextOf(window), "Caption");
  EXPECT_EQ(TextOf(status), "Status");
  ShowProgress("", "");  // empty texts blank the title and the status line
  EXPECT_EQ(TextOf(window), "");
  EXPECT_EQ(TextOf(status), "");
  RECT again;
  ::GetWindowRect(window, &again);
  EXPECT_TRUE(::EqualRect(&r, &again)) << "moved";
  EXPECT_EQ(::FindWindowExA(nullptr, window, "PlainWindow", nullptr), nullptr) << "a second window";
}

}  // namespace
}  // namespace mv
