// The installer's entry: start-up, one setup run, the end of the process.
#include <windows.h>

#include "app/build_constants.h"
#include "app/setup_run.h"
#include "app/setup_run_win.h"
#include "startup/startup_win.h"
#include "ui/setup_ui_win.h"
#include "win/system_library_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  // Before anything loads a DLL by a bare name.
  mv::RestrictDllSearch();
  mv::Startup startup = mv::StartUp();
  mv::WinSetupUi ui(startup.Settings.RussianMessages);
  mv::WinSetupSystem system(startup.Registry);
  mv::SetupState state;
  // A registry failure that no step handles does not come back here: the run ends the process
  // with exit code 1.
  return mv::RunSetup(mv::InstallerConstants(), startup.Settings.Arguments, ui, system, state);
}
