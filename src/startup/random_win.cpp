#include "startup/random_win.h"

#include <windows.h>

namespace mv {

Lcg SeededGenerator() {
  LARGE_INTEGER counter;
  if (::QueryPerformanceCounter(&counter)) return Lcg(static_cast<std::uint32_t>(counter.QuadPart));
  return Lcg(::GetTickCount());
}

}  // namespace mv
