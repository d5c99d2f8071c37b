// Fuzz target for the folder part of an uninstall command: any text another program left in
// the registry, checked against a plain backward scan, against the shape a folder must have,
// and through the product location that builds the destination folder from it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "../support/fake_registry.h"
#include "base/strings.h"
#include "product/location.h"
#include "product/product.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

// The command as the rule reads it: a double quote at the start, or after nothing but blanks
// and tabs, opens a path that runs to the next one (or to the end).
std::string_view CommandPart(std::string_view value) {
  std::size_t quote = 0;
  while (quote < value.size() && (value[quote] == ' ' || value[quote] == '\t')) ++quote;
  if (quote == value.size() || value[quote] != '"') return value;
  value.remove_prefix(quote + 1);
  return value.substr(0, value.find('"'));
}

// Backwards from the second-to-last character to the first backslash met.
std::optional<std::string> ReferenceFolderPart(std::string_view value) {
  const std::string_view command = CommandPart(value);
  for (std::size_t i = command.size(); i >= 2; --i)
    if (command[i - 2] == '\\') return std::string(command.substr(0, i - 1));
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view value(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> folder = mv::UninstallFolderPart(value);
  Check(folder == ReferenceFolderPart(value));

  const std::string_view command = CommandPart(value);
  if (folder) {
    // A folder with its backslash, taken from the front of the command, never the whole of
    // it, and never with a quote from around the command.
    Check(!folder->empty() && folder->back() == '\\');
    Check(folder->size() < command.size() && command.starts_with(*folder));
    Check(command.substr(folder->size(), command.size() - folder->size() - 1).find('\\') == std::string_view::npos);
    Check(folder->front() != '"');
    // Its own folder part is its parent, strictly shorter.
    if (const auto parent = mv::UninstallFolderPart(*folder)) Check(parent->size() < folder->size());
  } else {
    Check(command.size() < 2 || command.substr(0, command.size() - 1).find('\\') == std::string_view::npos);
  }

  // The destination folder built from it, as the registry hands over strings: cut at the first
  // NUL. The rest of the input, when there is any, is "ProgramFilesDir".
  const std::size_t cut = value.find('\0');
  const std::string uninstall(value.substr(0, cut));
  const std::string programFiles(cut == std::string_view::npos ? "" : value.substr(cut + 1));
  const bool underWow = size > 0 && (data[size - 1] & 1) != 0;
  mv::testing::FakeRegistry registry;
  registry.Set(mv::RegistryRoot::LocalMachine, std::string(mv::product::kCurrentVersionKey), "ProgramFilesDir",
               programFiles);
  registry.Set(mv::RegistryRoot::LocalMachine,
               underWow ? "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane"
                        : "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane",
               "UninstallString", uninstall);
  mv::ProductLocation location;
  Check(mv::LocateProduct("Mirvane", true, registry, location) == mv::LocateResult::Located);
  std::string expected;
  if (const auto part = ReferenceFolderPart(uninstall)) {
    expected = *part;
  } else {
    expected = programFiles;
    mv::AddBackslash(expected);
    expected += "Mirvane\\";
  }
  Check(location.ProductFolder == expected);
  Check(!registry.KeyOpen());
  return 0;
}
