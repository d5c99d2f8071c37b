#include "startup/startup_win.h"

#include <windows.h>

#include "startup/windows_edition_win.h"

namespace mv {

StartupSettings ReadStartupSettings() { return MakeStartupSettings(::GetUserDefaultLCID(), ::GetCommandLineW()); }

Startup StartUp() {
  WindowsEdition edition = DescribeWindows();
  const REGSAM access = SharedRegistryAccess(edition.Is64Bit);
  return Startup{std::move(edition), SharedRegistry(access)};
}

}  // namespace mv
