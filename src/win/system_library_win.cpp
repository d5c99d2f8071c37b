#include "win/system_library_win.h"

#include <cstring>

namespace mv {

namespace {

// DLLs that system code loads by bare name on the installer's behalf: themed message boxes and
// controls (uxtheme, dwmapi), the shell behind ShellExecute and SHGetFileInfo (userenv,
// setupapi, apphelp, propsys, cryptbase, oleacc, clbcatq) and the version functions (version).
// Where SetDefaultDllDirectories is missing, the search for such a name starts in the
// installer's own folder; a module already loaded under that name is taken instead.
constexpr char kLoadedByBareName[] =
    "uxtheme.dll\0dwmapi.dll\0userenv.dll\0setupapi.dll\0apphelp.dll\0propsys.dll\0cryptbase.dll\0oleacc.dll\0"
    "clbcatq.dll\0version.dll\0";

// The DLL `name` by the full path of the system folder. With that flag, Windows looks for the
// DLLs it imports in its own folder, not in the program's: LoadLibrary of a full path alone
// would still take a dependency planted beside the installer.
UniqueModule LoadFromSystemFolderPath(const char* name) {
  const std::string folder = SystemFolder();
  if (folder.empty()) return {};
  return UniqueModule(::LoadLibraryExA((folder + "\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace

std::string SystemFolder() {
  char folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : std::string(folder, length);
}

void RestrictDllSearch() {
  // Looked up by name: missing before Windows 8 unless update KB2533623 is installed.
  RestrictDllSearch(KernelProcedure<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories"));
}

void RestrictDllSearch(SetDefaultDllDirectoriesFn setDefaultDllDirectories) {
  // Looked up by name too: missing before XP SP1. Where SetDefaultDllDirectories is missing, at
  // least the current folder leaves the search order.
  using SetDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  if (const auto setDirectory = KernelProcedure<SetDirectoryFn>("SetDllDirectoryA")) setDirectory("");
  if (setDefaultDllDirectories) {
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return;
  }
  // Loaded now from the system folder and kept for the life of the process, before anything can
  // ask for them. One that this Windows lacks is not asked for either. These systems know no
  // LOAD_LIBRARY_SEARCH_SYSTEM32.
  for (const char* name = kLoadedByBareName; *name != '\0'; name += std::strlen(name) + 1)
    LoadFromSystemFolderPath(name).release();
}

UniqueModule LoadSystemLibrary(const char* name) {
  // A bare name keeps the redirection that the manifest asks for (version 6 of the common
  // controls); the flag confines the search to the system folder.
  HMODULE module = ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Systems older than the flag: the full path of the system folder.
  if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) return LoadFromSystemFolderPath(name);
  return UniqueModule(module);
}

}  // namespace mv
