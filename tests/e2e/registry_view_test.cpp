// Which registry view the installer reads and writes. On 64-bit Windows a 32-bit process sees
// HKLM\Software redirected to Software\WOW6432Node unless it asks for the 64-bit view, which
// start-up does exactly when it names the system "... 64-bit". A 64-bit process sees the native
// view either way, so the shipped x86 build and its x64 twin differ here, and the x86 result is
// the one users get.
#include "e2e/fixture.h"

namespace e2e {
namespace {

// "ProgramFilesDir" of the native or the 32-bit view.
std::wstring ProgramFiles(bool native) {
  const std::wstring key = native ? kCurrentVersionKey : L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion";
  auto folder = ReadString(HKEY_LOCAL_MACHINE, key, L"ProgramFilesDir");
  EXPECT_TRUE(folder.has_value());
  return folder.value_or(L"?") + L"\\";
}

class RegistryView : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    ASSERT_NE(ProgramFiles(true), ProgramFiles(false)) << "the prefix has no separate 32-bit view";
  }

  // The payload in `folder` and its size in the uninstall key `sizeKey` (of the native view,
  // where WOW6432Node is a plain path), and no size in the other one; with no `sizeKey`, no
  // size and no uninstall key at all.
  void ExpectInstalledWithSizeUnder(const std::wstring& folder, const std::wstring& sizeKey) {
    EXPECT_EQ(ReadBytes(folder + L"mvm3.pak"), ReadBytes(Payload())) << Utf8(folder);
    for (const std::wstring* key : {&kUninstallKey, &kWowUninstallKey}) {
      if (*key == sizeKey) {
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, sizeKey, L"EstimatedSize"),
                  std::optional<DWORD>(static_cast<DWORD>(FolderBytes(folder) / 1024)));
      } else {
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, *key, L"EstimatedSize").has_value()) << Utf8(*key);
        if (sizeKey.empty()) {
          EXPECT_FALSE(mv::testing::KeyExists(HKEY_LOCAL_MACHINE, *key)) << Utf8(*key);
        }
      }
    }
  }

  // Without an entry, the product in `fallback` (the Program Files folder of the view the build
  // sees) gets the payload and no size; with a 32-bit product's entry under WOW6432Node, the
  // size lands in it, whichever way the build reaches it.
  void InstallWithoutAnEntryAndWithAWow6432NodeEntry(const std::wstring& fallback) {
    RemoveUninstallEntries();
    PlaceProduct(fallback);
    RunResult r = RunInstaller(L"modest", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalledWithSizeUnder(fallback, L"");

    RemoveUninstallEntries();
    RegisterUninstallString(product_ + L"unins000.exe", /*underWow6432Node=*/true);
    r = RunInstaller(L"modest", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalledWithSizeUnder(product_, kWowUninstallKey);
  }
};

TEST_F(RegistryView, OnWindowsNamedSixtyFourBitTheNativeViewIsUsed) {
  // Wine's default, Windows 7 64-bit: both builds read the native Program Files folder, and
  // write the size into the entry they found, also when it exists only under WOW6432Node.
  InstallWithoutAnEntryAndWithAWow6432NodeEntry(ProgramFiles(true) + L"Mirvane\\");
}

TEST_F(RegistryView, OnWindowsNotNamedSixtyFourBitTheShippedBuildSeesTheRedirectedView) {
  // XP x64 is named "... Professional x64", which holds no " 64": no 64-bit view is asked for.
  ReportWindows(L"winxp64");
  const bool redirected = ShippedX86();

  // No entry: the fallback is the Program Files folder of the view the build sees. A 32-bit
  // product's entry: the redirected plain path is the WOW6432Node one, and the native view finds
  // it under its explicit path.
  const std::wstring fallback = ProgramFiles(!redirected) + L"Mirvane\\";
  InstallWithoutAnEntryAndWithAWow6432NodeEntry(fallback);

  // An entry in the native view only is out of the redirected installer's sight: it falls back
  // to Program Files (x86), where there is no product.
  RemoveUninstallEntries();
  RemoveTree(fallback);
  DeleteFileW((product_ + L"mvm3.pak").c_str());
  RegisterUninstallString(product_ + L"unins000.exe");
  if (redirected) {
    const RunResult r = RunInstaller(L"modest", {Press(expect::NoProduct(), IDOK)});
    EXPECT_EQ(r.exitCode, kExitNotInstalled);
    EXPECT_FALSE(IsFile(product_ + L"mvm3.pak"));
  } else {
    const RunResult r = RunInstaller(L"modest", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalledWithSizeUnder(product_, kUninstallKey);
  }
}

}  // namespace
}  // namespace e2e
