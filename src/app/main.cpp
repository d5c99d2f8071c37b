// The installer's entry: start-up, one setup run, the end of the process.
#include <windows.h>

#include <string>
#include <vector>

#include "app/build_constants.h"
#include "app/setup_run.h"
#include "app/setup_run_win.h"
#include "integrity/stamp_win.h"
#include "startup/startup_win.h"
#include "ui/message_boxes_win.h"
#include "ui/run_log_win.h"
#include "ui/setup_ui_win.h"
#include "win/code_page_win.h"
#include "win/files_win.h"
#include "win/process_policy_win.h"
#include "win/system_library_win.h"

namespace {

// What the log says before anything else: which installer runs and how it was started.
void LogStart(mv::SetupUi& ui) {
  const std::vector<wchar_t> path = mv::RunningExecutablePath();
  ui.Log("Mirvane add-on installer ", std::wstring_view(path.data(), path.size() - 1));
  ui.Log("Command line: ", ::GetCommandLineW());
}

// What start-up made of this Windows.
void LogWindows(mv::SetupUi& ui, const mv::Startup& startup) {
  ui.Log("Windows: ", mv::AnsiToWide(startup.Edition.Description));
  ui.Log(startup.Edition.Is64Bit ? "Registry: the 64-bit view" : "Registry: this process's own view");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  // Before anything loads a DLL by a bare name, opens a file or could fail in a way that Windows
  // would report in a box of its own.
  mv::RestrictDllSearch();
  mv::ApplyProcessPolicies();
  const mv::StartupSettings settings = mv::ReadStartupSettings();
  const mv::CommandArguments& arguments = settings.Arguments;
  // A quiet run shows nothing, ever: not even the report of an error that no step handles.
  mv::FileRunLog log(arguments.LogPath);
  mv::ReportUnhandledErrorsTo(&log, arguments.Mode);
  mv::WinSetupUi ui(settings.RussianMessages, arguments.Mode);
  ui.KeepLog(log);
  LogStart(ui);
  if (!arguments.Unreadable.empty()) return mv::RefuseUnreadableCommandLine(arguments, ui);
  // The check of the installer's own file runs on threads of its own from here on, beside
  // start-up (which may wait for the command interpreter) and the search for the product; the
  // run still takes its verdict at the step where it always did, so nothing the user sees moves.
  // A run that ends before that step abandons it.
  mv::InstallerCheck check;
  mv::Startup startup = mv::StartUp();
  LogWindows(ui, startup);
  mv::WinSetupSystem system(startup.Registry, check);
  mv::SetupState state;
  // A registry failure that no step handles does not come back here: the run ends the process
  // with exit code 1.
  return mv::RunSetup(mv::InstallerConstants(), arguments, ui, system, state);
}
