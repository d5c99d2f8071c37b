#include "ui/progress_window_win.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "win/system_library_win.h"

namespace mv {

namespace {

constexpr int kWidth = 408;
constexpr int kHeight = 76;
constexpr char kClassName[] = "PlainWindow";

// What the main thread and the window thread share. The texts are what a window not yet
// created will show; the lock makes "not created yet, so store the texts" one step against
// the window thread's "take the texts and create the window", so the window never comes up
// with texts older than the last ShowProgress. Handles, position and the flag are atomic:
// each is written once by the window thread and read by the main thread.
struct ProgressState {
  ProgressState() { ::InitializeCriticalSection(&Lock); }
  CRITICAL_SECTION Lock;
  std::string Caption;
  std::string Text;
  std::atomic<bool> Created{false};
  std::atomic<HWND> Window{nullptr};
  std::atomic<HWND> StatusLine{nullptr};
  std::atomic<HWND> ProgressBar{nullptr};  // kept, never sent anything
  std::atomic<int> Left{0};
  std::atomic<int> Top{0};
};

// Never destroyed: the window thread may still run while the process ends, and must not find
// its lock or texts torn down under it. Statics are built without a guard, so the first call
// must come from the main thread: every operation below is called there, and the window thread
// only starts after ShowProgress has made the state.
ProgressState& State() {
  static ProgressState* const state = new ProgressState;
  return *state;
}

class Locked {
 public:
  explicit Locked(ProgressState& state) : lock_(state.Lock) { ::EnterCriticalSection(&lock_); }
  ~Locked() { ::LeaveCriticalSection(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CRITICAL_SECTION& lock_;
};

HINSTANCE Module() { return ::GetModuleHandleA(nullptr); }

void PlaceWindow(UINT showOrHide) {
  ProgressState& s = State();
  ::SetWindowPos(s.Window.load(), HWND_TOPMOST, s.Left.load(), s.Top.load(), kWidth, kHeight, showOrHide);
}

// Runs inside CreateWindowEx on the window thread, which holds the lock.
void CreateChildren(HWND window) {
  ProgressState& s = State();
  s.StatusLine = ::CreateWindowExA(0, "STATIC", s.Text.c_str(), WS_CHILD | WS_VISIBLE, 2, 2, 399, 20, window, nullptr,
                                   Module(), nullptr);
  s.ProgressBar = ::CreateWindowExA(0, "msctls_progress32", "", WS_CHILD | WS_VISIBLE | WS_THICKFRAME, 2, 24, 400, 20,
                                    window, nullptr, Module(), nullptr);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateChildren(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

void InitCommonControlsOnce() {
  // The common controls are loaded only when the window is first needed; the library stays
  // for the life of the process, since the progress bar's class lives in it.
  UniqueModule controls = LoadSystemLibrary("comctl32.dll");
  if (const auto init = ProcedureOf<void(WINAPI*)()>(controls, "InitCommonControls")) init();
  controls.release();
}

DWORD WINAPI RunWindow(void*) {
  ProgressState& s = State();
  s.Left = (::GetSystemMetrics(SM_CXSCREEN) - kWidth) >> 1;
  s.Top = (::GetSystemMetrics(SM_CYSCREEN) - kHeight) >> 1;
  InitCommonControlsOnce();

  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_NOCLOSE;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.cbClsExtra = 4;
  windowClass.cbWndExtra = 4;
  windowClass.hInstance = Module();
  windowClass.hIcon = nullptr;  // no icon: not the program's
  windowClass.hIconSm = nullptr;
  windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
  windowClass.lpszClassName = kClassName;
  // Only one registration per process succeeds: a second thread started before the first had
  // its window ends here, so there is never more than one window.
  if (::RegisterClassExA(&windowClass) == 0) return 0;

  HWND window;
  {
    Locked locked(s);
    window = ::CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_STATICEDGE, kClassName, s.Caption.c_str(),
                               WS_DLGFRAME, s.Left, s.Top, kWidth, kHeight, nullptr, nullptr, Module(), nullptr);
    s.Window = window;
    s.Created = true;
  }
  ::ShowWindow(window, SW_SHOWNORMAL);

  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace

bool ShowProgress(std::string_view caption, std::string_view text) {
  ProgressState& s = State();
  {
    Locked locked(s);
    if (!s.Created) {
      s.Caption = caption;
      s.Text = text;
      // Nobody waits for the thread: it owns the window until the process ends.
      HANDLE thread = ::CreateThread(nullptr, 0, RunWindow, nullptr, 0, nullptr);
      if (thread == nullptr) return false;
      ::CloseHandle(thread);
      return true;
    }
  }
  // Outside the lock: these wait for the window thread to handle the messages.
  SetCaption(caption);
  SetStatusText(text);
  PlaceWindow(SWP_SHOWWINDOW);
  return true;
}

void HideProgress() { PlaceWindow(SWP_HIDEWINDOW); }

void SetCaption(std::string_view caption) {
  ProgressState& s = State();
  {
    Locked locked(s);
    if (!s.Created) {
      s.Caption = caption;
      return;
    }
  }
  ::SetWindowTextA(s.Window.load(), std::string(caption).c_str());
}

void SetStatusText(std::string_view text) { ::SetWindowTextA(State().StatusLine.load(), std::string(text).c_str()); }

}  // namespace mv
