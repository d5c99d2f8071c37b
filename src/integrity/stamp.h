#pragma once
// The installer's integrity stamp. The build appends a trailer (a marker and a SHA-256 digest)
// to the linked executable; the digest covers every byte before the trailer except what
// Authenticode signing changes: the PE CheckSum field and the certificate-table entry of the
// data directory. Signing appends its certificate table after the trailer, so the trailer is
// found just before the certificate table, or at the end of an unsigned file.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mv::stamp {

inline constexpr std::size_t kTrailerSize = 48;  // 16-byte marker + 32-byte digest

enum class Verdict { Intact, Distorted };

// Checks a whole installer file image.
Verdict Verify(std::span<const std::uint8_t> file);

// Returns the stamped image of an unstamped, unsigned PE file, or an empty vector with `error`
// set when the input is not such a file.
std::vector<std::uint8_t> Stamp(std::span<const std::uint8_t> image, std::string& error);

}  // namespace mv::stamp

namespace mv {

// What the check of the installer's own file found: a file that cannot be read at all is
// neither intact nor distorted, and the user is told so in other words.
enum class IntegrityResult { Intact, Distorted, Uncheckable };

}  // namespace mv
