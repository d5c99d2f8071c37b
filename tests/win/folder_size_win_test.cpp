// The installed size against the real (Wine) file system.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win/handles_win.h"
#include "install/folder_size_win.h"
#include "support/files_win.h"

namespace mv {
namespace {

using testing::TempDir;

// The file is extended rather than written, so gigabytes cost nothing on a file system that
// keeps them sparse.
using testing::Utf8;

void MakeFile(const std::wstring& path, std::uint64_t size, DWORD attributes = 0) {
  {
    UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << Utf8(path);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    ASSERT_TRUE(::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get())) << Utf8(path);
  }
  if (attributes) {
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), attributes)) << Utf8(path);
  }
}

void MakeFolders(const std::wstring& path, DWORD attributes = 0) {
  testing::MakeDirectories(path);
  if (attributes) {
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), attributes)) << Utf8(path);
  }
}

void ExpectSize(const std::wstring& folder, std::int32_t kib, const std::string& what) {
  EXPECT_EQ(GetFolderSizeKB(folder), kib) << what;
  EXPECT_EQ(GetFolderSizeKB(folder + L"\\"), kib) << what << ", with a trailing backslash";
}

TEST(FolderSize, TheSumOfAllFilesRoundedDownToWholeKiB) {
  struct Case {
    const char* what;
    std::vector<std::uint64_t> sizes;
    std::int32_t kib;
  };
  const Case cases[] = {
      {"empty folder", {}, 0},
      {"1023 bytes", {1000, 23}, 0},
      {"1024 bytes", {1000, 23, 1}, 1},
      {"2047 bytes", {1000, 23, 1, 1023}, 1},
      {"a file beyond 4 GiB counts whole", {(4ull << 30) + 1024}, 4 * 1024 * 1024 + 1},
      {"a total beyond 4 GiB does not wrap", {3ull << 30, 3ull << 30}, 6 * 1024 * 1024},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) MakeFile(dir / (L"f" + std::to_wstring(i)), c.sizes[i]);
    ExpectSize(dir.wide(), c.kib, c.what);
  }
}

