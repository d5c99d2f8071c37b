#include "integrity/pe_headers.h"

namespace mv::pe {

namespace {

constexpr std::uint64_t kPeOffsetField = 0x3C;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kOptionalHeaderSizeField = 16;  // within the COFF header
constexpr std::uint64_t kCheckSumOffset = 64;           // within the optional header, both kinds
constexpr std::uint64_t kSecurityEntryIndex = 4;

}  // namespace

std::uint32_t Read16(std::span<const std::uint8_t> file, std::uint64_t at) {
  return file[at] | (std::uint32_t{file[at + 1]} << 8);
}

std::uint32_t Read32(std::span<const std::uint8_t> file, std::uint64_t at) {
  return Read16(file, at) | (Read16(file, at + 2) << 16);
}

void Write16(std::span<std::uint8_t> file, std::uint64_t at, std::uint32_t value) {
  file[at] = static_cast<std::uint8_t>(value);
  file[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Write32(std::span<std::uint8_t> file, std::uint64_t at, std::uint32_t value) {
  Write16(file, at, value);
  Write16(file, at + 2, value >> 16);
}

std::optional<Layout> ParseHeaders(std::span<const std::uint8_t> file, const char** problem) {
  const auto fail = [problem](const char* why) -> std::optional<Layout> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  const std::uint64_t size = file.size();
  if (size < kPeOffsetField + 4 || file[0] != 'M' || file[1] != 'Z') {
    return fail("no MZ header");
  }
  const std::uint64_t pe = Read32(file, kPeOffsetField);
  const std::uint64_t coff = pe + 4;
  const std::uint64_t optional = coff + kCoffHeaderSize;
  if (optional + 2 > size || file[pe] != 'P' || file[pe + 1] != 'E' || file[pe + 2] != 0 || file[pe + 3] != 0) {
    return fail("no PE signature");
  }
  const std::uint64_t optionalSize = Read16(file, coff + kOptionalHeaderSizeField);
  const std::uint32_t magic = Read16(file, optional);
  std::uint64_t countField = 0;
  std::uint64_t directory = 0;
  if (magic == 0x10b) {
    countField = 92;
    directory = 96;
  } else if (magic == 0x20b) {
    countField = 108;
    directory = 112;
  } else {
    return fail("unknown optional header magic");
  }
  Layout layout;
  layout.HeadersEnd = optional + optionalSize;
  if (layout.HeadersEnd > size || optionalSize < directory) {
    return fail("optional header cut short");
  }
  const std::uint64_t entries = Read32(file, optional + countField);
  if (entries <= kSecurityEntryIndex || directory + entries * kDirectoryEntrySize > optionalSize) {
    return fail("data directory has no certificate-table entry");
  }
  layout.Coff = coff;
  layout.CheckSum = optional + kCheckSumOffset;
  layout.Directory = optional + directory;
  layout.DirectoryEntries = entries;
  layout.SecurityEntry = layout.Directory + kSecurityEntryIndex * kDirectoryEntrySize;
  layout.CertificatesOffset = Read32(file, layout.SecurityEntry);
  layout.CertificatesSize = Read32(file, layout.SecurityEntry + 4);
  return layout;
}

bool IsSigned(const Layout& layout) { return layout.CertificatesOffset != 0 || layout.CertificatesSize != 0; }

std::optional<Layout> ChangeableLayout(std::span<const std::uint8_t> image, const char* step, std::string& error) {
  const char* problem = nullptr;
  std::optional<Layout> layout = ParseHeaders(image, &problem);
  if (!layout) {
    error = std::string("not a PE image: ") + problem;
    return std::nullopt;
  }
  if (IsSigned(*layout)) {
    error = std::string("already signed; ") + step + " before signing";
    return std::nullopt;
  }
  return layout;
}

}  // namespace mv::pe
