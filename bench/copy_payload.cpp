// The job's floor: one CopyFileA of the payload into the product folder, as cheap as writing
// those bytes gets on Windows.
//   copy_payload.exe SOURCE TARGET
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  return ::CopyFileA(argv[1], argv[2], FALSE) ? 0 : 1;
}
