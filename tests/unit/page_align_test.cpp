// Page alignment of the payload, the host tool's step before stamping.
#include "host/page_align.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "integrity/stamp.h"
#include "support/synthetic_pe.h"

namespace mv::host {
namespace {

using stamp::Verdict;
using stamp::Verify;
using testing::Bytes;
using testing::Get32;
using testing::kBothKinds;
using testing::Put16;
using testing::Put32;
using testing::StampOrFail;
using Synthetic = testing::SyntheticPe;

struct SectionSpec {
  std::uint32_t Address, Raw, RawSize;
};

// A linked image as the build makes one: a section table, each section's raw data at its file
// offset with a filler of its own, the resource directory at the start of section `resources`
// (none when it is -1), and no debug directory or symbol table.
Bytes Sectioned(const Synthetic& kind, const std::vector<SectionSpec>& sections, int resources) {
  std::size_t size = 0x400;
  for (const SectionSpec& s : sections) size = std::max<std::size_t>(size, s.Raw + s.RawSize);
  Bytes b = kind.Image(size);
  const std::size_t table = Synthetic::kOptional + kind.OptionalSize();
  Put16(b, Synthetic::kPe + 4 + 2, static_cast<std::uint32_t>(sections.size()));
  Put32(b, Synthetic::kPe + 4 + 8, 0);
  Put32(b, kind.Directory() + 2 * 8, resources < 0 ? 0 : sections[resources].Address);
  Put32(b, kind.Directory() + 6 * 8, 0);
  Put32(b, kind.Directory() + 6 * 8 + 4, 0);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const std::size_t header = table + 40 * i;
    Put32(b, header + 8, sections[i].RawSize);
    Put32(b, header + 12, sections[i].Address);
    Put32(b, header + 16, sections[i].RawSize);
    Put32(b, header + 20, sections[i].Raw);
    for (std::size_t j = 0; j < sections[i].RawSize; ++j) {
      b[sections[i].Raw + j] = static_cast<std::uint8_t>(j * 7 + i * 51 + 1);
    }
  }
  return b;
}

// Wine maps the payload from the file only when it starts on a page; every section must keep
// its bytes and find them at the offset its header now names, and the result must stamp.
TEST(PageAlign, ResourceDataMovesToAPageBoundaryAndTheImageStaysWhole) {
  struct Case {
    const char* what;
    std::vector<SectionSpec> sections;
    int resources;
    std::vector<std::uint32_t> expectedRaw;  // each section's file offset afterwards
  };
  const std::vector<Case> cases = {
      {"resources after code, relocations after them",
       {{0x1000, 0x400, 0x200}, {0x2000, 0x600, 0x2400}, {0x5000, 0x2A00, 0x200}},
       1,
       {0x400, 0x1000, 0x3400}},
      {"uninitialised data without raw bytes before the resources",
       {{0x1000, 0x400, 0x200}, {0x2000, 0, 0}, {0x3000, 0x600, 0x200}},
       2,
       {0x400, 0, 0x1000}},
      {"already on a page", {{0x1000, 0x400, 0xC00}, {0x2000, 0x1000, 0x200}}, 1, {0x400, 0x1000}},
      {"no resources", {{0x1000, 0x400, 0x200}}, -1, {0x400}},
  };
  for (const Synthetic& kind : kBothKinds) {
    const std::size_t table = Synthetic::kOptional + kind.OptionalSize();
    for (const Case& c : cases) {
      const Bytes image = Sectioned(kind, c.sections, c.resources);
      std::string error;
      const Bytes aligned = PageAlignResources(image, error);
      ASSERT_FALSE(aligned.empty()) << kind.Name() << ": " << c.what << ": " << error;
      std::size_t movedBy = 0;
      for (std::size_t i = 0; i < c.sections.size(); ++i) {
        const SectionSpec& s = c.sections[i];
        const std::uint32_t raw = Get32(aligned, table + 40 * i + 20);
        EXPECT_EQ(raw, c.expectedRaw[i]) << kind.Name() << ": " << c.what << ", section " << i;
        ASSERT_LE(raw + s.RawSize, aligned.size());
        EXPECT_TRUE(std::equal(image.begin() + s.Raw, image.begin() + s.Raw + s.RawSize, aligned.begin() + raw))
            << kind.Name() << ": " << c.what << ", section " << i << " lost its bytes";
        if (static_cast<int>(i) == c.resources) movedBy = raw - s.Raw;
      }
      EXPECT_EQ(aligned.size(), image.size() + movedBy) << c.what;
      if (c.resources >= 0) {
        const std::uint32_t start = c.sections[c.resources].Raw;
        EXPECT_TRUE(std::all_of(aligned.begin() + start, aligned.begin() + start + movedBy,
                                [](std::uint8_t byte) { return byte == 0; }));
      }
      EXPECT_EQ(Verify(StampOrFail(aligned)), Verdict::Intact) << kind.Name() << ": " << c.what;
    }
  }
}

TEST(PageAlign, RefusesWhatItCannotMoveSafely) {
  struct Case {
    const char* what;
    std::function<Bytes(const Synthetic&)> make;
  };
  const std::vector<SectionSpec> usual = {{0x1000, 0x400, 0x200}, {0x2000, 0x600, 0x400}};
  const std::vector<Case> cases = {
      {"a debug directory, whose entries hold file offsets",
       [&](const Synthetic& k) {
         Bytes b = Sectioned(k, usual, 1);
         Put32(b, k.Directory() + 6 * 8, 0x2010);
         return b;
       }},
      {"a section straddling the resources' start",
       [](const Synthetic& k) {
         return Sectioned(k, {{0x1000, 0x400, 0x400}, {0x2000, 0x600, 0x400}}, 1);
       }},
      {"resources in no section",
       [&](const Synthetic& k) {
         Bytes b = Sectioned(k, usual, 1);
         Put32(b, k.Directory() + 2 * 8, 0x9000);
         return b;
       }},
      {"raw data past the end of the file",
       [&](const Synthetic& k) {
         Bytes b = Sectioned(k, usual, 1);
         b.resize(0x800);
         return b;
       }},
  };
  for (const Synthetic& kind : kBothKinds) {
    for (const Case& c : cases) {
      std::string error;
      EXPECT_TRUE(PageAlignResources(c.make(kind), error).empty()) << kind.Name() << ": " << c.what;
      EXPECT_FALSE(error.empty()) << kind.Name() << ": " << c.what;
    }
  }
}

}  // namespace
}  // namespace mv::host
