#pragma once
// The installed size recorded in the product's uninstall entry.
#include <cstdint>
#include <string>

namespace mv {

// Total size of the files in `folder` and all its subfolders, in units of 1024 bytes, or -1
// when the path is empty or not an existing directory. Folders reached through a junction or
// symbolic link are not entered; a subfolder that cannot be listed adds nothing.
std::int32_t GetFolderSizeKB(const std::string& folder);

// The KiB figure of a byte total, clamped to the largest 32-bit value (sizes beyond 2 TiB).
std::int32_t KibFromBytes(std::uint64_t bytes);

}  // namespace mv
