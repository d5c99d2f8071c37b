#pragma once
// Writing the embedded data file into the product folder.
#include <string>
#include <string_view>

#include "install/safe_write.h"
#include "ui/setup_ui.h"

namespace mv {

// Writes the resource `name` of type `kind` to `destination`. An installed copy is replaced
// only whole, by a complete temporary file beside it, so a failure never loses it. With
// `checkExisting`, a copy of a kind that carries a version is replaced only after the user
// agreed when it is the newer one. `beforeCommit` runs once the new data is to take the
// destination's name, and not after a No. A failure is reported with the "Can't install file"
// pair (Failed); the caller carries on either way. What happened goes into the run's log.
WriteResult ExtractPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                           bool checkExisting, SetupUi& ui, BeforeCommit& beforeCommit);

// Writes the payload stored as the two resources name + "1" and name + "2", joined.
WriteResult ExtractSplitPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                                SetupUi& ui, BeforeCommit& beforeCommit);

}  // namespace mv
