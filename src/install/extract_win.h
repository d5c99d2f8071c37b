#pragma once
// Writing the embedded data file into the product folder, in two steps that the run takes with
// its questions between them: the payload staged (written whole under the temporary name and
// compared), then committed to the destination's name, or discarded.
#include <string>
#include <string_view>

#include "install/extract.h"
#include "install/safe_write.h"

namespace mv {

// Writes the resource `name` of type `kind` (or, with `parts` 2, the resources name + "1" and
// name + "2", joined) under the temporary name beside `destination`. With `checkExisting`, a
// kind that carries a version is compared with the installed copy and with a replacement waiting
// for the restart. A missing resource writes nothing at all.
// `staged`, a fresh one, is filled in place; Ready says whether there is anything to commit.
void StagePayload(std::string_view name, std::string_view kind, const std::wstring& destination, bool checkExisting,
                  int parts, StagedPayload& staged);

// Gives the staged payload the destination's name, replacing an installed copy only whole:
// `beforeCommit` runs first (a running product is closed), and a data file in use is left for
// the next restart where `policy` says so. Failed: the Windows error is in `staged.Error`.
WriteResult CommitPayload(StagedPayload& staged, BeforeCommit& beforeCommit, InUsePolicy policy);

// Removes the staged payload: the destination stays as it was.
void DiscardPayload(StagedPayload& staged);

}  // namespace mv
