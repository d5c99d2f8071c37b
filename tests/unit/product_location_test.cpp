#include "env/product_location.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_registry.h"

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

struct RecordedMessages : MessageSink {
  std::vector<std::wstring> english;
  void ShowBilingualError(std::wstring_view en, std::wstring_view) override { english.emplace_back(en); }
};

class LocateProductTest : public ::testing::Test {
 protected:
  LocateProductTest() {
    registry.Set(HKLM, kCurrentVersion, "ProgramFilesDir", std::string("C:\\Program Files"));
    registry.Set(HKCU, kShellFolders, "Desktop", std::string("C:\\Users\\u\\Desktop"));
  }
  bool Locate(bool admin = true) {
    const bool ok = LocateProduct("Mirvane", admin, registry, messages, location);
    EXPECT_FALSE(registry.keyOpen()) << "a key was left open";
    EXPECT_EQ(registry.opens, registry.closes);
    return ok;
  }
  FakeRegistry registry;
  RecordedMessages messages;
  ProductLocation location;
};

TEST_F(LocateProductTest, FolderFromThePlainEntry) {
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::string("D:\\Games\\Mirvane\\unins000.exe"));
  registry.Set(HKLM, kWowEntry, "UninstallString", std::string("E:\\Other\\unins000.exe"));
  ASSERT_TRUE(Locate(false));
  EXPECT_EQ(location.ProductFolder, "D:\\Games\\Mirvane\\");
  EXPECT_EQ(location.UninstallKey, kCurrentVersion + "Uninstall\\");
  EXPECT_FALSE(location.UserIsAdmin);
  EXPECT_TRUE(messages.english.empty());
}

TEST_F(LocateProductTest, PlainKeyWithoutTheValueSendsTheSearchOnToWow6432Node) {
  registry.AddKey(HKLM, kPlainEntry);
  registry.Set(HKLM, kWowEntry, "UninstallString", std::string("E:\\Mirvane\\unins000.exe"));
  ASSERT_TRUE(Locate());
  EXPECT_EQ(location.ProductFolder, "E:\\Mirvane\\");
  EXPECT_TRUE(location.UserIsAdmin);
}

TEST_F(LocateProductTest, FallbacksWhenNoEntryOrNoFolderPart) {
  ASSERT_TRUE(Locate());
  EXPECT_EQ(location.ProductFolder, "C:\\Program Files\\Mirvane\\");

  // An uninstall string without a folder part keeps the fallback.
  for (const char* value : {"", "unins000.exe", "\\"}) {
    registry.Set(HKLM, kPlainEntry, "UninstallString", std::string(value));
    ASSERT_TRUE(Locate());
    EXPECT_EQ(location.ProductFolder, "C:\\Program Files\\Mirvane\\") << value;
  }
}

TEST_F(LocateProductTest, NoProgramFilesDirGivesARelativeFolder) {
  FakeRegistry bare;
  ASSERT_TRUE(LocateProduct("Mirvane", true, bare, messages, location));
  EXPECT_EQ(location.ProductFolder, "Mirvane\\");
  registry.Set(HKLM, kCurrentVersion, "ProgramFilesDir", std::string("C:\\PF\\"));
  ASSERT_TRUE(Locate());
  EXPECT_EQ(location.ProductFolder, "C:\\PF\\Mirvane\\");
}

TEST_F(LocateProductTest, QuotedAndBackslashEndedUninstallStrings) {
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::string("\"C:\\Program Files\\Mirvane\\unins000.exe\" /x"));
  ASSERT_TRUE(Locate());
  EXPECT_EQ(location.ProductFolder, "C:\\Program Files\\Mirvane\\");
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::string("C:\\Apps\\Mirvane\\"));
  ASSERT_TRUE(Locate());
  EXPECT_EQ(location.ProductFolder, "C:\\Apps\\");
}

TEST_F(LocateProductTest, UnreadableShellFolderShowsTheRegistryMessage) {
  for (const char* name : {"Programs", "Desktop", "Startup"}) {
    FakeRegistry broken = registry;
    broken.Set(HKCU, kShellFolders, name, WrongType{});
    RecordedMessages shown;
    EXPECT_FALSE(LocateProduct("Mirvane", true, broken, shown, location)) << name;
    EXPECT_FALSE(broken.keyOpen());
    ASSERT_EQ(shown.english.size(), 1u);
    EXPECT_EQ(shown.english[0], L"No access to system registry");
  }
  // Integer shell folder values are not strings either.
  registry.Set(HKCU, kShellFolders, "Startup", std::int32_t{1});
  EXPECT_FALSE(Locate());
}

// The report of the end names the value and what was wrong with it; no bilingual message.
TEST_F(LocateProductTest, NonStringValuesOutsideTheShellFoldersStepEndTheProcess) {
  registry.Set(HKLM, kPlainEntry, "UninstallString", std::int32_t{5});
  try {
    Locate();
    ADD_FAILURE() << "LocateProduct returned";
  } catch (const testing::UnhandledEnd& end) {
    EXPECT_EQ(end.what, "Invalid data type for 'UninstallString'");
  }
  EXPECT_FALSE(registry.keyOpen());

  FakeRegistry wow = registry;
  wow.Set(HKLM, kPlainEntry, "UninstallString", std::string("C:\\M\\u.exe"));
  wow.Set(HKLM, kWowEntry, "UninstallString", WrongType{});
  EXPECT_NO_THROW(LocateProduct("Mirvane", true, wow, messages, location)) << "the second place is not read";

  FakeRegistry onlyWow;
  onlyWow.Set(HKLM, kWowEntry, "UninstallString", WrongType{});
  EXPECT_THROW(LocateProduct("Mirvane", true, onlyWow, messages, location), testing::UnhandledEnd);

  registry.Set(HKLM, kCurrentVersion, "ProgramFilesDir", WrongType{});
  EXPECT_THROW(Locate(), testing::UnhandledEnd);
  EXPECT_TRUE(messages.english.empty());
}

}  // namespace
}  // namespace mv
