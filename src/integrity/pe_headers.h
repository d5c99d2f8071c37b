#pragma once
// The few fields of a PE file's headers that stamping, verifying and page-aligning an installer
// read, found without trusting any of them: every offset is computed in 64 bits, so a forged
// value near 4 GiB cannot wrap around to a small, plausible offset in a 32-bit process.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace mv::pe {

inline constexpr std::uint64_t kCheckSumSize = 4;
inline constexpr std::uint64_t kDirectoryEntrySize = 8;
inline constexpr std::uint64_t kResourceEntryIndex = 2;
inline constexpr std::uint64_t kDebugEntryIndex = 6;
inline constexpr std::uint64_t kSectionCountField = 2;  // within the COFF header
inline constexpr std::uint64_t kSymbolTableField = 8;   // within the COFF header
inline constexpr std::uint64_t kSectionHeaderSize = 40;

struct Layout {
  std::uint64_t Coff = 0;              // file offset of the COFF header
  std::uint64_t CheckSum = 0;          // file offset of the optional header's CheckSum
  std::uint64_t Directory = 0;         // file offset of the data directory
  std::uint64_t DirectoryEntries = 0;  // at least five: the certificate table's entry is there
  std::uint64_t SecurityEntry = 0;     // file offset of the certificate-table directory entry
  std::uint64_t HeadersEnd = 0;        // end of the optional header, start of the section table
  std::uint32_t CertificatesOffset = 0;
  std::uint32_t CertificatesSize = 0;
};

// Little-endian fields; the caller has checked that they lie within the file.
std::uint32_t Read16(std::span<const std::uint8_t> file, std::uint64_t at);
std::uint32_t Read32(std::span<const std::uint8_t> file, std::uint64_t at);
// The same fields written, as the build steps that change an image write them.
void Write16(std::span<std::uint8_t> file, std::uint64_t at, std::uint32_t value);
void Write32(std::span<std::uint8_t> file, std::uint64_t at, std::uint32_t value);

// The layout of a PE32 or PE32+ file; none, with the reason in `*problem` if asked for, when the
// headers are cut short or are not a PE file's. The installer does not ask: it reports no reason.
std::optional<Layout> ParseHeaders(std::span<const std::uint8_t> file, const char** problem = nullptr);

// Whether a certificate table is named: the file has been signed.
bool IsSigned(const Layout& layout);

// The layout of an image that may still be changed: a PE image not yet signed, since a change
// after signing would break the signature. None otherwise, with the reason in `error`, which
// names `step` ("stamp", "align").
std::optional<Layout> ChangeableLayout(std::span<const std::uint8_t> image, const char* step, std::string& error);

}  // namespace mv::pe
