#pragma once
// The installer's check of its own file against the stamp the build gave it.
#include "integrity/stamp.h"

namespace mv {

// Checks the file at `path`. A file held open by another process (a virus scanner looking at
// a fresh download) is retried for about 1.5 s before the check counts as impossible.
IntegrityResult CheckInstallerFile(const wchar_t* path);

// Checks the running executable.
IntegrityResult CheckRunningInstaller();

}  // namespace mv
