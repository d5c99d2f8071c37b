#pragma once
// The installer's check of its own file against the stamp the build gave it.
#include <cstddef>

#include "integrity/stamp.h"

namespace mv {

// The file is checked through views of at most this many bytes, one at a time: a 32-bit
// installer has no room to map a payload of hundreds of megabytes whole a second time beside
// its own loaded image. A multiple of the 64 KiB that view offsets must be aligned to.
inline constexpr std::size_t kCheckViewBytes = 16 << 20;

// Checks the file at `path`. A file held open by another process (a virus scanner looking at
// a fresh download) is retried for about 1.5 s before the check counts as impossible.
IntegrityResult CheckInstallerFile(const wchar_t* path);

// Checks the running executable.
IntegrityResult CheckRunningInstaller();

}  // namespace mv
