#pragma once
// Finding the installed product's folder through its uninstall entry.
#include <string>
#include <string_view>

#include "env/messages.h"
#include "env/registry_access.h"

namespace mv {

inline constexpr std::string_view CurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion\\";

struct ProductLocation {
  std::string ProductFolder;  // always ends with a backslash
  std::string UninstallKey;   // CurrentVersionKey + "Uninstall\"
  bool UserIsAdmin = false;
};

// Fills `out`. False when the per-user shell folders could not be read: the message has been
// shown. A "ProgramFilesDir" or "UninstallString" that cannot be read as a string ends the
// process through the accessor's report of an unhandled error.
bool LocateProduct(std::string_view productName, bool userIsAdmin, RegistryAccess& registry,
                   MessageSink& messages, ProductLocation& out);

}  // namespace mv
