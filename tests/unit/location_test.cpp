#include "product/location.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/fake_registry.h"
#include "ui/texts.h"

namespace mv {
namespace {

using testing::FakeRegistry;
using testing::WrongType;
constexpr auto HKLM = RegistryRoot::LocalMachine;
constexpr auto HKCU = RegistryRoot::CurrentUser;
const std::string kCurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const std::string kPlainEntry = kCurrentVersion + "Uninstall\\Mirvane";
const std::string kWowEntry = "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane";
const std::string kShellFolders = kCurrentVersion + "Explorer\\Shell Folders";

class LocateProductTest : public ::testing::Test {
 protected:
  LocateProductTest() {
    registry.Set(HKLM, kCurrentVersion, "ProgramFilesDir", std::wstring(L"C:\\Program Files"));
    registry.Set(HKCU, kShellFolders, "Desktop", std::wstring(L"C:\\Users\\u\\Desktop"));
  }
  LocateResult Locate(bool admin = true) {
    const LocateResult result = LocateProduct("Mirvane", admin, registry, location);
    EXPECT_FALSE(registry.KeyOpen()) << "a key was left open";
    EXPECT_EQ(registry.Opens, registry.Closes);
    return result;
  }
  FakeRegistry registry;
  ProductLocation location;
};

TEST_F(LocateProductTest, FolderFromThePlainEntry) {
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::wstring(L"D:\\Games\\Mirvane\\unins000.exe"));
  registry.Set(HKLM, kWowEntry, "UninstallString", std::wstring(L"E:\\Other\\unins000.exe"));
  ASSERT_EQ(Locate(false), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, L"D:\\Games\\Mirvane\\");
  EXPECT_EQ(location.UninstallEntry, kPlainEntry);
  EXPECT_FALSE(location.UserIsAdmin);
}

TEST_F(LocateProductTest, PlainKeyWithoutTheValueSendsTheSearchOnToWow6432Node) {
  registry.AddKey(HKLM, kPlainEntry);
  registry.Set(HKLM, kWowEntry, "UninstallString", std::wstring(L"E:\\Mirvane\\unins000.exe"));
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, L"E:\\Mirvane\\");
  EXPECT_EQ(location.UninstallEntry, kWowEntry);
  EXPECT_TRUE(location.UserIsAdmin);
}

TEST_F(LocateProductTest, FallbacksWhenNoEntryOrNoFolderPart) {
  location.UninstallEntry = "left from before";
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, L"C:\\Program Files\\Mirvane\\");
  EXPECT_EQ(location.UninstallEntry, "") << "no entry to write the size into";

  // An uninstall string without a folder part keeps the fallback, but the entry is the product's.
  for (const wchar_t* value : {L"", L"unins000.exe", L"\\"}) {
    registry.Set(HKLM, kPlainEntry, "UninstallString", std::wstring(value));
    ASSERT_EQ(Locate(), LocateResult::Located);
    EXPECT_EQ(location.ProductFolder, L"C:\\Program Files\\Mirvane\\") << value;
    EXPECT_EQ(location.UninstallEntry, kPlainEntry) << value;
  }
}

TEST_F(LocateProductTest, NoProgramFilesDirGivesARelativeFolder) {
  FakeRegistry bare;
  ASSERT_EQ(LocateProduct("Mirvane", true, bare, location), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, L"Mirvane\\");
  registry.Set(HKLM, kCurrentVersion, "ProgramFilesDir", std::wstring(L"C:\\PF\\"));
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, L"C:\\PF\\Mirvane\\");
}

TEST_F(LocateProductTest, QuotedAndBackslashEndedUninstallStrings) {
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::wstring(L"\"C:\\Program Files\\Mirvane\\unins000.exe\" /x"));
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, L"C:\\Program Files\\Mirvane\\");
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::wstring(L"C:\\Apps\\Mirvane\\"));
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, L"C:\\Apps\\");
}

// Nothing on the way narrows a path: a fullwidth letter stays itself rather than becoming its
// ASCII lookalike, and Cyrillic and Chinese names survive an English system.
TEST_F(LocateProductTest, NamesBeyondTheAnsiCodePageComeThroughWhole) {
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::wstring(L" \"C:\\BF\\Ｍirvane 中文\\unins000.exe\""));
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, L"C:\\BF\\Ｍirvane 中文\\");
  FakeRegistry fallback;
  fallback.Set(HKLM, kCurrentVersion, "ProgramFilesDir", std::wstring(L"C:\\Программы"));
  ASSERT_EQ(LocateProduct("Mirvane", true, fallback, location), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, L"C:\\Программы\\Mirvane\\");
}

