#include "integrity/stamp.h"

#include <algorithm>
#include <array>
#include <optional>

#include "integrity/pe_headers.h"
#include "integrity/sha256.h"

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
std::optional<std::uint64_t> ContentEnd(std::span<const std::uint8_t> file, const pe::Layout& layout) {
  const std::uint64_t size = file.size();
  std::uint64_t end = size;
  if (pe::IsSigned(layout)) {
    end = layout.CertificatesOffset;
    if (layout.CertificatesSize == 0 || end + layout.CertificatesSize != size) return std::nullopt;
  }
  if (end % kAlignment != 0 || end < layout.HeadersEnd + kTrailerSize) return std::nullopt;
  return end;
}

// The digest skips the two fields that signing rewrites (rather than hashing zeros in their
// place), so a signed installer still matches the stamp the build gave it.
Sha256::Digest ContentDigest(std::span<const std::uint8_t> content, const pe::Layout& layout) {
  Sha256 hash;
  hash.Update(content.first(layout.CheckSum));
  hash.Update(
      content.subspan(layout.CheckSum + pe::kCheckSumSize, layout.SecurityEntry - layout.CheckSum - pe::kCheckSumSize));
  hash.Update(content.subspan(layout.SecurityEntry + pe::kDirectoryEntrySize));
  return hash.Finish();
}

bool HasMarker(std::span<const std::uint8_t> trailer) {
  return std::equal(kMarker.begin(), kMarker.end(), trailer.begin());
}

Verdict VerifyParsed(std::span<const std::uint8_t> file, const pe::Layout& layout) {
  const std::optional<std::uint64_t> end = ContentEnd(file, layout);
  if (!end) return Verdict::Distorted;
  const auto content = file.first(*end - kTrailerSize);
  const auto trailer = file.subspan(*end - kTrailerSize, kTrailerSize);
  if (!HasMarker(trailer)) return Verdict::Distorted;
  const Sha256::Digest digest = ContentDigest(content, layout);
  return std::equal(digest.begin(), digest.end(), trailer.begin() + kMarker.size()) ? Verdict::Intact
                                                                                    : Verdict::Distorted;
}

}  // namespace

Verdict Verify(std::span<const std::uint8_t> file) {
  std::string ignored;
  const std::optional<pe::Layout> layout = pe::ParseHeaders(file, ignored);
  return layout ? VerifyParsed(file, *layout) : Verdict::Distorted;
}

std::vector<std::uint8_t> Stamp(std::span<const std::uint8_t> image, std::string& error) {
  const std::optional<pe::Layout> layout = pe::ChangeableLayout(image, "stamp", error);
  if (!layout) return {};
  if (image.size() % kAlignment != 0) {
    error = "size is not a multiple of 8 (an unstripped or post-processed image?)";
    return {};
  }
  if (image.size() >= layout->HeadersEnd + kTrailerSize && HasMarker(image.last(kTrailerSize))) {
    error = VerifyParsed(image, *layout) == Verdict::Intact ? "already stamped" : "carries a damaged stamp";
    return {};
  }

  std::vector<std::uint8_t> stamped(image.begin(), image.end());
  const Sha256::Digest digest = ContentDigest(image, *layout);
  stamped.insert(stamped.end(), kMarker.begin(), kMarker.end());
  stamped.insert(stamped.end(), digest.begin(), digest.end());
  return stamped;
}

}  // namespace mv::stamp
