#include "app/sha256.h"

#include <algorithm>
#include <cstring>

namespace mv {
namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::array<std::uint32_t, 8> kInitial = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

}  // namespace

Sha256::Sha256() : h_(kInitial) {}

// Eight rounds per loop pass with the working variables renamed instead of shuffled, and the
// message schedule kept in a 16-word ring: small enough for -Os to keep the hot loop in
// registers, which is what keeps hashing a multi-megabyte installer in the millisecond range.
#define MV_SHA256_ROUND(a, b, c, d, e, f, g, h, i, expand)                               \
  do {                                                                                  \
    std::uint32_t w;                                                                    \
    if (!(expand)) {                                                                    \
      w = ring[(i)&15];                                                                 \
    } else {                                                                            \
      const std::uint32_t w15 = ring[((i)-15) & 15];                                    \
      const std::uint32_t w2 = ring[((i)-2) & 15];                                      \
      w = ring[(i)&15] += (Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3)) + ring[((i)-7) & 15] + \
                          (Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10));                   \
    }                                                                                   \
    const std::uint32_t t1 =                                                            \
        h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + kRound[(i)] + w; \
    const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b))); \
    d += t1;                                                                            \
    h = t1 + t2;                                                                        \
  } while (0)

#define MV_SHA256_EIGHT_ROUNDS(i, expand)                  \
  do {                                                    \
    MV_SHA256_ROUND(a, b, c, d, e, f, g, h, (i) + 0, expand); \
    MV_SHA256_ROUND(h, a, b, c, d, e, f, g, (i) + 1, expand); \
    MV_SHA256_ROUND(g, h, a, b, c, d, e, f, (i) + 2, expand); \
    MV_SHA256_ROUND(f, g, h, a, b, c, d, e, (i) + 3, expand); \
    MV_SHA256_ROUND(e, f, g, h, a, b, c, d, (i) + 4, expand); \
    MV_SHA256_ROUND(d, e, f, g, h, a, b, c, (i) + 5, expand); \
    MV_SHA256_ROUND(c, d, e, f, g, h, a, b, (i) + 6, expand); \
    MV_SHA256_ROUND(b, c, d, e, f, g, h, a, (i) + 7, expand); \
  } while (0)

void Sha256::Block(const std::uint8_t* p) {
  std::uint32_t ring[16];
  for (int i = 0; i < 16; ++i) ring[i] = LoadBigEndian(p + 4 * i);

  std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3];
  std::uint32_t e = h_[4], f = h_[5], g = h_[6], h = h_[7];
  // The first 16 rounds take the block's words as they are; the rest expand the schedule.
  for (int i = 0; i < 16; i += 8) {
    MV_SHA256_EIGHT_ROUNDS(i, false);
  }
  for (int i = 16; i < 64; i += 8) {
    MV_SHA256_EIGHT_ROUNDS(i, true);
  }
  h_[0] += a; h_[1] += b; h_[2] += c; h_[3] += d;
  h_[4] += e; h_[5] += f; h_[6] += g; h_[7] += h;
}

#undef MV_SHA256_EIGHT_ROUNDS
#undef MV_SHA256_ROUND

void Sha256::Update(std::span<const std::uint8_t> data) {
  if (data.empty()) return;  // an empty span may carry a null pointer, which memcpy must not see
  length_ += data.size();
  const std::uint8_t* p = data.data();
  std::size_t left = data.size();

  if (buffered_ > 0) {
    const std::size_t take = std::min(left, buffer_.size() - buffered_);
    std::memcpy(buffer_.data() + buffered_, p, take);
    buffered_ += take;
    p += take;
    left -= take;
    if (buffered_ < buffer_.size()) return;
    Block(buffer_.data());
    buffered_ = 0;
  }
  for (; left >= 64; p += 64, left -= 64) Block(p);
  if (left > 0) {
    std::memcpy(buffer_.data(), p, left);
    buffered_ = left;
  }
}

Sha256::Digest Sha256::Finish() {
  const std::uint64_t bits = length_ * 8;
  buffer_[buffered_++] = 0x80;
  if (buffered_ > 56) {
    std::fill(buffer_.begin() + buffered_, buffer_.end(), 0);
    Block(buffer_.data());
    buffered_ = 0;
  }
  std::fill(buffer_.begin() + buffered_, buffer_.begin() + 56, 0);
  for (int i = 0; i < 8; ++i) buffer_[56 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  Block(buffer_.data());
  buffered_ = 0;

  Digest out;
  for (int i = 0; i < 8; ++i) {
    out[4 * i + 0] = static_cast<std::uint8_t>(h_[i] >> 24);
    out[4 * i + 1] = static_cast<std::uint8_t>(h_[i] >> 16);
    out[4 * i + 2] = static_cast<std::uint8_t>(h_[i] >> 8);
    out[4 * i + 3] = static_cast<std::uint8_t>(h_[i]);
  }
  return out;
}

Sha256::Digest Sha256::Of(std::span<const std::uint8_t> data) {
  Sha256 hash;
  hash.Update(data);
  return hash.Finish();
}

}  // namespace mv
