#pragma once
// Small PE files with just the headers that stamping reads, and reading fields back: for the
// tests of the stamp, of page alignment and of the run-time check.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <string>
#include <vector>

#include "integrity/sha256.h"
#include "integrity/stamp.h"

namespace mv::testing {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t Get16(const Bytes& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
inline std::uint32_t Get32(const Bytes& b, std::size_t at) { return Get16(b, at) | (Get16(b, at + 2) << 16); }

inline void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// Every byte but the headers is a non-repeating filler, so a change anywhere is a change the
// digest has to notice.
struct SyntheticPe {
  bool Plus;  // PE32+ (x64) rather than PE32
  static constexpr std::size_t kPe = 0x80;
  static constexpr std::size_t kOptional = kPe + 4 + 20;
  static constexpr std::size_t kCheckSum = kOptional + 64;
  std::size_t Directory() const { return kOptional + (Plus ? 112 : 96); }
  std::size_t SecurityEntry() const { return Directory() + 4 * 8; }
  std::size_t OptionalSize() const { return (Plus ? 112 : 96) + 16 * 8; }
  std::size_t CountField() const { return kOptional + (Plus ? 108 : 92); }

  Bytes Image(std::size_t size = 512) const {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 167 + 13);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, kPe);
    Put32(b, kPe, 0x00004550);  // "PE\0\0"
    Put16(b, kPe + 4, Plus ? 0x8664 : 0x14c);
    Put16(b, kPe + 4 + 16, static_cast<std::uint32_t>(OptionalSize()));
    Put16(b, kOptional, Plus ? 0x20b : 0x10b);
    Put32(b, CountField(), 16);
    Put32(b, SecurityEntry(), 0);
    Put32(b, SecurityEntry() + 4, 0);
    return b;
  }

  // What a signing tool does to a stamped file: certificate table appended at the 8-aligned
  // end, its place and size written into the directory, and a new CheckSum.
  Bytes Signed(Bytes b, std::size_t tableSize, std::uint32_t checksum = 0x00C0FFEE) const {
    const auto at = static_cast<std::uint32_t>(b.size());
    for (std::size_t i = 0; i < tableSize; ++i) b.push_back(static_cast<std::uint8_t>(i * 29 + 3));
    Put32(b, SecurityEntry(), at);
    Put32(b, SecurityEntry() + 4, static_cast<std::uint32_t>(tableSize));
    Put32(b, kCheckSum, checksum);
    return b;
  }

  bool InCheckSum(std::size_t i) const { return i >= kCheckSum && i < kCheckSum + 4; }
  bool InSecurityEntry(std::size_t i) const { return i >= SecurityEntry() && i < SecurityEntry() + 8; }
  const char* Name() const { return Plus ? "PE32+" : "PE32"; }
};

inline constexpr SyntheticPe kBothKinds[] = {{false}, {true}};

// The image with the build's stamp; a test failure when the stamp refuses it.
inline Bytes StampOrFail(const Bytes& image) {
  std::string error;
  Bytes stamped = stamp::Stamp(image, error);
  EXPECT_FALSE(stamped.empty()) << error;
  return stamped;
}

// The stamp's digest of `content` (every byte before the trailer) worked out from the rule
// itself, apart from the stamp's code: each 16 MiB piece hashed without the bytes at `skipped`
// (ascending), then a tag, the piece length, the piece count and the content length
// (little-endian, 64 bits) and the pieces' digests hashed in order.
inline Sha256::Digest PiecewiseDigest(const Bytes& content, const std::vector<std::size_t>& skipped) {
  constexpr std::size_t kPiece = 16 << 20;
  Bytes combined = {'m', 'v', 's', 'e', 't', 'u', 'p', ' ', 'p', 'i', 'e', 'c', 'e', 's', 0x00, 0x01};
  const std::size_t count = (content.size() + kPiece - 1) / kPiece;
  for (const std::uint64_t value : {std::uint64_t{kPiece}, std::uint64_t{count}, std::uint64_t{content.size()}}) {
    for (int i = 0; i < 8; ++i) combined.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  for (std::size_t begin = 0; begin < content.size(); begin += kPiece) {
    const std::size_t end = std::min(content.size(), begin + kPiece);
    Bytes hashed(content.begin() + begin, content.begin() + end);
    for (auto at = skipped.rbegin(); at != skipped.rend(); ++at) {
      if (*at >= begin && *at < end) hashed.erase(hashed.begin() + (*at - begin));
    }
    const Sha256::Digest digest = Sha256::Of(hashed);
    combined.insert(combined.end(), digest.begin(), digest.end());
  }
  return Sha256::Of(combined);
}

// The same for a synthetic image: the CheckSum and the certificate-table entry left out.
inline Sha256::Digest PiecewiseDigest(const SyntheticPe& kind, const Bytes& content) {
  std::vector<std::size_t> skipped;
  for (std::size_t i = 0; i < kind.SecurityEntry() + 8; ++i) {
    if (kind.InCheckSum(i) || kind.InSecurityEntry(i)) skipped.push_back(i);
  }
  return PiecewiseDigest(content, skipped);
}

}  // namespace mv::testing
