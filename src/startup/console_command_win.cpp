#include "startup/console_command_win.h"

#include <windows.h>

#include <vector>

#include "startup/console_command.h"
#include "win/code_page_win.h"
#include "win/handles_win.h"
#include "win/system_library_win.h"

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

void DeleteCaptureFile(const std::string& path) {
  // A child of an interpreter that was ended may hold the file for a moment after it.
  for (int attempt = 1; !::DeleteFileA(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND; ++attempt) {
    if (attempt >= kDeleteAttempts) return;
    ::Sleep(kDeleteRetryMs);
  }
}

// A job that ends every process in it when its last handle is closed: when RunHidden returns,
// and also when the installer itself ends, however it ends.
UniqueHandle KillOnCloseJob() {
  UniqueHandle job(::CreateJobObjectA(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job && !::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
    job.reset();
  return job;
}

// Runs the interpreter hidden, bounded in time, and ends whatever it started before the
// capture file is read: nothing started here outlives the command.
void RunHidden(const std::string& interpreter, std::string commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  const UniqueHandle job = KillOnCloseJob();
  // The program is named apart from the command line: from the command line alone, CreateProcess
  // tries the words before each blank as a program ("C:\Program.exe" for "C:\Program Files\...").
  // Suspended until it is in the job: a child started before that would escape the job.
  if (!::CreateProcessA(interpreter.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &info))
    return;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  // Before Windows 8 a process in a job (one a compatibility assistant put the installer in)
  // cannot join another: then only the interpreter itself is ended below. The system's cmd.exe
  // starts no other program for a built-in command such as "ver".
  ::AssignProcessToJobObject(job.get(), process.get());
  ::ResumeThread(thread.get());
  const bool finished = ::WaitForSingleObject(process.get(), kConsoleCommandTimeoutMs) == WAIT_OBJECT_0;
  // What it left running, and the interpreter itself once the bound has passed.
  ::TerminateJobObject(job.get(), 1);
  if (finished) return;
  ::TerminateProcess(process.get(), 1);
  ::WaitForSingleObject(process.get(), kTerminationWaitMs);
}

}  // namespace

std::string RunConsoleCommandWith(const std::string& interpreter, std::string_view command, Lcg& random) {
  const std::string capture = CaptureFileName(EnvironmentVariable("Temp"), random);
  RunHidden(interpreter, ConsoleCommandLine(interpreter, command, capture));
  const std::string output = JoinCapturedLines(ReadCaptureFile(capture));
  DeleteCaptureFile(capture);
  return OemToAnsiText(output);
}

std::string RunConsoleCommand(std::string_view command, Lcg& random) {
  // Not "ComSpec": the installer runs elevated, and any user may set that variable for his own
  // processes to a program of his, which would then run with administrator rights (or to the
  // installer itself, which would start itself over and over).
  const std::string folder = SystemFolder();
  return folder.empty() ? std::string() : RunConsoleCommandWith(folder + "\\cmd.exe", command, random);
}

}  // namespace mv
