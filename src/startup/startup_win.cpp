#include "startup/startup_win.h"

#include <windows.h>

#include "startup/windows_edition_win.h"

namespace mv {

Startup StartUp() {
  StartupSettings settings = MakeStartupSettings(::GetUserDefaultLCID(), ::GetCommandLineW());
  WindowsEdition edition = DescribeWindows();
  const REGSAM access = SharedRegistryAccess(edition.Is64Bit);
  return Startup{std::move(settings), std::move(edition), SharedRegistry(access)};
}

}  // namespace mv
