// A stand-in for the installed product, built as Mirvane.exe. It shows the installer what the
// real program shows (the shared memory file that says "running", a main window of the
// product's class, a data file held open) and logs what happens to it, so end-to-end tests can
// see whether the installer started it, showed it or asked it to quit.
//
// The installer starts the product without arguments, and through the desktop shell, whose
// environment is not the test's. So the settings come from a file in a place that does not
// depend on who started the copy: "standin.cfg" in the folder above the stand-in's own, that is
// beside the product folder (the installer measures the product folder, so nothing a test
// changes may lie in it). One "key=value" a line ('#' starts a comment):
//   mapping_delay_ms  wait before creating the "mirvane_memfile" mapping        (default 0)
//   window_delay_ms   wait after the mapping before creating the main window     (default 0)
//   window_visible    1: the window is created visible; 0: it waits to be shown  (default 1)
//   hold_file         a file kept open without sharing for the whole life        (default none)
//   log               the log file                                               (default none)
//   lifetime_ms       the process ends by itself after this long                 (default 60000)
//   quit_delay_ms     after a quit request, time taken to end (saving, say), with the
//                     mapping and the held file still open                        (default 0)
//   release_mapping_at_quit  1: the mapping is closed at once on the quit request, before
//                     that time, while the held file stays open                   (default 0)
// Log lines: start <pid>, cwd <current folder>, parent <image name of the process that started
// it, lower case>, args <command-line arguments>, holding, mapping, window, shown, activated,
// quit, lifetime, exit; "failed <step>" when a step failed.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cwctype>
#include <optional>
#include <string>
#include <string_view>

#include "../../src/win/handles_win.h"

