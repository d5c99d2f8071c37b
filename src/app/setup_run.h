#pragma once
// One setup run: the main flow from finding the product to offering to start it. The flow is a
// plain function over the user's side (SetupUi) and the system's (SetupSystem), so every branch
// can be driven by tests without a desktop.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/build_constants.h"
#include "install/extract.h"
#include "install/safe_write.h"
#include "integrity/stamp.h"
#include "product/launch.h"
#include "product/location.h"
#include "startup/settings.h"
#include "ui/setup_ui.h"
#include "win/registry.h"

namespace mv {

// The state one run fills, step by step.
struct SetupState {
  std::wstring PayloadFileName;
  std::string ProductName;
  std::wstring UpdateTitleRu;
  std::wstring UpdateTitleEn;
  std::wstring AddonDescription;
  ProductLocation Location;  // ProductFolder, UninstallEntry, UserIsAdmin
};

// How taking the run lock ended: taken, held by another run for longer than the wait, or not to
// be had for another reason (Error: the Windows error that stood in the way).
struct RunLock {
  enum class State { Taken, Held, Unavailable };
  State Outcome;
  unsigned long Error = 0;
};

// Everything the run does to the system; the Windows implementation is WinSetupSystem.
class SetupSystem {
 public:
  virtual ~SetupSystem() = default;
  virtual RegistryAccess& Registry() = 0;
  virtual bool IsUserAnAdmin() = 0;
  // Takes the lock that one run of an installer for the product holds until it ends, in the
  // product folder, waiting up to `milliseconds` for another run to end.
  virtual RunLock TakeRunLock(const std::wstring& productFolder, unsigned milliseconds) = 0;
  virtual bool IsProductRunning() = 0;
  // Posts WM_QUIT to the product's main window; false when it has none, so nothing was posted.
  virtual bool AskProductToQuit() = 0;
  // Waits up to `milliseconds` for the product asked to quit to end, its process and all; false
  // when it still runs.
  virtual bool WaitForProductToEnd(unsigned milliseconds) = 0;
  // Checks the installer's own file against its stamp; after a verdict other than Intact,
  // InstallerFileFailure says why, for the log.
  virtual IntegrityResult CheckInstallerFile() = 0;
  virtual std::wstring InstallerFileFailure() = 0;
  // True for an existing file; a directory does not count.
  virtual bool FileExists(const std::wstring& path) = 0;
  // The payload written whole under its temporary name and compared with the copies the folder
  // holds (`parts` 2: the split payload, never compared), filled into `staged`; then given the
  // destination's name, with `beforeCommit` run just before (Failed: the Windows error in
  // `staged.Error`), or discarded.
  virtual void StagePayload(std::string_view name, std::string_view kind, const std::wstring& destination, int parts,
                            StagedPayload& staged) = 0;
  virtual WriteResult CommitPayload(StagedPayload& staged, BeforeCommit& beforeCommit, InUsePolicy policy) = 0;
  virtual void DiscardPayload(StagedPayload& staged) = 0;
  // Size in KiB; nothing when the folder cannot be measured. `replacedAtRestart`, when not empty,
  // is a file in it that the next restart replaces by a file the folder already holds: the size
  // is the one the folder will have then, without it.
  virtual std::optional<std::int32_t> GetFolderSizeKB(const std::wstring& folder,
                                                      const std::wstring& replacedAtRestart) = 0;
  // What became of the start through the desktop shell; the installer never starts the product
  // itself, with its own administrator rights.
  virtual ShellStart LaunchProduct(const std::wstring& productFolder) = 0;
  // The end of the process after a failure that no step handles: a box with `what` (none in a
  // quiet run), exit code 1.
  [[noreturn]] virtual void EndWithUnhandledError(std::string_view what) = 0;
};

// The process's exit codes, the same in every kind of run, so that a deployment tool can act on
// them: Windows' own codes of the same meaning where there is one (most from Windows Installer).
namespace exit_code {
inline constexpr int kInstalled = 0;                 // installed
inline constexpr int kUnhandled = 1;                 // a failure that no step handles
inline constexpr int kNoAdministrator = 740;         // ERROR_ELEVATION_REQUIRED
inline constexpr int kDeclined = 1602;               // ERROR_INSTALL_USEREXIT: No at the first question
inline constexpr int kFailure = 1603;                // ERROR_INSTALL_FAILURE: no more specific code
inline constexpr int kNotInstalled = 1605;           // ERROR_UNKNOWN_PRODUCT: Mirvane is not installed
inline constexpr int kAnotherRun = 1618;             // ERROR_INSTALL_ALREADY_RUNNING
inline constexpr int kPackageUncheckable = 1619;     // ERROR_INSTALL_PACKAGE_OPEN_FAILED
inline constexpr int kPackageDistorted = 1620;       // ERROR_INSTALL_PACKAGE_INVALID
inline constexpr int kNewerKept = 1638;              // ERROR_PRODUCT_VERSION: a newer copy was kept
inline constexpr int kUnreadableCommandLine = 1639;  // ERROR_INVALID_COMMAND_LINE
inline constexpr int kInstalledAtRestart = 3010;     // ERROR_SUCCESS_REBOOT_REQUIRED
}  // namespace exit_code

// How long a run waits for another run of an installer for the product to end.
inline constexpr unsigned kRunLockWaitMs = 10000;

// Runs the whole setup once and returns the exit code; each step is logged through `ui`. A
// registry failure that no step handles (a value of the wrong type, an "EstimatedSize" that
// cannot be written) ends the process through SetupSystem::EndWithUnhandledError with the
// accessor's report of it.
int RunSetup(const BuildConstants& constants, const CommandArguments& arguments, SetupUi& ui, SetupSystem& system,
             SetupState& state);

// The end of a run whose command line has an argument the installer cannot read
// (CommandArguments::Unreadable), before start-up names Windows or any step runs: nothing is
// shown in any kind of run, nothing is changed, and the log, where one is named, says why.
// Returns the exit code.
int RefuseUnreadableCommandLine(const CommandArguments& arguments, SetupUi& ui);

}  // namespace mv
