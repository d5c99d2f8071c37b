#include "integrity/stamp.h"

#include <algorithm>
#include <array>
#include <optional>

namespace mv::stamp {
namespace {

// Fixed and never found in a linker's output, so a stamp is recognised without any doubt.
constexpr std::array<std::uint8_t, 16> kMarker = {'m', 'v', 's', 'e', 't', 'u',  'p',  0x00,
                                                  's', 't', 'a', 'm', 'p', 0x01, 0xA5, 0x5A};
constexpr std::size_t kDigestSize = kTrailerSize - kMarker.size();
static_assert(kDigestSize == Sha256::Digest{}.size());

// Authenticode pads the image to 8 bytes before its certificate table, and that padding would
// land between the trailer and the table, where nothing accounts for it. Images from the linker
// are whole file-alignment units (512 bytes), so the trailer keeps them 8-aligned.
constexpr std::uint64_t kAlignment = 8;
static_assert(kTrailerSize % kAlignment == 0);

// Where the stamped content ends: at the certificate table of a signed file, else at the end.
// A certificate table that is not exactly the 8-aligned tail of the file means the file was
// put together by something other than the build and a signing tool.
std::optional<std::uint64_t> ContentEnd(std::uint64_t size, const pe::Layout& layout) {
  std::uint64_t end = size;
  if (pe::IsSigned(layout)) {
    end = layout.CertificatesOffset;
    if (layout.CertificatesSize == 0 || end + layout.CertificatesSize != size) return std::nullopt;
  }
  if (end % kAlignment != 0 || end < layout.HeadersEnd + kTrailerSize) return std::nullopt;
  return end;
}

// The digest skips the two fields that signing rewrites (rather than hashing zeros in their
// place), so a signed installer still matches the stamp the build gave it. `content` starts at
// the start of the file and holds the headers whole.
void HashContentStart(Sha256& hash, const pe::Layout& layout, std::span<const std::uint8_t> content) {
  hash.Update(content.first(layout.CheckSum));
  hash.Update(
      content.subspan(layout.CheckSum + pe::kCheckSumSize, layout.SecurityEntry - layout.CheckSum - pe::kCheckSumSize));
  hash.Update(content.subspan(layout.SecurityEntry + pe::kDirectoryEntrySize));
}

bool HasMarker(std::span<const std::uint8_t> trailer) {
  return std::equal(kMarker.begin(), kMarker.end(), trailer.begin());
}

}  // namespace

bool PieceVerifier::Start(std::span<const std::uint8_t> first, std::size_t fileSize) {
  std::string ignored;
  const std::optional<pe::Layout> layout = pe::ParseHeaders(first, ignored);
  if (!layout) return false;
  const std::optional<std::uint64_t> end = ContentEnd(fileSize, *layout);
  if (!end) return false;
  end_ = static_cast<std::size_t>(*end);  // within the file
  Take(first, &*layout);
  return true;
}

void PieceVerifier::Add(std::span<const std::uint8_t> piece) {
  if (end_ != 0) Take(piece, nullptr);  // not started: nothing says where the trailer is
}

void PieceVerifier::Take(std::span<const std::uint8_t> piece, const pe::Layout* headers) {
  const std::size_t content = end_ - kTrailerSize;
  const std::size_t hashed = at_ < content ? std::min(piece.size(), content - at_) : 0;
  if (headers) {
    HashContentStart(hash_, *headers, piece.first(hashed));
  } else {
    hash_.Update(piece.first(hashed));
  }
  at_ += hashed;
  const std::size_t kept = std::min(piece.size() - hashed, end_ - at_);
  std::copy_n(piece.begin() + hashed, kept, trailer_.begin() + (at_ - content));
  at_ += kept;
}

Verdict PieceVerifier::Finish() {
  if (end_ == 0 || at_ != end_ || !HasMarker(trailer_)) return Verdict::Distorted;
  const Sha256::Digest digest = hash_.Finish();
  return std::equal(digest.begin(), digest.end(), trailer_.begin() + kMarker.size()) ? Verdict::Intact
                                                                                     : Verdict::Distorted;
}

Verdict Verify(std::span<const std::uint8_t> file) {
  PieceVerifier check;
  check.Start(file, file.size());
  return check.Finish();
}

std::vector<std::uint8_t> Stamp(std::span<const std::uint8_t> image, std::string& error) {
  const std::optional<pe::Layout> layout = pe::ChangeableLayout(image, "stamp", error);
  if (!layout) return {};
  if (image.size() % kAlignment != 0) {
    error = "size is not a multiple of 8 (an unstripped or post-processed image?)";
    return {};
  }
  if (image.size() >= layout->HeadersEnd + kTrailerSize && HasMarker(image.last(kTrailerSize))) {
    error = Verify(image) == Verdict::Intact ? "already stamped" : "carries a damaged stamp";
    return {};
  }

  std::vector<std::uint8_t> stamped(image.begin(), image.end());
  Sha256 hash;
  HashContentStart(hash, *layout, image);
  const Sha256::Digest digest = hash.Finish();
  stamped.insert(stamped.end(), kMarker.begin(), kMarker.end());
  stamped.insert(stamped.end(), digest.begin(), digest.end());
  return stamped;
}

}  // namespace mv::stamp
