#include "integrity/sha256.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define MV_SHA256_X86 1
#endif
#ifdef __i386__
// 32-bit Windows promises only 4-byte stack alignment (a thread or callback entered from the
// system), while the compiler gives the 16-byte vectors this code spills aligned stack slots and
// folds them into instructions that fault on a misaligned operand.
#define MV_SHA256_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define MV_SHA256_ALIGN_STACK
#endif

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

// A plain array, copied element by element: GCC builds the copy of a whole std::array from a
// hidden initializer that it places among the writable data.
constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

// Eight rounds per loop pass with the working variables renamed instead of shuffled, and the
// message schedule kept in a 16-word ring: small enough for -Oz to keep the hot loop in
// registers, which is what keeps hashing a multi-megabyte installer in the millisecond range.
#define MV_SHA256_ROUND(a, b, c, d, e, f, g, h, i, expand)                                                         \
  do {                                                                                                             \
    std::uint32_t w;                                                                                               \
    if (!(expand)) {                                                                                               \
      w = ring[(i)&15];                                                                                            \
    } else {                                                                                                       \
      const std::uint32_t w15 = ring[((i)-15) & 15];                                                               \
      const std::uint32_t w2 = ring[((i)-2) & 15];                                                                 \
      w = ring[(i)&15] += (Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3)) + ring[((i)-7) & 15] +                       \
                          (Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10));                                              \
    }                                                                                                              \
    const std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + kRound[(i)] + w; \
    const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b)));                 \
    d += t1;                                                                                                       \
    h = t1 + t2;                                                                                                   \
  } while (0)

#define MV_SHA256_EIGHT_ROUNDS(i, expand)                     \
  do {                                                        \
    MV_SHA256_ROUND(a, b, c, d, e, f, g, h, (i) + 0, expand); \
    MV_SHA256_ROUND(h, a, b, c, d, e, f, g, (i) + 1, expand); \
    MV_SHA256_ROUND(g, h, a, b, c, d, e, f, (i) + 2, expand); \
    MV_SHA256_ROUND(f, g, h, a, b, c, d, e, (i) + 3, expand); \
    MV_SHA256_ROUND(e, f, g, h, a, b, c, d, (i) + 4, expand); \
    MV_SHA256_ROUND(d, e, f, g, h, a, b, c, (i) + 5, expand); \
    MV_SHA256_ROUND(c, d, e, f, g, h, a, b, (i) + 6, expand); \
    MV_SHA256_ROUND(b, c, d, e, f, g, h, a, (i) + 7, expand); \
  } while (0)

void PortableBlocks(std::uint32_t* state, const std::uint8_t* p, std::size_t count) {
  for (; count > 0; --count, p += 64) {
    std::uint32_t ring[16];
    for (int i = 0; i < 16; ++i) ring[i] = LoadBigEndian(p + 4 * i);

    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    // The first 16 rounds take the block's words as they are; the rest expand the schedule. One
    // copy of the eight rounds serves both: the branch costs little, a second copy 1.5 KiB of
    // the shipped file.
    for (int i = 0; i < 64; i += 8) {
      const bool expand = i >= 16;
      MV_SHA256_EIGHT_ROUNDS(i, expand);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#undef MV_SHA256_EIGHT_ROUNDS
#undef MV_SHA256_ROUND

#ifdef MV_SHA256_X86
// The SHA extensions (Goldmont, Zen, Ice Lake and later) hash several times faster than the
// portable rounds, which matters because the installer hashes its whole multi-megabyte file
// before it may write anything. The function carries its own target so that the rest of the
// program still runs on processors without SSE4.1; it is only called after CPUID said yes.
// A plain loop over the 16 four-round groups, not the usual unrolled listing: a few hundred
// bytes less in the shipped file, and the rounds' own latency hides the loop.
__attribute__((target("sha,sse4.1,ssse3"))) MV_SHA256_ALIGN_STACK void ShaInstructionBlocks(std::uint32_t* state,
                                                                                            const std::uint8_t* p,
                                                                                            std::size_t count) {
  // Message words are big-endian; the state is kept as the instructions want it: ABEF, CDGH.
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  const __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; count > 0; --count, p += 64) {
    const __m128i abefBefore = abef;
    const __m128i cdghBefore = cdgh;
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), byteSwap);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), byteSwap);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), byteSwap);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), byteSwap);
    for (int group = 0; group < 16; ++group) {
      const __m128i wk = _mm_add_epi32(m0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * group])));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
      // The words four groups ahead; the last four groups compute some that are never used,
      // which costs less than a branch would.
      const __m128i next =
          _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(m0, m1), _mm_alignr_epi8(m3, m2, 4)), m3);
      m0 = m1;
      m1 = m2;
      m2 = m3;
      m3 = next;
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
#endif

}  // namespace

bool Sha256::HasShaInstructions() {
#ifdef MV_SHA256_X86
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // __get_cpuid_count checks the highest leaf first: old processors answer leaf 7 with garbage.
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) || !(ebx & bit_SHA)) return false;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_SSE4_1) && (ecx & bit_SSSE3);
#else
  return false;
#endif
}

Sha256::Sha256(Engine engine) : blocks_(&PortableBlocks) {
  std::copy(std::begin(kInitial), std::end(kInitial), h_.begin());
#ifdef MV_SHA256_X86
  if (engine == Engine::Fastest && HasShaInstructions()) blocks_ = &ShaInstructionBlocks;
#else
  (void)engine;
#endif
}

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
    blocks_(h_.data(), buffer_.data(), 1);
    buffered_ = 0;
  }
  if (left >= 64) {
    blocks_(h_.data(), p, left / 64);
    p += left / 64 * 64;
    left %= 64;
  }
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
    blocks_(h_.data(), buffer_.data(), 1);
    buffered_ = 0;
  }
  std::fill(buffer_.begin() + buffered_, buffer_.begin() + 56, 0);
  for (int i = 0; i < 8; ++i) buffer_[56 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  blocks_(h_.data(), buffer_.data(), 1);
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

Sha256::Digest Sha256::Of(std::span<const std::uint8_t> data, Engine engine) {
  Sha256 hash(engine);
  hash.Update(data);
  return hash.Finish();
}

}  // namespace mv
