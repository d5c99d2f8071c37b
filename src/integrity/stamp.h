#pragma once
// The installer's integrity stamp. The build appends a trailer (a marker and a digest) to the
// linked executable; the digest covers every byte before the trailer (the content) except what
// Authenticode signing changes: the PE CheckSum field and the certificate-table entry of the
// data directory. Signing appends its certificate table after the trailer, so the trailer is
// found just before the certificate table, or at the end of an unsigned file.
//
// The digest is taken in pieces, so that a big installer is checked on every processor at once.
// The content is cut at file offsets k × kPieceBytes; each piece's bytes, less the two signing
// fields where they fall in it, have a SHA-256 digest of their own, and the stamped digest is
//   SHA-256(kPiecesTag, piece length, piece count, content length, piece digests in order)
// with the three lengths as 64-bit little-endian numbers. The lengths bound in keep the pieces
// from being moved across a boundary, dropped or repeated without the stamp noticing.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "integrity/pe_headers.h"
#include "integrity/sha256.h"

namespace mv::stamp {

inline constexpr std::size_t kTrailerSize = 48;  // 16-byte marker + 32-byte digest
// A multiple of the 64 KiB that file views must start at, so that each piece is one view.
inline constexpr std::size_t kPieceBytes = 16 << 20;
inline constexpr std::array<std::uint8_t, 16> kPiecesTag = {'m', 'v', 's', 'e', 't', 'u', 'p',  ' ',
                                                            'p', 'i', 'e', 'c', 'e', 's', 0x00, 0x01};

enum class Verdict { Intact, Distorted };

// Checks a whole installer file image.
Verdict Verify(std::span<const std::uint8_t> file);

// The same check for a file that is read piece by piece, the pieces in any order and on several
// threads at once: a 32-bit installer cannot map a payload of hundreds of megabytes a second
// time beside its own loaded image.
class PieceCheck {
 public:
  // Reads the headers from `first`, the first piece of the file (or the whole file when it is
  // shorter), and places the stamp by `fileSize`. False when that alone shows the file
  // distorted, with the reason in `*problem` if asked for. Take may run only after it.
  bool Start(std::span<const std::uint8_t> first, std::size_t fileSize, const char** problem = nullptr);
  // How many pieces of the file the check reads: those of the content, and the trailer's.
  std::size_t Pieces() const { return pieces_; }
  // Piece `index` of the file: `bytes` start at its first byte and reach at least to the end of
  // the piece or of the trailer; bytes past those are ignored. Different pieces may be taken on
  // different threads at once. A piece whose bytes are short, or whose hashing `stop` broke off
  // (looked at every megabyte), stays untaken.
  void Take(std::size_t index, std::span<const std::uint8_t> bytes, const std::atomic<bool>* stop = nullptr);
  // Distorted unless Start succeeded, every piece was taken and the trailer holds their digest,
  // with the reason in `*problem` if asked for.
  Verdict Finish(const char** problem = nullptr) const;
  // The digest of the pieces taken, as the stamp holds it.
  Sha256::Digest Combined() const;

 private:
  std::size_t checkSum_ = 0;       // file offsets of the fields signing rewrites, both in the
  std::size_t securityEntry_ = 0;  // headers and so in the first piece
  std::size_t content_ = 0;        // where the trailer starts
  std::size_t pieces_ = 0;
  std::unique_ptr<Sha256::Digest[]> digests_;  // one per piece of the content
  std::unique_ptr<bool[]> taken_;              // one per piece: threads write different ones
  std::array<std::uint8_t, kTrailerSize> trailer_{};
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
