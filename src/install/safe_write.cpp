#include "install/safe_write.h"

namespace mv {

std::size_t FileNameStart(std::wstring_view path) {
  // The final character is never looked at: a path whose only backslash ends it counts as a
  // name without a folder, like a path without any.
  for (std::size_t i = path.size() >= 2 ? path.size() - 1 : 0; i-- > 0;)
    if (path[i] == L'\\') return i + 1;
  return 0;
}

std::wstring MakeTempName(std::wstring_view path) {
  const std::size_t nameStart = FileNameStart(path);
  std::wstring temp(path.substr(0, nameStart));
  temp += L"~";
  temp.append(path.substr(nameStart));
  return temp;
}

std::wstring MakeRestartName(std::wstring_view path) { return MakeTempName(path) + L".restart"; }

bool CountsAsInUse(DeleteProbe probe, bool renameAccessDenied, bool readOnly) {
  switch (probe) {
    case DeleteProbe::SharingViolation:
      return true;
    case DeleteProbe::Opened:
      return renameAccessDenied && !readOnly;
    case DeleteProbe::Refused:
      break;
  }
  return false;
}

}  // namespace mv
