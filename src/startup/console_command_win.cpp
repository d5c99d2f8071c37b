#include "startup/console_command_win.h"

#include <windows.h>

#include <vector>

#include "startup/console_command.h"
#include "win/code_page_win.h"
#include "win/handles_win.h"

namespace mv {

namespace {

// This runs during start-up, before anything is on screen: an interpreter that hangs must not
// hang the installer with it.
constexpr DWORD kConsoleCommandTimeoutMs = 10000;
// After TerminateProcess the process needs a moment before its handles (the capture file's
// among them) are closed.
constexpr DWORD kTerminationWaitMs = 1000;
constexpr int kDeleteAttempts = 10;
constexpr DWORD kDeleteRetryMs = 100;
// "ver" prints one line; a runaway command that keeps writing must not be read without end.
constexpr DWORD kMaxCaptureBytes = 1 << 20;

std::string EnvironmentVariable(const char* name) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length);  // too small: length is the size needed, terminator included
  }
}

std::string ReadCaptureFile(const std::string& path) {
  std::string content;
  // Shared for writing and deleting: a child of an interpreter that was ended may still hold it.
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return content;
  char chunk[4096];
  DWORD read = 0;
  while (content.size() < kMaxCaptureBytes && ::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
    content.append(chunk, read);
  return content;
}

void DeleteCaptureFile(const std::string& path, bool processWasEnded) {
  for (int attempt = 1; !::DeleteFileA(path.c_str()); ++attempt) {
    // Only an interpreter that had to be ended can leave a child that still holds the file
    // for a moment; otherwise a failed deletion is left as it is.
    if (!processWasEnded || attempt >= kDeleteAttempts || ::GetLastError() == ERROR_FILE_NOT_FOUND) return;
    ::Sleep(kDeleteRetryMs);
  }
}

// Runs the command line hidden and waits for it; true when it had to be ended.
bool RunHidden(std::string commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info))
    return false;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (::WaitForSingleObject(process.get(), kConsoleCommandTimeoutMs) == WAIT_OBJECT_0) return false;
  ::TerminateProcess(process.get(), 1);
  ::WaitForSingleObject(process.get(), kTerminationWaitMs);
  return true;
}

}  // namespace

std::string RunConsoleCommand(std::string_view command, Lcg& random) {
  char comSpec[260] = {};
  // A value that does not fit leaves the buffer as it was: empty.
  const DWORD length = ::GetEnvironmentVariableA("ComSpec", comSpec, sizeof comSpec);
  if (length == 0 || length >= sizeof comSpec) return "";

  const std::string capture = CaptureFileName(EnvironmentVariable("Temp"), random);
  const bool ended = RunHidden(ConsoleCommandLine(comSpec, command, capture));
  const std::string output = JoinCapturedLines(ReadCaptureFile(capture));
  DeleteCaptureFile(capture, ended);
  return OemToAnsiText(output);
}

}  // namespace mv
