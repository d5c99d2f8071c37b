#pragma once
// Process start-up: what every later step takes for granted, found once and handed to the
// caller, which owns it for the life of the process.
#include "startup/settings.h"
#include "startup/windows_edition.h"
#include "win/registry_win.h"

namespace mv {

// The message language and the arguments, from the user's locale and the command line: read
// first, so that a command line the installer cannot read ends the run before anything else.
StartupSettings ReadStartupSettings();

struct Startup {
  WindowsEdition Edition;
  // The process's one registry accessor: the 64-bit view exactly when Edition says 64-bit.
  SharedRegistry Registry;
};

// Names the running Windows (which may run "ver") and creates the registry accessor in the view
// that naming calls for. Runs once, after the settings and before the setup run.
Startup StartUp();

}  // namespace mv
