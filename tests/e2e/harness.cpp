#include "e2e/harness.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

namespace e2e {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::wstring ConfiguredPath(const wchar_t* variable) {
  wchar_t buffer[2048];
  DWORD n = GetEnvironmentVariableW(variable, buffer, static_cast<DWORD>(std::size(buffer)));
  if (n == 0 || n >= std::size(buffer)) {
    ADD_FAILURE() << Utf8(variable) << " is not set: run the end-to-end tests through tests/e2e/run";
    return {};
  }
  std::wstring path(buffer, n);
  if (!IsFile(path)) ADD_FAILURE() << Utf8(variable) << " names no file: " << Utf8(path);
  return path;
}

bool RussianLocale() { return GetUserDefaultLCID() == 1049; }

// ---- Message boxes -------------------------------------------------------------------------

void PrintTo(const Box& box, std::ostream* os) {
  // The texts hold CR LF; printed escaped, a difference in line breaks stays visible.
  auto escaped = [](const std::string& s) {
    std::string out;
    for (char c : s) {
      if (c == '\r') out += "\\r";
      else if (c == '\n') out += "\\n";
      else out += c;
    }
    return out;
  };
  *os << "{[" << box.buttons << "] \"" << escaped(box.caption) << "\": \"" << escaped(box.text) << "\"}";
}

Box OkBox(std::wstring_view caption, std::wstring_view text) { return {Utf8(caption), Utf8(text), "OK"}; }
Box YesNoBox(std::wstring_view caption, std::wstring_view text) { return {Utf8(caption), Utf8(text), "YesNo"}; }

Answer Press(Box expected, int button, std::function<void()> whileOpen) {
  Answer a;
  a.expected = std::move(expected);
  a.button = button;
  a.whileOpen = std::move(whileOpen);
  return a;
}

Answer PressOkOnAnyBox() {
  Answer a;
  a.expected.buttons = "OK";
  a.button = IDOK;
  a.anyText = true;
  return a;
}

namespace {

struct BoxSearch {
  DWORD pid;
  const std::set<HWND>* handled;
  HWND found = nullptr;
};

BOOL CALLBACK FindBoxOf(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<BoxSearch*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != search->pid || !IsWindowVisible(hwnd) || search->handled->count(hwnd)) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, static_cast<int>(std::size(cls)));
  if (std::wstring_view(cls) != L"#32770") return TRUE;
  search->found = hwnd;
  return FALSE;
}

std::wstring WindowText(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  n = GetWindowTextW(hwnd, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(std::max(n, 0)));
  return s;
}

// The message box's text is the static control with id 0xFFFF.
std::wstring BoxText(HWND box) {
  HWND label = GetDlgItem(box, 0xFFFF);
  return label ? WindowText(label) : std::wstring();
}

bool HasButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  // Unused buttons of the dialog template may exist hidden.
  return button && (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE);
}

std::string Buttons(HWND box) {
  static constexpr std::pair<int, const char*> kNames[] = {
      {IDOK, "OK"}, {IDCANCEL, "Cancel"}, {IDABORT, "Abort"}, {IDRETRY, "Retry"},
      {IDIGNORE, "Ignore"}, {IDYES, "Yes"}, {IDNO, "No"}};
  std::string names;
  for (auto [id, name] : kNames)
    if (HasButton(box, id)) names += name;
  return names;
}

int SafeButton(HWND box) {
  for (int id : {IDNO, IDOK, IDCANCEL})
    if (HasButton(box, id)) return id;
  return IDCANCEL;
}

bool Matches(const Answer& answer, const Box& box) {
  if (answer.anyText) return box.buttons == answer.expected.buttons;
  return box == answer.expected;
}

}  // namespace

