#pragma once
// Files and folders for the Windows tests: reading, writing, measuring, and removing whole trees,
// links included, however a test ended. Wide paths throughout, as the installer's own calls take
// them; the narrow forms take ANSI paths, for the calls that still take those.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/text_win.h"
#include "support/unix_side_win.h"
#include "support/wait_win.h"
#include "win/handles_win.h"

namespace mv::testing {

inline bool IsFile(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool IsDirectory(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline void MakeDirectories(const std::wstring& path) {
  for (std::size_t pos = path.find(L'\\', 3);; pos = path.find(L'\\', pos + 1)) {
    const std::wstring part = path.substr(0, pos);
    if (!part.empty() && !IsDirectory(part)) ::CreateDirectoryW(part.c_str(), nullptr);
    if (pos == std::wstring::npos) break;
  }
  if (!IsDirectory(path)) ADD_FAILURE() << "cannot create folder " << Utf8(path);
}

namespace detail {

// Wine 8 can remove a Unix symbolic link only from the Unix side; the caller's retries see the
// link go.
inline bool RemoveLink(const std::wstring& path) {
  if (::RemoveDirectoryW(path.c_str()) || ::DeleteFileW(path.c_str())) return true;
  const std::string name = UnixPath(path);
  if (!name.empty()) StartUnixProgram("Z:\\bin\\rm", "rm -f \"" + name + "\"");
  return false;
}

inline bool RemoveTreeOnce(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::DeleteFileW(path.c_str()) != 0;
  }
  // A directory link (a junction, or a Unix symbolic link as Wine shows it) goes by itself:
  // descending into it would empty whatever it points at, or loop through a link back up.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(path);
  bool ok = true;
  WIN32_FIND_DATAW entry;
  const std::wstring dir = path.back() == L'\\' ? path : path + L"\\";
  {
    UniqueFind find(::FindFirstFileW((dir + L"*").c_str(), &entry));
    if (find) {
      do {
        const std::wstring_view name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        ok = RemoveTreeOnce(dir + entry.cFileName) && ok;
      } while (::FindNextFileW(find.get(), &entry));
    }
  }
  return ::RemoveDirectoryW(dir.c_str()) && ok;
}

}  // namespace detail

inline void RemoveTree(const std::wstring& path) {
  // A process that was just ended may hold its files for a moment longer.
  if (!WaitUntil([&] { return detail::RemoveTreeOnce(path); }, std::chrono::milliseconds(2500)))
    ADD_FAILURE() << "cannot remove " << Utf8(path);
}

inline std::optional<std::vector<std::uint8_t>> ReadBytes(const std::wstring& path) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> data;
  std::uint8_t buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    data.insert(data.end(), buffer, buffer + got);
  return data;
}

inline void WriteBytes(const std::wstring& path, std::string_view data) {
  UniqueFile file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
      written != data.size())
    ADD_FAILURE() << "cannot write " << Utf8(path);
}

// Sum of the sizes of all files below `folder`, counted independently of the installer.
inline std::uint64_t FolderBytes(const std::wstring& folder) {
  const std::wstring dir = folder.back() == L'\\' ? folder : folder + L"\\";
  std::uint64_t total = 0;
  WIN32_FIND_DATAW entry;
  UniqueFind find(::FindFirstFileW((dir + L"*").c_str(), &entry));
  if (!find) return 0;
  do {
    const std::wstring_view name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      total += FolderBytes(dir + entry.cFileName);
    else
      total += (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
  } while (::FindNextFileW(find.get(), &entry));
  return total;
}

// The whole file; empty when it cannot be read.
inline std::vector<std::uint8_t> ReadFile(const std::wstring& path) {
  return ReadBytes(path).value_or(std::vector<std::uint8_t>());
}

inline void WriteFile(const std::wstring& path, const std::vector<std::uint8_t>& bytes, DWORD attributes = 0) {
  WriteBytes(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  if (attributes) ::SetFileAttributesW(path.c_str(), attributes);
}

inline void WriteFile(const std::wstring& path, std::size_t size, DWORD attributes = 0) {
  WriteFile(path, std::vector<std::uint8_t>(size, 0x5A), attributes);
}

inline bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---- Narrow paths --------------------------------------------------------------------------

inline std::vector<std::uint8_t> ReadFile(const std::string& path) { return ReadFile(AnsiWide(path)); }

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes, DWORD attributes = 0) {
  WriteFile(AnsiWide(path), bytes, attributes);
}

inline void WriteFile(const std::string& path, std::size_t size, DWORD attributes = 0) {
  WriteFile(AnsiWide(path), size, attributes);
}

inline bool Exists(const std::string& path) { return Exists(AnsiWide(path)); }

// A scratch folder under the temp folder, removed with everything in it whatever happens in the
// test.
class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    path_ = std::string(base) + "mvtest-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
    ::CreateDirectoryA(path_.c_str(), nullptr);
    wide_ = AnsiWide(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() { RemoveTree(AnsiWide(path_)); }

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  const std::wstring& wide() const { return wide_; }
  std::wstring operator/(const std::wstring& name) const { return wide_ + L"\\" + name; }
  std::wstring operator/(const wchar_t* name) const { return wide_ + L"\\" + name; }

 private:
  std::string path_;
  std::wstring wide_;
};

}  // namespace mv::testing
