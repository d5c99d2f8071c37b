#pragma once
// The file-system questions and opens that several steps share.
#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "win/handles_win.h"

namespace mv {

// Opens an existing file for reading, sharing it as `share` allows. A virus scanner often holds
// a file exclusively for a moment (a fresh download, a file just written): a sharing violation
// is tried again after each `pause`, up to `retries` times; a file that stays held is not waited
// for, nor one whose opener's pause says to give up (returns false).
template <typename Pause>
UniqueFile OpenForReadingWithPauses(const wchar_t* path, DWORD share, int retries, Pause pause) {
  for (int attempt = 0;; ++attempt) {
    UniqueFile file(::CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || ::GetLastError() != ERROR_SHARING_VIOLATION || attempt == retries || !pause()) return file;
  }
}
// The same with pauses of 100 ms, given up on once an opener that set `abandoned` did so.
inline UniqueFile OpenForReadingAfterBriefHolds(const wchar_t* path, DWORD share, int retries,
                                                const std::atomic<bool>* abandoned = nullptr) {
  return OpenForReadingWithPauses(path, share, retries, [abandoned] {
    if (abandoned && *abandoned) return false;
    ::Sleep(100);
    return true;
  });
}

// True for an existing file; a directory does not count.
inline bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The path by which Windows reaches an open file or folder, every link on the way resolved (a
// junction, a mount point, a symbolic link; under Wine a Unix symbolic link too), without the
// "\\?\" prefix ("\\?\UNC\server\share" as "\\server\share"). Empty where it cannot be had
// (systems before Vista).
std::wstring FinalPathOf(HANDLE handle);

// The full, long form of `path` as given, without resolving any link: relative parts and short
// names ("PROGRA~2") expanded, the "\\?\" prefix dropped as FinalPathOf drops it. Empty when
// it cannot be had.
std::wstring FullLongPath(const std::wstring& path);

// The security of a file that only SYSTEM and the Administrators may open at all, protected
// from what its folder would pass on; none when it cannot be made.
UniqueLocalMemory AdministratorsOnlySecurity();

// The path of the running executable, with its terminator; just the terminator when it cannot
// be had.
std::vector<wchar_t> RunningExecutablePath();

// True when two paths name the same entry as the file system compares names: letter case aside.
// False where the system cannot compare so (before Vista).
bool SamePath(std::wstring_view a, std::wstring_view b);

}  // namespace mv
