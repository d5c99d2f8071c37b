#pragma once
// The file-system questions and opens that several steps share.
#include <windows.h>

#include <atomic>
#include <string>

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

}  // namespace mv
