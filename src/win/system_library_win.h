#pragma once
// DLLs that the program needs only now and then are loaded when needed, and only from the
// system folder.
#include <string>

#include "win/handles_win.h"

namespace mv {

// The system folder without a trailing backslash, or empty. From the system, never from the
// "SystemRoot" or "windir" variables, which any user may set for his own processes.
std::string SystemFolder();

// Confines the DLL search of the whole process to the system folder. First thing in the
// process, before anything loads a DLL by a bare name: an elevated installer usually runs from
// a downloads folder, where a planted DLL would otherwise win over the system's. Where the
// system lacks SetDefaultDllDirectories, the DLLs that system code loads by bare name are
// loaded from the system folder at once, so that such a load finds them already there.
void RestrictDllSearch();

// The same with the system's SetDefaultDllDirectories given; null takes the way of the systems
// without it (the tests take it on any system).
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
void RestrictDllSearch(SetDefaultDllDirectoriesFn setDefaultDllDirectories);

// Loads the system DLL `name` (a bare file name) from the system folder, never from the
// program's own folder: an elevated installer usually runs from a downloads folder, where
// anyone may have left a DLL of that name. Null when it cannot be loaded.
UniqueModule LoadSystemLibrary(const char* name);

// The address of `procedure` in `module` as a function pointer of type F, or null.
template <typename F>
F ProcedureOf(HMODULE module, const char* procedure) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, procedure)));
}

template <typename F>
F ProcedureOf(const UniqueModule& module, const char* procedure) {
  return ProcedureOf<F>(module.get(), procedure);
}

// The same for kernel32, which every process has loaded: for what older systems lack.
template <typename F>
F KernelProcedure(const char* procedure) {
  return ProcedureOf<F>(::GetModuleHandleA("kernel32.dll"), procedure);
}

}  // namespace mv
