#pragma once
// The file-system question that several steps ask.
#include <windows.h>

#include <string>

namespace mv {

// True for an existing file; a directory does not count.
inline bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace mv
