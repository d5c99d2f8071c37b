#pragma once
// One setup run: the main flow from finding the product to offering to start it. The flow is
// a plain function over SetupHost, so every branch can be driven by tests without a desktop.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/build_constants.h"
#include "env/messages.h"
#include "env/product_location.h"
#include "env/registry_access.h"

namespace mv {

inline constexpr std::string_view kSplitPayloadName = "mvq";
inline constexpr std::string_view kProductName = "Mirvane";

// What start-up fixed before the run.
struct StartupSettings {
  bool RussianMessages = false;
  std::string CommandSwitch;    // first argument, ASCII-lowercased
  std::string SecondArgument;   // second argument, ASCII-lowercased
};

// The state one run fills, step by step.
struct SetupState {
  std::string PayloadFileName;
  std::string ProductName;
  std::wstring UpdateTitleRu;
  std::wstring UpdateTitleEn;
  std::wstring AddonDescription;
  ProductLocation Location;     // ProductFolder, UninstallKey, UserIsAdmin
  bool ModestRun = false;
};

// Everything the run does to the system; the Windows implementation is WinSetupHost.
class SetupHost : public MessageSink {
 public:
  virtual RegistryAccess& Registry() = 0;
  virtual bool IsUserAnAdmin() = 0;
  virtual bool IsProductRunning() = 0;
  // Posts WM_QUIT to the product's main window, when there is one.
  virtual void AskProductToQuit() = 0;
  // Verifies the installer's own file; on failure its message has been shown.
  virtual bool VerifyInstallerFile() = 0;
  // True for an existing file; a directory does not count.
  virtual bool FileExists(const std::string& path) = 0;
  // A Yes/No question; true only for Yes. `russian` selects the Russian language id.
  virtual bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) = 0;
  virtual void ExtractPayload(std::string_view name, std::string_view kind, const std::string& destination,
                              bool checkExisting) = 0;
  virtual void ExtractSplitPayload(std::string_view name, std::string_view kind,
                                   const std::string& destination) = 0;
  // Size in KiB, or -1 when the folder cannot be measured.
  virtual std::int32_t GetFolderSizeKB(const std::string& folder) = 0;
  virtual void LaunchProduct(const std::string& productFolder, const std::string& productName) = 0;
};

// Runs the whole setup once. A registry failure that no step handles (a value of the wrong
// type, an "EstimatedSize" that cannot be written) ends the process through the registry
// accessor's report of an unhandled error.
void RunSetup(const BuildConstants& constants, const StartupSettings& settings, SetupHost& host,
              SetupState& state);

// The texts of the three questions.
std::wstring ConfirmationText(const SetupState& state, bool russian);
std::wstring ClosingQuestionText(const SetupState& state);

}  // namespace mv
