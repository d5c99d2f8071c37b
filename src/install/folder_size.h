#pragma once
// The installed size recorded in the product's uninstall entry, in the unit Windows expects.
#include <cstdint>

namespace mv {

// The KiB figure of a byte total, clamped to the largest 32-bit value (sizes beyond 2 TiB).
std::int32_t KibFromBytes(std::uint64_t bytes);

}  // namespace mv
