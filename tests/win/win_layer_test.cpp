// The Win32 layer against the real (Wine) system: registry accessor, product probe, start-up
// settings.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/setup_run_win.h"
#include "integrity/stamp_win.h"
#include "product/launch_win.h"
#include "product/product.h"
#include "support/desktop_session_win.h"
#include "support/files_win.h"
#include "ui/texts.h"
#include "win/registry_win.h"

namespace mv {
namespace {

// The desktop's shell runs for the whole program (see support/desktop_session_win.h).
::testing::Environment* const kDesktop = testing::HoldDesktopForTheWholeRun();

using testing::TempDir;

const char kTestKey[] = "Software\\MvSetupTests";

class SharedRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UniqueKey key;
    ASSERT_EQ(
        ::RegCreateKeyExA(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
        ERROR_SUCCESS);
    auto set = [&](const char* name, DWORD type, const void* data, DWORD size) {
      ::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    };
    set("plain", REG_SZ, "C:\\Apps\\Mirvane", 16);
    set("expand", REG_EXPAND_SZ, "%ProgramFiles%\\x", 17);
    set("empty", REG_SZ, nullptr, 0);
    set("unterminated", REG_SZ, "abc", 3);
    set("embedded", REG_SZ, "ab\0cd", 6);
    const DWORD number = 7;
    set("number", REG_DWORD, &number, sizeof number);
    set("binary", REG_BINARY, "xy", 2);
    set("multi", REG_MULTI_SZ, "a\0b\0", 5);
    // Stored by the W call, as an installer writes a path outside the ANSI code page; and a
    // careless writer's string without its NUL and of odd length.
    const wchar_t wide[] = L"C:\\BF\\Ｍirvane 中文\\Уроки";
    ::RegSetValueExW(key.get(), L"wide", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide), sizeof wide);
    ::RegSetValueExW(key.get(), L"odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"abcd"), 7);
  }
  void TearDown() override { ::RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey); }
};

TEST_F(SharedRegistryTest, ReadsStringsAsStoredAndRefusesOtherTypes) {
  SharedRegistry registry(SharedRegistryAccess(false));
  registry.SetRoot(RegistryRoot::CurrentUser);
  EXPECT_FALSE(registry.ValueExists("plain")) << "no key open yet";
  ASSERT_TRUE(registry.OpenKey(kTestKey, false));
  EXPECT_EQ(registry.ReadString("plain"), L"C:\\Apps\\Mirvane");
  EXPECT_EQ(registry.ReadString("expand"), L"%ProgramFiles%\\x") << "not expanded";
  EXPECT_EQ(registry.ReadString("empty"), L"");
  EXPECT_EQ(registry.ReadString("unterminated"), L"abc");
  EXPECT_EQ(registry.ReadString("embedded"), L"ab");
  EXPECT_EQ(registry.ReadString("wide"), L"C:\\BF\\Ｍirvane 中文\\Уроки") << "no lookalike, no question marks";
  EXPECT_EQ(registry.ReadString("odd"), L"abc") << "half a character dropped";
  // The texts of the report of an unhandled error.
  const struct {
    const char* name;
    const char* failure;
  } refused[] = {{"number", "Invalid data type for 'number'"},
                 {"binary", "Invalid data type for 'binary'"},
                 {"multi", "Invalid data type for 'multi'"},
                 {"missing", "Failed to get data for 'missing'"}};
  for (const auto& r : refused) {
    EXPECT_FALSE(registry.ReadString(r.name).has_value()) << r.name;
    EXPECT_EQ(UnhandledFailureText(registry.LastFailure()), r.failure);
  }
  EXPECT_TRUE(registry.ValueExists("number"));
  EXPECT_FALSE(registry.ValueExists("missing"));

  EXPECT_TRUE(registry.WriteInteger("EstimatedSize", -1));
  UniqueKey key;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, key.put()), ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof value;
  ASSERT_EQ(::RegQueryValueExA(key.get(), "EstimatedSize", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 0xFFFFFFFFu);

  registry.CloseKey();
  EXPECT_FALSE(registry.ValueExists("plain"));
  EXPECT_FALSE(registry.WriteInteger("x", 1)) << "no key open";
  EXPECT_EQ(UnhandledFailureText(registry.LastFailure()), "Failed to set data for 'x'");
  EXPECT_FALSE(registry.ReadString("plain").has_value()) << "no key open";
  EXPECT_EQ(UnhandledFailureText(registry.LastFailure()), "Failed to get data for 'plain'");
}

