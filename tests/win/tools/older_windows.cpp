// Stands in for the installer on a Windows without SetDefaultDllDirectories (Vista, 7 without
// its update). With the argument "restricted" it restricts the DLL search as the installer does
// where that call is missing; with "control", only as the installer once did there
// (SetDllDirectory("") alone). Then it loads every further argument by bare name, as system code
// loads DLLs on a program's behalf. The exit code counts the loads that succeeded.
#include <windows.h>

#include <cstring>

#include "win/system_library_win.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "restricted") == 0) {
    mv::RestrictDllSearch(nullptr);
  } else {
    ::SetDllDirectoryA("");
  }
  int loaded = 0;
  for (int i = 2; i < argc; ++i) loaded += ::LoadLibraryA(argv[i]) != nullptr;
  return loaded;
}
