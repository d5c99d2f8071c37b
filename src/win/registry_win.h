#pragma once
// The process's registry accessor over the Windows registry.
#include <windows.h>

#include "win/handles_win.h"
#include "win/registry.h"

namespace mv {

// The access mask of the shared accessor: the native 64-bit view on 64-bit Windows, so that a
// 32-bit installer reads and writes the product's real uninstall entry.
REGSAM SharedRegistryAccess(bool is64BitWindows);

class SharedRegistry final : public RegistryAccess {
 public:
  // `access` is used for every key opened or created, KEY_WOW64_64KEY included when given.
  explicit SharedRegistry(REGSAM access) : access_(access) {}

  void SetRoot(RegistryRoot root) override;
  bool OpenKey(std::string_view path, bool create) override;
  bool ValueExists(std::string_view name) override;
  std::optional<std::wstring> ReadString(std::string_view name) override;
  bool WriteInteger(std::string_view name, std::int32_t value) override;
  void CloseKey() override { key_.reset(); }
  const RegistryFailure& LastFailure() const override { return failure_; }

  REGSAM Access() const { return access_; }

 private:
  HKEY root_ = HKEY_CURRENT_USER;
  REGSAM access_;
  UniqueKey key_;
  RegistryFailure failure_;
};

}  // namespace mv
