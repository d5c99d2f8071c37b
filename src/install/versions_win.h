#pragma once
// The version fields of the product's data files, read from disk.
#include <cstdint>
#include <optional>
#include <string>

#include "install/versions.h"

namespace mv {

// A version as read from a file: nothing when the file is there but cannot be read (held open
// by a writer, or exclusively, for longer than a moment; no right to read it; a folder), which
// is not the same as a file without a version.
using ReadVersion = std::optional<std::int32_t>;

// A fixed-offset field: 0 when the file is missing or too short. Others' reading does not stand
// in the way.
ReadVersion ReadFieldVersion(const std::wstring& path, const VersionField& field);
inline ReadVersion ReadPakVersion(const std::wstring& path) { return ReadFieldVersion(path, kPakVersionField); }
inline ReadVersion ReadCokVersion(const std::wstring& path) { return ReadFieldVersion(path, kCokVersionField); }
inline ReadVersion Read3bsVersion(const std::wstring& path) { return ReadFieldVersion(path, k3bsVersionField); }

// The version line of a language support file, opened like the others. A missing file gives 0;
// one that cannot be read gives nothing, and one whose version line is no integer 0, both with
// `cannotHandle` set: the user is to be told.
ReadVersion ReadLngVersion(const std::wstring& path, bool& cannotHandle);

// The "FileVersion" string of an executable's first translation; empty when the file is missing,
// no executable or has no version information; nothing when it is there but cannot be read.
std::optional<std::wstring> ReadFileVersionString(const std::wstring& path);

}  // namespace mv
