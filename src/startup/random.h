#pragma once
// The process's pseudo-random generator. It names the capture file of a console command, so two
// installers started at once must not draw the same sequence: start-up seeds it from the clock.
#include <cstdint>

namespace mv {

// A 32-bit linear congruential generator.
class Lcg {
 public:
  explicit Lcg(std::uint32_t seed = 0) : seed_(seed) {}
  // A draw below n: the high half of the 64-bit product of the next seed and n.
  std::uint32_t Draw(std::uint32_t n);
  std::uint32_t Seed() const { return seed_; }

 private:
  std::uint32_t seed_;
};

}  // namespace mv
