#include "integrity/stamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "integrity/sha256.h"

namespace mv::stamp {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A small image with just the headers the stamp reads; every other byte is a non-repeating
// filler, so a change anywhere is a change the digest has to notice.
struct Synthetic {
  bool plus;  // PE32+ (x64) rather than PE32
  static constexpr std::size_t kPe = 0x80;
  static constexpr std::size_t kOptional = kPe + 4 + 20;
  static constexpr std::size_t kCheckSum = kOptional + 64;
  std::size_t Directory() const { return kOptional + (plus ? 112 : 96); }
  std::size_t SecurityEntry() const { return Directory() + 4 * 8; }
  std::size_t OptionalSize() const { return (plus ? 112 : 96) + 16 * 8; }

  Bytes Image(std::size_t size = 512) const {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 167 + 13);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, kPe);
    Put32(b, kPe, 0x00004550);  // "PE\0\0"
    Put16(b, kPe + 4, plus ? 0x8664 : 0x14c);
    Put16(b, kPe + 4 + 16, static_cast<std::uint32_t>(OptionalSize()));
    Put16(b, kOptional, plus ? 0x20b : 0x10b);
    Put32(b, kOptional + (plus ? 108 : 92), 16);
    Put32(b, SecurityEntry(), 0);
    Put32(b, SecurityEntry() + 4, 0);
    return b;
  }

  // What a signing tool does to a stamped file: certificate table appended at the 8-aligned
  // end, its place and size written into the directory, and a new CheckSum.
  Bytes Signed(Bytes b, std::size_t table_size, std::uint32_t checksum = 0x00C0FFEE) const {
    const auto at = static_cast<std::uint32_t>(b.size());
    for (std::size_t i = 0; i < table_size; ++i) b.push_back(static_cast<std::uint8_t>(i * 29 + 3));
    Put32(b, SecurityEntry(), at);
    Put32(b, SecurityEntry() + 4, static_cast<std::uint32_t>(table_size));
    Put32(b, kCheckSum, checksum);
    return b;
  }

  static void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  static void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
  }
  bool InCheckSum(std::size_t i) const { return i >= kCheckSum && i < kCheckSum + 4; }
  bool InSecurityEntry(std::size_t i) const { return i >= SecurityEntry() && i < SecurityEntry() + 8; }
};

const Synthetic kKinds[] = {{false}, {true}};

const char* Name(const Synthetic& kind) { return kind.plus ? "PE32+" : "PE32"; }

Bytes StampOrFail(const Bytes& image) {
  std::string error;
  Bytes stamped = Stamp(image, error);
  EXPECT_FALSE(stamped.empty()) << error;
  return stamped;
}

TEST(StampLayout, StampAppendsTrailerAndVerifiesIntact) {
  for (const Synthetic& kind : kKinds) {
    for (std::size_t size : {std::size_t{512}, std::size_t{4096}}) {
      const Bytes image = kind.Image(size);
      const Bytes stamped = StampOrFail(image);
      ASSERT_EQ(stamped.size(), size + kTrailerSize) << Name(kind);
      EXPECT_TRUE(std::equal(image.begin(), image.end(), stamped.begin())) << "image bytes kept";
      EXPECT_EQ(stamped.size() % 8, 0u);
      EXPECT_EQ(Verify(stamped), Verdict::Intact) << Name(kind) << " " << size;
      EXPECT_EQ(Verify(image), Verdict::Distorted) << "an unstamped image is not intact";
    }
  }
}

// The builder and support tools rely on the exact trailer: the digest of the content with the
// two signing fields left out (not zeroed), after a fixed marker.
TEST(StampLayout, DigestLeavesOutTheSigningFieldsEntirely) {
  for (const Synthetic& kind : kKinds) {
    const Bytes image = kind.Image();
    const Bytes stamped = StampOrFail(image);
    Bytes hashed;
    for (std::size_t i = 0; i < image.size(); ++i) {
      if (!kind.InCheckSum(i) && !kind.InSecurityEntry(i)) hashed.push_back(image[i]);
    }
    const Sha256::Digest expected = Sha256::Of(hashed);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), stamped.end() - 32)) << Name(kind);

    const Bytes other = StampOrFail(kind.Image(1024));
    EXPECT_TRUE(std::equal(stamped.end() - kTrailerSize, stamped.end() - 32, other.end() - kTrailerSize))
        << "the marker is the same in every stamp";
  }
}

