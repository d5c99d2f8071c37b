#pragma once
// Reaching past Wine to the Linux side, for what Wine 8 cannot do itself: making a directory
// symbolic link, and removing one.
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

}  // namespace mv::testing