TEST_F(SharedRegistryTest, OpeningAMissingKeyFailsQuietlyAndCreatingMakesIt) {
  SharedRegistry registry(SharedRegistryAccess(false));
  registry.SetRoot(RegistryRoot::CurrentUser);
  const std::string child = std::string(kTestKey) + "\\Child";
  EXPECT_FALSE(registry.OpenKey(child, false));
  ASSERT_TRUE(registry.OpenKey(child, true));
  registry.CloseKey();
  EXPECT_TRUE(registry.OpenKey(child, false));
  registry.SetRoot(RegistryRoot::LocalMachine);  // a change of root closes the key
  EXPECT_FALSE(registry.ValueExists("anything"));
  ::RegDeleteKeyA(HKEY_CURRENT_USER, child.c_str());
}

TEST(ProductProbe, SeesTheMappingOnlyWhileItExists) {
  EXPECT_FALSE(IsProductRunning());
  EXPECT_FALSE(IsProductRunning()) << "the probe must not keep its own mapping alive";
  UniqueHandle product(
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, product::kMappingName));
  ASSERT_TRUE(product);
  EXPECT_TRUE(IsProductRunning());
  product.reset();
  EXPECT_FALSE(IsProductRunning()) << "a product that quit is not seen as running";
}

TEST(ProductProbe, NoQuitRequestWithoutAWindow) {
  // With no product window nothing may be posted to this thread's own queue.
  UniqueHandle process;
  EXPECT_FALSE(AskProductToQuit(process));
  EXPECT_FALSE(process);
  MSG msg;
  EXPECT_FALSE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// Wine runs everyone as an administrator. The check reads the thread's own token, so a thread
// that takes a copy of it with the group for deny only, as an administrator's token holds it
// before elevation, must not count.
TEST(Administrator, OnlyAnEnabledAdministratorsGroupCounts) {
  EXPECT_TRUE(UserIsAdministrator());
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  UniqueSid administrators;
  ASSERT_TRUE(::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                         0, 0, 0, administrators.put()));
  UniqueHandle own, filtered, impersonation;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, own.put()));
  SID_AND_ATTRIBUTES denyOnly{administrators.get(), 0};
  ASSERT_TRUE(::CreateRestrictedToken(own.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, filtered.put()));
  ASSERT_TRUE(::DuplicateToken(filtered.get(), SecurityImpersonation, impersonation.put()));
  ASSERT_TRUE(::SetThreadToken(nullptr, impersonation.get()));
  const bool counted = UserIsAdministrator();
  ::RevertToSelf();
  EXPECT_FALSE(counted);
}

TEST(FileExists, DirectoriesDoNotCount) {
  TempDir dir;
  SharedRegistry registry(KEY_READ);
  InstallerCheck check;
  WinSetupSystem host(registry, check);
  ASSERT_TRUE(::CreateDirectoryW((dir / L"Ｍirvane").c_str(), nullptr));
  testing::WriteFile(dir / L"Ｍirvane\\Mirvane.exe", 1);
  ASSERT_TRUE(::CreateDirectoryW((dir / L"Folder.exe").c_str(), nullptr));
  EXPECT_TRUE(host.FileExists(dir / L"Ｍirvane\\Mirvane.exe"));
  EXPECT_FALSE(host.FileExists(dir / L"Mirvane\\Mirvane.exe")) << "the ASCII lookalike is another folder";
  EXPECT_FALSE(host.FileExists(dir / L"Folder.exe"));
  EXPECT_FALSE(host.FileExists(dir / L"None.exe"));
}

}  // namespace
}  // namespace mv
