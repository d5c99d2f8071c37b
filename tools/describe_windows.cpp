// Support diagnostic: prints the description of the running Windows that the installer's
// start-up derives, and the registry view that follows from it.
#include <cstdio>

#include "env/startup.h"
#include "env/system_library.h"
#include "env/windows_probe.h"

int main() {
  // It runs elevated like the installer, so it too loads nothing from its own folder.
  mv::RestrictDllSearch();
  // The description may need the "ver" command, whose capture file is named from the
  // generator: seed it as start-up does, or two runs at once would share one file name.
  mv::SeedRandomGenerator();
  const std::string description = mv::DescribeWindows();
  std::printf("%s\nIs64BitWindows=%s\n", description.c_str(), mv::Is64BitWindows ? "true" : "false");
  return 0;
}
