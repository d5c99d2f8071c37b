#pragma once
// The setup run's host on a real Windows system.
#include "app/setup_run.h"
#include "env/shared_registry.h"

namespace mv {

class WinSetupHost final : public SetupHost {
 public:
  explicit WinSetupHost(SharedRegistry& registry) : registry_(registry) {}

  void ShowBilingualError(std::wstring_view en, std::wstring_view ru) override;
  RegistryAccess& Registry() override { return registry_; }
  bool IsUserAnAdmin() override;
  bool IsProductRunning() override;
  void AskProductToQuit() override;
  bool VerifyInstallerFile() override;
  bool FileExists(const std::string& path) override;
  bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) override;
  void ExtractPayload(std::string_view name, std::string_view kind, const std::string& destination,
                      bool checkExisting) override;
  void ExtractSplitPayload(std::string_view name, std::string_view kind, const std::string& destination) override;
  std::int32_t GetFolderSizeKB(const std::string& folder) override;
  void LaunchProduct(const std::string& productFolder, const std::string& productName) override;

 private:
  SharedRegistry& registry_;
};

// Membership of the Administrators group with full rights, without loading the shell.
bool UserIsAdministrator();

}  // namespace mv
