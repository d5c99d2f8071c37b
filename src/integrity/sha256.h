#pragma once
// SHA-256 (FIPS 180-4), incremental. On processors with the x86 SHA extensions the blocks go
// through those instructions, elsewhere through portable code; both give the same digest.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace mv {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;
  // `Portable` keeps to the plain rounds even where the SHA instructions exist, so that tests
  // can hold the two against each other on one machine.
  enum class Engine { Fastest, Portable };

  explicit Sha256(Engine engine = Engine::Fastest);
  void Update(std::span<const std::uint8_t> data);
  Digest Finish();  // the object must not be updated afterwards
  static Digest Of(std::span<const std::uint8_t> data, Engine engine = Engine::Fastest);
  // Whether `Fastest` uses the SHA instructions on this processor.
  static bool HasShaInstructions();

 private:
  using Blocks = void (*)(std::uint32_t* state, const std::uint8_t* data, std::size_t count);
  Blocks blocks_;
  std::array<std::uint32_t, 8> h_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;
};

}  // namespace mv
