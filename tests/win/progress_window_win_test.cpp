// The progress window as the user sees it: one window, centred, topmost, with its two
// children, hidden and shown again from the main thread, scaled by the DPI of its monitor.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "support/program_output_win.h"
#include "support/progress_window_win.h"
#include "support/registry_win.h"
#include "ui/progress_window_win.h"

namespace mv {
namespace {

using testing::ProgressLayout;

// At 96 DPI the window as it always was, with no font of its own; at 144 DPI every size 1.5
// times that, and a font of 1.5 times the system font's 16 pixels.
constexpr ProgressLayout kAt96{408, 76, 0, 0, 399, 20, 400, 20, 0};
constexpr ProgressLayout kAt144{612, 114, 0, 0, 599, 30, 600, 30, 24};

// Centred on the primary monitor.
std::string Centred(ProgressLayout layout) {
  layout.Left = (::GetSystemMetrics(SM_CXSCREEN) - layout.Width) / 2;
  layout.Top = (::GetSystemMetrics(SM_CYSCREEN) - layout.Height) / 2;
  return layout.Text();
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
  HWND window = testing::WaitForProgressWindow(true);
  ASSERT_NE(window, nullptr);
  RECT r;
  ASSERT_TRUE(::GetWindowRect(window, &r));
  EXPECT_EQ(testing::LayoutOf(window).Text(), Centred(kAt96));
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

  // The user drags the window by its caption onto a monitor of 144 DPI, or changes the scale: it
  // takes the place and size the system suggests, is shown there after being hidden, and its
  // children and font are scaled; and back.
  ProgressLayout moved = kAt144;
  moved.Left = 10;
  moved.Top = 20;
  RECT suggested{10, 20, 10 + 612, 20 + 114};
  ::SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(testing::LayoutOf(window).Text(), moved.Text());
  HideProgress();
  ShowProgress("", "");
  EXPECT_TRUE(::IsWindowVisible(window));
  EXPECT_EQ(testing::LayoutOf(window).Text(), moved.Text());
  ::SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&r));
  EXPECT_EQ(testing::LayoutOf(window).Text(), Centred(kAt96));
}

// Wine takes the DPI from the LogPixels setting when a process starts, so each DPI is shown by a
// program of its own.
class ProgressWindowDpi : public ::testing::Test {
 protected:
  void TearDown() override {
    if (saved_) {
      testing::WriteDword(HKEY_CURRENT_USER, kDesktop, L"LogPixels", *saved_);
    } else {
      testing::DeleteValue(HKEY_CURRENT_USER, kDesktop, L"LogPixels");
    }
  }

  static constexpr wchar_t kDesktop[] = L"Control Panel\\Desktop";
  const std::optional<DWORD> saved_ = testing::ReadDword(HKEY_CURRENT_USER, kDesktop, L"LogPixels");
};

TEST_F(ProgressWindowDpi, ScaledByTheDpiOfThePrimaryMonitor) {
  for (const auto& [dpi, layout] : {std::pair{96, kAt96}, std::pair{144, kAt144}}) {
    testing::WriteDword(HKEY_CURRENT_USER, kDesktop, L"LogPixels", dpi);
    EXPECT_EQ(testing::ProgramOutput("progress_window.exe"), Centred(layout) + "\r\n") << dpi << " DPI";
  }
}

}  // namespace
}  // namespace mv
