#include "integrity/stamp.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "integrity/sha256.h"

namespace mv::stamp {
namespace {

// Fixed and never found in a linker's output, so a stamp is recognised without any doubt.
constexpr std::array<std::uint8_t, 16> kMarker = {'m', 'v', 's', 'e', 't', 'u', 'p', 0x00,
                                                  's', 't', 'a', 'm', 'p', 0x01, 0xA5, 0x5A};
constexpr std::size_t kDigestSize = kTrailerSize - kMarker.size();
static_assert(kDigestSize == Sha256::Digest{}.size());

// Authenticode pads the image to 8 bytes before its certificate table, and that padding would
// land between the trailer and the table, where nothing accounts for it. Images from the linker
// are whole file-alignment units (512 bytes), so the trailer keeps them 8-aligned.
constexpr std::uint64_t kAlignment = 8;
static_assert(kTrailerSize % kAlignment == 0);

constexpr std::uint64_t kPeOffsetField = 0x3C;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kOptionalHeaderSizeField = 16;  // within the COFF header
constexpr std::uint64_t kCheckSumOffset = 64;           // within the optional header, both kinds
constexpr std::uint64_t kCheckSumSize = 4;
constexpr std::uint64_t kDirectoryEntrySize = 8;
constexpr std::uint64_t kSecurityEntryIndex = 4;
constexpr std::uint64_t kResourceEntryIndex = 2;
constexpr std::uint64_t kDebugEntryIndex = 6;
constexpr std::uint64_t kSectionCountField = 2;     // within the COFF header
constexpr std::uint64_t kSymbolTableField = 8;      // within the COFF header
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kPageSize = 4096;

struct PeLayout {
  std::uint64_t coff = 0;            // file offset of the COFF header
  std::uint64_t checksum = 0;        // file offset of the optional header's CheckSum
  std::uint64_t directory = 0;       // file offset of the data directory
  std::uint64_t directory_entries = 0;
  std::uint64_t security_entry = 0;  // file offset of the certificate-table directory entry
  std::uint64_t headers_end = 0;     // end of the optional header, start of the section table
  std::uint32_t certificates_offset = 0;
  std::uint32_t certificates_size = 0;
};

// All offsets are computed in 64 bits: the shipped installer is a 32-bit program, and a forged
// e_lfanew near 4 GiB must not wrap around to a small, plausible offset.
std::uint32_t Read16(std::span<const std::uint8_t> file, std::uint64_t at) {
  return file[at] | (std::uint32_t{file[at + 1]} << 8);
}
std::uint32_t Read32(std::span<const std::uint8_t> file, std::uint64_t at) {
  return Read16(file, at) | (Read16(file, at + 2) << 16);
}

std::optional<PeLayout> ParseHeaders(std::span<const std::uint8_t> file, std::string& problem) {
  const std::uint64_t size = file.size();
  if (size < kPeOffsetField + 4 || file[0] != 'M' || file[1] != 'Z') {
    problem = "no MZ header";
    return std::nullopt;
  }
  const std::uint64_t pe = Read32(file, kPeOffsetField);
  const std::uint64_t coff = pe + 4;
  const std::uint64_t optional = coff + kCoffHeaderSize;
  if (optional + 2 > size || file[pe] != 'P' || file[pe + 1] != 'E' || file[pe + 2] != 0 ||
      file[pe + 3] != 0) {
    problem = "no PE signature";
    return std::nullopt;
  }
  const std::uint64_t optional_size = Read16(file, coff + kOptionalHeaderSizeField);
  const std::uint32_t magic = Read16(file, optional);
  std::uint64_t count_field = 0;
  std::uint64_t directory = 0;
  if (magic == 0x10b) {
    count_field = 92;
    directory = 96;
  } else if (magic == 0x20b) {
    count_field = 108;
    directory = 112;
  } else {
    problem = "unknown optional header magic";
    return std::nullopt;
  }
  PeLayout layout;
  layout.headers_end = optional + optional_size;
  if (layout.headers_end > size || optional_size < directory) {
    problem = "optional header cut short";
    return std::nullopt;
  }
  const std::uint64_t entries = Read32(file, optional + count_field);
  if (entries <= kSecurityEntryIndex || directory + entries * kDirectoryEntrySize > optional_size) {
    problem = "data directory has no certificate-table entry";
    return std::nullopt;
  }
  layout.coff = coff;
  layout.checksum = optional + kCheckSumOffset;
  layout.directory = optional + directory;
  layout.directory_entries = entries;
  layout.security_entry = layout.directory + kSecurityEntryIndex * kDirectoryEntrySize;
  layout.certificates_offset = Read32(file, layout.security_entry);
  layout.certificates_size = Read32(file, layout.security_entry + 4);
  return layout;
}

bool Signed(const PeLayout& layout) {
  return layout.certificates_offset != 0 || layout.certificates_size != 0;
}

// Where the stamped content ends: at the certificate table of a signed file, else at the end.
// A certificate table that is not exactly the 8-aligned tail of the file means the file was
// put together by something other than the build and a signing tool.
std::optional<std::uint64_t> ContentEnd(std::span<const std::uint8_t> file, const PeLayout& layout) {
  const std::uint64_t size = file.size();
  std::uint64_t end = size;
  if (Signed(layout)) {
    end = layout.certificates_offset;
    if (layout.certificates_size == 0 || end + layout.certificates_size != size) return std::nullopt;
  }
  if (end % kAlignment != 0 || end < layout.headers_end + kTrailerSize) return std::nullopt;
  return end;
}

// The digest skips the two fields that signing rewrites (rather than hashing zeros in their
// place), so a signed installer still matches the stamp the build gave it.
Sha256::Digest ContentDigest(std::span<const std::uint8_t> content, const PeLayout& layout) {
  Sha256 hash;
  hash.Update(content.first(layout.checksum));
  hash.Update(content.subspan(layout.checksum + kCheckSumSize,
                              layout.security_entry - layout.checksum - kCheckSumSize));
  hash.Update(content.subspan(layout.security_entry + kDirectoryEntrySize));
  return hash.Finish();
}

// The layout of an image that may still be changed: a PE image not yet signed, since a change
// after signing would break the signature. None otherwise, with the reason in error.
std::optional<PeLayout> UnsignedLayout(std::span<const std::uint8_t> image, const char* step, std::string& error) {
  std::string problem;
  std::optional<PeLayout> layout = ParseHeaders(image, problem);
  if (!layout) {
    error = "not a PE image: " + problem;
    return std::nullopt;
  }
  if (Signed(*layout)) {
    error = std::string("already signed; ") + step + " before signing";
    return std::nullopt;
  }
  return layout;
}

bool HasMarker(std::span<const std::uint8_t> trailer) {
  return std::equal(kMarker.begin(), kMarker.end(), trailer.begin());
}

Verdict VerifyParsed(std::span<const std::uint8_t> file, const PeLayout& layout) {
  const std::optional<std::uint64_t> end = ContentEnd(file, layout);
  if (!end) return Verdict::Distorted;
  const auto content = file.first(*end - kTrailerSize);
  const auto trailer = file.subspan(*end - kTrailerSize, kTrailerSize);
  if (!HasMarker(trailer)) return Verdict::Distorted;
  const Sha256::Digest digest = ContentDigest(content, layout);
  return std::equal(digest.begin(), digest.end(), trailer.begin() + kMarker.size())
             ? Verdict::Intact
             : Verdict::Distorted;
}

}  // namespace

Verdict Verify(std::span<const std::uint8_t> file) {
  std::string ignored;
  const std::optional<PeLayout> layout = ParseHeaders(file, ignored);
  return layout ? VerifyParsed(file, *layout) : Verdict::Distorted;
}

// Wine maps a section of an image from the file only when its raw data starts on a page
// boundary; any other section it reads into fresh memory, which then counts as the process's
// private memory. With the linker's 512-byte file alignment the payload (megabytes of resource
// data) would cost that much private memory on every run under Wine, and the time of reading it
// in before the first instruction. Windows maps images either way. Aligning every section
// instead (a file alignment of 4 KiB) would waste up to 4 KiB after each of them.
std::vector<std::uint8_t> PageAlignResources(std::span<const std::uint8_t> image, std::string& error) {
  const std::optional<PeLayout> layout = UnsignedLayout(image, "align", error);
  if (!layout) return {};
  const std::uint64_t size = image.size();
  const std::uint64_t sections = layout->headers_end;
  const std::uint64_t count = Read16(image, layout->coff + kSectionCountField);
  if (sections + count * kSectionHeaderSize > size) {
    error = "section table cut short";
    return {};
  }
  const auto unchanged = [image] { return std::vector<std::uint8_t>(image.begin(), image.end()); };
  const std::uint64_t resources =
      Read32(image, layout->directory + kResourceEntryIndex * kDirectoryEntrySize);
  if (resources == 0) return unchanged();

  struct Section {
    std::uint64_t header, address, extent, raw, raw_size;
  };
  std::vector<Section> table;
  const Section* resource = nullptr;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t header = sections + i * kSectionHeaderSize;
    const std::uint64_t raw_size = Read32(image, header + 16);
    const std::uint64_t virtual_size = Read32(image, header + 8);
    const Section s{header, Read32(image, header + 12), std::max(virtual_size, raw_size),
                    Read32(image, header + 20), raw_size};
    if (s.raw_size > 0 && s.raw + s.raw_size > size) {
      error = "a section's raw data lies beyond the end of the file";
      return {};
    }
    table.push_back(s);
  }
  for (const Section& s : table) {
    if (s.address <= resources && resources < s.address + s.extent) resource = &s;
  }
  if (resource == nullptr || resource->raw_size == 0) {
    error = "the resource directory lies in no section with raw data";
    return {};
  }
  const std::uint64_t start = resource->raw;
  if (start % kPageSize == 0) return unchanged();
  const std::uint64_t padding = kPageSize - start % kPageSize;
  if (size + padding > std::numeric_limits<std::uint32_t>::max()) {
    error = "too large to align";
    return {};
  }
  // Debug entries hold file offsets of their own; the build strips them, so rather than
  // rewriting them, refuse an image that has them.
  if (layout->directory_entries > kDebugEntryIndex &&
      Read32(image, layout->directory + kDebugEntryIndex * kDirectoryEntrySize) != 0) {
    error = "has a debug directory; strip it first";
    return {};
  }
  for (const Section& s : table) {
    if (s.raw_size > 0 && s.raw < start && s.raw + s.raw_size > start) {
      error = "a section's raw data overlaps the resource data";
      return {};
    }
  }

