#include "ui/run_log_win.h"

#include <windows.h>

#include <cstdio>

namespace mv {

FileRunLog::FileRunLog(const std::wstring& path) {
  // Shared, so that another run, or someone reading it, may have it open at the same time.
  if (!path.empty())
    file_.reset(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

void FileRunLog::Line(std::string_view text, std::wstring_view detail) {
  if (!file_) return;
  // The time and the process: two runs writing to one file can be told apart.
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char stamp[48];
  const int length = ::_snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear,
                                 now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                                 ::GetCurrentProcessId());
  std::string line(stamp, length > 0 ? static_cast<std::size_t>(length) : 0);
  line += text;
  const std::size_t at = line.size();
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, detail.data(), static_cast<int>(detail.size()), nullptr, 0, nullptr, nullptr);
  line.resize(at + static_cast<std::size_t>(size));
  ::WideCharToMultiByte(CP_UTF8, 0, detail.data(), static_cast<int>(detail.size()), line.data() + at, size, nullptr,
                        nullptr);
  // A message of several lines (an error's text) stays on the step's one line.
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  line += "\r\n";
  // One write a line: lines of two runs never interleave.
  DWORD written = 0;
  ::WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace mv
