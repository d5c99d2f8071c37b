// Stands in for a command interpreter that misbehaves. Every copy leaves "<its own path>.ran"
// beside itself, so that a test sees whether it was started at all. Started as an interpreter
// (... /c COMMAND > "capture file"), it starts a copy of itself that never ends, opens the
// capture file as an interpreter does for a redirection, writes a line and the process ids of
// both copies ("pids <own> <child>") and keeps the file open without delete sharing. Then it
// never ends either, unless the command is "exit": then it ends at once, leaving its child.
#include <windows.h>

#include <string>

int main() {
  char self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string path(self, length);
  ::CloseHandle(::CreateFileA((path + ".ran").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));

  const std::string line = ::GetCommandLineA();
  const std::size_t open = line.find("> \"");
  if (open == std::string::npos) {
    for (;;) ::Sleep(INFINITE);  // the child
  }
  std::string childLine = "\"" + path + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ::CreateProcessA(path.c_str(), childLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);

  const std::size_t start = open + 3;
  const std::string capture = line.substr(start, line.find('"', start) - start);
  HANDLE file = ::CreateFileA(capture.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const std::string text = "written before the hang\r\npids " + std::to_string(::GetCurrentProcessId()) + " " +
                           std::to_string(child.dwProcessId) + "\r\n";
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  if (line.find("/c exit ") != std::string::npos) return 0;
  for (;;) ::Sleep(INFINITE);
}
