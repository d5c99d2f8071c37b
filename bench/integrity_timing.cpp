// The installer's self-integrity check alone: the project's own verifier, called in-process on
// a built installer, so that the time is the check's and not the process start's.
//   integrity_timing.exe INSTALLER ROUNDS
// One untimed call first (the file then comes from the cache, as it does for an installer that
// the loader has just mapped), then one line per call: integrity <tab> ROUND <tab> MILLISECONDS.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "integrity/stamp_win.h"

namespace {

std::wstring Wide(const char* text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  return wide;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[2]) < 1) {
    std::fprintf(stderr, "usage: integrity_timing.exe INSTALLER ROUNDS\n");
    return 2;
  }
  const std::wstring path = Wide(argv[1]);
  const int rounds = std::atoi(argv[2]);
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  for (int round = 0; round <= rounds; ++round) {
    LARGE_INTEGER begin, end;
    ::QueryPerformanceCounter(&begin);
    const mv::IntegrityResult result = mv::CheckInstallerFile(path.c_str());
    ::QueryPerformanceCounter(&end);
    // A verdict other than intact would time a check that stopped early.
    if (result != mv::IntegrityResult::Intact) {
      std::fprintf(stderr, "integrity_timing: %s is not an intact installer\n", argv[1]);
      return 1;
    }
    const double ms =
        static_cast<double>(end.QuadPart - begin.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    if (round > 0) std::printf("integrity\t%d\t%.3f\n", round, ms);
  }
  return 0;
}
