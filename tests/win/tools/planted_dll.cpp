// Stands in for a DLL that someone left in a downloads folder under the name of a system DLL.
// Whichever process loads it, it leaves an empty file "<its own path>.loaded" beside itself
// and refuses its load. Built without the C runtime: msvcrt.dll is among the names it takes.
#include <windows.h>

extern "C" BOOL WINAPI PlantedEntry(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  const wchar_t suffix[] = L".loaded";
  for (DWORD i = 0; i < sizeof suffix / sizeof suffix[0]; ++i) path[length + i] = suffix[i];
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return FALSE;
}
