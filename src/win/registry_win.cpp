#include "win/registry_win.h"

#include <string>
#include <vector>

#include "base/strings.h"

namespace mv {

REGSAM SharedRegistryAccess(bool is64BitWindows) {
  return is64BitWindows ? KEY_ALL_ACCESS | KEY_WOW64_64KEY : KEY_ALL_ACCESS;
}

void SharedRegistry::SetRoot(RegistryRoot root) {
  HKEY newRoot = root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  if (newRoot != root_) key_.reset();
  root_ = newRoot;
}

bool SharedRegistry::OpenKey(std::string_view path, bool create) {
  const std::string subKey(path);
  HKEY opened = nullptr;
  LSTATUS status;
  if (create) {
    status = ::RegCreateKeyExA(root_, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_, nullptr, &opened,
                               nullptr);
  } else {
    status = ::RegOpenKeyExA(root_, subKey.c_str(), 0, access_, &opened);
  }
  if (status != ERROR_SUCCESS) {
    failure_ = {RegistryFailure::Kind::NotOpened, subKey};
    return false;
  }
  key_.reset(opened);
  return true;
}

bool SharedRegistry::ValueExists(std::string_view name) {
  if (!key_) return false;
  const std::string valueName(name);
  return ::RegQueryValueExA(key_.get(), valueName.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::optional<std::wstring> SharedRegistry::ReadString(std::string_view name) {
  // The W call: the A one would hand a path outside the ANSI code page over as question marks
  // or, through best-fit mapping, as the path of a lookalike folder.
  const std::wstring valueName = WidenAscii(name);
  RegistryFailure::Kind failure = RegistryFailure::Kind::NoData;
  // The value may change between the size query and the read; retry with the new size.
  for (int attempt = 0; key_ && attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(key_.get(), valueName.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) break;
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      failure = RegistryFailure::Kind::WrongType;
      break;
    }
    if (size == 0) return std::wstring();
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    status =
        ::RegQueryValueExW(key_.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      failure = RegistryFailure::Kind::WrongType;
      break;
    }
    // Stored strings need not be terminated, nor of even length: the unit after the last whole
    // one ends this one, and half a unit is dropped.
    data[size / sizeof(wchar_t)] = L'\0';
    return std::wstring(data.data());
  }
  failure_ = {failure, std::string(name)};
  return std::nullopt;
}

bool SharedRegistry::WriteInteger(std::string_view name, std::int32_t value) {
  const std::string valueName(name);
  const DWORD data = static_cast<DWORD>(value);
  if (key_ && ::RegSetValueExA(key_.get(), valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                               sizeof data) == ERROR_SUCCESS)
    return true;
  failure_ = {RegistryFailure::Kind::NotWritten, std::string(name)};
  return false;
}

}  // namespace mv