namespace {

struct Settings {
  DWORD mappingDelayMs = 0;
  DWORD windowDelayMs = 0;
  bool windowVisible = true;
  std::wstring holdFile;
  std::wstring logFile;
  DWORD lifetimeMs = 60000;
  DWORD quitDelayMs = 0;
  bool releaseMappingAtQuit = false;
};

std::wstring FromUtf8(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// The image name of the process that started this one, in lower case: "explorer.exe" when the
// desktop shell did. "?" when it has ended or cannot be seen.
std::string ParentName() {
  mv::UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return "?";
  const auto find = [&](auto match) {
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
      if (match(entry)) return std::optional<PROCESSENTRY32W>(entry);
    return std::optional<PROCESSENTRY32W>();
  };
  const DWORD self = GetCurrentProcessId();
  const auto own = find([&](const PROCESSENTRY32W& e) { return e.th32ProcessID == self; });
  if (!own) return "?";
  const auto parent = find([&](const PROCESSENTRY32W& e) { return e.th32ProcessID == own->th32ParentProcessID; });
  if (!parent) return "?";
  std::wstring name = parent->szExeFile;
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
  return ToUtf8(name);
}

// The command line after the program's own name.
std::wstring_view Arguments() {
  std::wstring_view line = GetCommandLineW();
  if (!line.empty() && line.front() == L'"') {
    std::size_t close = line.find(L'"', 1);
    line.remove_prefix(close == std::wstring_view::npos ? line.size() : close + 1);
  } else {
    std::size_t blank = line.find_first_of(L" \t");
    line.remove_prefix(blank == std::wstring_view::npos ? line.size() : blank);
  }
  while (!line.empty() && (line.front() == L' ' || line.front() == L'\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == L' ' || line.back() == L'\t')) line.remove_suffix(1);
  return line;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

DWORD ToMs(std::string_view s) {
  DWORD v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    v = v * 10 + static_cast<DWORD>(c - '0');
  }
  return v;
}

std::string ReadWholeFile(const std::wstring& path) {
  mv::UniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string data;
  if (!f) return data;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f.get(), buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  return data;
}

// <folder above the executable's>\standin.cfg; empty when the executable's path is unknown.
std::wstring SettingsFile() {
  wchar_t self[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
  if (n == 0 || n >= std::size(self)) return {};
  std::wstring path(self, n);
  for (int up = 0; up < 2; ++up) {
    std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    path.resize(slash);
  }
  return path + L"\\standin.cfg";
}

Settings LoadSettings() {
  Settings s;
  std::wstring file = SettingsFile();
  if (file.empty()) return s;
  std::string text = ReadWholeFile(file);
  std::string_view rest = text;
  while (!rest.empty()) {
    std::size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = Trim(line.substr(0, eq));
    std::string_view value = Trim(line.substr(eq + 1));
    if (key == "mapping_delay_ms")
      s.mappingDelayMs = ToMs(value);
    else if (key == "window_delay_ms")
      s.windowDelayMs = ToMs(value);
    else if (key == "window_visible")
      s.windowVisible = value != "0";
    else if (key == "hold_file")
      s.holdFile = FromUtf8(value);
    else if (key == "log")
      s.logFile = FromUtf8(value);
    else if (key == "lifetime_ms")
      s.lifetimeMs = ToMs(value);
    else if (key == "quit_delay_ms")
      s.quitDelayMs = ToMs(value);
    else if (key == "release_mapping_at_quit")
      s.releaseMappingAtQuit = value == "1";
  }
  return s;
}

// Several stand-ins may log to the same file: each line is one append-only write, so lines
// never interleave, and nothing is buffered that a killed process could lose.
class Log {
 public:
  void Open(const std::wstring& path) {
    if (path.empty()) return;
    file_.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  void Line(std::string_view text) {
    if (!file_) return;
    std::string line(text);
    line += "\r\n";
    DWORD written = 0;
    WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

 private:
  mv::UniqueFile file_;
};

Log g_log;

LRESULT CALLBACK MainFormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SHOWWINDOW:
      if (wParam) g_log.Line("shown");
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) g_log.Line("activated");
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class Deadline {
 public:
  explicit Deadline(DWORD lifetimeMs) : end_(GetTickCount64() + lifetimeMs) {}
  DWORD Left() const {
    ULONGLONG now = GetTickCount64();
    return now >= end_ ? 0 : static_cast<DWORD>(end_ - now);
  }

 private:
  ULONGLONG end_;
};

// Waits without holding up the deadline; false when the lifetime ran out meanwhile.
bool Pause(DWORD ms, const Deadline& deadline) {
  DWORD left = deadline.Left();
  Sleep(ms < left ? ms : left);
  return deadline.Left() > 0;
}

struct WindowDeleter {
  void operator()(HWND h) const {
    if (h && IsWindow(h)) DestroyWindow(h);
  }
};

int Run(HINSTANCE instance) {
  const Settings settings = LoadSettings();
  const Deadline deadline(settings.lifetimeMs);
  g_log.Open(settings.logFile);
  g_log.Line("start " + std::to_string(GetCurrentProcessId()));
  wchar_t cwd[MAX_PATH * 2] = {};
  GetCurrentDirectoryW(static_cast<DWORD>(std::size(cwd)), cwd);
  g_log.Line("cwd " + ToUtf8(cwd));
  g_log.Line("parent " + ParentName());
  g_log.Line("args " + ToUtf8(Arguments()));

  mv::UniqueFile held;
  if (!settings.holdFile.empty()) {
    held.reset(CreateFileW(settings.holdFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    g_log.Line(held ? "holding" : "failed holding");
  }

  mv::UniqueHandle mapping;
  bool alive = Pause(settings.mappingDelayMs, deadline);
  if (alive) {
    mapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, L"mirvane_memfile"));
    g_log.Line(mapping ? "mapping" : "failed mapping");
    alive = Pause(settings.windowDelayMs, deadline);
  }

  HWND window = nullptr;
  if (alive) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = MainFormProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.lpszClassName = L"TMVMainForm";
    RegisterClassW(&wc);
    window =
        CreateWindowExW(0, L"TMVMainForm", L"Mirvane", WS_OVERLAPPEDWINDOW | (settings.windowVisible ? WS_VISIBLE : 0),
                        CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
    g_log.Line(window ? "window" : "failed window");
  }

  // The installer posts WM_QUIT straight to the main window, so only the loop sees it.
  bool quit = false;
  while (alive && !quit) {
    DWORD left = deadline.Left();
    if (left == 0) break;
    MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        g_log.Line("quit");
        quit = true;
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (!quit) g_log.Line("lifetime");
  if (quit && settings.releaseMappingAtQuit) mapping.reset();
  if (quit) Sleep(settings.quitDelayMs);
  WindowDeleter{}(window);
  g_log.Line("exit");
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return Run(instance); }
