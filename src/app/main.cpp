// The installer's entry: start-up, one setup run, the end of the process.
#include <windows.h>

#include "app/build_constants.h"
#include "app/setup_run.h"
#include "app/setup_run_win.h"
#include "integrity/stamp_win.h"
#include "startup/startup_win.h"
#include "ui/setup_ui_win.h"
#include "win/system_library_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  // Before anything loads a DLL by a bare name.
  mv::RestrictDllSearch();
  // The check of the installer's own file runs on threads of its own from here on, beside
  // start-up (which may wait for the command interpreter) and the search for the product; the
  // run still takes its verdict at the step where it always did, so nothing the user sees moves.
  // A run that ends before that step abandons it.
  mv::InstallerCheck check;
  mv::Startup startup = mv::StartUp();
  mv::WinSetupUi ui(startup.Settings.RussianMessages);
  mv::WinSetupSystem system(startup.Registry, check);
  mv::SetupState state;
  // A registry failure that no step handles does not come back here: the run ends the process
  // with exit code 1.
  return mv::RunSetup(mv::InstallerConstants(), startup.Settings.Arguments, ui, system, state);
}
