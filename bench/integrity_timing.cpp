// The installer's self-integrity check alone: the project's own verifier, called in-process on
// a built installer, so that the time is the check's and not the process start's, on as many
// threads as the installer takes (one per processor, at most 8) and on one; beside it the
// portable SHA-256 rounds over the same bytes on one thread, the path of a processor without
// SHA instructions.
//   integrity_timing.exe INSTALLER ROUNDS PORTABLE_ROUNDS
// Prints whether the verifier's digest uses the SHA instructions (sha_instructions=yes|no) and
// its threads (threads=N), then one line per call: integrity|integrity-1|portable <tab> ROUND
// <tab> MILLISECONDS, the two integrity checks taking turns. The verifier runs once untimed
// first, so that the file comes from the cache, as it does for an installer that the loader has
// just mapped.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "integrity/sha256.h"
#include "integrity/stamp_win.h"
#include "win/handles_win.h"

namespace {

std::wstring Wide(const char* text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  return wide;
}

class Stopwatch {
 public:
  Stopwatch() {
    ::QueryPerformanceFrequency(&frequency_);
    ::QueryPerformanceCounter(&begin_);
  }
  double Ms() const {
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - begin_.QuadPart) * 1000.0 / static_cast<double>(frequency_.QuadPart);
  }

 private:
  LARGE_INTEGER frequency_, begin_;
};

volatile std::uint8_t g_sink = 0;

[[noreturn]] void Fail(const char* what, const char* path) {
  std::fprintf(stderr, "integrity_timing: %s: %s\n", what, path);
  std::exit(1);
}

// The portable rounds over the whole file: the digest is what the check's time is made of.
void TimePortable(const char* path, int rounds) {
  const mv::UniqueFile file(
      ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size)) Fail("cannot open", path);
  const mv::UniqueHandle mapping(::CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  const mv::UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
  if (!view) Fail("cannot map", path);
  const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(view.get()),
                                            static_cast<std::size_t>(size.QuadPart));
  for (int round = 1; round <= rounds; ++round) {
    const Stopwatch watch;
    // Kept where the optimiser cannot drop it: a digest nobody reads need not be computed.
    g_sink = mv::Sha256::Of(bytes, mv::Sha256::Engine::Portable)[0];
    const double ms = watch.Ms();
    std::printf("portable\t%d\t%.3f\n", round, ms);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::atoi(argv[2]) < 1 || std::atoi(argv[3]) < 1) {
    std::fprintf(stderr, "usage: integrity_timing.exe INSTALLER ROUNDS PORTABLE_ROUNDS\n");
    return 2;
  }
  const std::wstring path = Wide(argv[1]);
  const int rounds = std::atoi(argv[2]);
  const unsigned threads = mv::CheckThreads();
  std::printf("sha_instructions=%s\nthreads=%u\n", mv::Sha256::HasShaInstructions() ? "yes" : "no", threads);
  for (int round = 0; round <= rounds; ++round) {
    for (const bool all : {true, false}) {
      const Stopwatch watch;
      const mv::IntegrityResult result = mv::CheckInstallerFile(path.c_str(), all ? threads : 1);
      const double ms = watch.Ms();
      // A verdict other than intact would time a check that stopped early.
      if (result != mv::IntegrityResult::Intact) Fail("not an intact installer", argv[1]);
      if (round > 0) std::printf("%s\t%d\t%.3f\n", all ? "integrity" : "integrity-1", round, ms);
    }
  }
  TimePortable(argv[1], std::atoi(argv[3]));
  return 0;
}
