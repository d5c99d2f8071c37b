#include "e2e/run_environment.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>

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

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring FileName(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

// The DLLs (full paths, lower case) that the process whose image is `exeName` loaded, from trace
// lines such as: 0118:011c:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\user32.dll"
// at ...: builtin. The first line of a process names its image; its pid prefixes every line,
// which keeps apart the installer's children (the "ver" interpreter) writing to the same file.
std::vector<std::wstring> DllsLoadedBy(const std::string& text, const std::wstring& exeName) {
  const std::string marker = "Loaded L\"";
  std::string pid;
  std::vector<std::wstring> dlls;
  for (std::size_t at = 0; (at = text.find(marker, at)) != std::string::npos; at += marker.size()) {
    const std::size_t lineStart = text.rfind('\n', at) + 1;  // npos + 1 is 0
    const std::string linePid = text.substr(lineStart, text.find(':', lineStart) - lineStart);
    const std::size_t pathStart = at + marker.size();
    std::wstring path;
    for (std::size_t i = pathStart; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;  // the trace doubles each backslash
      path += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
    path = Lower(path);
    if (pid.empty() && FileName(path) == Lower(exeName)) {
      pid = linePid;
      continue;
    }
    if (!pid.empty() && linePid == pid) dlls.push_back(path);
  }
  return dlls;
}

bool LoadedAny(const std::vector<std::wstring>& dlls, std::initializer_list<const wchar_t*> names) {
  for (const std::wstring& dll : dlls)
    for (const wchar_t* name : names)
      if (FileName(dll) == name) return true;
  return false;
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
