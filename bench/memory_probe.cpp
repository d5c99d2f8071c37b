// Bench-only: linked into the installer only when CMake's MV_BENCH_PROBE is ON, never into the
// shipped build. When the environment variable MV_BENCH_MEMORY_FILE names a file, the process
// writes its memory counters there as it ends:
//   peak_private=BYTES        PeakPagefileUsage at the end (the peak of private bytes)
//   peak_working_set=BYTES    PeakWorkingSetSize at the end
//   sampled_private=BYTES     the highest PagefileUsage seen by a sampler, about every 1 ms
//   sampled_private_at_ms=MS  when the sampler saw that highest value, from the probe's start
//   committed_private=BYTES   the highest sum of committed private regions (VirtualQuery) seen
//   samples=N
// The sampler exists because Wine fills PeakPagefileUsage with the current private bytes, not
// their peak: a buffer freed before the end would go unseen there. On Windows both agree.
// Wine also counts as private the pages of an image it had to read rather than map (sections
// not page-aligned in the file), and whether it does so varies; the committed private regions
// are what Windows charges as private memory (heap, VirtualAlloc, stacks) and show whether a
// figure is the program's own allocation.
// Without the variable the probe does nothing at all.
#define PSAPI_VERSION 2  // GetProcessMemoryInfo is K32GetProcessMemoryInfo in kernel32: no psapi.dll
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>

#include "win/handles_win.h"

namespace {

PROCESS_MEMORY_COUNTERS_EX Counters() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return counters;
}

SIZE_T CommittedPrivate() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; ::VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
  }
  return total;
}

class MemoryProbe {
 public:
  MemoryProbe() {
    const DWORD length = ::GetEnvironmentVariableW(L"MV_BENCH_MEMORY_FILE", path_, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      path_[0] = L'\0';
      return;
    }
    start_ = ::GetTickCount64();
    stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (stop_) sampler_.reset(::CreateThread(nullptr, 0, &MemoryProbe::Sample, this, 0, nullptr));
  }

  // Runs from exit() after wWinMain has returned, on the ordinary end of the process.
  ~MemoryProbe() {
    if (path_[0] == L'\0') return;
    if (sampler_) {
      ::SetEvent(stop_.get());
      ::WaitForSingleObject(sampler_.get(), INFINITE);
    }
    const PROCESS_MEMORY_COUNTERS_EX end = Counters();
    const SIZE_T sampled = std::max(sampledPrivate_, end.PagefileUsage);
    const ULONGLONG at = sampled > sampledPrivate_ ? ::GetTickCount64() - start_ : sampledAtMs_;
    char text[400];
    const int length = std::snprintf(
        text, sizeof text,
        "peak_private=%llu\r\npeak_working_set=%llu\r\nsampled_private=%llu\r\nsampled_private_at_ms=%llu\r\n"
        "committed_private=%llu\r\nsamples=%lu\r\n",
        static_cast<unsigned long long>(end.PeakPagefileUsage), static_cast<unsigned long long>(end.PeakWorkingSetSize),
        static_cast<unsigned long long>(sampled), static_cast<unsigned long long>(at),
        static_cast<unsigned long long>(std::max(committedPrivate_, CommittedPrivate())), samples_);
    const mv::UniqueFile file(
        ::CreateFileW(path_, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file && length > 0) ::WriteFile(file.get(), text, static_cast<DWORD>(length), &written, nullptr);
  }

  MemoryProbe(const MemoryProbe&) = delete;
  MemoryProbe& operator=(const MemoryProbe&) = delete;

 private:
  static DWORD WINAPI Sample(void* self) {
    auto& probe = *static_cast<MemoryProbe*>(self);
    do {
      const SIZE_T now = Counters().PagefileUsage;
      if (now > probe.sampledPrivate_) {
        probe.sampledPrivate_ = now;
        probe.sampledAtMs_ = ::GetTickCount64() - probe.start_;
      }
      probe.committedPrivate_ = std::max(probe.committedPrivate_, CommittedPrivate());
      ++probe.samples_;
    } while (::WaitForSingleObject(probe.stop_.get(), 1) == WAIT_TIMEOUT);
    return 0;
  }

  wchar_t path_[MAX_PATH] = {};
  mv::UniqueHandle stop_;
  mv::UniqueHandle sampler_;
  ULONGLONG start_ = 0;
  // Written by the sampler alone and read only after it has been joined.
  SIZE_T sampledPrivate_ = 0;
  ULONGLONG sampledAtMs_ = 0;
  SIZE_T committedPrivate_ = 0;
  unsigned long samples_ = 0;
};

// Constructed with the other statics before wWinMain, destroyed by exit() after it returns.
MemoryProbe g_probe;

}  // namespace
