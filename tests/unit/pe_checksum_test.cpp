// The PE checksum the host tool writes after stamping. The builder tests hold it against the
// linker's own and osslsigncode's checksums of real installers, and the Windows tests against
// imagehlp's; these pin the rule on small inputs where every carry can be counted.
#include "host/pe_checksum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "integrity/stamp.h"
#include "support/synthetic_pe.h"

namespace mv::host {
namespace {

using testing::Bytes;
using testing::Get32;
using testing::kBothKinds;
using testing::StampOrFail;
using Synthetic = testing::SyntheticPe;

constexpr std::uint64_t kNoField = ~std::uint64_t{0};

TEST(PeCheckSum, WordsWithFoldedCarriesPlusTheLength) {
  struct Case {
    Bytes file;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {{}, 0},
      {{0x01, 0x00}, 1 + 2},
      {{0x34, 0x12, 0x01, 0x00}, 0x1235 + 4},
      {{0xFF, 0xFF, 0x01, 0x00}, 0x0001 + 4},              // 0x10000 folds to 1
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00}, 0x0002 + 6},  // 0x1FFFE folds to 0xFFFF, + 2 to 0x0002
      {{0x34, 0x12, 0x7F}, 0x1234 + 0x007F + 3},           // an odd last byte is a word of its own
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PeCheckSum(c.file, kNoField), c.expected) << c.file.size() << " bytes";
  }
}

TEST(PeCheckSum, TheFieldCountsAsZeroWhereverItLies) {
  const Bytes plain = {0x10, 0x00, 0x20, 0x00, 0x30, 0x00, 0x40, 0x00, 0x50, 0x00};
  for (std::uint64_t at : {0u, 2u, 3u, 6u}) {
    Bytes changed = plain;
    Bytes zeroed = plain;
    for (std::uint64_t i = at; i < at + 4 && i < plain.size(); ++i) {
      changed[i] = 0xA5;
      zeroed[i] = 0;
    }
    EXPECT_EQ(PeCheckSum(changed, at), PeCheckSum(zeroed, kNoField)) << "field at " << at;
  }
}

TEST(PeCheckSum, WrittenIntoAStampedImageWhichStaysIntact) {
  for (const Synthetic& kind : kBothKinds) {
    Bytes stamped = StampOrFail(kind.Image(4096));
    std::string error;
    ASSERT_TRUE(WriteCheckSum(stamped, error)) << error;
    const std::uint32_t written = Get32(stamped, Synthetic::kCheckSum);
    EXPECT_NE(written, 0u);
    EXPECT_EQ(PeCheckSum(stamped, Synthetic::kCheckSum), written) << kind.Name();
    EXPECT_EQ(stamp::Verify(stamped), stamp::Verdict::Intact) << "the field is outside the digest";
    Bytes again = stamped;
    ASSERT_TRUE(WriteCheckSum(again, error));
    EXPECT_EQ(again, stamped) << "writing it again changes nothing";
  }
}

TEST(PeCheckSum, RefusesWhatIsNotAPeFile) {
  Bytes text(256, 'x');
  std::string error;
  EXPECT_FALSE(WriteCheckSum(text, error));
  EXPECT_NE(error.find("not a PE image"), std::string::npos) << error;
  EXPECT_EQ(text, Bytes(256, 'x')) << "left as it was";
}

}  // namespace
}  // namespace mv::host
