#pragma once
// The installer's check of its own file.
#include "env/messages.h"

namespace mv {

enum class IntegrityResult { Intact, Distorted, Uncheckable };

// Checks the file at `path`. A file held open by another process (a virus scanner looking at
// a fresh download) is retried for about 1.5 s before the check counts as impossible.
IntegrityResult CheckInstallerFile(const wchar_t* path);

// Checks the running executable; on failure shows the matching message and returns false.
bool VerifyInstallerFile(MessageSink& messages);

}  // namespace mv
