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
    registry.Set(HKLM, kCurrentVersion, "ProgramFilesDir", std::string("C:\\Program Files"));
    registry.Set(HKCU, kShellFolders, "Desktop", std::string("C:\\Users\\u\\Desktop"));
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
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::string("D:\\Games\\Mirvane\\unins000.exe"));
  registry.Set(HKLM, kWowEntry, "UninstallString", std::string("E:\\Other\\unins000.exe"));
  ASSERT_EQ(Locate(false), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, "D:\\Games\\Mirvane\\");
  EXPECT_EQ(location.UninstallKey, kCurrentVersion + "Uninstall\\");
  EXPECT_FALSE(location.UserIsAdmin);
}

TEST_F(LocateProductTest, PlainKeyWithoutTheValueSendsTheSearchOnToWow6432Node) {
  registry.AddKey(HKLM, kPlainEntry);
  registry.Set(HKLM, kWowEntry, "UninstallString", std::string("E:\\Mirvane\\unins000.exe"));
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, "E:\\Mirvane\\");
  EXPECT_TRUE(location.UserIsAdmin);
}

TEST_F(LocateProductTest, FallbacksWhenNoEntryOrNoFolderPart) {
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, "C:\\Program Files\\Mirvane\\");

  // An uninstall string without a folder part keeps the fallback.
  for (const char* value : {"", "unins000.exe", "\\"}) {
    registry.Set(HKLM, kPlainEntry, "UninstallString", std::string(value));
    ASSERT_EQ(Locate(), LocateResult::Located);
    EXPECT_EQ(location.ProductFolder, "C:\\Program Files\\Mirvane\\") << value;
  }
}

TEST_F(LocateProductTest, NoProgramFilesDirGivesARelativeFolder) {
  FakeRegistry bare;
  ASSERT_EQ(LocateProduct("Mirvane", true, bare, location), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, "Mirvane\\");
  registry.Set(HKLM, kCurrentVersion, "ProgramFilesDir", std::string("C:\\PF\\"));
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, "C:\\PF\\Mirvane\\");
}

TEST_F(LocateProductTest, QuotedAndBackslashEndedUninstallStrings) {
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::string("\"C:\\Program Files\\Mirvane\\unins000.exe\" /x"));
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, "C:\\Program Files\\Mirvane\\");
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::string("C:\\Apps\\Mirvane\\"));
  ASSERT_EQ(Locate(), LocateResult::Located);
  EXPECT_EQ(location.ProductFolder, "C:\\Apps\\");
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
  wow.Set(HKLM, kPlainEntry, "UninstallString", std::string("C:\\M\\u.exe"));
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
    const char* value;
    std::optional<std::string> folder;
  } cases[] = {
      {"C:\\Program Files\\Mirvane\\unins000.exe", "C:\\Program Files\\Mirvane\\"},
      // The last character is not examined: a trailing backslash gives the parent.
      {"C:\\Apps\\Mirvane\\", "C:\\Apps\\"},
      {"\"C:\\Program Files\\Mirvane\\unins000.exe\"", "C:\\Program Files\\Mirvane\\"},
      {"\"C:\\Program Files\\Mirvane\\unins000.exe\" /SILENT", "C:\\Program Files\\Mirvane\\"},
      {"\"C:\\Apps\\Mirvane\\\"", "C:\\Apps\\"},
      {"C:\\unins.exe \"x\\y\"", "C:\\unins.exe \"x\\"},  // unquoted: taken as it stands
      // Blanks before the quote do not hide it; before an unquoted path they stay.
      {" \"C:\\Apps\\Mirvane\\unins000.exe\"", "C:\\Apps\\Mirvane\\"},
      {" \t \"C:\\Apps\\Mirvane\\unins000.exe\" /x", "C:\\Apps\\Mirvane\\"},
      {"  C:\\Apps\\unins000.exe", "  C:\\Apps\\"},
      {" \"unins000.exe\"", std::nullopt},
      {"   ", std::nullopt},
      {"\\x", "\\"},
      {"", std::nullopt},
      {"\\", std::nullopt},
      {"unins000.exe", std::nullopt},
      {"\"unins000.exe\"", std::nullopt},
      {"\"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(UninstallFolderPart(c.value), c.folder) << c.value;
}

}  // namespace
}  // namespace mv
