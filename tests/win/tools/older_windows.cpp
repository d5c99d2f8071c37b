// Stands in for the installer on a Windows without SetDefaultDllDirectories (Vista, 7 without
// its update). With the argument "restricted" it restricts the DLL search as the installer does
// where that call is missing; otherwise only as the installer once did there
// (SetDllDirectory("") alone). Then it loads every further argument, as system code loads DLLs
// on a program's behalf: by bare name, or with "fullpath" by the system folder's path as the
// installer once preloaded them. The exit code counts the loads that succeeded.
#include <windows.h>

#include <cstring>
#include <string>

#include "win/system_library_win.h"

int main(int argc, char** argv) {
  const bool restricted = argc > 1 && std::strcmp(argv[1], "restricted") == 0;
  const bool fullPath = argc > 1 && std::strcmp(argv[1], "fullpath") == 0;
  if (restricted) {
    mv::RestrictDllSearch(nullptr);
  } else {
    ::SetDllDirectoryA("");
  }
  int loaded = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string name = fullPath ? mv::SystemFolder() + "\\" + argv[i] : argv[i];
    loaded += ::LoadLibraryA(name.c_str()) != nullptr;
  }
  return loaded;
}
