#pragma once
// Replacing an installed data file without ever losing it, as a rule without any Windows call:
// the new data goes to a temporary file beside the installed copy first.
#include <string>
#include <string_view>

namespace mv {

// The temporary file beside `path`: its file name with "~" in front.
std::wstring MakeTempName(std::wstring_view path);

}  // namespace mv
