#include "host/page_align.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "integrity/pe_headers.h"

namespace mv::host {

namespace {

constexpr std::uint64_t kPageSize = 4096;

}  // namespace

// Wine maps a section of an image from the file only when its raw data starts on a page
// boundary; any other section it reads into fresh memory, which then counts as the process's
// private memory. With the linker's 512-byte file alignment the payload (megabytes of resource
// data) would cost that much private memory on every run under Wine, and the time of reading it
// in before the first instruction. Windows maps images either way. Aligning every section
// instead (a file alignment of 4 KiB) would waste up to 4 KiB after each of them.
std::vector<std::uint8_t> PageAlignResources(std::span<const std::uint8_t> image, std::string& error) {
  const std::optional<pe::Layout> layout = pe::ChangeableLayout(image, "align", error);
  if (!layout) return {};
  const std::uint64_t size = image.size();
  const std::uint64_t sections = layout->HeadersEnd;
  const std::uint64_t count = pe::Read16(image, layout->Coff + pe::kSectionCountField);
  if (sections + count * pe::kSectionHeaderSize > size) {
    error = "section table cut short";
    return {};
  }
  const auto unchanged = [image] { return std::vector<std::uint8_t>(image.begin(), image.end()); };
  const std::uint64_t resources =
      pe::Read32(image, layout->Directory + pe::kResourceEntryIndex * pe::kDirectoryEntrySize);
  if (resources == 0) return unchanged();

  struct Section {
    std::uint64_t Header, Address, Extent, Raw, RawSize;
  };
  std::vector<Section> table;
  const Section* resource = nullptr;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t header = sections + i * pe::kSectionHeaderSize;
    const std::uint64_t rawSize = pe::Read32(image, header + 16);
    const std::uint64_t virtualSize = pe::Read32(image, header + 8);
    const Section s{header, pe::Read32(image, header + 12), std::max(virtualSize, rawSize),
                    pe::Read32(image, header + 20), rawSize};
    if (s.RawSize > 0 && s.Raw + s.RawSize > size) {
      error = "a section's raw data lies beyond the end of the file";
      return {};
    }
    table.push_back(s);
  }
  for (const Section& s : table) {
    if (s.Address <= resources && resources < s.Address + s.Extent) resource = &s;
  }
  if (resource == nullptr || resource->RawSize == 0) {
    error = "the resource directory lies in no section with raw data";
    return {};
  }
  const std::uint64_t start = resource->Raw;
  if (start % kPageSize == 0) return unchanged();
  const std::uint64_t padding = kPageSize - start % kPageSize;
  if (size + padding > std::numeric_limits<std::uint32_t>::max()) {
    error = "too large to align";
    return {};
  }
  // Debug entries hold file offsets of their own; the build strips them, so rather than
  // rewriting them, refuse an image that has them.
  if (layout->DirectoryEntries > pe::kDebugEntryIndex &&
      pe::Read32(image, layout->Directory + pe::kDebugEntryIndex * pe::kDirectoryEntrySize) != 0) {
    error = "has a debug directory; strip it first";
    return {};
  }
  for (const Section& s : table) {
    if (s.RawSize > 0 && s.Raw < start && s.Raw + s.RawSize > start) {
      error = "a section's raw data overlaps the resource data";
      return {};
    }
  }

  std::vector<std::uint8_t> aligned(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(start));
  aligned.resize(start + padding, 0);
  aligned.insert(aligned.end(), image.begin() + static_cast<std::ptrdiff_t>(start), image.end());
  // Every offset moved stays within 32 bits: the whole image does.
  const auto moved = [padding](std::uint64_t offset) { return static_cast<std::uint32_t>(offset + padding); };
  for (const Section& s : table) {
    if (s.RawSize > 0 && s.Raw >= start) pe::Write32(aligned, s.Header + 20, moved(s.Raw));
  }
  const std::uint64_t symbols = pe::Read32(image, layout->Coff + pe::kSymbolTableField);
  if (symbols >= start) pe::Write32(aligned, layout->Coff + pe::kSymbolTableField, moved(symbols));
  return aligned;
}

}  // namespace mv::host
