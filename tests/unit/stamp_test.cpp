#include "integrity/stamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "integrity/sha256.h"
#include "support/synthetic_pe.h"

namespace mv::stamp {
namespace {

using testing::Bytes;
using testing::kBothKinds;
using testing::Put16;
using testing::Put32;
using testing::StampOrFail;
using Synthetic = testing::SyntheticPe;

TEST(StampLayout, StampAppendsTrailerAndVerifiesIntact) {
  for (const Synthetic& kind : kBothKinds) {
    for (std::size_t size : {std::size_t{512}, std::size_t{4096}}) {
      const Bytes image = kind.Image(size);
      const Bytes stamped = StampOrFail(image);
      ASSERT_EQ(stamped.size(), size + kTrailerSize) << kind.Name();
      EXPECT_TRUE(std::equal(image.begin(), image.end(), stamped.begin())) << "image bytes kept";
      EXPECT_EQ(stamped.size() % 8, 0u);
      EXPECT_EQ(Verify(stamped), Verdict::Intact) << kind.Name() << " " << size;
      EXPECT_EQ(Verify(image), Verdict::Distorted) << "an unstamped image is not intact";
    }
  }
}

// The builder and support tools rely on the exact trailer: the digest of the content's pieces
// with the two signing fields left out (not zeroed), after a fixed marker.
TEST(StampLayout, DigestLeavesOutTheSigningFieldsEntirely) {
  for (const Synthetic& kind : kBothKinds) {
    const Bytes image = kind.Image();
    const Bytes stamped = StampOrFail(image);
    const Sha256::Digest expected = testing::PiecewiseDigest(kind, image);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), stamped.end() - 32)) << kind.Name();

    const Bytes other = StampOrFail(kind.Image(1024));
    EXPECT_TRUE(std::equal(stamped.end() - kTrailerSize, stamped.end() - 32, other.end() - kTrailerSize))
        << "the marker is the same in every stamp";
  }
}