  std::vector<std::uint8_t> aligned(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(start));
  aligned.resize(start + padding, 0);
  aligned.insert(aligned.end(), image.begin() + static_cast<std::ptrdiff_t>(start), image.end());
  const auto put32 = [&aligned](std::uint64_t at, std::uint64_t value) {
    for (int i = 0; i < 4; ++i) aligned[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  for (const Section& s : table) {
    if (s.raw_size > 0 && s.raw >= start) put32(s.header + 20, s.raw + padding);
  }
  const std::uint64_t symbols = Read32(image, layout->coff + kSymbolTableField);
  if (symbols >= start) put32(layout->coff + kSymbolTableField, symbols + padding);
  return aligned;
}

std::vector<std::uint8_t> Stamp(std::span<const std::uint8_t> image, std::string& error) {
  const std::optional<PeLayout> layout = UnsignedLayout(image, "stamp", error);
  if (!layout) return {};
  if (image.size() % kAlignment != 0) {
    error = "size is not a multiple of 8 (an unstripped or post-processed image?)";
    return {};
  }
  if (image.size() >= layout->headers_end + kTrailerSize &&
      HasMarker(image.last(kTrailerSize))) {
    error = VerifyParsed(image, *layout) == Verdict::Intact ? "already stamped"
                                                            : "carries a damaged stamp";
    return {};
  }

  std::vector<std::uint8_t> stamped(image.begin(), image.end());
  const Sha256::Digest digest = ContentDigest(image, *layout);
  stamped.insert(stamped.end(), kMarker.begin(), kMarker.end());
  stamped.insert(stamped.end(), digest.begin(), digest.end());
  return stamped;
}

}  // namespace mv::stamp
