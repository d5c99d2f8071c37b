#include "install/safe_write_win.h"

#include <windows.h>

#include <utility>

#include "install/safe_write.h"
#include "win/files_win.h"
#include "win/handles_win.h"
#include "win/system_library_win.h"

namespace mv {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Clears the temporary name of whatever an earlier run, or anyone, left there, so that the file
// written is always one this process has just created: written into, a hard link or a symbolic
// link planted under that name would carry the payload into a file elsewhere, and renamed, it
// would move that file into the product folder. The entry is removed through the handle that
// was checked, so what is removed is what was checked: a plain file or a hard link loses this
// name only, and so does a symbolic link on Windows. Wine shows a Unix symbolic link as the file
// it leads to, and removing it would remove that file, so an entry whose file lies elsewhere is
// left alone and the write fails. True when the name is free.
bool ClearTempName(const std::wstring& temp) {
  const UniqueFile leftover(
      ::CreateFileW(temp.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!leftover) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  // Windows before Vista has no removal through a handle, and no symbolic links to files either.
  using SetInformationFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  const auto setInformation = KernelProcedure<SetInformationFn>("SetFileInformationByHandle");
  if (!setInformation) return ::DeleteFileW(temp.c_str()) != FALSE;
  // The entry itself is reached as the folder's path, a backslash and its name, as the file
  // system compares names (a leftover "~MVM3.PAK" is this run's "~mvm3.pak").
  const std::size_t nameStart = FileNameStart(temp);
  if (nameStart == 0) return false;
  const UniqueFile folder(::CreateFileW(temp.substr(0, nameStart).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  std::wstring entry = folder ? FinalPathOf(folder.get()) : std::wstring();
  if (entry.empty()) return false;
  if (entry.back() != L'\\') entry += L'\\';  // a drive's root has its backslash
  entry.append(temp, nameStart);
  if (!SamePath(FinalPathOf(leftover.get()), entry)) return false;
  FILE_DISPOSITION_INFO remove{TRUE};
  return setInformation(leftover.get(), FileDispositionInfo, &remove, sizeof remove) != FALSE;
}

// Writes all bytes in one write. False unless every byte was written, flushed to the disk and
// the file closed cleanly.
bool WriteFlushAndClose(UniqueFile file, Bytes bytes) {
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    return false;
  // Before the rename: a rename that reaches the disk before the data would leave a file of the
  // right name but without its content after a power cut.
  if (!::FlushFileBuffers(file.get())) return false;
  return ::CloseHandle(file.release()) != FALSE;
}

}  // namespace

// True when the product, a scanner or anyone holds the file open without letting it be deleted
// (renamed over), or has it mapped, so that the rename over it failed with `renameError`.
bool InUse(const std::wstring& path, DWORD renameError) {
  const UniqueFile file(::CreateFileW(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  const DeleteProbe probe = file                                          ? DeleteProbe::Opened
                            : ::GetLastError() == ERROR_SHARING_VIOLATION ? DeleteProbe::SharingViolation
                                                                          : DeleteProbe::Refused;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  return CountsAsInUse(probe, renameError == ERROR_ACCESS_DENIED, readOnly);
}

// Leaves the complete temporary file for Windows to move over the destination at the next
// restart, under a name that only a complete file ever takes.
bool ReplaceAtRestart(const std::wstring& temp, const std::wstring& destination) {
  const std::wstring waiting = MakeRestartName(destination);
  return ::MoveFileExW(temp.c_str(), waiting.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) &&
         ::MoveFileExW(waiting.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool WriteTempFile(const std::wstring& temp, Bytes bytes) {
  if (!ClearTempName(temp)) return false;
  // CREATE_NEW: the file written is the one created here, never anything that took the name
  // since (CREATE_NEW does not follow a symbolic link either).
  UniqueFile file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  if (WriteFlushAndClose(std::move(file), bytes)) return true;
  // A file that could not be written whole (a full disk) is of no use to anyone.
  const DWORD error = ::GetLastError();
  ::DeleteFileW(temp.c_str());
  ::SetLastError(error);
  return false;
}

bool MoveIntoPlace(const std::wstring& temp, const std::wstring& destination, bool replace) {
  const DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH : MOVEFILE_WRITE_THROUGH;
  return ::MoveFileExW(temp.c_str(), destination.c_str(), flags) != FALSE;
}

WriteResult Commit(const std::wstring& temp, const std::wstring& destination, bool replace, BeforeCommit& beforeCommit,
                   InUsePolicy policy) {
  beforeCommit.Run();
  if (MoveIntoPlace(temp, destination, replace)) {
    // A replacement an earlier quiet run left for the next restart would undo this one
    // then. It is withdrawn only now that the new data has taken its place: a run that fails
    // before leaves it waiting.
    return ClearTempName(MakeRestartName(destination)) ? WriteResult::Written : WriteResult::Failed;
  }
  const DWORD error = ::GetLastError();
  // The waiting replacement, if any, is replaced by this one, which takes its place at the restart.
  if (policy == InUsePolicy::ReplaceAtRestart && InUse(destination, error) && ReplaceAtRestart(temp, destination))
    return WriteResult::AtRestart;
  ::SetLastError(error);
  return WriteResult::Failed;
}

}  // namespace mv
