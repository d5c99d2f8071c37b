// Stands in for a command interpreter that hangs: it opens the capture file named after the
// "> " of its command line, as an interpreter does for a redirection, writes one line, keeps
// the file open without delete sharing, and never exits.
#include <windows.h>

#include <string>

int main() {
  const std::string line = ::GetCommandLineA();
  const std::size_t open = line.find("> \"");
  if (open != std::string::npos) {
    const std::size_t start = open + 3;
    const std::string path = line.substr(start, line.find('"', start) - start);
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    const char text[] = "written before the hang\r\n";
    DWORD written = 0;
    ::WriteFile(file, text, sizeof text - 1, &written, nullptr);
  }
  for (;;) ::Sleep(INFINITE);
}
