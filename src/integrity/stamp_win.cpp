#include "integrity/stamp_win.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "win/files_win.h"
#include "win/handles_win.h"

namespace mv {
namespace {

// Readers (a scanner, Explorer reading the icon) may share the file with us; writers may not,
// so the bytes cannot change while they are being checked. A file still being written (a
// download not yet finished) therefore counts as held open, and is waited for like one.
UniqueFile OpenForCheck(const wchar_t* path) {
  return OpenForReadingAfterBriefHolds(path, FILE_SHARE_READ | FILE_SHARE_DELETE, 15);
}

}  // namespace

IntegrityResult CheckInstallerFile(const wchar_t* path) {
  const UniqueFile file = OpenForCheck(path);
  if (!file) return IntegrityResult::Uncheckable;

  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return IntegrityResult::Uncheckable;
  // The file is there and readable, so an empty one is a damaged installer, not a failed
  // check (and CreateFileMapping refuses to map zero bytes).
  if (size.QuadPart == 0) return IntegrityResult::Distorted;

  // Beyond the address space of a 32-bit process: whatever that file is, it is not an installer
  // that such a process could have been started from.
  if (static_cast<std::uint64_t>(size.QuadPart) > std::numeric_limits<std::size_t>::max()) {
    return IntegrityResult::Uncheckable;
  }
  const auto fileSize = static_cast<std::size_t>(size.QuadPart);

  // Mapping instead of reading: the pages come straight from the file cache without a copy.
  // Failures here are about address space or memory, not about the file's content.
  const UniqueHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return IntegrityResult::Uncheckable;
  stamp::PieceVerifier check;
  std::size_t at = 0;
  do {
    const std::size_t length = std::min<std::size_t>(kCheckViewBytes, fileSize - at);
    const auto offset = static_cast<std::uint64_t>(at);
    const UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                          static_cast<DWORD>(offset), length));
    if (!view) return IntegrityResult::Uncheckable;
    const std::span<const std::uint8_t> piece(static_cast<const std::uint8_t*>(view.get()), length);
    if (at != 0) {
      check.Add(piece);
    } else if (!check.Start(piece, fileSize)) {
      return IntegrityResult::Distorted;
    }
    at += length;
  } while (at < check.Needed());
  return check.Finish() == stamp::Verdict::Intact ? IntegrityResult::Intact : IntegrityResult::Distorted;
}

namespace {

// The path of the running executable, however long: GetModuleFileNameW truncates silently
// (without even a terminator on XP) when the buffer is short, so grow until it fits.
bool RunningExecutablePath(std::vector<wchar_t>& path) {
  constexpr DWORD kLongestPath = 32768;
  for (DWORD capacity = MAX_PATH;; capacity *= 2) {
    path.assign(capacity, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), capacity);
    if (length == 0) return false;
    if (length < capacity) {
      path.resize(length + 1);
      return true;
    }
    if (capacity >= kLongestPath) return false;
  }
}

}  // namespace

IntegrityResult CheckRunningInstaller() {
  std::vector<wchar_t> path;
  return RunningExecutablePath(path) ? CheckInstallerFile(path.data()) : IntegrityResult::Uncheckable;
}

}  // namespace mv
