// The check of a file fed in pieces, as the installer reads a big one: every way of cutting the
// file after its headers gives the verdict of the whole, the cuts through the trailer too.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

#include "integrity/stamp.h"
#include "support/synthetic_pe.h"

namespace mv::stamp {
namespace {

using testing::Bytes;
using testing::kBothKinds;
using testing::StampOrFail;

// The file in two pieces cut at `cut`, the first of which holds the headers.
Verdict InTwoPieces(const Bytes& file, std::size_t cut) {
  PieceVerifier check;
  const std::span<const std::uint8_t> all(file);
  if (!check.Start(all.first(cut), file.size())) return Verdict::Distorted;
  check.Add(all.subspan(cut));
  return check.Finish();
}

// Where the headers end: the shortest first piece.
std::size_t HeadersEnd(const testing::SyntheticPe& kind) { return kind.kOptional + kind.OptionalSize(); }

TEST(StampPieces, EveryCutGivesTheVerdictOfTheWholeFile) {
  for (const auto& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image(1024));
    const Bytes signedFile = kind.Signed(stamped, 40);
    // A change in the content, one in the trailer's digest, one in the CheckSum (not covered).
    Bytes content = stamped, digest = stamped, checksum = stamped;
    content[700] ^= 1;
    digest[digest.size() - 1] ^= 1;
    checksum[kind.kCheckSum + 2] ^= 1;
    const struct {
      const char* what;
      const Bytes& file;
      Verdict expected;
    } files[] = {{"stamped", stamped, Verdict::Intact},
                 {"signed", signedFile, Verdict::Intact},
                 {"CheckSum changed", checksum, Verdict::Intact},
                 {"content changed", content, Verdict::Distorted},
                 {"digest changed", digest, Verdict::Distorted}};
    for (const auto& f : files) {
      ASSERT_EQ(Verify(f.file), f.expected) << kind.Name() << " " << f.what;
      for (std::size_t cut = HeadersEnd(kind); cut <= f.file.size(); ++cut)
        ASSERT_EQ(InTwoPieces(f.file, cut), f.expected) << kind.Name() << " " << f.what << " cut at " << cut;
    }
  }
}

TEST(StampPieces, SmallPiecesOfEverySizeAfterTheHeaders) {
  for (const auto& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image(4096));
    for (std::size_t size = 1; size <= 64; ++size) {
      const std::span<const std::uint8_t> all(stamped);
      PieceVerifier check;
      ASSERT_TRUE(check.Start(all.first(HeadersEnd(kind)), stamped.size()));
      for (std::size_t at = HeadersEnd(kind); at < stamped.size(); at += size)
        check.Add(all.subspan(at, std::min(size, stamped.size() - at)));
      EXPECT_EQ(check.Finish(), Verdict::Intact) << kind.Name() << " pieces of " << size;
    }
  }
}

TEST(StampPieces, AnIncompleteOrUnstartedCheckIsNeverIntact) {
  for (const auto& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    const std::span<const std::uint8_t> all(stamped);

    PieceVerifier shortOfTheEnd;
    ASSERT_TRUE(shortOfTheEnd.Start(all.first(all.size() - 1), all.size()));
    EXPECT_EQ(shortOfTheEnd.Needed(), all.size());
    EXPECT_EQ(shortOfTheEnd.Finish(), Verdict::Distorted) << kind.Name() << ": last byte missing";

    PieceVerifier unstarted;
    unstarted.Add(all);
    EXPECT_EQ(unstarted.Finish(), Verdict::Distorted) << kind.Name() << ": never started";

    // A first piece that does not reach the end of the headers cannot place the stamp.
    PieceVerifier headCut;
    EXPECT_FALSE(headCut.Start(all.first(HeadersEnd(kind) - 1), all.size())) << kind.Name();
    // A size that leaves no room for the trailer, or one not 8-aligned.
    PieceVerifier tooSmall, unaligned;
    EXPECT_FALSE(tooSmall.Start(all, kind.SecurityEntry() + 8)) << kind.Name();
    EXPECT_FALSE(unaligned.Start(all, all.size() + 4)) << kind.Name();
  }
}

}  // namespace
}  // namespace mv::stamp
