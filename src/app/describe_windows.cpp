// Support diagnostic: prints the description of the running Windows that the installer's
// start-up derives, and the registry view that follows from it.
#include <cstdio>

#include "startup/random_win.h"
#include "startup/windows_edition_win.h"
#include "win/system_library_win.h"

int main() {
  // It runs elevated like the installer, so it too loads nothing from its own folder.
  mv::RestrictDllSearch();
  // The description may need the "ver" command, whose capture file is named from the
  // generator: seeded as start-up seeds it, two runs at once do not share one file name.
  mv::Lcg random = mv::SeededGenerator();
  const mv::WindowsEdition edition = mv::DescribeWindows(random);
  std::printf("%s\nIs64BitWindows=%s\n", edition.Description.c_str(), edition.Is64Bit ? "true" : "false");
  return 0;
}
