// Fuzz target for the folder part of an uninstall command: any text another program left in
// the registry, checked against a plain backward scan, against the shape a folder must have,
// and through the product location that builds the destination folder from it. The registry
// hands the text over in UTF-16; each input byte here is one character (the rule tells only
// backslashes, quotes, blanks and tabs from the rest), so the corpus stays readable.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "../support/fake_registry.h"
#include "../support/fuzz_check.h"
#include "base/strings.h"
#include "product/location.h"
#include "product/product.h"

namespace {

using mv::testing::Check;

// The command as the rule reads it: a double quote at the start, or after nothing but blanks
// and tabs, opens a path that runs to the next one (or to the end).
std::wstring_view CommandPart(std::wstring_view value) {
  std::size_t quote = 0;
  while (quote < value.size() && (value[quote] == L' ' || value[quote] == L'\t')) ++quote;
  if (quote == value.size() || value[quote] != L'"') return value;
  value.remove_prefix(quote + 1);
  return value.substr(0, value.find(L'"'));
}

// Backwards from the second-to-last character to the first backslash met.
std::optional<std::wstring> ReferenceFolderPart(std::wstring_view value) {
  const std::wstring_view command = CommandPart(value);
  for (std::size_t i = command.size(); i >= 2; --i)
    if (command[i - 2] == L'\\') return std::wstring(command.substr(0, i - 1));
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text(data, data + size);
  const std::wstring_view value = text;
  const std::optional<std::wstring> folder = mv::UninstallFolderPart(value);
  Check(folder == ReferenceFolderPart(value));

  const std::wstring_view command = CommandPart(value);
  if (folder) {
    // A folder with its backslash, taken from the front of the command, never the whole of
    // it, and never with a quote from around the command.
    Check(!folder->empty() && folder->back() == L'\\');
    Check(folder->size() < command.size() && command.starts_with(*folder));
    Check(command.substr(folder->size(), command.size() - folder->size() - 1).find(L'\\') == std::wstring_view::npos);
    Check(folder->front() != L'"');
    // Its own folder part is its parent, strictly shorter.
    if (const auto parent = mv::UninstallFolderPart(*folder)) Check(parent->size() < folder->size());
  } else {
    Check(command.size() < 2 || command.substr(0, command.size() - 1).find(L'\\') == std::wstring_view::npos);
  }

  // The destination folder built from it, as the registry hands over strings: cut at the first
  // NUL. The rest of the input, when there is any, is "ProgramFilesDir".
  const std::size_t cut = value.find(L'\0');
  const std::wstring uninstall(value.substr(0, cut));
  const std::wstring programFiles(cut == std::wstring_view::npos ? L"" : value.substr(cut + 1));
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
  std::wstring expected;
  if (const auto part = ReferenceFolderPart(uninstall)) {
    expected = *part;
  } else {
    expected = programFiles;
    mv::AddBackslash(expected);
    expected += L"Mirvane\\";
  }
  Check(location.ProductFolder == expected);
  Check(!registry.KeyOpen());
  return 0;
}
