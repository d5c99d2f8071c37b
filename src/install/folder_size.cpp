#include "install/folder_size.h"

namespace mv {

std::int32_t KibFromBytes(std::uint64_t bytes) {
  const std::uint64_t kib = bytes >> 10;
  return kib > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(kib);
}

}  // namespace mv
