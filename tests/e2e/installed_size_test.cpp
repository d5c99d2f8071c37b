// "EstimatedSize" of a product folder with nested subfolders and hidden and system files and
// folders, against a total this test adds up from the sizes it wrote.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using InstalledSize = InstallerTest;

TEST_F(InstalledSize, IsTheSumOfEveryFileInTheTreeInWholeKiB) {
  constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  struct Entry {
    const wchar_t* path;  // below the product folder; a final backslash makes a folder
    std::size_t size;
    DWORD attributes;
  };
  // Odd sizes, so that rounding per file or per folder would give another total.
  const Entry entries[] = {
      {L"data\\levels\\one\\two\\three\\", 0, 0},
      {L"data\\levels\\one\\a.bin", 1500, 0},
      {L"data\\levels\\one\\two\\three\\b.bin", 700, 0},
      {L"hidden.dat", 900, FILE_ATTRIBUTE_HIDDEN},
      {L"system.dat", 1300, FILE_ATTRIBUTE_SYSTEM},
      {L"cache\\", 0, kHiddenSystem},
      {L"cache\\both.dat", 2000, kHiddenSystem},
      {L"cache\\inner\\", 0, FILE_ATTRIBUTE_HIDDEN},
      {L"cache\\inner\\deep.dat", 333, FILE_ATTRIBUTE_READONLY},
  };
  // What PlaceProduct put there and the installer adds.
  std::uint64_t bytes = 600 + 600;
  for (const std::wstring& file : {product_ + L"Mirvane.exe", Payload()}) {
    auto content = ReadBytes(file);
    ASSERT_TRUE(content.has_value()) << Utf8(file);
    bytes += content->size();
  }
  for (const Entry& e : entries) {
    const std::wstring path = product_ + e.path;
    if (path.back() == L'\\')
      MakeDirectories(path.substr(0, path.size() - 1));
    else
      WriteBytes(path, std::string(e.size, 'x'));
    bytes += e.size;
    if (e.attributes) {
      ASSERT_TRUE(SetFileAttributesW(path.c_str(), e.attributes)) << Utf8(path);
    }
  }

  RunResult r = RunInstaller(L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(FolderBytes(product_), bytes) << "the harness's own count of the folder";
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"), std::optional<DWORD>(bytes >> 10))
      << bytes << " bytes";
}

}  // namespace
}  // namespace e2e
