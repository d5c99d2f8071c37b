// Where the product is found: the uninstall entries, their UninstallString and the fallback.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using ProductLocation = InstallerTest;

std::wstring ProgramFilesProduct() {
  auto programFiles = ReadString(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir");
  EXPECT_TRUE(programFiles.has_value());
  return programFiles.value_or(L"C:\\Program Files") + L"\\Mirvane\\";
}

// The usual place of a 32-bit product's entry on 64-bit Windows: the size goes into it, and no
// plain-path entry is made beside it.
TEST_F(ProductLocation, EntryOnlyUnderWow6432NodeIsFoundAndGetsTheSize) {
  RegisterUninstallString(product_ + L"unins000.exe", /*underWow6432Node=*/true);
  RunResult r = RunInstaller(L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kWowUninstallKey, L"EstimatedSize").has_value());
  EXPECT_FALSE(mv::testing::KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
}

TEST_F(ProductLocation, PlainEntryComesBeforeWow6432Node) {
  const std::wstring other = root_ + L"Other\\Mirvane\\";
  PlaceProduct(other);
  WriteString(HKEY_LOCAL_MACHINE, kWowUninstallKey, L"UninstallString", other + L"unins000.exe");
  RunResult r = RunInstaller(L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  EXPECT_FALSE(IsFile(other + L"mvm3.pak"));
}

// Without an entry there is nowhere to record the size: no uninstall key is made for it.
TEST_F(ProductLocation, NoEntryFallsBackToProgramFiles) {
  RemoveUninstallEntries();
  const std::wstring fallback = ProgramFilesProduct();
  PlaceProduct(fallback);
  RunResult r = RunInstaller(L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(fallback, Payload());
}

TEST_F(ProductLocation, UninstallStringWithoutFolderFallsBackToProgramFiles) {
  // The only backslash is the last character: there is no folder before it.
  for (const wchar_t* uninstallString : {L"unins000.exe", L"Mirvane\\"}) {
    SCOPED_TRACE(Utf8(uninstallString));
    RegisterUninstallString(uninstallString);
    const std::wstring fallback = ProgramFilesProduct();
    PlaceProduct(fallback);
    RunResult r = RunInstaller(L"modest", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalled(fallback, Payload());
    EXPECT_FALSE(IsFile(product_ + L"mvm3.pak"));
    RemoveTree(fallback);
  }
}

// Blanks or a tab before the opening quote, which Windows skips when it runs the command, do
// not hide it.
TEST_F(ProductLocation, QuotedUninstallStringIsReadInsideTheQuotes) {
  const std::wstring folder = root_ + L"P F\\Mirvane\\";
  PlaceProduct(folder);
  for (const wchar_t* before : {L"", L" ", L" \t "}) {
    SCOPED_TRACE(Utf8(std::wstring(L"[") + before + L"]"));
    RegisterUninstallString(before + (L"\"" + folder + L"unins000.exe\" /x"));
    RunResult r = RunInstaller(L"modest", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalled(folder, Payload());
    DeleteFileW((folder + L"mvm3.pak").c_str());
  }
}

TEST_F(ProductLocation, UninstallStringEndingInABackslashNamesItsParent) {
  const std::wstring apps = root_ + L"Apps\\";
  PlaceProduct(apps);
  RegisterUninstallString(apps + L"Mirvane\\");
  RunResult r = RunInstaller(L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(apps, Payload());
}

}  // namespace
}  // namespace e2e