RunResult RunWithRobot(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                       const std::vector<Answer>& answers, std::chrono::milliseconds limit) {
  RunResult result;
  DWORD pid = 0;
  mv::UniqueHandle process = StartProcess(exe, arguments, workDir, &pid);
  if (!process) return result;
  result.started = true;

  const auto deadline = Clock::now() + limit;
  std::set<HWND> handled;
  while (WaitForSingleObject(process.get(), 15) == WAIT_TIMEOUT) {
    if (Clock::now() > deadline) {
      result.timedOut = true;
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), 5000);
      break;
    }
    BoxSearch search{pid, &handled};
    EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&search));
    if (!search.found) continue;
    HWND box = search.found;
    handled.insert(box);

    Box seen{Utf8(WindowText(box)), Utf8(BoxText(box)), Buttons(box)};
    const std::size_t index = result.boxes.size();
    result.boxes.push_back(seen);
    int button = SafeButton(box);
    if (index < answers.size() && Matches(answers[index], seen)) {
      if (answers[index].whileOpen) answers[index].whileOpen();
      button = answers[index].button;
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    // The next box may reuse this one's handle: wait until this one is gone.
    const auto closeBy = Clock::now() + 5s;
    while (IsWindow(box) && IsWindowVisible(box) && Clock::now() < closeBy &&
           WaitForSingleObject(process.get(), 10) == WAIT_TIMEOUT) {
    }
    if (!IsWindow(box) || !IsWindowVisible(box)) handled.erase(box);
  }
  GetExitCodeProcess(process.get(), &result.exitCode);
  return result;
}

// ---- Files ---------------------------------------------------------------------------------

void MakeDirectories(const std::wstring& path) {
  for (std::size_t pos = path.find(L'\\', 3); ; pos = path.find(L'\\', pos + 1)) {
    std::wstring part = path.substr(0, pos);
    if (!part.empty() && !IsDirectory(part)) CreateDirectoryW(part.c_str(), nullptr);
    if (pos == std::wstring::npos) break;
  }
  if (!IsDirectory(path)) ADD_FAILURE() << "cannot create folder " << Utf8(path);
}

namespace {

// Wine 8 can remove a Unix symbolic link only from the Unix side; it starts Unix programs but
// hands back nothing to wait on, so the caller's retries see the link go.
bool RemoveLink(const std::wstring& path) {
  if (RemoveDirectoryW(path.c_str()) || DeleteFileW(path.c_str())) return true;
  using UnixName = char*(CDECL*)(const WCHAR*);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixName ? unixName(path.c_str()) : nullptr;
  if (!name) return false;
  std::string commandLine = std::string("rm -f \"") + name + "\"";
  HeapFree(GetProcessHeap(), 0, name);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessA("Z:\\bin\\rm", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    mv::UniqueHandle thread(pi.hThread), process(pi.hProcess);
  }
  return false;
}

bool RemoveTreeOnce(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != 0;
  }
  // A directory link (a junction, or a Unix symbolic link as Wine shows it) goes by itself:
  // descending into it would empty whatever it points at, or loop through a link back up.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(path);
  bool ok = true;
  WIN32_FIND_DATAW fd;
  std::wstring dir = path.back() == L'\\' ? path : path + L"\\";
  {
    mv::UniqueFind find(FindFirstFileW((dir + L"*").c_str(), &fd));
    if (find) {
      do {
        std::wstring_view name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        ok = RemoveTreeOnce(dir + fd.cFileName) && ok;
      } while (FindNextFileW(find.get(), &fd));
    }
  }
  return RemoveDirectoryW(dir.c_str()) && ok;
}

}  // namespace

void RemoveTree(const std::wstring& path) {
  // A process that was just killed may hold its files for a moment longer.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (RemoveTreeOnce(path)) return;
    Sleep(50);
  }
  ADD_FAILURE() << "cannot remove " << Utf8(path);
}

bool IsFile(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::vector<std::uint8_t>> ReadBytes(const std::wstring& path) {
  mv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> data;
  std::uint8_t buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) data.insert(data.end(), buffer, buffer + got);
  return data;
}

