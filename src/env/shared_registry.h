#pragma once
// The process's registry accessor over the Windows registry.
#include <windows.h>

#include "env/registry_access.h"
#include "env/win_handle.h"

namespace mv {

class SharedRegistry final : public RegistryAccess {
 public:
  // `access` is used for every key opened or created, KEY_WOW64_64KEY included when given.
  explicit SharedRegistry(REGSAM access) : access_(access) {}

  void SetRoot(RegistryRoot root) override;
  bool OpenKey(std::string_view path, bool create) override;
  bool ValueExists(std::string_view name) override;
  std::optional<std::string> ReadString(std::string_view name) override;
  bool WriteInteger(std::string_view name, std::int32_t value) override;
  void CloseKey() override { key_.reset(); }
  [[noreturn]] void EndWithUnhandledError() override;

  REGSAM Access() const { return access_; }
  // What the last failed read or write reports, such as "Invalid data type for 'Name'".
  const std::string& LastFailure() const { return failure_; }

 private:
  HKEY root_ = HKEY_CURRENT_USER;
  REGSAM access_;
  UniqueKey key_;
  std::string failure_;
};

}  // namespace mv
