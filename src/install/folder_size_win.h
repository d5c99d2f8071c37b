#pragma once
// Measuring the installed size of the product folder.
#include <cstdint>
#include <string>

namespace mv {

// Total size of the files in `folder` and all its subfolders, in units of 1024 bytes, or -1
// when the path is empty or not an existing directory. Folders reached through a junction or
// symbolic link are not entered; a subfolder that cannot be listed adds nothing. The file
// `replacedAtRestart`, when given, does not count: the next restart replaces it by a file the
// folder already holds, and the size is the one the folder will have then.
std::int32_t GetFolderSizeKB(const std::wstring& folder, const std::wstring& replacedAtRestart = {});

}  // namespace mv
