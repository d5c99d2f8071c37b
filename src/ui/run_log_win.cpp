#include "ui/run_log_win.h"

#include <windows.h>

#include <cstdio>

#include "win/files_win.h"
#include "win/system_library_win.h"

namespace mv {

namespace {

// Shared with everyone, deletion included: another run may write to the same file (and must be
// able to open it while this one holds it with the right to remove it), and a reader may look.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The last part of the path is opened as it is, a link as the link; and the other end of a pipe
// that answers to the path may learn who writes, but never act as the elevated run.
constexpr DWORD kOpenFlags = FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

UniqueFile OpenExisting(const std::wstring& path) {
  return UniqueFile(::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, kOpenFlags, nullptr));
}

// A new file that only SYSTEM and Administrators may open, not even to read: nobody else can add
// to it, nor hold it so that the next run's open waits on him. DELETE, so that one in the wrong
// place can be removed through this handle, which is what was checked.
UniqueFile CreateNew(const std::wstring& path) {
  const UniqueLocalMemory descriptor = AdministratorsOnlySecurity();
  if (!descriptor) return {};
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  return UniqueFile(::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | DELETE, kShareAll, &security,
                                  CREATE_NEW, kOpenFlags | FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A disk file (not a pipe, a console or another device), not a link itself, with no other name
// (a hard link made to a file of the system), reached by exactly `path`: the final path, with
// every link resolved, is the path as given.
bool IsPlainFileAt(HANDLE file, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION information;
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &information)) return false;
  if (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  if (information.nNumberOfLinks != 1) return false;
  const std::wstring asked = FullLongPath(path);
  return !asked.empty() && SamePath(FinalPathOf(file), asked);
}

}  // namespace

UniqueFile OpenLogFile(const std::wstring& path) {
  UniqueFile file = OpenExisting(path);
  bool created = false;
  if (!file && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    file = CreateNew(path);
    created = static_cast<bool>(file);
    // Another run made it in the meantime.
    if (!file && ::GetLastError() == ERROR_FILE_EXISTS) file = OpenExisting(path);
  }
  if (!file || IsPlainFileAt(file.get(), path)) return file;
  if (created) {
    using SetInformationFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    if (const auto setInformation = KernelProcedure<SetInformationFn>("SetFileInformationByHandle")) {
      FILE_DISPOSITION_INFO remove{TRUE};
      setInformation(file.get(), FileDispositionInfo, &remove, sizeof remove);
    }
  }
  return {};
}

FileRunLog::FileRunLog(const std::wstring& path) {
  if (!path.empty()) file_ = OpenLogFile(path);
}

void FileRunLog::Line(std::string_view text, std::wstring_view detail) {
  if (!file_) return;
  // The time and the process: two runs writing to one file can be told apart.
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char stamp[48];
  const int length =
      ::_snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, ::GetCurrentProcessId());
  std::string line(stamp, length > 0 ? static_cast<std::size_t>(length) : 0);
  const std::wstring clean = LogLineText(text, detail);
  const std::size_t at = line.size();
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, clean.data(), static_cast<int>(clean.size()), nullptr, 0, nullptr, nullptr);
  line.resize(at + static_cast<std::size_t>(size));
  ::WideCharToMultiByte(CP_UTF8, 0, clean.data(), static_cast<int>(clean.size()), line.data() + at, size, nullptr,
                        nullptr);
  line += "\r\n";
  // One write a line: lines of two runs never interleave.
  DWORD written = 0;
  ::WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace mv
