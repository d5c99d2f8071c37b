#include "integrity/stamp.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>

namespace mv::stamp {
namespace {

// Fixed and never found in a linker's output, so a stamp is recognised without any doubt.
constexpr std::array<std::uint8_t, 16> kMarker = {'m', 'v', 's', 'e', 't', 'u',  'p',  0x00,
                                                  's', 't', 'a', 'm', 'p', 0x01, 0xA5, 0x5A};
constexpr std::size_t kDigestSize = kTrailerSize - kMarker.size();
static_assert(kDigestSize == Sha256::Digest{}.size());
static_assert(kPieceBytes % (64 << 10) == 0);

// Authenticode pads the image to 8 bytes before its certificate table, and that padding would
// land between the trailer and the table, where nothing accounts for it. Images from the linker
// are whole file-alignment units (512 bytes), so the trailer keeps them 8-aligned.
constexpr std::uint64_t kAlignment = 8;
static_assert(kTrailerSize % kAlignment == 0);

// How often a piece's hashing looks whether it is still wanted: a check abandoned at the end of
// a run must not hold the process for the rest of a 16 MiB piece (seconds under emulation).
constexpr std::size_t kStopCheckBytes = 1 << 20;

// Where the stamp ends: at the certificate table of a signed file, else at the end of the file.
// A certificate table that is not exactly the 8-aligned tail of the file means the file was put
// together by something other than the build and a signing tool.
std::optional<std::uint64_t> StampEnd(std::uint64_t size, const pe::Layout& layout) {
  std::uint64_t end = size;
  if (pe::IsSigned(layout)) {
    end = layout.CertificatesOffset;
    if (layout.CertificatesSize == 0 || end + layout.CertificatesSize != size) return std::nullopt;
  }
  if (end % kAlignment != 0 || end < layout.HeadersEnd + kTrailerSize) return std::nullopt;
  return end;
}

// The headers are read from the first piece alone, by the stamp as by every check.
std::span<const std::uint8_t> FirstPiece(std::span<const std::uint8_t> file) {
  return file.first(std::min(file.size(), kPieceBytes));
}

std::size_t PieceCount(std::size_t length) { return length / kPieceBytes + (length % kPieceBytes != 0); }

bool HasMarker(std::span<const std::uint8_t> trailer) {
  return std::equal(kMarker.begin(), kMarker.end(), trailer.begin());
}

}  // namespace

bool PieceCheck::Start(std::span<const std::uint8_t> first, std::size_t fileSize, const char** problem) {
  const std::optional<pe::Layout> layout = pe::ParseHeaders(FirstPiece(first), problem);
  if (!layout) return false;
  const std::optional<std::uint64_t> end = StampEnd(fileSize, *layout);
  if (!end) {
    if (problem) *problem = "no stamp where one belongs";
    return false;
  }
  // Within the first piece, and the stamp within the file.
  checkSum_ = static_cast<std::size_t>(layout->CheckSum);
  securityEntry_ = static_cast<std::size_t>(layout->SecurityEntry);
  content_ = static_cast<std::size_t>(*end) - kTrailerSize;
  pieces_ = PieceCount(content_ + kTrailerSize);
  digests_.reset(new Sha256::Digest[PieceCount(content_)]());
  taken_.reset(new bool[pieces_]());
  return true;
}

void PieceCheck::Take(std::size_t index, std::span<const std::uint8_t> bytes, const std::atomic<bool>* stop) {
  if (index >= pieces_) return;
  const std::size_t begin = index * kPieceBytes;
  const std::size_t needed = std::min(kPieceBytes, content_ + kTrailerSize - begin);
  if (bytes.size() < needed) return;
  if (begin < content_) {
    std::span<const std::uint8_t> rest = bytes.first(std::min(needed, content_ - begin));
    Sha256 hash;
    if (index == 0) {
      // The two fields that signing rewrites are skipped (rather than hashed as zeros), so a
      // signed installer still matches the stamp the build gave it.
      hash.Update(rest.first(checkSum_));
      hash.Update(rest.subspan(checkSum_ + pe::kCheckSumSize, securityEntry_ - checkSum_ - pe::kCheckSumSize));
      rest = rest.subspan(securityEntry_ + pe::kDirectoryEntrySize);
    }
    for (std::size_t at = 0; at < rest.size(); at += kStopCheckBytes) {
      if (stop && *stop) return;
      hash.Update(rest.subspan(at, std::min(kStopCheckBytes, rest.size() - at)));
    }
    digests_[index] = hash.Finish();
  }
  // What the piece holds of the trailer.
  for (std::size_t at = std::max(begin, content_); at < begin + needed; ++at)
    trailer_[at - content_] = bytes[at - begin];
  taken_[index] = true;
}

Sha256::Digest PieceCheck::Combined() const {
  // Little-endian, as on every processor the installer and the build run on.
  static_assert(std::endian::native == std::endian::little);
  const struct { std::uint64_t Piece, Count, Content; } lengths = {kPieceBytes, PieceCount(content_), content_};
  static_assert(sizeof lengths == 24);
  Sha256 hash;
  hash.Update(kPiecesTag);
  hash.Update({reinterpret_cast<const std::uint8_t*>(&lengths), sizeof lengths});
  hash.Update({reinterpret_cast<const std::uint8_t*>(digests_.get()), PieceCount(content_) * sizeof(Sha256::Digest)});
  return hash.Finish();
}

Verdict PieceCheck::Finish(const char** problem) const {
  const auto distorted = [problem](const char* why) {
    if (problem) *problem = why;
    return Verdict::Distorted;
  };
  if (pieces_ == 0 || std::find(taken_.get(), taken_.get() + pieces_, false) != taken_.get() + pieces_)
    return distorted("a piece was not read");
  if (!HasMarker(trailer_)) return distorted("no stamp");
  const Sha256::Digest digest = Combined();
  return std::equal(digest.begin(), digest.end(), trailer_.begin() + kMarker.size())
             ? Verdict::Intact
             : distorted("its digest is not its stamp's");
}

Verdict Verify(std::span<const std::uint8_t> file) {
  PieceCheck check;
  if (!check.Start(file, file.size())) return Verdict::Distorted;
  for (std::size_t index = 0; index < check.Pieces(); ++index) check.Take(index, file.subspan(index * kPieceBytes));
  return check.Finish();
}

std::vector<std::uint8_t> Stamp(std::span<const std::uint8_t> image, std::string& error) {
  const std::optional<pe::Layout> layout = pe::ChangeableLayout(FirstPiece(image), "stamp", error);
  if (!layout) return {};
  if (image.size() % kAlignment != 0) {
    error = "size is not a multiple of 8 (an unstripped or post-processed image?)";
    return {};
  }
  if (image.size() >= layout->HeadersEnd + kTrailerSize && HasMarker(image.last(kTrailerSize))) {
    error = Verify(image) == Verdict::Intact ? "already stamped" : "carries a damaged stamp";
    return {};
  }

  // The trailer with its digest still zero, hashed the way every check will hash it.
  std::vector<std::uint8_t> stamped(image.begin(), image.end());
  stamped.insert(stamped.end(), kMarker.begin(), kMarker.end());
  stamped.resize(stamped.size() + kDigestSize);
  PieceCheck check;
  check.Start(stamped, stamped.size());
  for (std::size_t index = 0; index < check.Pieces(); ++index)
    check.Take(index, std::span<const std::uint8_t>(stamped).subspan(index * kPieceBytes));
  const Sha256::Digest digest = check.Combined();
  std::copy(digest.begin(), digest.end(), stamped.end() - kDigestSize);
  return stamped;
}

}  // namespace mv::stamp