void WriteBytes(const std::wstring& path, std::string_view data) {
  mv::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
      written != data.size())
    ADD_FAILURE() << "cannot write " << Utf8(path);
}

std::uint64_t FolderBytes(const std::wstring& folder) {
  std::wstring dir = folder.back() == L'\\' ? folder : folder + L"\\";
  std::uint64_t total = 0;
  WIN32_FIND_DATAW fd;
  mv::UniqueFind find(FindFirstFileW((dir + L"*").c_str(), &fd));
  if (!find) return 0;
  do {
    std::wstring_view name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      total += FolderBytes(dir + fd.cFileName);
    else
      total += (static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
  } while (FindNextFileW(find.get(), &fd));
  return total;
}

// ---- Registry ------------------------------------------------------------------------------

namespace {

mv::UniqueKey OpenKey(HKEY root, const std::wstring& key, REGSAM access, bool create) {
  mv::UniqueKey handle;
  LSTATUS status = create ? RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, access | KEY_WOW64_64KEY, nullptr,
                                            handle.put(), nullptr)
                          : RegOpenKeyExW(root, key.c_str(), 0, access | KEY_WOW64_64KEY, handle.put());
  if (status != ERROR_SUCCESS) handle.release();
  return handle;
}

}  // namespace

std::optional<RegValue> ReadValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  mv::UniqueKey handle = OpenKey(root, key, KEY_QUERY_VALUE, false);
  if (!handle) return std::nullopt;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(handle.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  RegValue value;
  value.type = type;
  value.data.resize(size);
  if (RegQueryValueExW(handle.get(), name.c_str(), nullptr, &type, value.data.data(), &size) != ERROR_SUCCESS)
    return std::nullopt;
  value.data.resize(size);
  return value;
}

void WriteValue(HKEY root, const std::wstring& key, const std::wstring& name, const RegValue& value) {
  mv::UniqueKey handle = OpenKey(root, key, KEY_SET_VALUE, true);
  if (!handle || RegSetValueExW(handle.get(), name.c_str(), 0, value.type, value.data.data(),
                                static_cast<DWORD>(value.data.size())) != ERROR_SUCCESS)
    ADD_FAILURE() << "cannot write registry value " << Utf8(key) << "\\" << Utf8(name);
}

void WriteString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& text) {
  RegValue value{REG_SZ, {}};
  auto bytes = reinterpret_cast<const BYTE*>(text.c_str());
  value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
  WriteValue(root, key, name, value);
}

void WriteDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD number) {
  RegValue value{REG_DWORD, {}};
  auto bytes = reinterpret_cast<const BYTE*>(&number);
  value.data.assign(bytes, bytes + sizeof number);
  WriteValue(root, key, name, value);
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  mv::UniqueKey handle = OpenKey(root, key, KEY_SET_VALUE, false);
  if (handle) RegDeleteValueW(handle.get(), name.c_str());
}

void DeleteKeyTree(HKEY root, const std::wstring& key) {
  std::size_t split = key.rfind(L'\\');
  std::wstring parent = key.substr(0, split);
  std::wstring leaf = key.substr(split + 1);
  mv::UniqueKey handle = OpenKey(root, parent, KEY_ALL_ACCESS, false);
  if (!handle) return;
  LSTATUS status = RegDeleteTreeW(handle.get(), leaf.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    ADD_FAILURE() << "cannot delete registry key " << Utf8(key) << ": error " << status;
}

std::optional<DWORD> ReadDword(HKEY root, const std::wstring& key, const std::wstring& name) {
  auto value = ReadValue(root, key, name);
  if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) return std::nullopt;
  DWORD number;
  std::copy(value->data.begin(), value->data.end(), reinterpret_cast<BYTE*>(&number));
  return number;
}

