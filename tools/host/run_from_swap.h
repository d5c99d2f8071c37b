#pragma once
// A build step of the host tool, never run by the installer: the header flags that make Windows
// copy the image to its swap file before running it from a network share or a removable drive.
#include <cstdint>
#include <string>
#include <vector>

namespace mv::host {

// IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP and IMAGE_FILE_NET_RUN_FROM_SWAP.
inline constexpr std::uint32_t kRunFromSwapFlags = 0x0400 | 0x0800;

// Sets both flags in the COFF header of an image not yet signed. An installer started from a
// share whose connection drops, or from a stick pulled out, would otherwise fault reading a page
// of its own code or payload that was never loaded. False, with `error` set, for an image that
// may not be changed.
bool MarkRunFromSwap(std::vector<std::uint8_t>& image, std::string& error);

}  // namespace mv::host
