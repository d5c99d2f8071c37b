#pragma once
// One setup run: the main flow from finding the product to offering to start it. The flow is a
// plain function over the user's side (SetupUi) and the system's (SetupSystem), so every branch
// can be driven by tests without a desktop.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/build_constants.h"
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
  ProductLocation Location;  // ProductFolder, UninstallKey, UserIsAdmin
  bool ModestRun = false;
};

// Everything the run does to the system; the Windows implementation is WinSetupSystem.
class SetupSystem {
 public:
  virtual ~SetupSystem() = default;
  virtual RegistryAccess& Registry() = 0;
  virtual bool IsUserAnAdmin() = 0;
  virtual bool IsProductRunning() = 0;
  // Posts WM_QUIT to the product's main window, when there is one.
  virtual void AskProductToQuit() = 0;
  // Checks the installer's own file against its stamp.
  virtual IntegrityResult CheckInstallerFile() = 0;
  // True for an existing file; a directory does not count.
  virtual bool FileExists(const std::wstring& path) = 0;
  // The payload writers, which report their own failures through `ui`.
  virtual void ExtractPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                              bool checkExisting, SetupUi& ui) = 0;
  virtual void ExtractSplitPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                                   SetupUi& ui) = 0;
  // Size in KiB, or -1 when the folder cannot be measured.
  virtual std::int32_t GetFolderSizeKB(const std::wstring& folder) = 0;
  virtual void LaunchProduct(const std::wstring& productFolder) = 0;
  // The end of the process after a failure that no step handles: a box with `what`, exit code 1.
  [[noreturn]] virtual void EndWithUnhandledError(std::string_view what) = 0;
};

// Runs the whole setup once. A registry failure that no step handles (a value of the wrong
// type, an "EstimatedSize" that cannot be written) ends the process through
// SetupSystem::EndWithUnhandledError with the accessor's report of it.
void RunSetup(const BuildConstants& constants, const CommandArguments& arguments, SetupUi& ui, SetupSystem& system,
              SetupState& state);

}  // namespace mv
