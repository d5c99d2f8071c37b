#pragma once
// A build step of the host tool: the PE CheckSum field of the finished installer. Windows checks
// it only for drivers and a few system files, but signing tools and scanners warn of a wrong
// one, and the linker's value goes stale when the image is page-aligned and stamped.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mv::host {

// The checksum of a whole file: its 16-bit little-endian words (an odd last byte as a word of
// its own) added with the carries folded back in, the CheckSum field at `checkSumAt` counted as
// zero, and the file's length added to the 16-bit result.
std::uint32_t PeCheckSum(std::span<const std::uint8_t> file, std::uint64_t checkSumAt);

// Writes the checksum of `image` into its CheckSum field. The field lies outside the integrity
// stamp's digest, so a stamped image stays intact. False, with `error` set, when `image` is not a
// PE file.
bool WriteCheckSum(std::vector<std::uint8_t>& image, std::string& error);

}  // namespace mv::host
