#include "ui/progress_window_win.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <utility>

#include "win/system_library_win.h"

namespace mv {

namespace {

// The window's and its children's geometry at 96 DPI; at any other DPI each number is scaled.
constexpr int kWidth = 408;
constexpr int kHeight = 76;
struct Box {
  int Left, Top, Width, Height;
};
constexpr Box kStatusBox{2, 2, 399, 20};
constexpr Box kBarBox{2, 24, 400, 20};
// The cell height of the system font, which the status line draws with at 96 DPI.
constexpr int kFontHeight = 16;
constexpr char kClassName[] = "PlainWindow";

// What the main thread and the window thread share. The texts are what a window not yet
// created will show; the lock makes "not created yet, so store the texts" one step against
// the window thread's "take the texts and create the window", so the window never comes up
// with texts older than the last ShowProgress. Handles, position and the flag are atomic:
// each is written by the window thread (once, or again when the DPI changes) and read by the
// main thread.
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
  std::atomic<int> Width{0};
  std::atomic<int> Height{0};
  int Dpi = 96;     // the window thread's alone
  UniqueFont Font;  // the status line's, at any DPI but 96; the window thread's alone
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

// Rounded to the nearest pixel, so that at 96 DPI every number stays as it is.
int Scaled(int pixels) { return (pixels * State().Dpi + 48) / 96; }

// The DPI of the primary monitor, where the window is centred. Windows 8.1 and later give each
// monitor its own (the manifest makes the process aware of that); older systems have one DPI for
// all, which the screen's device context reports, and shcore.dll, if there at all, lacks the
// call.
int PrimaryMonitorDpi() {
  UniqueModule shcore = LoadSystemLibrary("shcore.dll");
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  UINT dpiX, dpiY;
  // 0: MDT_EFFECTIVE_DPI, the one the user's scale setting gives.
  if (const auto getDpi = ProcedureOf<GetDpiForMonitorFn>(shcore, "GetDpiForMonitor");
      getDpi && getDpi(::MonitorFromPoint({}, MONITOR_DEFAULTTOPRIMARY), 0, &dpiX, &dpiY) == S_OK)
    return dpiX;
  const UniqueScreenDc screen(::GetDC(nullptr));
  return ::GetDeviceCaps(screen.get(), LOGPIXELSX);
}

void PlaceWindow(UINT flags) {
  ProgressState& s = State();
  ::SetWindowPos(s.Window.load(), HWND_TOPMOST, s.Left.load(), s.Top.load(), s.Width.load(), s.Height.load(), flags);
}

// At 96 DPI the status line has no font of its own, as ever: it draws with the system font. That
// is a bitmap font, which does not scale (and is made for the system's DPI, not the monitor's),
// so at any other DPI the line gets a TrueType font of the system font's height and weight,
// scaled.
void SetStatusFont() {
  ProgressState& s = State();
  UniqueFont font(s.Dpi == 96 ? nullptr
                              : ::CreateFontA(Scaled(kFontHeight), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET,
                                              OUT_TT_ONLY_PRECIS, 0, 0, VARIABLE_PITCH | FF_SWISS, nullptr));
  ::SendMessageA(s.StatusLine.load(), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
  s.Font = std::move(font);  // deletes the font the line no longer uses
}

// Runs inside CreateWindowEx on the window thread, which holds the lock.
void CreateChildren(HWND window) {
  ProgressState& s = State();
  s.StatusLine = ::CreateWindowExA(0, "STATIC", s.Text.c_str(), WS_CHILD | WS_VISIBLE, Scaled(kStatusBox.Left),
                                   Scaled(kStatusBox.Top), Scaled(kStatusBox.Width), Scaled(kStatusBox.Height), window,
                                   nullptr, Module(), nullptr);
  s.ProgressBar = ::CreateWindowExA(0, "msctls_progress32", "", WS_CHILD | WS_VISIBLE | WS_THICKFRAME,
                                    Scaled(kBarBox.Left), Scaled(kBarBox.Top), Scaled(kBarBox.Width),
                                    Scaled(kBarBox.Height), window, nullptr, Module(), nullptr);
  if (s.Dpi != 96) SetStatusFont();
}

void MoveChild(HWND child, const Box& box) {
  ::SetWindowPos(child, nullptr, Scaled(box.Left), Scaled(box.Top), Scaled(box.Width), Scaled(box.Height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The user may change the scale while the window is shown, or drag it by its caption (an
// overlapped window always has one) onto a monitor of another DPI: it takes the place and size
// the system suggests for the new DPI, where later shows put it too, and its children and font
// are scaled anew.
void ChangeDpi(int dpi, const RECT& suggested) {
  ProgressState& s = State();
  s.Dpi = dpi;
  s.Left = suggested.left;
  s.Top = suggested.top;
  s.Width = suggested.right - suggested.left;
  s.Height = suggested.bottom - suggested.top;
  MoveChild(s.StatusLine.load(), kStatusBox);
  MoveChild(s.ProgressBar.load(), kBarBox);
  SetStatusFont();
  PlaceWindow(SWP_NOACTIVATE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateChildren(window);
      return 0;
    case WM_DPICHANGED:
      ChangeDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
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
  // Centred on the primary monitor, whose size a DPI-aware process gets in physical pixels.
  s.Dpi = PrimaryMonitorDpi();
  s.Width = Scaled(kWidth);
  s.Height = Scaled(kHeight);
  s.Left = (::GetSystemMetrics(SM_CXSCREEN) - s.Width) >> 1;
  s.Top = (::GetSystemMetrics(SM_CYSCREEN) - s.Height) >> 1;
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
                               WS_DLGFRAME, s.Left, s.Top, s.Width, s.Height, nullptr, nullptr, Module(), nullptr);
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
