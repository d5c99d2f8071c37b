#pragma once
// Writing a data file so that a failure halfway (a full disk, a copy held open) loses nothing:
// a new file is written whole or not at all, and an installed copy is never written over in
// place but replaced in one step by a complete temporary file beside it (MakeTempName).
#include <cstdint>
#include <span>
#include <string>

namespace mv {

// A file that could not be written whole is removed again. CREATE_NEW makes sure that the file
// removed is the one this write created: a copy that turned up meanwhile is refused, never
// truncated.
bool WriteNewFile(const std::wstring& path, std::span<const std::uint8_t> bytes);

// The new data, complete and flushed to the disk, under the temporary name. A leftover
// temporary file is truncated and reused.
bool WriteTempFile(const std::wstring& temp, std::span<const std::uint8_t> bytes);

// Replaces the installed copy with the complete temporary file in one step: after a failure
// the installed copy is the old one, untouched, and the new data lies under the temporary name.
bool ReplaceInstalledCopy(const std::wstring& temp, const std::wstring& destination);

// Writes `bytes` to `destination` without any comparison: a new file when there is none, else
// through the temporary file.
bool WriteOrReplace(std::span<const std::uint8_t> bytes, const std::wstring& destination);

}  // namespace mv
