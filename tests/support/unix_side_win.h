#pragma once
// Reaching past Wine to the Linux side, for what Wine 8 cannot do itself: making a symbolic link
// (CreateSymbolicLink reports success there but makes nothing), and removing one.
#include <windows.h>

#include <string>

#include "win/handles_win.h"

namespace mv::testing {

// The Unix path of a Windows path; empty when this is no Wine or the path has none.
inline std::string UnixPath(const std::wstring& path) {
  using UnixName = char*(CDECL*)(const WCHAR*);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixName ? unixName(path.c_str()) : nullptr;
  if (!name) return {};
  std::string result = name;
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

// Starts a Unix program such as Z:\bin\ln. Wine starts it but hands back nothing to wait on:
// the caller waits for its effect.
inline bool StartUnixProgram(const char* program, std::string commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  UniqueHandle thread(process.hThread), child(process.hProcess);
  return true;
}

// A Unix symbolic link `link` to the existing file `target`, which Wine shows as that file, made
// by the Linux ln; false when it did not appear. Wine hands back nothing to wait on, and a link
// is seen from here only while its target exists: the wait is for the link to show the target.
inline bool MakeUnixFileLink(const std::wstring& link, const std::wstring& target) {
  const std::string unixLink = UnixPath(link);
  const std::string unixTarget = UnixPath(target);
  if (unixLink.empty() || unixTarget.empty() ||
      !StartUnixProgram("Z:\\bin\\ln", "ln -s \"" + unixTarget + "\" \"" + unixLink + "\""))
    return false;
  for (int i = 0; i < 250; ++i) {
    if (::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    ::Sleep(20);
  }
  return false;
}

// Removes such a link by its name, from the Linux side: deleting it from Windows code under Wine
// deletes its target instead. Called while the target exists, so that the link is seen to go.
inline bool RemoveUnixLink(const std::wstring& link) {
  const std::string unixLink = UnixPath(link);
  if (unixLink.empty() || !StartUnixProgram("Z:\\bin\\rm", "rm -f \"" + unixLink + "\"")) return false;
  for (int i = 0; i < 250; ++i) {
    if (::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    ::Sleep(20);
  }
  return false;
}

}  // namespace mv::testing
