#include "e2e/run_environment.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/files_win.h"

namespace e2e {

using mv::testing::IsFile;
using mv::testing::ReadBytes;
using mv::testing::Utf8;

std::wstring ConfiguredPath(const wchar_t* variable) {
  wchar_t buffer[2048];
  DWORD n = GetEnvironmentVariableW(variable, buffer, static_cast<DWORD>(std::size(buffer)));
  if (n == 0 || n >= std::size(buffer)) {
    ADD_FAILURE() << Utf8(variable) << " is not set: run the end-to-end tests through tests/e2e/run";
    return {};
  }
  std::wstring path(buffer, n);
  if (!IsFile(path)) ADD_FAILURE() << Utf8(variable) << " names no file: " << Utf8(path);
  return path;
}

bool RussianLocale() { return GetUserDefaultLCID() == 1049; }

bool ShippedX86() {
  wchar_t arch[8] = {};
  GetEnvironmentVariableW(L"MV_E2E_ARCH", arch, 8);
  return std::wstring_view(arch) == L"x86";
}

std::string DriverStderr() {
  const std::wstring path = ConfiguredPath(L"MV_E2E_STDERR");
  const auto bytes = path.empty() ? std::nullopt : ReadBytes(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

}  // namespace e2e
