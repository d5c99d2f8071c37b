#pragma once
// Writing a data file so that neither a failure halfway (a full disk, a copy held open, the
// process killed, the power cut) nor anything planted in the product folder loses data: the new
// data is always written whole into a temporary file that this process has just created beside
// the destination (MakeTempName), flushed, and then given the destination's name in one step.
// So the destination holds either what it held before or the complete new data, never a part.
#include <cstdint>
#include <span>
#include <string>

#include "install/extract.h"
#include "install/safe_write.h"

namespace mv {

// The new data, complete and flushed to the disk, under the temporary name, in a file created
// fresh: whatever was under that name is removed first (a link, by its name only), and what
// cannot be removed safely fails the write untouched. A file that could not be written whole is
// removed again.
bool WriteTempFile(const std::wstring& temp, std::span<const std::uint8_t> bytes);

// Gives the complete temporary file the destination's name in one step. With `replace`, an
// installed copy is replaced; without, a file that turned up meanwhile is refused rather than
// replaced unasked. After a failure the destination is as it was and the new data lies under
// the temporary name.
bool MoveIntoPlace(const std::wstring& temp, const std::wstring& destination, bool replace);

// The commit of a complete temporary file: `beforeCommit` runs (a running product is closed),
// the file takes the destination's name, and then a replacement that an earlier quiet run left
// for the next restart is withdrawn. A destination still in use (held open, or mapped) is, where
// `policy` says so, replaced at the next restart instead, in the waiting replacement's place
// (AtRestart). On failure, GetLastError tells why.
WriteResult Commit(const std::wstring& temp, const std::wstring& destination, bool replace, BeforeCommit& beforeCommit,
                   InUsePolicy policy);

}  // namespace mv
