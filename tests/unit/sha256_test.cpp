#include "integrity/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace mv {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string Hex(const Sha256::Digest& d) {
  std::string out;
  char two[3];
  for (std::uint8_t b : d) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

struct Vector {
  std::string message;
  const char* digest;
};

// FIPS 180 examples, plus runs of 'a' whose lengths straddle the point where the length field
// no longer fits in the last block (55/56 bytes) and the block boundary itself.
const std::vector<Vector>& KnownVectors() {
  static const std::vector<Vector> vectors = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(57, 'a'), "f13b2d724659eb3bf47f2dd6af1accc87b81f09f59f2b75e5c0bed6589dfe8c6"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {std::string(128, 'a'), "6836cf13bac400e9105071cd6af47084dfacad4e5e302c94bfed24e013afb73e"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  return vectors;
}

// Every test runs through both engines: on a processor with the SHA instructions `Fastest`
// takes them, and `Portable` keeps the plain rounds alive under test there too.
constexpr Sha256::Engine kEngines[] = {Sha256::Engine::Fastest, Sha256::Engine::Portable};

const char* Name(Sha256::Engine engine) { return engine == Sha256::Engine::Portable ? "portable" : "fastest"; }

TEST(Sha256, KnownVectorsInOneCall) {
  for (Sha256::Engine engine : kEngines) {
    for (const Vector& v : KnownVectors()) {
      EXPECT_EQ(Hex(Sha256::Of(Bytes(v.message), engine)), v.digest) << Name(engine) << ", length " << v.message.size();
    }
  }
}

// The buffered path and the direct-from-input path must agree wherever a piece ends: inside a
// block, exactly on a block boundary, one byte either side of it, and with empty pieces.
TEST(Sha256, KnownVectorsFedInPieces) {
  const std::vector<std::size_t> pieceSizes = {0, 1, 3, 7, 55, 56, 63, 64, 65, 127, 128, 129, 4097};
  for (Sha256::Engine engine : kEngines) {
    for (const Vector& v : KnownVectors()) {
      const auto all = Bytes(v.message);
      for (std::size_t piece : pieceSizes) {
        if (piece > 0 && piece < 8 && all.size() > 4096) continue;  // a million calls add nothing
        Sha256 hash(engine);
        std::size_t at = 0;
        if (piece == 0) {
          hash.Update({});
          hash.Update(all);
          hash.Update({});
        } else {
          for (; at < all.size(); at += piece) {
            hash.Update(all.subspan(at, std::min(piece, all.size() - at)));
          }
        }
        EXPECT_EQ(Hex(hash.Finish()), v.digest) << Name(engine) << ", length " << all.size() << ", pieces of " << piece;
      }
    }
  }
}

// Uneven splits of a non-repeating message, so that a byte taken from the wrong position
// cannot go unnoticed the way it might in a run of one letter.
TEST(Sha256, EverySplitOfAMessageMatchesOneShot) {
  std::vector<std::uint8_t> message(300);
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i * 131 + 7);
  const std::span<const std::uint8_t> all(message);
  for (Sha256::Engine engine : kEngines) {
    const Sha256::Digest expected = Sha256::Of(all, engine);
    for (std::size_t first = 0; first <= all.size(); ++first) {
      for (std::size_t second : {std::size_t{1}, std::size_t{9}, std::size_t{64}, std::size_t{70}}) {
        const std::size_t mid = std::min(all.size(), first + second);
        Sha256 hash(engine);
        hash.Update(all.first(first));
        hash.Update(all.subspan(first, mid - first));
        hash.Update(all.subspan(mid));
        ASSERT_EQ(hash.Finish(), expected) << Name(engine) << ", split at " << first << " and " << mid;
      }
    }
  }
}

// Random contents, lengths and splits, with starts at every alignment: the instruction path
// loads 16 bytes at a time straight from the caller's buffer and keeps its state in a shuffled
// order across many blocks, so a wrong lane or a lost carry between calls shows here.
TEST(Sha256, EnginesAgreeOnRandomInput) {
  std::mt19937 random(20261208);
  std::vector<std::uint8_t> data(70000);
  for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random());
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t offset = random() % 16;
    const std::size_t length = trial < 200 ? random() % 1100 : random() % (data.size() - offset);
    const auto message = std::span<const std::uint8_t>(data).subspan(offset, length);
    const Sha256::Digest portable = Sha256::Of(message, Sha256::Engine::Portable);
    Sha256 pieces;
    for (std::size_t at = 0; at < message.size();) {
      const std::size_t piece = std::min<std::size_t>(message.size() - at, random() % 300);
      pieces.Update(message.subspan(at, piece));
      at += piece;
    }
    ASSERT_EQ(pieces.Finish(), portable) << "offset " << offset << ", length " << length;
    ASSERT_EQ(Sha256::Of(message), portable) << "offset " << offset << ", length " << length;
  }
}

// A detection that always said no would pass every test above through the portable rounds
// and quietly cost the installer its fast check; Linux lists the processor's features.
TEST(Sha256, UsesTheShaInstructionsWhereTheProcessorHasThem) {
#if defined(__x86_64__) || defined(__i386__)
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
  }
  if (line.empty()) GTEST_SKIP() << "no processor flags in /proc/cpuinfo";
  line += ' ';
  const bool listed = line.find(" sha_ni ") != std::string::npos && line.find(" sse4_1 ") != std::string::npos &&
                      line.find(" ssse3 ") != std::string::npos;
  EXPECT_EQ(Sha256::HasShaInstructions(), listed) << line;
#else
  EXPECT_FALSE(Sha256::HasShaInstructions());
#endif
}

}  // namespace
}  // namespace mv
