#pragma once
// One setup run: the main flow from finding the product to offering to start it. The flow is a
// plain function over the user's side (SetupUi) and the system's (SetupSystem), so every branch
// can be driven by tests without a desktop.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/build_constants.h"
#include "install/safe_write.h"
#include "integrity/stamp.h"
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
  bool ModestRun = false;
};

// Everything the run does to the system; the Windows implementation is WinSetupSystem.
class SetupSystem {
 public:
  virtual ~SetupSystem() = default;
  virtual RegistryAccess& Registry() = 0;
  virtual bool IsUserAnAdmin() = 0;
  virtual bool IsProductRunning() = 0;
  // Posts WM_QUIT to the product's main window; false when it has none, so nothing was posted.
  virtual bool AskProductToQuit() = 0;
  // Waits up to `milliseconds` for the product asked to quit to end, its process and all.
  virtual void WaitForProductToEnd(unsigned milliseconds) = 0;
  // Checks the installer's own file against its stamp.
  virtual IntegrityResult CheckInstallerFile() = 0;
  // True for an existing file; a directory does not count.
  virtual bool FileExists(const std::wstring& path) = 0;
  // The payload writers, which report their own failures through `ui`; false after such a
  // failure. They run `beforeCommit` once they are certain to write, just before the data file
  // takes the new data.
  virtual bool ExtractPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                              bool checkExisting, SetupUi& ui, BeforeCommit& beforeCommit) = 0;
  virtual bool ExtractSplitPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                                   SetupUi& ui, BeforeCommit& beforeCommit) = 0;
  // Size in KiB, or -1 when the folder cannot be measured.
  virtual std::int32_t GetFolderSizeKB(const std::wstring& folder) = 0;
  virtual void LaunchProduct(const std::wstring& productFolder) = 0;
  // The end of the process after a failure that no step handles: a box with `what`, exit code 1.
  [[noreturn]] virtual void EndWithUnhandledError(std::string_view what) = 0;
};

// The process's exit codes: a run that ended as asked (installed, or a question answered No),
// and one that showed an error pair (the code deployment tools know as "fatal error during
// installation"). A failure no step handles ends the process with 1.
inline constexpr int kExitAsAsked = 0;
inline constexpr int kExitFailureShown = 1603;

// Runs the whole setup once and returns the exit code. A registry failure that no step handles
// (a value of the wrong type, an "EstimatedSize" that cannot be written) ends the process
// through SetupSystem::EndWithUnhandledError with the accessor's report of it.
int RunSetup(const BuildConstants& constants, const CommandArguments& arguments, SetupUi& ui, SetupSystem& system,
             SetupState& state);

}  // namespace mv
