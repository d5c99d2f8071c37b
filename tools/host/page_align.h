#pragma once
// A build step of the host tool, never run by the installer: the payload's resource section
// moved to a page of the file before the image is stamped.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mv::host {

// Returns the image with the raw data of its resource section (the payload) moved to a
// 4 KiB boundary of the file: zeros go in before it and the later sections' file offsets move
// along, the image as loaded stays the same. An image whose resource data already starts on
// such a boundary, or that has none, comes back as it is. On failure returns an empty vector
// with `error` set.
std::vector<std::uint8_t> PageAlignResources(std::span<const std::uint8_t> image, std::string& error);

}  // namespace mv::host