// Signing rewrites only the CheckSum; every other byte, the trailer included, is covered.
// The security entry is not hashed, but an unsigned file that claims a certificate table is
// inconsistent and so distorted too.
TEST(StampLayout, EveryChangedByteOfAnUnsignedFileIsDistortedExceptTheCheckSum) {
  for (const Synthetic& kind : kKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    for (std::size_t i = 0; i < stamped.size(); ++i) {
      for (std::uint8_t mask : {std::uint8_t{0x01}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
        Bytes changed = stamped;
        changed[i] ^= mask;
        const Verdict expected = kind.InCheckSum(i) ? Verdict::Intact : Verdict::Distorted;
        ASSERT_EQ(Verify(changed), expected) << Name(kind) << " byte " << i << " mask " << int{mask};
      }
    }
  }
}

TEST(StampLayout, SignedFileStaysIntactWhateverTheTableSizeAndCheckSum) {
  for (const Synthetic& kind : kKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    for (std::size_t table : {std::size_t{8}, std::size_t{1024}, std::size_t{9000}}) {
      for (std::uint32_t checksum : {0u, 0x12345678u, 0xFFFFFFFFu}) {
        EXPECT_EQ(Verify(kind.Signed(stamped, table, checksum)), Verdict::Intact)
            << Name(kind) << " table " << table << " checksum " << checksum;
      }
    }
  }
}

TEST(StampLayout, EveryChangedByteOfASignedFileIsDistortedExceptSigningData) {
  for (const Synthetic& kind : kKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    const Bytes signed_file = kind.Signed(stamped, 64);
    for (std::size_t i = 0; i < signed_file.size(); ++i) {
      Bytes changed = signed_file;
      changed[i] ^= 0x10;
      // The certificate table is the signature's business, checked by Windows, not by the stamp.
      const bool signing_data = kind.InCheckSum(i) || i >= stamped.size();
      ASSERT_EQ(Verify(changed), signing_data ? Verdict::Intact : Verdict::Distorted)
          << Name(kind) << " byte " << i;
    }
  }
}

// The certificate-table entry decides where the trailer is looked for; any entry that does
// not describe exactly the 8-aligned tail of the file is not what a signing tool writes.
TEST(StampLayout, InconsistentCertificateTableIsDistorted) {
  struct Case {
    const char* what;
    std::function<void(const Synthetic&, Bytes&, std::size_t stamped_size)> change;
  };
  const std::vector<Case> cases = {
      {"offset before the trailer end",
       [](const Synthetic& k, Bytes& b, std::size_t s) { Synthetic::Put32(b, k.SecurityEntry(), s - 8); }},
      {"offset after the trailer end",
       [](const Synthetic& k, Bytes& b, std::size_t s) { Synthetic::Put32(b, k.SecurityEntry(), s + 8); }},
      {"offset inside the trailer",
       [](const Synthetic& k, Bytes& b, std::size_t s) { Synthetic::Put32(b, k.SecurityEntry(), s - 24); }},
      {"offset zero", [](const Synthetic& k, Bytes& b, std::size_t) { Synthetic::Put32(b, k.SecurityEntry(), 0); }},
      {"size shorter than the table",
       [](const Synthetic& k, Bytes& b, std::size_t) { Synthetic::Put32(b, k.SecurityEntry() + 4, 56); }},
      {"size longer than the table",
       [](const Synthetic& k, Bytes& b, std::size_t) { Synthetic::Put32(b, k.SecurityEntry() + 4, 72); }},
      {"size zero with an offset",
       [](const Synthetic& k, Bytes& b, std::size_t) { Synthetic::Put32(b, k.SecurityEntry() + 4, 0); }},
      {"size near 4 GiB",
       [](const Synthetic& k, Bytes& b, std::size_t) { Synthetic::Put32(b, k.SecurityEntry() + 4, 0xFFFFFFF8); }},
      {"bytes after the table", [](const Synthetic&, Bytes& b, std::size_t) { b.resize(b.size() + 8); }},
      {"table cut short", [](const Synthetic&, Bytes& b, std::size_t) { b.resize(b.size() - 8); }},
  };
  for (const Synthetic& kind : kKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    for (const Case& c : cases) {
      Bytes b = kind.Signed(stamped, 64);
      c.change(kind, b, stamped.size());
      EXPECT_EQ(Verify(b), Verdict::Distorted) << Name(kind) << ": " << c.what;
    }
  }
}

TEST(StampLayout, CutOrExtendedFileIsDistorted) {
  for (const Synthetic& kind : kKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    const Bytes signed_file = kind.Signed(stamped, 64);
    for (const Bytes* file : {&stamped, &signed_file}) {
      for (std::size_t length = 0; length < file->size(); ++length) {
        const Bytes cut(file->begin(), file->begin() + length);
        ASSERT_EQ(Verify(cut), Verdict::Distorted) << Name(kind) << " cut to " << length;
      }
    }
    const Bytes trailer(stamped.end() - kTrailerSize, stamped.end());
    const std::vector<Bytes> tails = {Bytes(8, 0), Bytes(kTrailerSize, 0), trailer};
    for (const Bytes& tail : tails) {
      Bytes longer = stamped;
      longer.insert(longer.end(), tail.begin(), tail.end());
      EXPECT_EQ(Verify(longer), Verdict::Distorted) << Name(kind) << " plus " << tail.size() << " bytes";
    }
  }
}

// Trailers written by hand, with the right marker and where it matters the right digest, in
// places the build never puts one.
TEST(StampLayout, TrailerNoBuildCouldHaveWrittenIsDistorted) {
  for (const Synthetic& kind : kKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    const Bytes marker(stamped.end() - kTrailerSize, stamped.end() - 32);

    // Content that is not 8-aligned: a signing tool would pad between it and its table.
    Bytes unaligned = kind.Image(516);
    Bytes hashed;
    for (std::size_t i = 0; i < unaligned.size(); ++i) {
      if (!kind.InCheckSum(i) && !kind.InSecurityEntry(i)) hashed.push_back(unaligned[i]);
    }
    const Sha256::Digest digest = Sha256::Of(hashed);
    unaligned.insert(unaligned.end(), marker.begin(), marker.end());
    unaligned.insert(unaligned.end(), digest.begin(), digest.end());
    EXPECT_EQ(Verify(unaligned), Verdict::Distorted) << Name(kind) << ": unaligned";

    // A trailer lying over the headers themselves: five directory entries and a file that ends
    // 8 bytes after them, with the marker inside the data directory.
    Bytes overlapping = kind.Image();
    const std::size_t optional_size = (kind.plus ? 112 : 96) + 5 * 8;
    Synthetic::Put16(overlapping, Synthetic::kPe + 20, static_cast<std::uint32_t>(optional_size));
    Synthetic::Put32(overlapping, Synthetic::kOptional + (kind.plus ? 108 : 92), 5);
    overlapping.resize(Synthetic::kOptional + optional_size + 8);
    std::fill(overlapping.end() - kTrailerSize, overlapping.end(), 0);
    std::copy(marker.begin(), marker.end(), overlapping.end() - kTrailerSize);
    EXPECT_EQ(Verify(overlapping), Verdict::Distorted) << Name(kind) << ": over the headers";
  }
}

TEST(StampLayout, StampRefusesWhatItCannotStampAndVerifyCallsItDistorted) {
  struct Case {
    const char* what;
    std::function<Bytes(const Synthetic&)> make;
  };
  const std::vector<Case> cases = {
      {"empty", [](const Synthetic&) { return Bytes{}; }},
      {"only MZ", [](const Synthetic&) { return Bytes{'M', 'Z'}; }},
      {"no MZ", [](const Synthetic& k) { Bytes b = k.Image(); b[0] = 'Z'; return b; }},
      {"no PE signature", [](const Synthetic& k) { Bytes b = k.Image(); b[Synthetic::kPe + 1] = 'X'; return b; }},
      {"PE offset past the end", [](const Synthetic& k) { Bytes b = k.Image(); Synthetic::Put32(b, 0x3C, 510); return b; }},
      {"PE offset near 4 GiB",
       [](const Synthetic& k) { Bytes b = k.Image(); Synthetic::Put32(b, 0x3C, 0xFFFFFFF0); return b; }},
      {"ROM optional header",
       [](const Synthetic& k) { Bytes b = k.Image(); Synthetic::Put16(b, Synthetic::kOptional, 0x107); return b; }},
      {"four directory entries",
       [](const Synthetic& k) { Bytes b = k.Image(); Synthetic::Put32(b, Synthetic::kOptional + (k.plus ? 108 : 92), 4); return b; }},
      {"directory count past the optional header",
       [](const Synthetic& k) { Bytes b = k.Image(); Synthetic::Put32(b, Synthetic::kOptional + (k.plus ? 108 : 92), 17); return b; }},
      {"optional header shorter than its directory",
       [](const Synthetic& k) { Bytes b = k.Image(); Synthetic::Put16(b, Synthetic::kPe + 20, k.plus ? 112 : 96); return b; }},
      {"optional header past the end",
       [](const Synthetic& k) { Bytes b = k.Image(); Synthetic::Put16(b, Synthetic::kPe + 20, 0xFFFF); return b; }},
      {"headers only", [](const Synthetic& k) { Bytes b = k.Image(); b.resize(k.SecurityEntry() + 8); return b; }},
      {"size not a multiple of 8", [](const Synthetic& k) { Bytes b = k.Image(); b.resize(516); return b; }},
      {"signed", [](const Synthetic& k) { return k.Signed(k.Image(), 64); }},
      {"already stamped", [](const Synthetic& k) { return StampOrFail(k.Image()); }},
      {"signed after stamping", [](const Synthetic& k) { return k.Signed(StampOrFail(k.Image()), 64); }},
      {"damaged stamp", [](const Synthetic& k) { Bytes b = StampOrFail(k.Image()); b[300] ^= 1; return b; }},
  };
  for (const Synthetic& kind : kKinds) {
    for (const Case& c : cases) {
      const Bytes input = c.make(kind);
      std::string error;
      EXPECT_TRUE(Stamp(input, error).empty()) << Name(kind) << ": " << c.what;
      EXPECT_FALSE(error.empty()) << Name(kind) << ": " << c.what;
      EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
      if (std::string(c.what) != "already stamped" && std::string(c.what) != "signed after stamping") {
        EXPECT_EQ(Verify(input), Verdict::Distorted) << Name(kind) << ": " << c.what;
      }
    }
  }
}

// --- the resource data on a page boundary ----------------------------------------------------

struct SectionSpec {
  std::uint32_t address, raw, raw_size;
};

// A linked image as the build makes one: a section table, each section's raw data at its file
// offset with a filler of its own, the resource directory at the start of section `resources`
// (none when it is -1), and no debug directory or symbol table.
Bytes Sectioned(const Synthetic& kind, const std::vector<SectionSpec>& sections, int resources) {
  std::size_t size = 0x400;
  for (const SectionSpec& s : sections) size = std::max<std::size_t>(size, s.raw + s.raw_size);
  Bytes b = kind.Image(size);
  const std::size_t table = Synthetic::kOptional + kind.OptionalSize();
  Synthetic::Put16(b, Synthetic::kPe + 4 + 2, static_cast<std::uint32_t>(sections.size()));
  Synthetic::Put32(b, Synthetic::kPe + 4 + 8, 0);
  Synthetic::Put32(b, kind.Directory() + 2 * 8, resources < 0 ? 0 : sections[resources].address);
  Synthetic::Put32(b, kind.Directory() + 6 * 8, 0);
  Synthetic::Put32(b, kind.Directory() + 6 * 8 + 4, 0);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const std::size_t header = table + 40 * i;
    Synthetic::Put32(b, header + 8, sections[i].raw_size);
    Synthetic::Put32(b, header + 12, sections[i].address);
    Synthetic::Put32(b, header + 16, sections[i].raw_size);
    Synthetic::Put32(b, header + 20, sections[i].raw);
    for (std::size_t j = 0; j < sections[i].raw_size; ++j) {
      b[sections[i].raw + j] = static_cast<std::uint8_t>(j * 7 + i * 51 + 1);
    }
  }
  return b;
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

// Wine maps the payload from the file only when it starts on a page; every section must keep
// its bytes and find them at the offset its header now names, and the result must stamp.
TEST(StampLayout, ResourceDataMovesToAPageBoundaryAndTheImageStaysWhole) {
  struct Case {
    const char* what;
    std::vector<SectionSpec> sections;
    int resources;
    std::vector<std::uint32_t> expected_raw;  // each section's file offset afterwards
  };
  const std::vector<Case> cases = {
      {"resources after code, relocations after them",
       {{0x1000, 0x400, 0x200}, {0x2000, 0x600, 0x2400}, {0x5000, 0x2A00, 0x200}}, 1, {0x400, 0x1000, 0x3400}},
      {"uninitialised data without raw bytes before the resources",
       {{0x1000, 0x400, 0x200}, {0x2000, 0, 0}, {0x3000, 0x600, 0x200}}, 2, {0x400, 0, 0x1000}},
      {"already on a page", {{0x1000, 0x400, 0xC00}, {0x2000, 0x1000, 0x200}}, 1, {0x400, 0x1000}},
      {"no resources", {{0x1000, 0x400, 0x200}}, -1, {0x400}},
  };
  for (const Synthetic& kind : kKinds) {
    const std::size_t table = Synthetic::kOptional + kind.OptionalSize();
    for (const Case& c : cases) {
      const Bytes image = Sectioned(kind, c.sections, c.resources);
      std::string error;
      const Bytes aligned = PageAlignResources(image, error);
      ASSERT_FALSE(aligned.empty()) << Name(kind) << ": " << c.what << ": " << error;
      std::size_t moved_by = 0;
      for (std::size_t i = 0; i < c.sections.size(); ++i) {
        const SectionSpec& s = c.sections[i];
        const std::uint32_t raw = Get32(aligned, table + 40 * i + 20);
        EXPECT_EQ(raw, c.expected_raw[i]) << Name(kind) << ": " << c.what << ", section " << i;
        ASSERT_LE(raw + s.raw_size, aligned.size());
        EXPECT_TRUE(std::equal(image.begin() + s.raw, image.begin() + s.raw + s.raw_size, aligned.begin() + raw))
            << Name(kind) << ": " << c.what << ", section " << i << " lost its bytes";
        if (static_cast<int>(i) == c.resources) moved_by = raw - s.raw;
      }
      EXPECT_EQ(aligned.size(), image.size() + moved_by) << c.what;
      if (c.resources >= 0) {
        const std::uint32_t start = c.sections[c.resources].raw;
        EXPECT_TRUE(std::all_of(aligned.begin() + start, aligned.begin() + start + moved_by,
                                [](std::uint8_t byte) { return byte == 0; }));
      }
      EXPECT_EQ(Verify(StampOrFail(aligned)), Verdict::Intact) << Name(kind) << ": " << c.what;
    }
  }
}

TEST(StampLayout, PageAlignRefusesWhatItCannotMoveSafely) {
  struct Case {
    const char* what;
    std::function<Bytes(const Synthetic&)> make;
  };
  const std::vector<SectionSpec> usual = {{0x1000, 0x400, 0x200}, {0x2000, 0x600, 0x400}};
  const std::vector<Case> cases = {
      {"a debug directory, whose entries hold file offsets",
       [&](const Synthetic& k) { Bytes b = Sectioned(k, usual, 1); Synthetic::Put32(b, k.Directory() + 6 * 8, 0x2010); return b; }},
      {"a section straddling the resources' start",
       [](const Synthetic& k) { return Sectioned(k, {{0x1000, 0x400, 0x400}, {0x2000, 0x600, 0x400}}, 1); }},
      {"resources in no section",
       [&](const Synthetic& k) { Bytes b = Sectioned(k, usual, 1); Synthetic::Put32(b, k.Directory() + 2 * 8, 0x9000); return b; }},
      {"raw data past the end of the file", [&](const Synthetic& k) { Bytes b = Sectioned(k, usual, 1); b.resize(0x800); return b; }},
  };
  for (const Synthetic& kind : kKinds) {
    for (const Case& c : cases) {
      std::string error;
      EXPECT_TRUE(PageAlignResources(c.make(kind), error).empty()) << Name(kind) << ": " << c.what;
      EXPECT_FALSE(error.empty()) << Name(kind) << ": " << c.what;
    }
  }
}

}  // namespace
}  // namespace mv::stamp
