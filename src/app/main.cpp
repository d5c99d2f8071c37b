// The installer's entry: start-up, one setup run, the end of the process.
#include <windows.h>

#include <exception>

#include "app/build_constants.h"
#include "app/setup_run.h"
#include "app/win_setup_host.h"
#include "env/message_boxes.h"
#include "env/startup.h"
#include "env/system_library.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  mv::RestrictDllSearch();
  int exitCode = 0;
  mv::StartUp();
  try {
    mv::WinSetupHost host(mv::TheSharedRegistry());
    mv::SetupState state;
    mv::RunSetup(mv::InstallerConstants(), mv::Settings(), host, state);
  } catch (const std::exception& error) {
    // An error no step caught: its text, then exit code 1.
    mv::ShowUnhandledError(error.what());
    exitCode = 1;
  }
  mv::CleanUp();
  return exitCode;
}
