// Support diagnostic: prints the description of the running Windows that the installer's
// start-up derives, and the registry view that follows from it.
#include <cstdio>

#include "startup/windows_edition_win.h"
#include "win/system_library_win.h"

int main() {
  // It runs elevated like the installer, so it too loads nothing from its own folder.
  mv::RestrictDllSearch();
  const mv::WindowsEdition edition = mv::DescribeWindows();
  std::printf("%s\nIs64BitWindows=%s\n", edition.Description.c_str(), edition.Is64Bit ? "true" : "false");
  return 0;
}
