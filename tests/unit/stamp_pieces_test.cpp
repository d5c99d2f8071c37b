// The check of a file in pieces of 16 MiB, as the installer reads it on several threads at once:
// the pieces' boundaries, pieces taken in any order, and a check that lacks a piece.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "integrity/stamp.h"
#include "support/synthetic_pe.h"

namespace mv::stamp {
namespace {

using testing::Bytes;
using testing::kBothKinds;
using testing::StampOrFail;
constexpr std::size_t kPiece = kPieceBytes;

// Where the headers end: the shortest first piece.
std::size_t HeadersEnd(const testing::SyntheticPe& kind) { return kind.kOptional + kind.OptionalSize(); }

std::span<const std::uint8_t> PieceOf(const Bytes& file, std::size_t index) {
  return std::span<const std::uint8_t>(file).subspan(index * kPiece);
}

// Files whose content or trailer ends on a boundary, or whose trailer straddles one: a change in
// the first or the last byte of each piece, and a cut at each boundary, is distortion.
TEST(StampPieces, BoundariesOfThePieces) {
  const testing::SyntheticPe kind{true};
  const struct {
    const char* what;
    std::size_t content;
  } files[] = {{"content of exactly two pieces, the trailer a third", 2 * kPiece},
               {"file of exactly two pieces", 2 * kPiece - kTrailerSize},
               {"trailer across the second boundary", 2 * kPiece - kTrailerSize / 2}};
  for (const auto& f : files) {
    Bytes file = kind.Image(f.content);
    const Sha256::Digest expected = testing::PiecewiseDigest(kind, file);
    file = StampOrFail(file);
    ASSERT_EQ(file.size(), f.content + kTrailerSize);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.end() - 32)) << f.what << ": the digest";
    EXPECT_EQ(Verify(file), Verdict::Intact) << f.what;
    for (const std::size_t at : std::set{kPiece - 1, kPiece, 2 * kPiece - 1, 2 * kPiece, file.size() - 1}) {
      if (at >= file.size()) continue;
      file[at] ^= 0x20;
      EXPECT_EQ(Verify(file), Verdict::Distorted) << f.what << ": byte " << at << " changed";
      file[at] ^= 0x20;
    }
    for (const std::size_t length : {kPiece, 2 * kPiece}) {
      if (length >= file.size()) continue;
      EXPECT_EQ(Verify(std::span<const std::uint8_t>(file).first(length)), Verdict::Distorted)
          << f.what << ": cut to " << length;
    }
  }
}

TEST(StampPieces, PiecesTakenInAnyOrderButEveryOne) {
  const testing::SyntheticPe kind{false};
  const Bytes file = StampOrFail(kind.Image(2 * kPiece + 4096));
  const auto started = [&file] {
    PieceCheck check;
    EXPECT_TRUE(check.Start(file, file.size()));
    EXPECT_EQ(check.Pieces(), 3u);
    return check;
  };

  PieceCheck backwards = started();
  for (std::size_t index = backwards.Pieces(); index-- > 0;) backwards.Take(index, PieceOf(file, index));
  EXPECT_EQ(backwards.Finish(), Verdict::Intact) << "last piece first";

  for (std::size_t missing = 0; missing < 3; ++missing) {
    PieceCheck lacking = started(), cutShort = started(), stopped = started();
    const std::atomic<bool> stop{true};
    for (std::size_t index = 0; index < 3; ++index) {
      if (index != missing) lacking.Take(index, PieceOf(file, index));
      const std::span<const std::uint8_t> piece = PieceOf(file, index);
      cutShort.Take(index, index != missing ? piece : piece.first(std::min(kPiece, piece.size()) - 1));
      stopped.Take(index, piece, index != missing ? nullptr : &stop);
    }
    EXPECT_EQ(lacking.Finish(), Verdict::Distorted) << "piece " << missing << " never taken";
    EXPECT_EQ(cutShort.Finish(), Verdict::Distorted) << "piece " << missing << " one byte short";
    EXPECT_EQ(stopped.Finish(), Verdict::Distorted) << "piece " << missing << " stopped";
  }
}

TEST(StampPieces, AnIncompleteOrUnstartedCheckIsNeverIntact) {
  for (const auto& kind : kBothKinds) {
    const Bytes stamped = StampOrFail(kind.Image());
    const std::span<const std::uint8_t> all(stamped);

    PieceCheck shortOfTheEnd;
    ASSERT_TRUE(shortOfTheEnd.Start(all, all.size()));
    ASSERT_EQ(shortOfTheEnd.Pieces(), 1u);
    shortOfTheEnd.Take(0, all.first(all.size() - 1));
    EXPECT_EQ(shortOfTheEnd.Finish(), Verdict::Distorted) << kind.Name() << ": last byte missing";

    PieceCheck unstarted;
    unstarted.Take(0, all);
    EXPECT_EQ(unstarted.Finish(), Verdict::Distorted) << kind.Name() << ": never started";

    // A first piece that does not reach the end of the headers cannot place the stamp.
    PieceCheck headCut;
    EXPECT_FALSE(headCut.Start(all.first(HeadersEnd(kind) - 1), all.size())) << kind.Name();
    // A size that leaves no room for the trailer, or one not 8-aligned.
    PieceCheck tooSmall, unaligned;
    EXPECT_FALSE(tooSmall.Start(all, kind.SecurityEntry() + 8)) << kind.Name();
    EXPECT_FALSE(unaligned.Start(all, all.size() + 4)) << kind.Name();
  }
}

}  // namespace
}  // namespace mv::stamp
