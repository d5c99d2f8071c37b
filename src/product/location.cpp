#include "product/location.h"

#include "base/strings.h"
#include "product/product.h"

namespace mv {

namespace {

enum class EntryRead { Found, Absent, Unreadable };

// Reads "UninstallString" of one uninstall entry into `folder`, and names the entry in `entry`
// when the value is there.
EntryRead ReadUninstallFolder(RegistryAccess& registry, const std::string& keyPath, std::wstring& folder,
                              std::string& entry) {
  registry.SetRoot(RegistryRoot::LocalMachine);
  CurrentKeyScope scope(registry);
  registry.OpenKey(keyPath, false);  // a missing key simply has no values
  if (!registry.ValueExists("UninstallString")) return EntryRead::Absent;
  const std::optional<std::wstring> command = registry.ReadString("UninstallString");
  if (!command) return EntryRead::Unreadable;
  entry = keyPath;
  // An uninstall command without a folder part keeps the fallback folder.
  if (auto part = UninstallFolderPart(*command)) folder = std::move(*part);
  return EntryRead::Found;
}

}  // namespace

LocateResult LocateProduct(std::string_view productName, bool userIsAdmin, RegistryAccess& registry,
                           ProductLocation& out) {
  std::wstring programFiles;
  {
    registry.SetRoot(RegistryRoot::LocalMachine);
    CurrentKeyScope scope(registry);
    registry.OpenKey(product::kCurrentVersionKey, false);
    if (registry.ValueExists("ProgramFilesDir")) {
      std::optional<std::wstring> value = registry.ReadString("ProgramFilesDir");
      if (!value) return LocateResult::UnreadableValue;
      programFiles = std::move(*value);
    }
    AddBackslash(programFiles);
  }

  out.UserIsAdmin = userIsAdmin;

  // The shell folders are only read, never used: a user whose profile cannot be read this way
  // is told so before anything is installed.
  {
    registry.SetRoot(RegistryRoot::CurrentUser);
    CurrentKeyScope scope(registry);
    registry.OpenKey(std::string(product::kCurrentVersionKey) + "Explorer\\Shell Folders", false);
    for (const char* name : {"Programs", "Desktop", "Startup"}) {
      if (registry.ValueExists(name) && !registry.ReadString(name)) return LocateResult::NoRegistryAccess;
    }
  }

  out.UninstallEntry.clear();
  out.ProductFolder = programFiles;
  out.ProductFolder += WidenAscii(productName);

  const std::string uninstallKey(product::kUninstallKey);
  EntryRead read =
      ReadUninstallFolder(registry, uninstallKey + std::string(productName), out.ProductFolder, out.UninstallEntry);
  if (read == EntryRead::Absent) {
    std::string wowEntry = uninstallKey;
    wowEntry.insert(wowEntry.find('\\') + 1, "WOW6432Node\\");
    read = ReadUninstallFolder(registry, wowEntry + std::string(productName), out.ProductFolder, out.UninstallEntry);
  }
  if (read == EntryRead::Unreadable) return LocateResult::UnreadableValue;
  AddBackslash(out.ProductFolder);
  return LocateResult::Located;
}

std::optional<std::wstring> UninstallFolderPart(std::wstring_view uninstallString) {
  // "C:\Program Files\Mirvane\unins000.exe" /SILENT is as common as the bare form: take the
  // path inside the quotes. Windows runs a command after leading blanks just the same, so they
  // do not hide the quote; an unquoted command is taken as it stands.
  std::wstring_view command = uninstallString;
  const std::size_t first = command.find_first_not_of(L" \t");
  if (first != std::wstring_view::npos && command[first] == L'"') {
    command.remove_prefix(first + 1);
    command = command.substr(0, command.find(L'"'));
  }
  // The last character is never looked at, so "C:\Apps\Mirvane\" gives "C:\Apps\".
  if (command.size() < 2) return std::nullopt;
  const std::size_t slash = command.substr(0, command.size() - 1).rfind(L'\\');
  if (slash == std::wstring_view::npos) return std::nullopt;
  return std::wstring(command.substr(0, slash + 1));
}

}  // namespace mv