std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const std::wstring& name) {
  auto value = ReadValue(root, key, name);
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
  std::wstring text(reinterpret_cast<const wchar_t*>(value->data.data()), value->data.size() / sizeof(wchar_t));
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

RestoreValueLater::RestoreValueLater(HKEY root, std::wstring key, std::wstring name)
    : root_(root), key_(std::move(key)), name_(std::move(name)), saved_(ReadValue(root_, key_, name_)) {}

RestoreValueLater::~RestoreValueLater() {
  if (saved_)
    WriteValue(root_, key_, name_, *saved_);
  else
    DeleteValue(root_, key_, name_);
}

// ---- Processes -----------------------------------------------------------------------------

namespace {

std::optional<std::wstring> EnvironmentValue(const std::wstring& name) {
  const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), size));
  return value;
}

}  // namespace

ScopedEnvironment::ScopedEnvironment(std::wstring name, const std::wstring& value)
    : name_(std::move(name)), saved_(EnvironmentValue(name_)) {
  SetEnvironmentVariableW(name_.c_str(), value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), saved_ ? saved_->c_str() : nullptr); }

std::string DriverStderr() {
  const std::wstring path = ConfiguredPath(L"MV_E2E_STDERR");
  const auto bytes = path.empty() ? std::nullopt : ReadBytes(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

mv::UniqueHandle StartProcess(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                              DWORD* pid) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
    ADD_FAILURE() << "cannot start " << Utf8(exe) << ": error " << GetLastError();
    return {};
  }
  mv::UniqueHandle thread(pi.hThread);
  if (pid) *pid = pi.dwProcessId;
  return mv::UniqueHandle(pi.hProcess);
}

namespace {

template <typename Visit>
void ForEachProcess(std::wstring_view imageName, Visit visit) {
  mv::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
    snapshot.release();
    return;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (CompareStringOrdinal(entry.szExeFile, -1, imageName.data(), static_cast<int>(imageName.size()), TRUE) ==
        CSTR_EQUAL)
      visit(entry.th32ProcessID);
  }
}

}  // namespace

int CountProcesses(std::wstring_view imageName) {
  int count = 0;
  ForEachProcess(imageName, [&](DWORD) { ++count; });
  return count;
}

void KillProcesses(std::wstring_view imageName) {
  ForEachProcess(imageName, [](DWORD pid) {
    mv::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) return;
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
  });
}

// ---- The stand-in product's log ------------------------------------------------------------

std::vector<std::string> ReadLogLines(const std::wstring& path) {
  std::vector<std::string> lines;
  auto bytes = ReadBytes(path);
  if (!bytes) return lines;
  std::string line;
  for (std::uint8_t c : *bytes) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += static_cast<char>(c);
    }
  }
  return lines;  // an unfinished last line is not yet a line
}

namespace {

// A log line is a word, then possibly a blank and a value.
bool IsEntry(const std::string& line, std::string_view word) {
  return line.rfind(word, 0) == 0 && (line.size() == word.size() || line[word.size()] == ' ');
}

bool HoldsSequence(const std::vector<std::string>& log, const std::vector<std::string>& wanted) {
  std::size_t next = 0;
  for (const std::string& line : log) {
    if (next == wanted.size()) break;
    if (IsEntry(line, wanted[next])) ++next;
  }
  return next == wanted.size();
}

}  // namespace

bool WaitForLogSequence(const std::wstring& path, const std::vector<std::string>& lines,
                        std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!HoldsSequence(ReadLogLines(path), lines)) {
    if (Clock::now() > deadline) return false;
    Sleep(20);
  }
  return true;
}

int CountLogLines(const std::wstring& path, std::string_view word) {
  auto lines = ReadLogLines(path);
  return static_cast<int>(
      std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return IsEntry(line, word); }));
}

std::optional<std::string> LogValue(const std::wstring& path, std::string_view key) {
  for (const std::string& line : ReadLogLines(path))
    if (IsEntry(line, key)) return line.size() > key.size() ? line.substr(key.size() + 1) : std::string();
  return std::nullopt;
}

}  // namespace e2e
