// user32, shell32, gdi32, ole32 and oleaut32 are delay-imported (cmake/windows.cmake): the
// loader maps them on the first call into them, not at process start, so a run that shows
// nothing never loads windowing code, and only the product's start loads COM. This hook makes
// that load come from the system folder.
#include <windows.h>
// Needs the types of <windows.h>.
#include <delayimp.h>

#include "win/system_library_win.h"

namespace {

FARPROC WINAPI LoadFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  // Left to itself, the helper calls LoadLibraryA with the bare name, which on a system
  // without SetDefaultDllDirectories searches the program's own folder first.
  if (mv::UniqueModule module = mv::LoadSystemLibrary(info->szDll))
    return reinterpret_cast<FARPROC>(module.release());  // stays loaded, as an import would
  // Returning null would send the helper to that very LoadLibraryA: fail as it fails instead.
  ::RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 0, nullptr);
  return nullptr;
}

}  // namespace

// Defined here, the helper's own null default in the runtime library is never linked. The helper
// only reads it: it goes with the read-only data, so that the installer has no initialized
// writable data at all and its file no 512-byte block for them (design notes).
extern "C" {
__attribute__((section(".rdata$hook"))) PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;
}
