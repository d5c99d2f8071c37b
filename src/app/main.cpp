// The installer's entry: start-up, one setup run, the end of the process.
#include <windows.h>

#include "app/build_constants.h"
#include "app/setup_run.h"
#include "app/win_setup_host.h"
#include "env/startup.h"
#include "env/system_library.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  mv::RestrictDllSearch();
  mv::StartUp();
  {
    // A registry failure that no step handles does not come back here: the shared accessor
    // reports it and ends the process with exit code 1.
    mv::WinSetupHost host(mv::TheSharedRegistry());
    mv::SetupState state;
    mv::RunSetup(mv::InstallerConstants(), mv::Settings(), host, state);
  }
  mv::CleanUp();
  return 0;
}
