#pragma once
// The operations of the process's registry accessor, apart from the Windows registry itself
// so that the rules built on them can be tested without Windows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mv {

enum class RegistryRoot { CurrentUser, LocalMachine };

// A read, write or open that failed: what went wrong, and with which value (or key).
struct RegistryFailure {
  enum class Kind { NoData, WrongType, NotWritten, NotOpened };
  Kind What = Kind::NoData;
  std::string ValueName;  // the key's path for NotOpened
};

class RegistryAccess {
 public:
  virtual ~RegistryAccess() = default;
  // A change of root closes the current key.
  virtual void SetRoot(RegistryRoot root) = 0;
  // Opens (or creates) a key below the root; on success it becomes the current key, on failure
  // it is the last failure.
  virtual bool OpenKey(std::string_view path, bool create) = 0;
  // False when no key is open.
  virtual bool ValueExists(std::string_view name) = 0;
  // REG_SZ or REG_EXPAND_SZ as stored (not expanded), in UTF-16 so that a path outside the
  // ANSI code page comes through whole, cut at the first NUL; no data gives "". Nothing for any
  // other type or a failed read.
  virtual std::optional<std::wstring> ReadString(std::string_view name) = 0;
  // Writes a REG_DWORD; false when the write failed.
  virtual bool WriteInteger(std::string_view name, std::int32_t value) = 0;
  virtual void CloseKey() = 0;
  // The last read or write that failed: what the report names when no step handles it.
  virtual const RegistryFailure& LastFailure() const = 0;
};

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
