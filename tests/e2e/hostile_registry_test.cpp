// Registry values of the wrong type, and odd strings, in every place the run reads: the
// Program Files folder, the two uninstall entries and the three shell folders. A wrong type in
// the shell folders is reported as "No access to system registry"; anywhere else it is an error
// no step catches, so the run ends through the unhandled-error box with exit code 1. Either
// way nothing is written. An odd string is still a string.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using HostileRegistry = InstallerTest;

RegValue Bytes(DWORD type, std::initializer_list<BYTE> bytes) { return {type, std::vector<BYTE>(bytes)}; }

// UTF-16 as the W calls store it; `terminated` adds the NUL, `extraByte` makes the length odd.
RegValue Text(DWORD type, const std::wstring& text, bool terminated = true, bool extraByte = false) {
  RegValue value{type, {}};
  auto bytes = reinterpret_cast<const BYTE*>(text.c_str());
  value.data.assign(bytes, bytes + (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
  if (extraByte) value.data.push_back('x');
  return value;
}

struct Place {
  const char* what;
  HKEY root;
  const std::wstring& key;
  const wchar_t* name;
  bool caught;  // shown as "No access to system registry" rather than ending the process
};

const Place kPlaces[] = {
    {"ProgramFilesDir", HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", false},
    {"plain UninstallString", HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", false},
    {"WOW6432Node UninstallString", HKEY_LOCAL_MACHINE, kWowUninstallKey, L"UninstallString", false},
    {"Programs", HKEY_CURRENT_USER, kShellFoldersKey, L"Programs", true},
    {"Desktop", HKEY_CURRENT_USER, kShellFoldersKey, L"Desktop", true},
    {"Startup", HKEY_CURRENT_USER, kShellFoldersKey, L"Startup", true},
};

TEST_F(HostileRegistry, AValueThatIsNoStringEndsTheRunAsDescribedAndWritesNothing) {
  const struct {
    const char* what;
    RegValue value;
  } kWrongTypes[] = {
      {"REG_DWORD", Bytes(REG_DWORD, {7, 0, 0, 0})},
      // Bytes that would read as a path if the type were ignored.
      {"REG_BINARY", Text(REG_BINARY, product_ + L"unins000.exe")},
      {"REG_MULTI_SZ", Text(REG_MULTI_SZ, product_ + L"unins000.exe" + std::wstring(1, L'\0'))},
      {"REG_NONE", Text(REG_NONE, product_ + L"unins000.exe")},
      {"REG_QWORD", Bytes(REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8})},
  };
  for (const Place& place : kPlaces) {
    for (const auto& wrong : kWrongTypes) {
      SCOPED_TRACE(std::string(place.what) + " as " + wrong.what);
      RestoreValueLater restore(place.root, place.key, place.name);
      // The WOW6432Node entry is read only when the plain one has no UninstallString.
      if (&place.key == &kWowUninstallKey) RemoveUninstallEntries();
      WriteValue(place.root, place.key, place.name, wrong.value);

      RunResult r = RunInstaller(L"", {place.caught ? Press(expect::NoRegistryAccess(), IDOK) : PressOkOnAnyBox()});
      EXPECT_EQ(r.exitCode, place.caught ? kExitFailureShown : 1u);
      // The unhandled-error box: the error's own text, which names the value, under the
      // English title in every locale.
      if (!place.caught && !r.boxes.empty()) {
        EXPECT_EQ(r.boxes[0].caption, "Mirvane update");
        EXPECT_NE(r.boxes[0].text.find(Utf8(place.name)), std::string::npos) << r.boxes[0].text;
      }
      ExpectNothingWritten(product_);
      RegisterUninstallString(product_ + L"unins000.exe");
    }
  }
}

// REG_EXPAND_SZ is read as stored, not expanded; no data is the empty string; a string without
// its NUL and of odd length (as a careless writer leaves it) still reads up to its last
// whole character.
TEST_F(HostileRegistry, OddStringsAreStillStrings) {
  const std::wstring unexpanded = L"%MV_E2E_SOMEWHERE%\\Mirvane\\";
  const std::wstring literal = root_ + unexpanded;  // the run's current folder is root_
  const std::wstring expanded = root_ + L"Expanded\\Mirvane\\";
  const std::wstring programFiles = root_ + L"Program Files\\";
  SetEnvironmentVariableW(L"MV_E2E_SOMEWHERE", (root_ + L"Expanded").c_str());
  RestoreAfterTest(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir");
  PlaceProduct(literal);
  PlaceProduct(expanded);
  PlaceProduct(programFiles + L"Mirvane\\");

  struct Case {
    const char* what;
    const Place& place;
    RegValue value;
    bool keepEntry;          // false: no uninstall entry, so the Program Files folder decides
    std::wstring installed;  // where the data file must land
  };
  const Place& programFilesDir = kPlaces[0];
  const Place& plain = kPlaces[1];
  const Place& wow = kPlaces[2];
  const Case cases[] = {
      {"UninstallString REG_EXPAND_SZ", plain, Text(REG_EXPAND_SZ, unexpanded + L"unins000.exe"), true, literal},
      {"WOW6432Node REG_EXPAND_SZ", wow, Text(REG_EXPAND_SZ, unexpanded + L"unins000.exe"), false, literal},
      {"UninstallString odd length", plain, Text(REG_SZ, product_ + L"unins000.exe", false, true), true, product_},
      // No folder part: the Program Files fallback.
      {"UninstallString empty", plain, Text(REG_SZ, L""), true, programFiles + L"Mirvane\\"},
      {"UninstallString without data", plain, Bytes(REG_SZ, {}), true, programFiles + L"Mirvane\\"},
      {"ProgramFilesDir REG_EXPAND_SZ", programFilesDir, Text(REG_EXPAND_SZ, programFiles), false,
       programFiles + L"Mirvane\\"},
      // No Program Files folder: the product name alone, relative to the current folder.
      {"ProgramFilesDir without data", programFilesDir, Bytes(REG_SZ, {}), false, product_},
      {"ProgramFilesDir odd length", programFilesDir, Text(REG_SZ, programFiles, false, true), false,
       programFiles + L"Mirvane\\"},
      {"Programs REG_EXPAND_SZ", kPlaces[3], Text(REG_EXPAND_SZ, L"%USERPROFILE%\\Programs"), true, product_},
      {"Desktop without data", kPlaces[4], Bytes(REG_SZ, {}), true, product_},
      {"Startup odd length", kPlaces[5], Text(REG_SZ, L"C:\\Startup", false, true), true, product_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RestoreValueLater restore(c.place.root, c.place.key, c.place.name);
    if (!c.keepEntry) RemoveUninstallEntries();
    // Every other case keeps the Program Files folder that this test controls.
    if (&c.place != &programFilesDir)
      WriteString(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", programFiles);
    WriteValue(c.place.root, c.place.key, c.place.name, c.value);

    RunResult r = RunInstaller(L"modest", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalled(c.installed, Payload());
    for (const std::wstring& folder : {literal, expanded, product_, programFiles + L"Mirvane\\"}) {
      if (folder == c.installed) continue;
      EXPECT_FALSE(IsFile(folder + L"mvm3.pak")) << "also written to " << Utf8(folder);
    }
    DeleteFileW((c.installed + L"mvm3.pak").c_str());
    DeleteValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
    RegisterUninstallString(product_ + L"unins000.exe");
  }
}

}  // namespace
}  // namespace e2e
