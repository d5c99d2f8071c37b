#pragma once
// SHA-256 (FIPS 180-4), incremental.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace mv {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;
  Sha256();
  void Update(std::span<const std::uint8_t> data);
  Digest Finish();  // the object must not be updated afterwards
  static Digest Of(std::span<const std::uint8_t> data);

 private:
  void Block(const std::uint8_t* p);
  std::array<std::uint32_t, 8> h_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;
};

}  // namespace mv
