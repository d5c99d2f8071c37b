#include "install/safe_write.h"

namespace mv {

std::string MakeTempName(std::string_view path) {
  std::string result(path);
  // The final character is never looked at: a path whose only backslash ends it gets "~" in
  // front, like a path without any.
  for (std::size_t i = result.size() >= 2 ? result.size() - 1 : 0; i-- > 0;) {
    if (result[i] == '\\') return result.insert(i + 1, "~");
  }
  return result.insert(0, "~");
}

}  // namespace mv
