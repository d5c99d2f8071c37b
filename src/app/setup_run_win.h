#pragma once
// The setup run's system side on a real Windows system.
#include "app/setup_run.h"
#include "win/handles_win.h"
#include "win/registry_win.h"

namespace mv {

class InstallerCheck;

class WinSetupSystem final : public SetupSystem {
 public:
  // `check` is the check of the installer's own file that the entry started; the run takes its
  // verdict.
  WinSetupSystem(SharedRegistry& registry, InstallerCheck& check) : registry_(registry), check_(check) {}

  RegistryAccess& Registry() override { return registry_; }
  bool IsUserAnAdmin() override;
  RunLock TakeRunLock(const std::wstring& productFolder, unsigned milliseconds) override;
  bool IsProductRunning() override;
  bool AskProductToQuit() override;
  bool WaitForProductToEnd(unsigned milliseconds) override;
  IntegrityResult CheckInstallerFile() override;
  std::wstring InstallerFileFailure() override;
  bool FileExists(const std::wstring& path) override;
  void StagePayload(std::string_view name, std::string_view kind, const std::wstring& destination, int parts,
                    StagedPayload& staged) override;
  WriteResult CommitPayload(StagedPayload& staged, BeforeCommit& beforeCommit, InUsePolicy policy) override;
  void DiscardPayload(StagedPayload& staged) override;
  std::optional<std::int32_t> GetFolderSizeKB(const std::wstring& folder,
                                              const std::wstring& replacedAtRestart) override;
  ShellStart LaunchProduct(const std::wstring& productFolder) override;
  [[noreturn]] void EndWithUnhandledError(std::string_view what) override;

 private:
  SharedRegistry& registry_;
  InstallerCheck& check_;
  UniqueHandle quittingProduct_;  // the process of a product asked to quit
  UniqueFile runLock_;            // held until the process ends
};

// Membership of the Administrators group with full rights, without loading the shell.
bool UserIsAdministrator();

}  // namespace mv
