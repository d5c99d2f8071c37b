#pragma once
// Scratch folders and files for the Windows tests, removed whatever happens in a test.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win/handles_win.h"

namespace mv::testing {

class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    path_ = std::string(base) + "mvtest-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
    ::CreateDirectoryA(path_.c_str(), nullptr);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() { RemoveTree(path_); }

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  static void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA entry;
    UniqueFind find(::FindFirstFileA((dir + "\\*").c_str(), &entry));
    if (find) {
      do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string full = dir + "\\" + name;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          RemoveTree(full);
        } else {
          ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
          if (!::DeleteFileA(full.c_str())) ::RemoveDirectoryA(full.c_str());
        }
      } while (::FindNextFileA(find.get(), &entry));
    }
    ::RemoveDirectoryA(dir.c_str());
  }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes, DWORD attributes = 0) {
  {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  if (attributes) ::SetFileAttributesA(path.c_str(), attributes);
}

inline void WriteFile(const std::string& path, std::size_t size, DWORD attributes = 0) {
  WriteFile(path, std::vector<std::uint8_t>(size, 0x5A), attributes);
}

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return bytes;
  bytes.resize(::GetFileSize(file.get(), nullptr));
  DWORD read = 0;
  ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  bytes.resize(read);
  return bytes;
}

inline bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace mv::testing
