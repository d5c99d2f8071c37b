// The durable-copy floor: the least any installer that never leaves a partial file can do. The
// payload goes to the installer's temporary name beside the target, is flushed to the disk, and
// replaces the target in one step, so that a crash at any moment leaves the whole file or none.
//   durable_copy.exe SOURCE TARGET
#include <windows.h>

#include <string>

#include "install/safe_write.h"
#include "win/handles_win.h"

namespace {

// The installer's paths are wide; the bench passes ASCII ones.
std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::wstring source = Wide(argv[1]);
  const std::wstring target = Wide(argv[2]);
  const std::wstring temp = mv::MakeTempName(target);
  if (!::CopyFileW(source.c_str(), temp.c_str(), FALSE)) return 1;
  {
    // CopyFileW gives no handle: a second one to the same file flushes the same cached pages.
    const mv::UniqueFile file(
        ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !::FlushFileBuffers(file.get())) return 1;
  }
  // The installer's own flags for its one-step replacement.
  return ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : 1;
}
