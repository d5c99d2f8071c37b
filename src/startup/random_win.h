#pragma once
// Seeding the generator from the system's clocks.
#include "startup/random.h"

namespace mv {

// A generator seeded from the performance counter (the tick count without one).
Lcg SeededGenerator();

}  // namespace mv