// Signing rewrites only the CheckSum; every other byte, the trailer included, is covered.
// The security entry is not hashed, but an unsigned file that claims a certificate table is
// inconsistent and so distorted too.
TEST(StampLayout, EveryChangedByteOfAnUnsignedFileIsDistortedExceptTheCheckSum) {
  for (const Synthetic& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    for (std::size_t i = 0; i < stamped.size(); ++i) {
      for (std::uint8_t mask : {std::uint8_t{0x01}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
        Bytes changed = stamped;
        changed[i] ^= mask;
        const Verdict expected = kind.InCheckSum(i) ? Verdict::Intact : Verdict::Distorted;
        ASSERT_EQ(Verify(changed), expected) << kind.Name() << " byte " << i << " mask " << int{mask};
      }
    }
  }
}

TEST(StampLayout, SignedFileStaysIntactWhateverTheTableSizeAndCheckSum) {
  for (const Synthetic& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    for (std::size_t table : {std::size_t{8}, std::size_t{1024}, std::size_t{9000}}) {
      for (std::uint32_t checksum : {0u, 0x12345678u, 0xFFFFFFFFu}) {
        EXPECT_EQ(Verify(kind.Signed(stamped, table, checksum)), Verdict::Intact)
            << kind.Name() << " table " << table << " checksum " << checksum;
      }
    }
  }
}

TEST(StampLayout, EveryChangedByteOfASignedFileIsDistortedExceptSigningData) {
  for (const Synthetic& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    const Bytes signedFile = kind.Signed(stamped, 64);
    for (std::size_t i = 0; i < signedFile.size(); ++i) {
      Bytes changed = signedFile;
      changed[i] ^= 0x10;
      // The certificate table is the signature's business, checked by Windows, not by the stamp.
      const bool signingData = kind.InCheckSum(i) || i >= stamped.size();
      ASSERT_EQ(Verify(changed), signingData ? Verdict::Intact : Verdict::Distorted) << kind.Name() << " byte " << i;
    }
  }
}

// The certificate-table entry decides where the trailer is looked for; any entry that does
// not describe exactly the 8-aligned tail of the file is not what a signing tool writes.
TEST(StampLayout, InconsistentCertificateTableIsDistorted) {
  struct Case {
    const char* what;
    std::function<void(const Synthetic&, Bytes&, std::size_t stampedSize)> change;
  };
  const std::vector<Case> cases = {
      {"offset before the trailer end",
       [](const Synthetic& k, Bytes& b, std::size_t s) { Put32(b, k.SecurityEntry(), s - 8); }},
      {"offset after the trailer end",
       [](const Synthetic& k, Bytes& b, std::size_t s) { Put32(b, k.SecurityEntry(), s + 8); }},
      {"offset inside the trailer",
       [](const Synthetic& k, Bytes& b, std::size_t s) { Put32(b, k.SecurityEntry(), s - 24); }},
      {"offset zero", [](const Synthetic& k, Bytes& b, std::size_t) { Put32(b, k.SecurityEntry(), 0); }},
      {"size shorter than the table",
       [](const Synthetic& k, Bytes& b, std::size_t) { Put32(b, k.SecurityEntry() + 4, 56); }},
      {"size longer than the table",
       [](const Synthetic& k, Bytes& b, std::size_t) { Put32(b, k.SecurityEntry() + 4, 72); }},
      {"size zero with an offset",
       [](const Synthetic& k, Bytes& b, std::size_t) { Put32(b, k.SecurityEntry() + 4, 0); }},
      {"size near 4 GiB",
       [](const Synthetic& k, Bytes& b, std::size_t) { Put32(b, k.SecurityEntry() + 4, 0xFFFFFFF8); }},
      {"bytes after the table", [](const Synthetic&, Bytes& b, std::size_t) { b.resize(b.size() + 8); }},
      {"table cut short", [](const Synthetic&, Bytes& b, std::size_t) { b.resize(b.size() - 8); }},
  };
  for (const Synthetic& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    for (const Case& c : cases) {
      Bytes b = kind.Signed(stamped, 64);
      c.change(kind, b, stamped.size());
      EXPECT_EQ(Verify(b), Verdict::Distorted) << kind.Name() << ": " << c.what;
    }
  }
}

TEST(StampLayout, CutOrExtendedFileIsDistorted) {
  for (const Synthetic& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    const Bytes signedFile = kind.Signed(stamped, 64);
    for (const Bytes* file : {&stamped, &signedFile}) {
      for (std::size_t length = 0; length < file->size(); ++length) {
        const Bytes cut(file->begin(), file->begin() + length);
        ASSERT_EQ(Verify(cut), Verdict::Distorted) << kind.Name() << " cut to " << length;
      }
    }
    const Bytes trailer(stamped.end() - kTrailerSize, stamped.end());
    const std::vector<Bytes> tails = {Bytes(8, 0), Bytes(kTrailerSize, 0), trailer};
    for (const Bytes& tail : tails) {
      Bytes longer = stamped;
      longer.insert(longer.end(), tail.begin(), tail.end());
      EXPECT_EQ(Verify(longer), Verdict::Distorted) << kind.Name() << " plus " << tail.size() << " bytes";
    }
  }
}

// Trailers written by hand, with the right marker and where it matters the right digest, in
// places the build never puts one.
TEST(StampLayout, TrailerNoBuildCouldHaveWrittenIsDistorted) {
  for (const Synthetic& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    const Bytes marker(stamped.end() - kTrailerSize, stamped.end() - 32);

    // Content that is not 8-aligned: a signing tool would pad between it and its table.
    Bytes unaligned = kind.Image(516);
    const Sha256::Digest digest = testing::PiecewiseDigest(kind, unaligned);
    unaligned.insert(unaligned.end(), marker.begin(), marker.end());
    unaligned.insert(unaligned.end(), digest.begin(), digest.end());
    EXPECT_EQ(Verify(unaligned), Verdict::Distorted) << kind.Name() << ": unaligned";

    // A trailer lying over the headers themselves: five directory entries and a file that ends
    // 8 bytes after them, with the marker inside the data directory.
    Bytes overlapping = kind.Image();
    const std::size_t optionalSize = (kind.Plus ? 112 : 96) + 5 * 8;
    Put16(overlapping, Synthetic::kPe + 20, static_cast<std::uint32_t>(optionalSize));
    Put32(overlapping, Synthetic::kOptional + (kind.Plus ? 108 : 92), 5);
    overlapping.resize(Synthetic::kOptional + optionalSize + 8);
    std::fill(overlapping.end() - kTrailerSize, overlapping.end(), 0);
    std::copy(marker.begin(), marker.end(), overlapping.end() - kTrailerSize);
    EXPECT_EQ(Verify(overlapping), Verdict::Distorted) << kind.Name() << ": over the headers";
  }
}

TEST(StampLayout, StampRefusesWhatItCannotStampAndVerifyCallsItDistorted) {
  struct Case {
    const char* what;
    std::function<Bytes(const Synthetic&)> make;
  };
  const std::vector<Case> cases = {
      {"empty", [](const Synthetic&) { return Bytes{}; }},
      {"only MZ",
       [](const Synthetic&) {
         return Bytes{'M', 'Z'};
       }},
      {"no MZ",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         b[0] = 'Z';
         return b;
       }},
      {"no PE signature",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         b[Synthetic::kPe + 1] = 'X';
         return b;
       }},
      {"PE offset past the end",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         Put32(b, 0x3C, 510);
         return b;
       }},
      {"PE offset near 4 GiB",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         Put32(b, 0x3C, 0xFFFFFFF0);
         return b;
       }},
      {"ROM optional header",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         Put16(b, Synthetic::kOptional, 0x107);
         return b;
       }},
      {"four directory entries",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         Put32(b, Synthetic::kOptional + (k.Plus ? 108 : 92), 4);
         return b;
       }},
      {"directory count past the optional header",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         Put32(b, Synthetic::kOptional + (k.Plus ? 108 : 92), 17);
         return b;
       }},
      {"optional header shorter than its directory",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         Put16(b, Synthetic::kPe + 20, k.Plus ? 112 : 96);
         return b;
       }},
      {"optional header past the end",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         Put16(b, Synthetic::kPe + 20, 0xFFFF);
         return b;
       }},
      {"headers only",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         b.resize(k.SecurityEntry() + 8);
         return b;
       }},
      {"size not a multiple of 8",
       [](const Synthetic& k) {
         Bytes b = k.Image();
         b.resize(516);
         return b;
       }},
      {"signed", [](const Synthetic& k) { return k.Signed(k.Image(), 64); }},
      {"already stamped", [](const Synthetic& k) { return StampOrFail(k.Image()); }},
      {"signed after stamping", [](const Synthetic& k) { return k.Signed(StampOrFail(k.Image()), 64); }},
      {"damaged stamp",
       [](const Synthetic& k) {
         Bytes b = StampOrFail(k.Image());
         b[b.size() - kTrailerSize - 1] ^= 1;  // content, not a header field
         return b;
       }},
  };
  for (const Synthetic& kind : kBothKinds) {
    for (const Case& c : cases) {
      const Bytes input = c.make(kind);
      std::string error;
      EXPECT_TRUE(Stamp(input, error).empty()) << kind.Name() << ": " << c.what;
      EXPECT_FALSE(error.empty()) << kind.Name() << ": " << c.what;
      EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
      if (c.what == std::string_view("already stamped") || c.what == std::string_view("damaged stamp")) {
        EXPECT_NE(error.find(c.what), std::string::npos) << kind.Name() << ": " << error;
      }
      if (std::string(c.what) != "already stamped" && std::string(c.what) != "signed after stamping") {
        EXPECT_EQ(Verify(input), Verdict::Distorted) << kind.Name() << ": " << c.what;
      }
    }
  }
}

}  // namespace
}  // namespace mv::stamp
