#pragma once
// The operations of the process's registry accessor, apart from the Windows registry itself
// so that the rules built on them can be tested without Windows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace mv {

enum class RegistryRoot { CurrentUser, LocalMachine };

class RegistryAccess {
 public:
  virtual ~RegistryAccess() = default;
  // A change of root closes the current key.
  virtual void SetRoot(RegistryRoot root) = 0;
  // Opens (or creates) a key below the root; on success it becomes the current key. Opening a
  // key never ends the process.
  virtual bool OpenKey(std::string_view path, bool create) = 0;
  // False when no key is open.
  virtual bool ValueExists(std::string_view name) = 0;
  // REG_SZ or REG_EXPAND_SZ as stored (not expanded), cut at the first NUL; no data gives "".
  // Nothing for any other type or a failed read.
  virtual std::optional<std::string> ReadString(std::string_view name) = 0;
  // Writes a REG_DWORD; false when the write failed.
  virtual bool WriteInteger(std::string_view name, std::int32_t value) = 0;
  virtual void CloseKey() = 0;
  // The end of the process after a read or write that failed and that no step handles: closes
  // the current key, reports the last failure as an unhandled error (a box with its text) and
  // ends the process with exit code 1.
  [[noreturn]] virtual void EndWithUnhandledError() = 0;
};

// A read whose failure no step handles: the process ends through the accessor's report.
inline std::string ReadStringOrEnd(RegistryAccess& registry, std::string_view name) {
  std::optional<std::string> value = registry.ReadString(name);
  if (!value) registry.EndWithUnhandledError();
  return std::move(*value);
}

// A write whose failure no step handles: the process ends through the accessor's report.
inline void WriteIntegerOrEnd(RegistryAccess& registry, std::string_view name, std::int32_t value) {
  if (!registry.WriteInteger(name, value)) registry.EndWithUnhandledError();
}

// Closes the accessor's current key when a step ends, on every path out of it.
class CurrentKeyScope {
 public:
  explicit CurrentKeyScope(RegistryAccess& registry) : registry_(registry) {}
  CurrentKeyScope(const CurrentKeyScope&) = delete;
  CurrentKeyScope& operator=(const CurrentKeyScope&) = delete;
  ~CurrentKeyScope() { registry_.CloseKey(); }

 private:
  RegistryAccess& registry_;
};

}  // namespace mv
