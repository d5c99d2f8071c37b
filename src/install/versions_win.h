#pragma once
// The version fields of the product's data files, read from disk.
#include <cstdint>
#include <string>

#include "ui/setup_ui.h"

namespace mv {

// Fixed-offset fields: 0 when the file is missing, held by a writer (or exclusively) for longer
// than a moment, unreadable or too short. Others' reading does not stand in the way.
std::int32_t ReadPakVersion(const std::wstring& path);  // bytes 6-7, little-endian
std::int32_t ReadCokVersion(const std::wstring& path);  // bytes 5-6, little-endian
std::int32_t Read3bsVersion(const std::wstring& path);  // byte 6

// The version line of a language support file, opened like the others. A missing file gives 0
// silently; one that cannot be read, or whose version line is no integer, gives 0 after the
// message.
std::int32_t ReadLngVersion(const std::wstring& path, SetupUi& ui);

// The "FileVersion" string of an executable's first translation; empty when the file is no
// executable or has no version information.
std::wstring ReadFileVersionString(const std::wstring& path);

}  // namespace mv
