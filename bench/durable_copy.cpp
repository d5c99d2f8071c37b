// The durable-copy floor: the least any installer that never leaves a partial file can do. The
// payload goes to the installer's temporary name beside the target, is flushed to the disk, and
// replaces the target in one step, so that a crash at any moment leaves the whole file or none.
//   durable_copy.exe SOURCE TARGET
#include <windows.h>

#include <string>

#include "install/safe_write.h"
#include "win/handles_win.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string temp = mv::MakeTempName(argv[2]);
  if (!::CopyFileA(argv[1], temp.c_str(), FALSE)) return 1;
  {
    // CopyFileA gives no handle: a second one to the same file flushes the same cached pages.
    const mv::UniqueFile file(
        ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !::FlushFileBuffers(file.get())) return 1;
  }
  // The installer's own flags for its one-step replacement.
  return ::MoveFileExA(temp.c_str(), argv[2], MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : 1;
}
