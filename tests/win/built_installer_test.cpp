// What Windows' own readers make of the built installer of the tests' architecture (the default
// build): the version information Explorer shows, every image of its icon, and its checksum.
// tests/builder checks the bytes the builder writes; this checks that Windows reads them as meant.
#include <windows.h>
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install/versions_win.h"
#include "support/text_win.h"
#include "win/handles_win.h"

namespace mv {
namespace {

const wchar_t kBuiltInstaller[] = MV_TEST_BUILT_INSTALLER;

class BuiltInstallerVersionInformation : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(kBuiltInstaller, &ignored);
    ASSERT_GT(size, 0u) << "no version information: run tools/build-installer (with --arch x64 for x64) first";
    info_.resize(size);
    ASSERT_TRUE(::GetFileVersionInfoW(kBuiltInstaller, 0, size, info_.data()));
  }

  // A value by the path Explorer takes: the translation the file names first.
  std::wstring String(const wchar_t* key) {
    void* translation = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(info_.data(), L"\\VarFileInfo\\Translation", &translation, &length) || length < 4) {
      return L"<no translation>";
    }
    const auto* words = static_cast<const WORD*>(translation);
    wchar_t path[64];
    swprintf(path, 64, L"\\StringFileInfo\\%04X%04X\\%ls", words[0], words[1], key);
    void* value = nullptr;
    if (!::VerQueryValueW(info_.data(), path, &value, &length)) return L"<missing>";
    return static_cast<const wchar_t*>(value);
  }

  std::vector<BYTE> info_;
};

TEST_F(BuiltInstallerVersionInformation, StringsAsExplorerShowsThem) {
  EXPECT_EQ(String(L"FileDescription"), L"Mirvane update: \"Тарвелин 3\" версии 92");
  EXPECT_EQ(String(L"ProductName"), L"Mirvane");
  EXPECT_EQ(String(L"CompanyName"), L"Mirvane");
  EXPECT_EQ(String(L"LegalCopyright"), L"Copyright © Mirvane");
  EXPECT_EQ(String(L"FileVersion"), L"92.0.0.0");
  EXPECT_EQ(String(L"ProductVersion"), L"92");
  EXPECT_EQ(String(L"OriginalFilename"), L"mvm3-setup.exe");
}

TEST_F(BuiltInstallerVersionInformation, FixedVersionAsTheInstallerReadsAnExecutablesVersion) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(info_.data(), L"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 92u << 16);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  // The installer's own reader of an executable payload's version, on its own file.
  EXPECT_EQ(ReadFileVersionString(kBuiltInstaller), L"92.0.0.0");
}

// The size an icon image is drawn at without scaling: a PNG's or a bitmap's own width.
int NativeWidth(const BYTE* image, DWORD size) {
  if (size >= 24 && image[0] == 0x89 && image[1] == 'P') return (image[18] << 8) | image[19];
  return size >= sizeof(BITMAPINFOHEADER) ? reinterpret_cast<const BITMAPINFOHEADER*>(image)->biWidth : -1;
}

TEST(BuiltInstallerIcon, EverySizeHasItsOwnImageAndDecodes) {
  const UniqueModule module(
      ::LoadLibraryExW(kBuiltInstaller, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(module);
  const HRSRC groupInfo = ::FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_GROUP_ICON);
  ASSERT_NE(groupInfo, nullptr) << "icon group 1";
  auto* group = static_cast<BYTE*>(::LockResource(::LoadResource(module.get(), groupInfo)));
  for (const int size : {16, 32, 48, 256}) {
    SCOPED_TRACE(size);
    const int id = ::LookupIconIdFromDirectoryEx(group, TRUE, size, size, LR_DEFAULTCOLOR);
    ASSERT_NE(id, 0);
    const HRSRC iconInfo = ::FindResourceW(module.get(), MAKEINTRESOURCEW(id), RT_ICON);
    ASSERT_NE(iconInfo, nullptr);
    auto* image = static_cast<BYTE*>(::LockResource(::LoadResource(module.get(), iconInfo)));
    const DWORD length = ::SizeofResource(module.get(), iconInfo);
    EXPECT_EQ(NativeWidth(image, length), size) << "picked an image of another size, to be scaled";
    const HICON icon = ::CreateIconFromResourceEx(image, length, TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR);
    ASSERT_NE(icon, nullptr) << "Windows cannot draw the image";
    ICONINFO parts{};
    ASSERT_TRUE(::GetIconInfo(icon, &parts));
    BITMAP bitmap{};
    EXPECT_TRUE(::GetObjectW(parts.hbmMask, sizeof bitmap, &bitmap));
    EXPECT_EQ(bitmap.bmWidth, size);
    if (parts.hbmColor) ::DeleteObject(parts.hbmColor);
    ::DeleteObject(parts.hbmMask);
    ::DestroyIcon(icon);
  }
}

TEST(BuiltInstallerCheckSum, AsImagehlpComputesIt) {
  DWORD stored = 0;
  DWORD computed = 0;
  ASSERT_EQ(::MapFileAndCheckSumW(kBuiltInstaller, &stored, &computed), static_cast<DWORD>(CHECKSUM_SUCCESS));
  EXPECT_NE(stored, 0u);
  EXPECT_EQ(stored, computed);
}

}  // namespace
}  // namespace mv
