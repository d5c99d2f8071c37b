// Stands in for the system's command interpreter, well-behaved or not. Every copy appends its
// command line to "<its own path>.ran" beside itself, so that a test sees whether it was started
// and how. Started as an interpreter (... /c COMMAND), it prints to its standard output:
//   ver    a "ver" line of Windows 10, and ends;
//   handle whether the handle whose value "MV_TEST_HANDLE" holds came to it as a signalled event
//          ("inherited" or "not inherited"), and ends;
//   exit   the process ids of itself and of a copy it started that never ends ("pids <own>
//          <child>"), and ends, leaving the copy behind;
//   other  a line and the two process ids as for "exit", and never ends either.
#include <windows.h>

#include <string>

namespace {

void Print(const std::string& text) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int main() {
  char self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string path(self, length);
  const std::string line = ::GetCommandLineA();
  HANDLE ran = ::CreateFileA((path + ".ran").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  ::WriteFile(ran, (line + "\r\n").data(), static_cast<DWORD>(line.size() + 2), &written, nullptr);
  ::CloseHandle(ran);

  const std::size_t switchAt = line.find(" /c ");
  if (switchAt == std::string::npos) {
    for (;;) ::Sleep(INFINITE);  // the copy that never ends
  }
  const std::string command = line.substr(switchAt + 4);
  if (command == "ver") {
    Print("\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n");
    return 0;
  }
  if (command == "handle") {
    char value[32] = {};
    ::GetEnvironmentVariableA("MV_TEST_HANDLE", value, sizeof value);
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::stoull(value)));
    DWORD flags = 0;
    const bool inherited = ::GetHandleInformation(handle, &flags) && ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    Print(inherited ? "inherited\r\n" : "not inherited\r\n");
    return 0;
  }
  std::string childLine = "\"" + path + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ::CreateProcessA(path.c_str(), childLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
  if (command != "exit") Print("written before the hang\r\n");
  Print("pids " + std::to_string(::GetCurrentProcessId()) + " " + std::to_string(child.dwProcessId) + "\r\n");
  if (command == "exit") return 0;
  for (;;) ::Sleep(INFINITE);
}
