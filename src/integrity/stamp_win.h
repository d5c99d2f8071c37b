#pragma once
// The installer's check of its own file against the stamp the build gave it.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "integrity/stamp.h"
#include "win/handles_win.h"

namespace mv {

// The file is checked through views of one piece each: a 32-bit installer has no room to map a
// payload of hundreds of megabytes whole a second time beside its own loaded image.
inline constexpr std::size_t kCheckViewBytes = stamp::kPieceBytes;

// One thread per processor, at least 1 and at most 8: each costs a stack and 16 MiB of the
// 32-bit address space, and beyond a few the file cache sets the pace, not the digest.
inline constexpr unsigned kMostCheckThreads = 8;
unsigned CheckThreads();

// The check of one file, started when it is made and run on threads of its own: the pieces are
// hashed on up to `threads` threads at once, each mapping its own views, while the maker goes on
// with other things. A file held open by another process (a virus scanner looking at a fresh
// download) is retried for about 1.5 s before the check counts as impossible. A check that is
// destroyed unfinished is abandoned: its threads stop within a megabyte and are waited for, so
// that nothing of it outlives it.
class FileCheck {
 public:
  // Where a test holds a check in the middle of its work: called on the check's first thread
  // with the file open and its first piece mapped, before that piece is hashed, and given the
  // flag that says the check is abandoned; the check goes on when it returns.
  using Hold = void (*)(void* context, const std::atomic<bool>& abandoned);

  // `path` ends with its terminator.
  FileCheck(std::vector<wchar_t> path, unsigned threads, Hold hold = nullptr, void* holdContext = nullptr);
  ~FileCheck();
  FileCheck(const FileCheck&) = delete;
  FileCheck& operator=(const FileCheck&) = delete;

  // Waits for the check to end.
  IntegrityResult Verdict();
  // Why the file is not intact, after Verdict, for the log: the reason, and the Windows error
  // where one stood in the way.
  std::wstring Failure() const;

 private:
  static DWORD WINAPI Lead(void* check);
  static DWORD WINAPI Helper(void* check);
  IntegrityResult Run();
  // A verdict with its reason.
  IntegrityResult Found(IntegrityResult result, const char* why, DWORD error = 0);
  void HashPieces();
  // Maps piece `index` into `view` and returns its bytes.
  std::span<const std::uint8_t> MapPiece(std::size_t index, UniqueView& view) const;

  const std::vector<wchar_t> path_;
  const unsigned threads_;
  const Hold hold_;
  void* const holdContext_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> unmapped_{false};  // a view could not be mapped: out of address space
  std::atomic<std::size_t> next_{1};   // the piece a thread takes next; the lead takes the first
  UniqueHandle mapping_;
  std::size_t size_ = 0;
  stamp::PieceCheck pieces_;
  IntegrityResult result_ = IntegrityResult::Uncheckable;
  const char* failure_ = "the check was not run";
  DWORD failureError_ = 0;
  bool ended_ = false;
  JoinedThread lead_;  // the last member: joined before anything that it uses goes
};

// Checks the file at `path` and waits for the verdict.
IntegrityResult CheckInstallerFile(const wchar_t* path, unsigned threads = CheckThreads());

// The check of the running installer's own file, on every processor, started by the installer's
// entry before anything else so that it runs while start-up names Windows and the product is
// found; the run takes the verdict where it checks its file.
class InstallerCheck final : public FileCheck {
 public:
  InstallerCheck();
};

}  // namespace mv
