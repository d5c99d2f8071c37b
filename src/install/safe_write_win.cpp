#include "install/safe_write_win.h"

#include <windows.h>

#include <utility>

#include "install/safe_write.h"
#include "win/files_win.h"
#include "win/handles_win.h"

namespace mv {

namespace {

using Bytes = std::span<const std::uint8_t>;

UniqueFile OpenForWriting(const std::wstring& path, DWORD disposition) {
  return UniqueFile(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Writes all bytes in one write. False unless every byte was written, flushed to the disk when
// asked, and the file closed cleanly.
bool WriteAndClose(UniqueFile file, Bytes bytes, bool flush) {
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    return false;
  if (flush && !::FlushFileBuffers(file.get())) return false;
  return ::CloseHandle(file.release()) != FALSE;
}

// Writes the whole file or leaves none: a file that could not be written whole (a full disk)
// is of no use to anyone and is removed.
bool WriteWholeOrRemove(const std::wstring& path, Bytes bytes, DWORD disposition, bool flush) {
  UniqueFile file = OpenForWriting(path, disposition);
  if (!file) return false;
  if (WriteAndClose(std::move(file), bytes, flush)) return true;
  ::DeleteFileW(path.c_str());
  return false;
}

}  // namespace

bool WriteNewFile(const std::wstring& path, Bytes bytes) { return WriteWholeOrRemove(path, bytes, CREATE_NEW, false); }

bool WriteTempFile(const std::wstring& temp, Bytes bytes) {
  return WriteWholeOrRemove(temp, bytes, CREATE_ALWAYS, true);
}

bool ReplaceInstalledCopy(const std::wstring& temp, const std::wstring& destination) {
  return ::MoveFileExW(temp.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool WriteOrReplace(Bytes bytes, const std::wstring& destination) {
  if (!FileExists(destination)) return WriteNewFile(destination, bytes);
  const std::wstring temp = MakeTempName(destination);
  return WriteTempFile(temp, bytes) && ReplaceInstalledCopy(temp, destination);
}

}  // namespace mv
