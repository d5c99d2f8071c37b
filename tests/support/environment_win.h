#pragma once
// An environment variable changed for one test and put back as it was afterwards. Every process
// the test starts inherits the changed value.
#include <windows.h>

#include <optional>
#include <string>

namespace mv::testing {

class ScopedEnvironment {
 public:
  // A null `value` removes the variable.
  ScopedEnvironment(std::wstring name, const wchar_t* value) : name_(std::move(name)), saved_(Value(name_)) {
    ::SetEnvironmentVariableW(name_.c_str(), value);
  }
  ScopedEnvironment(std::wstring name, const std::wstring& value) : ScopedEnvironment(std::move(name), value.c_str()) {}
  ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_.c_str(), saved_ ? saved_->c_str() : nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  static std::optional<std::wstring> Value(const std::wstring& name) {
    const DWORD size = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(::GetEnvironmentVariableW(name.c_str(), value.data(), size));
    return value;
  }

  std::wstring name_;
  std::optional<std::wstring> saved_;
};

}  // namespace mv::testing