TEST_F(LocateProductTest, UnreadableShellFolderCallsForTheRegistryMessage) {
  for (const char* name : {"Programs", "Desktop", "Startup"}) {
    FakeRegistry broken = registry;
    broken.Set(HKCU, kShellFolders, name, WrongType{});
    EXPECT_EQ(LocateProduct("Mirvane", true, broken, location), LocateResult::NoRegistryAccess) << name;
    EXPECT_FALSE(broken.KeyOpen());
  }
  // Integer shell folder values are not strings either.
  registry.Set(HKCU, kShellFolders, "Startup", std::int32_t{1});
  EXPECT_EQ(Locate(), LocateResult::NoRegistryAccess);
}

// Outside the shell folders, a value that is no string is a failure no step handles; the
// accessor's report names the value and what was wrong with it.
TEST_F(LocateProductTest, NonStringValuesOutsideTheShellFoldersAreUnreadable) {
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::int32_t{5});
  EXPECT_EQ(Locate(), LocateResult::UnreadableValue);
  EXPECT_EQ(UnhandledFailureText(registry.LastFailure()), "Invalid data type for 'UninstallString'");

  FakeRegistry wow = registry;
  wow.Set(HKLM, kPlainEntry, "UninstallString", std::wstring(L"C:\\M\\u.exe"));
  wow.Set(HKLM, kWowEntry, "UninstallString", WrongType{});
  EXPECT_EQ(LocateProduct("Mirvane", true, wow, location), LocateResult::Located) << "the second place is not read";

  FakeRegistry onlyWow;
  onlyWow.Set(HKLM, kWowEntry, "UninstallString", WrongType{});
  EXPECT_EQ(LocateProduct("Mirvane", true, onlyWow, location), LocateResult::UnreadableValue);
  EXPECT_FALSE(onlyWow.KeyOpen());

  registry.Set(HKLM, kCurrentVersion, "ProgramFilesDir", WrongType{});
  EXPECT_EQ(Locate(), LocateResult::UnreadableValue);
  EXPECT_EQ(UnhandledFailureText(registry.LastFailure()), "Invalid data type for 'ProgramFilesDir'");
}

TEST(UninstallFolderPart, TakesTheFolderUpToTheLastBackslash) {
  struct Case {
    const wchar_t* value;
    std::optional<std::wstring> folder;
  } cases[] = {
      {L"C:\\Program Files\\Mirvane\\unins000.exe", L"C:\\Program Files\\Mirvane\\"},
      // The last character is not examined: a trailing backslash gives the parent.
      {L"C:\\Apps\\Mirvane\\", L"C:\\Apps\\"},
      {L"\"C:\\Program Files\\Mirvane\\unins000.exe\"", L"C:\\Program Files\\Mirvane\\"},
      {L"\"C:\\Program Files\\Mirvane\\unins000.exe\" /SILENT", L"C:\\Program Files\\Mirvane\\"},
      {L"\"C:\\Apps\\Mirvane\\\"", L"C:\\Apps\\"},
      {L"C:\\unins.exe \"x\\y\"", L"C:\\unins.exe \"x\\"},  // unquoted: taken as it stands
      // Blanks before the quote do not hide it; before an unquoted path they stay.
      {L" \"C:\\Apps\\Mirvane\\unins000.exe\"", L"C:\\Apps\\Mirvane\\"},
      {L" \t \"C:\\Apps\\Mirvane\\unins000.exe\" /x", L"C:\\Apps\\Mirvane\\"},
      {L"  C:\\Apps\\unins000.exe", L"  C:\\Apps\\"},
      {L" \"unins000.exe\"", std::nullopt},
      {L"   ", std::nullopt},
      {L"\\x", L"\\"},
      {L"", std::nullopt},
      {L"\\", std::nullopt},
      {L"unins000.exe", std::nullopt},
      {L"\"unins000.exe\"", std::nullopt},
      {L"\"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(UninstallFolderPart(c.value), c.folder) << ::testing::PrintToString(c.value);
}

}  // namespace
}  // namespace mv
