#include "win/system_library_win.h"

#include <string>

namespace mv {

void RestrictDllSearch() {
  // Both are looked up by name: SetDefaultDllDirectories is missing before Windows 8 unless
  // update KB2533623 is installed, SetDllDirectory before XP SP1.
  using SetDefaultFn = BOOL(WINAPI*)(DWORD);
  using SetDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  if (const auto setDefault = KernelProcedure<SetDefaultFn>("SetDefaultDllDirectories"))
    setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Where the call above is missing: at least the current folder leaves the search order.
  if (const auto setDirectory = KernelProcedure<SetDirectoryFn>("SetDllDirectoryA")) setDirectory("");
}

UniqueModule LoadSystemLibrary(const char* name) {
  // A bare name keeps the redirection that the manifest asks for (version 6 of the common
  // controls); the flag confines the search to the system folder.
  HMODULE module = ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    // Systems older than the flag: the full path of the system folder.
    char folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    module = ::LoadLibraryA((std::string(folder, length) + "\\" + name).c_str());
  }
  return UniqueModule(module);
}

}  // namespace mv
