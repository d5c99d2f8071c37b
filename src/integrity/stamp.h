#pragma once
// The installer's integrity stamp. The build appends a trailer (a marker and a SHA-256 digest)
// to the linked executable; the digest covers every byte before the trailer except what
// Authenticode signing changes: the PE CheckSum field and the certificate-table entry of the
// data directory. Signing appends its certificate table after the trailer, so the trailer is
// found just before the certificate table, or at the end of an unsigned file.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "integrity/pe_headers.h"
#include "integrity/sha256.h"

namespace mv::stamp {

inline constexpr std::size_t kTrailerSize = 48;  // 16-byte marker + 32-byte digest

enum class Verdict { Intact, Distorted };

// Checks a whole installer file image.
Verdict Verify(std::span<const std::uint8_t> file);

// The same check for a file that is read piece by piece: a 32-bit installer cannot map a
// payload of hundreds of megabytes a second time beside its own loaded image.
class PieceVerifier {
 public:
  // Reads the headers from `first`, the first piece of the file (its whole headers at least),
  // places the stamp by `fileSize` and takes the piece. False when that alone shows the file
  // distorted.
  bool Start(std::span<const std::uint8_t> first, std::size_t fileSize);
  // How far into the file the check reads: to the end of the trailer.
  std::size_t Needed() const { return end_; }
  // The next piece of the file, in order; bytes past Needed() are ignored.
  void Add(std::span<const std::uint8_t> piece);
  // Distorted unless Start succeeded and every needed byte was added.
  Verdict Finish();

 private:
  // Hashes what the piece holds of the content and keeps what it holds of the trailer; the
  // first piece comes with the headers, whose signing fields it leaves out.
  void Take(std::span<const std::uint8_t> piece, const pe::Layout* headers);

  Sha256 hash_;
  std::array<std::uint8_t, kTrailerSize> trailer_;  // read only once every byte is in
  std::size_t end_ = 0;                             // 0 until Start succeeds
  std::size_t at_ = 0;
};

// Returns the stamped image of an unstamped, unsigned PE file, or an empty vector with `error`
// set when the input is not such a file.
std::vector<std::uint8_t> Stamp(std::span<const std::uint8_t> image, std::string& error);

}  // namespace mv::stamp

namespace mv {

// What the check of the installer's own file found: a file that cannot be read at all is
// neither intact nor distorted, and the user is told so in other words.
enum class IntegrityResult { Intact, Distorted, Uncheckable };

}  // namespace mv
