#pragma once
// Reaching past Wine to the Linux side, for what Wine 8 cannot do itself: making a symbolic link
// (CreateSymbolicLink reports success there but makes nothing), and removing one.
#include <windows.h>

#include <string>

#include "support/wait_win.h"
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

// A Unix symbolic link `link` to the existing file or folder `target`, made by the Linux ln; false
// when it did not appear. Wine shows it as that file, or as a folder with the reparse-point
// attribute, and only while its target exists: the wait is for the link to show the target.
inline bool MakeUnixLink(const std::wstring& link, const std::wstring& target) {
  const std::string unixLink = UnixPath(link);
  const std::string unixTarget = UnixPath(target);
  return !unixLink.empty() && !unixTarget.empty() &&
         StartUnixProgram("Z:\\bin\\ln", "ln -s \"" + unixTarget + "\" \"" + unixLink + "\"") &&
         WaitUntil([&] { return ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; },
                   std::chrono::seconds(5));
}

// Removes such a link by its name, from the Linux side: deleting it from Windows code under Wine
// deletes its target instead. Called while the target exists, so that the link is seen to go.
inline bool RemoveUnixLink(const std::wstring& link) {
  const std::string unixLink = UnixPath(link);
  return !unixLink.empty() && StartUnixProgram("Z:\\bin\\rm", "rm -f \"" + unixLink + "\"") &&
         WaitUntil([&] { return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; },
                   std::chrono::seconds(5));
}

}  // namespace mv::testing
