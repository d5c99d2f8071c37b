#pragma once
// Finding the installed product's folder through its uninstall entry.
#include <optional>
#include <string>
#include <string_view>

#include "win/registry.h"

namespace mv {

struct ProductLocation {
  std::wstring ProductFolder;  // always ends with a backslash
  // The uninstall entry where "UninstallString" was found, under the plain path or under
  // WOW6432Node; empty when there is none and the folder is the fallback under Program Files.
  std::string UninstallEntry;
  bool UserIsAdmin = false;
};

enum class LocateResult {
  Located,
  // A per-user shell folder could not be read: the user is to be told there is no access to the
  // registry.
  NoRegistryAccess,
  // "ProgramFilesDir" or "UninstallString" could not be read as a string: a failure no step
  // handles, described by the accessor's LastFailure.
  UnreadableValue,
};

// Fills `out` unless a value could not be read. Every key it opens is closed again when it
// returns.
LocateResult LocateProduct(std::string_view productName, bool userIsAdmin, RegistryAccess& registry,
                           ProductLocation& out);

// The folder of an uninstall command, with its final backslash. A command in double quotes,
// after any leading blanks, counts from inside them. Nothing when there is no backslash before
// the last character.
std::optional<std::wstring> UninstallFolderPart(std::wstring_view uninstallString);

}  // namespace mv
