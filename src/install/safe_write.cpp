#include "install/safe_write.h"

namespace mv {

std::wstring MakeTempName(std::wstring_view path) {
  // The final character is never looked at: a path whose only backslash ends it gets "~" in
  // front, like a path without any.
  std::size_t nameStart = 0;
  for (std::size_t i = path.size() >= 2 ? path.size() - 1 : 0; i-- > 0;) {
    if (path[i] == L'\\') {
      nameStart = i + 1;
      break;
    }
  }
  std::wstring temp(path.substr(0, nameStart));
  temp += L"~";
  temp.append(path.substr(nameStart));
  return temp;
}

}  // namespace mv
