#pragma once
// Registry values for the Windows tests, in the 64-bit view (where the installer on 64-bit
// Windows looks) unless a reader is given another, and a value put back as it was when a test
// ends, however it ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "support/text_win.h"
#include "win/handles_win.h"

namespace mv::testing {

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

namespace detail {

inline UniqueKey OpenTestKey(HKEY root, const std::wstring& key, REGSAM access, bool create,
                             REGSAM view = KEY_WOW64_64KEY) {
  UniqueKey handle;
  const LSTATUS status =
      create ? ::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, access | view, nullptr, handle.put(), nullptr)
             : ::RegOpenKeyExW(root, key.c_str(), 0, access | view, handle.put());
  if (status != ERROR_SUCCESS) handle.release();
  return handle;
}

}  // namespace detail

inline bool KeyExists(HKEY root, const std::wstring& key) {
  return static_cast<bool>(detail::OpenTestKey(root, key, KEY_QUERY_VALUE, false));
}

inline std::optional<RegValue> ReadValue(HKEY root, const std::wstring& key, const std::wstring& name,
                                         REGSAM view = KEY_WOW64_64KEY) {
  const UniqueKey handle = detail::OpenTestKey(root, key, KEY_QUERY_VALUE, false, view);
  if (!handle) return std::nullopt;
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(handle.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  RegValue value;
  value.type = type;
  value.data.resize(size);
  if (::RegQueryValueExW(handle.get(), name.c_str(), nullptr, &type, value.data.data(), &size) != ERROR_SUCCESS)
    return std::nullopt;
  value.data.resize(size);
  return value;
}

inline void WriteValue(HKEY root, const std::wstring& key, const std::wstring& name, const RegValue& value) {
  const UniqueKey handle = detail::OpenTestKey(root, key, KEY_SET_VALUE, true);
  if (!handle || ::RegSetValueExW(handle.get(), name.c_str(), 0, value.type, value.data.data(),
                                  static_cast<DWORD>(value.data.size())) != ERROR_SUCCESS)
    ADD_FAILURE() << "cannot write registry value " << Utf8(key) << "\\" << Utf8(name);
}

inline void WriteString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& text) {
  RegValue value{REG_SZ, {}};
  const auto bytes = reinterpret_cast<const BYTE*>(text.c_str());
  value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
  WriteValue(root, key, name, value);
}

inline void WriteDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD number) {
  RegValue value{REG_DWORD, {}};
  const auto bytes = reinterpret_cast<const BYTE*>(&number);
  value.data.assign(bytes, bytes + sizeof number);
  WriteValue(root, key, name, value);
}

inline void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
  const UniqueKey handle = detail::OpenTestKey(root, key, KEY_SET_VALUE, false);
  if (handle) ::RegDeleteValueW(handle.get(), name.c_str());
}

inline void DeleteKeyTree(HKEY root, const std::wstring& key) {
  const std::size_t split = key.rfind(L'\\');
  const UniqueKey handle = detail::OpenTestKey(root, key.substr(0, split), KEY_ALL_ACCESS, false);
  if (!handle) return;
  const LSTATUS status = ::RegDeleteTreeW(handle.get(), key.substr(split + 1).c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    ADD_FAILURE() << "cannot delete registry key " << Utf8(key) << ": error " << status;
}

inline std::optional<DWORD> ReadDword(HKEY root, const std::wstring& key, const std::wstring& name,
                                      REGSAM view = KEY_WOW64_64KEY) {
  const auto value = ReadValue(root, key, name, view);
  if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) return std::nullopt;
  DWORD number;
  std::copy(value->data.begin(), value->data.end(), reinterpret_cast<BYTE*>(&number));
  return number;
}

inline std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const std::wstring& name,
                                              REGSAM view = KEY_WOW64_64KEY) {
  const auto value = ReadValue(root, key, name, view);
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
  std::wstring text(reinterpret_cast<const wchar_t*>(value->data.data()), value->data.size() / sizeof(wchar_t));
  text.resize(::wcsnlen(text.c_str(), text.size()));
  return text;
}

// Puts a value back as it was (or deletes it) when the test ends, however it ends.
class RestoreValueLater {
 public:
  RestoreValueLater(HKEY root, std::wstring key, std::wstring name)
      : root_(root), key_(std::move(key)), name_(std::move(name)), saved_(ReadValue(root_, key_, name_)) {}
  ~RestoreValueLater() {
    if (saved_)
      WriteValue(root_, key_, name_, *saved_);
    else
      DeleteValue(root_, key_, name_);
  }
  RestoreValueLater(const RestoreValueLater&) = delete;
  RestoreValueLater& operator=(const RestoreValueLater&) = delete;

 private:
  HKEY root_;
  std::wstring key_, name_;
  std::optional<RegValue> saved_;
};

}  // namespace mv::testing
