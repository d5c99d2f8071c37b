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
// hang the installer with it. The output is read while the command runs, so that one that
// prints more than the pipe holds is not stopped by a full pipe.
constexpr DWORD kPollMs = 100;
constexpr int kPolls = 100;  // about 10 s
// "ver" prints one line; a runaway command that keeps writing must not be read without end.
constexpr std::size_t kMaxOutputBytes = 1 << 20;

// Reads what the pipe holds now, without waiting: a process the command started may hold the
// pipe's other end open after the command itself has ended.
void Drain(HANDLE pipe, std::string& output) {
  char chunk[4096];
  DWORD available = 0;
  DWORD read = 0;
  while (output.size() < kMaxOutputBytes && ::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) &&
         available > 0 &&
         ::ReadFile(pipe, chunk, available < sizeof chunk ? available : sizeof chunk, &read, nullptr) && read > 0)
    output.append(chunk, read);
}

// A job that ends every process in it when its last handle is closed: when the command is
// done, and also when the installer itself ends, however it ends.
UniqueHandle KillOnCloseJob() {
  UniqueHandle job(::CreateJobObjectA(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job && !::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
    job.reset();
  return job;
}

// An attribute list that lets a new process inherit one handle and nothing else: not every
// inheritable handle the installer itself was given (by a deployment agent, say). Empty where
// the system has no such lists (before Vista), where the process inherits them all.
class InheritOnly {
 public:
  explicit InheritOnly(HANDLE handle) : handle_(handle) {
    using InitializeFn = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
    using UpdateFn = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T, PVOID, PSIZE_T);
    const auto initialize = KernelProcedure<InitializeFn>("InitializeProcThreadAttributeList");
    const auto update = KernelProcedure<UpdateFn>("UpdateProcThreadAttribute");
    SIZE_T size = 0;
    if (!initialize || !update || initialize(nullptr, 1, 0, &size) || size == 0) return;
    memory_.assign(size, 0);
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory_.data());
    if (!initialize(list, 1, 0, &size)) return;
    list_ = list;
    // The list keeps the address of the handle, not its value: handle_ outlives the list.
    if (!update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof handle_, nullptr, nullptr)) Delete();
  }
  ~InheritOnly() { Delete(); }
  InheritOnly(const InheritOnly&) = delete;
  InheritOnly& operator=(const InheritOnly&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  void Delete() {
    using DeleteFn = void(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);
    if (const auto remove = KernelProcedure<DeleteFn>("DeleteProcThreadAttributeList"); remove && list_) remove(list_);
    list_ = nullptr;
  }

  HANDLE handle_;
  std::vector<char> memory_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

std::string RunConsoleCommandWith(const std::string& interpreter, std::string_view command) {
  // Its standard output is an anonymous pipe: no file in a folder of the user's, which he could
  // make a mount point to steer the elevated write elsewhere, and no path of his in the command
  // line. Only the writing end is inherited.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  UniqueHandle reading;
  UniqueHandle writing;
  if (!::CreatePipe(reading.put(), writing.put(), &inheritable, 0) ||
      !::SetHandleInformation(reading.get(), HANDLE_FLAG_INHERIT, 0))
    return JoinCapturedLines({});
  STARTUPINFOEXA startup{};
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = writing.get();
  const InheritOnly inherited(writing.get());
  startup.lpAttributeList = inherited.get();
  startup.StartupInfo.cb = inherited.get() ? sizeof startup : sizeof startup.StartupInfo;
  PROCESS_INFORMATION info{};
  std::string commandLine = ConsoleCommandLine(interpreter, command);
  std::string output;
  const UniqueHandle job = KillOnCloseJob();
  // The program is named apart from the command line: from the command line alone, CreateProcess
  // tries the words before each blank as a program ("C:\Program.exe" for "C:\Program Files\...").
  // No console at all: its output goes into the pipe, and a console, even a hidden one, may come
  // up as a window where a terminal application is the default console host. Suspended until
  // it is in the job: a child started before that would escape the job.
  const DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED |
                      (inherited.get() ? EXTENDED_STARTUPINFO_PRESENT : 0);
  if (::CreateProcessA(interpreter.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                       &startup.StartupInfo, &info)) {
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    writing.reset();
    // Before Windows 8 a process in a job (one a compatibility assistant put the installer in)
    // cannot join another: then only the interpreter itself is ended below. The system's cmd.exe
    // starts no other program for a built-in command such as "ver".
    ::AssignProcessToJobObject(job.get(), process.get());
    ::ResumeThread(thread.get());
    bool finished = false;
    for (int poll = 0; poll < kPolls && !finished; ++poll) {
      finished = ::WaitForSingleObject(process.get(), kPollMs) == WAIT_OBJECT_0;
      Drain(reading.get(), output);
    }
    // What it left running, and the interpreter itself once the bound has passed.
    ::TerminateJobObject(job.get(), 1);
    if (!finished) ::TerminateProcess(process.get(), 1);
  }
  return OemToAnsiText(JoinCapturedLines(output));
}

std::string RunConsoleCommand(std::string_view command) {
  // Not "ComSpec": the installer runs elevated, and any user may set that variable for his own
  // processes to a program of his, which would then run with administrator rights (or to the
  // installer itself, which would start itself over and over).
  const std::string folder = SystemFolder();
  return folder.empty() ? std::string() : RunConsoleCommandWith(folder + "\\cmd.exe", command);
}

}  // namespace mv
