#include "integrity/stamp_win.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "base/strings.h"
#include "win/files_win.h"

namespace mv {
namespace {

// The threads hash and map views, nothing deeper; a reservation rather than the image's default
// keeps eight of them from taking megabytes of the 32-bit address space.
constexpr SIZE_T kThreadStack = 64 << 10;

JoinedThread StartThread(LPTHREAD_START_ROUTINE routine, void* argument) {
  return JoinedThread(
      ::CreateThread(nullptr, kThreadStack, routine, argument, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
}

}  // namespace

unsigned CheckThreads() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return std::clamp<unsigned>(info.dwNumberOfProcessors, 1, kMostCheckThreads);
}

FileCheck::FileCheck(std::vector<wchar_t> path, unsigned threads, Hold hold, void* holdContext)
    : path_(std::move(path)),
      threads_(std::clamp<unsigned>(threads, 1, kMostCheckThreads)),
      hold_(hold),
      holdContext_(holdContext),
      lead_(StartThread(Lead, this)) {}

// The members go after this, the lead thread first: it is waited for, and it waits for its helpers.
FileCheck::~FileCheck() { stop_ = true; }

IntegrityResult FileCheck::Verdict() {
  // Without a thread of its own the check runs here, as it did before it had threads.
  if (!lead_ && !ended_) result_ = Run();
  lead_.reset();
  ended_ = true;
  return result_;
}

DWORD WINAPI FileCheck::Lead(void* check) {
  auto* self = static_cast<FileCheck*>(check);
  self->result_ = self->Run();
  return 0;
}

DWORD WINAPI FileCheck::Helper(void* check) {
  static_cast<FileCheck*>(check)->HashPieces();
  return 0;
}

std::span<const std::uint8_t> FileCheck::MapPiece(std::size_t index, UniqueView& view) const {
  const std::size_t offset = index * kCheckViewBytes;
  const std::size_t length = std::min(kCheckViewBytes, size_ - offset);
  view.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_READ, static_cast<DWORD>(std::uint64_t{offset} >> 32),
                             static_cast<DWORD>(offset), length));
  return {static_cast<const std::uint8_t*>(view.get()), view ? length : 0};
}

void FileCheck::HashPieces() {
  for (std::size_t index; !stop_ && (index = next_++) < pieces_.Pieces();) {
    UniqueView view;
    const std::span<const std::uint8_t> bytes = MapPiece(index, view);
    if (!view) {
      unmapped_ = true;
      stop_ = true;
      return;
    }
    pieces_.Take(index, bytes, &stop_);
  }
}

IntegrityResult FileCheck::Found(IntegrityResult result, const char* why, DWORD error) {
  failure_ = why;
  failureError_ = error;
  return result;
}

std::wstring FileCheck::Failure() const {
  std::wstring text = WidenAscii(failure_);
  if (failureError_ != 0)
    text.append(L": Windows error ").append(DecimalText(static_cast<std::int32_t>(failureError_)));
  return text;
}

IntegrityResult FileCheck::Run() {
  constexpr IntegrityResult kUncheckable = IntegrityResult::Uncheckable;
  constexpr IntegrityResult kDistorted = IntegrityResult::Distorted;
  // Readers (a scanner, Explorer reading the icon) may share the file with us; writers may not,
  // so the bytes cannot change while they are being checked. A file still being written (a
  // download not yet finished) therefore counts as held open, and is waited for like one.
  const UniqueFile file = OpenForReadingAfterBriefHolds(path_.data(), FILE_SHARE_READ | FILE_SHARE_DELETE, 15, &stop_);
  if (!file) return Found(kUncheckable, "it cannot be opened", ::GetLastError());

  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return Found(kUncheckable, "its size cannot be read", ::GetLastError());
  // The file is there and readable, so an empty one is a damaged installer, not a failed
  // check (and CreateFileMapping refuses to map zero bytes).
  if (size.QuadPart == 0) return Found(kDistorted, "it is empty");
  // Beyond the address space of a 32-bit process: whatever that file is, it is not an installer
  // that such a process could have been started from.
  if (static_cast<std::uint64_t>(size.QuadPart) > std::numeric_limits<std::size_t>::max()) {
    return Found(kUncheckable, "it is too large to map");
  }
  size_ = static_cast<std::size_t>(size.QuadPart);

  // Mapping instead of reading: the pages come straight from the file cache without a copy.
  // Failures here are about address space or memory, not about the file's content.
  mapping_.reset(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping_) return Found(kUncheckable, "it cannot be mapped", ::GetLastError());
  {
    UniqueView first;
    const std::span<const std::uint8_t> bytes = MapPiece(0, first);
    if (!first) return Found(kUncheckable, "a piece of it cannot be mapped", ::GetLastError());
    const char* problem = nullptr;
    if (!pieces_.Start(bytes, size_, &problem)) return Found(kDistorted, problem);
    // The helpers start on the next pieces while this thread hashes the first. As many start for
    // a file of one piece, and end at once: the check's memory (a stack each, which Wine commits
    // whole) does not grow with the payload.
    JoinedThread helpers[kMostCheckThreads - 1];
    for (unsigned i = 1; i < threads_; ++i) helpers[i - 1] = StartThread(Helper, this);
    if (hold_) hold_(holdContext_, stop_);
    pieces_.Take(0, bytes, &stop_);
    first.reset();
    // A helper that could not start leaves its share to the others.
    HashPieces();
  }
  if (unmapped_) return Found(kUncheckable, "a piece of it cannot be mapped");
  const char* problem = nullptr;
  return pieces_.Finish(&problem) == stamp::Verdict::Intact ? IntegrityResult::Intact : Found(kDistorted, problem);
}

IntegrityResult CheckInstallerFile(const wchar_t* path, unsigned threads) {
  return FileCheck(std::vector<wchar_t>(path, path + std::wcslen(path) + 1), threads).Verdict();
}

InstallerCheck::InstallerCheck() : FileCheck(RunningExecutablePath(), CheckThreads()) {}

}  // namespace mv
