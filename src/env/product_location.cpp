#include "env/product_location.h"

#include <string>

#include "env/rules.h"

namespace mv {

namespace {

// Reads "UninstallString" of one uninstall entry; false when the value is absent.
bool ReadUninstallFolder(RegistryAccess& registry, const std::string& keyPath, std::string& folder) {
  registry.SetRoot(RegistryRoot::LocalMachine);
  CurrentKeyScope scope(registry);
  registry.OpenKey(keyPath, false);  // a missing key simply has no values
  if (!registry.ValueExists("UninstallString")) return false;
  // An uninstall command without a folder part keeps the fallback folder.
  if (auto part = UninstallFolderPart(ReadStringOrEnd(registry, "UninstallString"))) folder = std::move(*part);
  return true;
}

}  // namespace

bool LocateProduct(std::string_view productName, bool userIsAdmin, RegistryAccess& registry,
                   MessageSink& messages, ProductLocation& out) {
  std::string programFiles;
  {
    registry.SetRoot(RegistryRoot::LocalMachine);
    CurrentKeyScope scope(registry);
    registry.OpenKey(CurrentVersionKey, false);
    if (registry.ValueExists("ProgramFilesDir")) programFiles = ReadStringOrEnd(registry, "ProgramFilesDir");
    AddBackslash(programFiles);
  }

  out.UserIsAdmin = userIsAdmin;

  // The shell folders are only read, never used: a user whose profile cannot be read this way
  // is told so before anything is installed.
  {
    registry.SetRoot(RegistryRoot::CurrentUser);
    CurrentKeyScope scope(registry);
    registry.OpenKey(std::string(CurrentVersionKey) + "Explorer\\Shell Folders", false);
    for (const char* name : {"Programs", "Desktop", "Startup"}) {
      if (registry.ValueExists(name) && !registry.ReadString(name)) {
        registry.CloseKey();
        messages.ShowBilingualError(text::kNoRegistryAccess);
        return false;
      }
    }
  }

  out.UninstallKey = std::string(CurrentVersionKey) + "Uninstall\\";
  out.ProductFolder = programFiles + std::string(productName);

  const std::string plainEntry = out.UninstallKey + std::string(productName);
  if (!ReadUninstallFolder(registry, plainEntry, out.ProductFolder)) {
    std::string wowEntry = out.UninstallKey;
    wowEntry.insert(wowEntry.find('\\') + 1, "WOW6432Node\\");
    ReadUninstallFolder(registry, wowEntry + std::string(productName), out.ProductFolder);
  }
  AddBackslash(out.ProductFolder);
  return true;
}

}  // namespace mv