TEST(FolderSize, DeepSubfoldersHiddenAndSystemFilesCount) {
  TempDir dir;
  MakeFile(dir / L"hidden.dat", 1000, FILE_ATTRIBUTE_HIDDEN);
  MakeFile(dir / L"system.dat", 1000, FILE_ATTRIBUTE_SYSTEM);
  MakeFolders(dir / L"one\\two\\three\\four\\five");
  MakeFile(dir / L"one\\two\\three\\four\\five\\deep.dat", 2100);
  MakeFolders(dir / L"one\\cache", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile(dir / L"one\\cache\\inner.dat", 100, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  // 4200 bytes; rounding each file down would give 2.
  ExpectSize(dir.wide(), 4, "the whole tree");
}

// After a write left for the next restart: the size the folder will have then, without the file
// that the restart replaces by one that is counted already.
TEST(FolderSize, AFileReplacedAtTheNextRestartDoesNotCount) {
  TempDir dir;
  MakeFile(dir / L"readme.txt", 4200);
  MakeFile(dir / L"mvm3.pak", 3000);
  MakeFile(dir / L"~mvm3.pak.restart", 3100);
  EXPECT_EQ(GetFolderSizeKB(dir.wide(), dir / L"mvm3.pak"), 7);
  EXPECT_EQ(GetFolderSizeKB(dir.wide()), 10) << "the old copy and its replacement both";
}

// Names outside the ANSI code page, in the folder's own path and below it: the ANSI listing
// spells them with question marks, which name nothing, and would leave them out.
TEST(FolderSize, NamesOutsideTheAnsiCodePageAreCounted) {
  TempDir dir;
  const std::wstring product = dir / L"Ｍirvane 中文";
  bool someOutside = false;
  for (const wchar_t* name : {L"Уроки", L"中文", L"Ｍ"}) {
    BOOL lossy = FALSE;
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, nullptr, 0, nullptr, &lossy);
    someOutside = someOutside || lossy;
  }
  ASSERT_TRUE(someOutside) << "every name fits this system's ANSI code page";
  MakeFolders(product + L"\\Уроки\\中文");
  MakeFile(product + L"\\readme.txt", 1000);
  MakeFile(product + L"\\Уроки\\урок.dat", 3000);
  MakeFile(product + L"\\Уроки\\中文\\课.dat", 4192);
  ExpectSize(product, 8, "8192 bytes, most of them in folders named beyond the code page");
}

TEST(FolderSize, OnlyAnEmptyPathOrNoFolderIsMinusOne) {
  TempDir dir;
  MakeFile(dir / L"file", 5000);
  for (const std::wstring& path :
       {std::wstring(), dir / L"file", dir / L"file\\", dir / L"missing", dir / L"missing\\x"})
    EXPECT_EQ(GetFolderSizeKB(path), -1) << "'" << Utf8(path) << "'";
}

// A folder whose name ends in a dot cannot be listed through a plain path, which loses that dot
// (on Windows and under Wine alike): it adds nothing and the walk goes on.
TEST(FolderSize, AFolderThatCannotBeListedAddsNothing) {
  TempDir dir;
  MakeFolders(dir / L"a");
  MakeFile(dir / L"a\\counted.dat", 1024);
  // Only the long-path form keeps the dot.
  const std::wstring unlistable = L"\\\\?\\" + dir / L"a\\lost.";
  ASSERT_TRUE(::CreateDirectoryW(unlistable.c_str(), nullptr));
  // Nor can the plain calls that clear the temp folder remove it.
  struct RemoveLater {
    std::wstring folder;
    ~RemoveLater() {
      ::DeleteFileW((folder + L"\\lost.dat").c_str());
      ::RemoveDirectoryW(folder.c_str());
    }
  } removeLater{unlistable};
  {
    UniqueFile file(
        ::CreateFileW((unlistable + L"\\lost.dat").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), std::string(4096, 'x').data(), 4096, &written, nullptr));
  }
  // Breadth-first, this folder comes after the unlistable one.
  MakeFolders(dir / L"s\\t\\u");
  MakeFile(dir / L"s\\t\\u\\after.dat", 2048);

  EXPECT_EQ(GetFolderSizeKB(dir.wide()), 3);
}

// A directory link, made as this system allows. Windows makes one with CreateSymbolicLinkW
// (given the privilege or developer mode). Wine 8 reports success for that call but makes
// nothing, and refuses FSCTL_SET_REPARSE_POINT (so no junctions either): there it is a Unix
// symbolic link, which it shows as a folder with the reparse-point attribute.
class DirectoryLink {
 public:
  DirectoryLink(const std::wstring& link, const std::wstring& target) : link_(link) {
    made_ =
        ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && testing::IsDirectory(link);
    unix_ = !made_ && testing::MakeUnixLink(link, target);
  }
  ~DirectoryLink() { unix_ ? testing::RemoveUnixLink(link_) : ::RemoveDirectoryW(link_.c_str()); }
  DirectoryLink(const DirectoryLink&) = delete;
  DirectoryLink& operator=(const DirectoryLink&) = delete;

  bool Made() const { return made_ || unix_; }

 private:
  std::wstring link_;
  bool made_ = false, unix_ = false;
};

TEST(FolderSize, DirectoryLinksAreNotEnteredSoACycleEnds) {
  TempDir dir, elsewhere;
  MakeFile(dir / L"top.dat", 3000);
  MakeFolders(dir / L"a\\b");
  MakeFile(dir / L"a\\inside.dat", 2000);
  MakeFile(elsewhere / L"outside.dat", 50000);
  DirectoryLink up(dir / L"a\\b\\up", dir.wide());
  DirectoryLink out(dir / L"a\\out", elsewhere.wide());
  if (!up.Made() || !out.Made()) GTEST_SKIP() << "this system makes no directory links for this process";
  const DWORD attributes = ::GetFileAttributesW((dir / L"a\\b\\up").c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "the link is not marked: attributes " << attributes;

  // Following the link would count the tree again at every turn until the paths outgrow
  // MAX_PATH (or forever, given two such links).
  ExpectSize(dir.wide(), 4, "a link back up the tree and a link out of it");
}

}  // namespace
}  // namespace mv
