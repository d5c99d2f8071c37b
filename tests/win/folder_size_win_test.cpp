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
void MakeFile(const std::string& path, std::uint64_t size, DWORD attributes = 0) {
  {
    UniqueFile file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << path;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    ASSERT_TRUE(::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get())) << path;
  }
  if (attributes) {
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), attributes)) << path;
  }
}

void MakeFolders(const std::string& path, DWORD attributes = 0) {
  testing::MakeDirectories(testing::AnsiWide(path));
  if (attributes) {
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), attributes)) << path;
  }
}

void ExpectSize(const std::string& folder, std::int32_t kib, const std::string& what) {
  EXPECT_EQ(GetFolderSizeKB(folder), kib) << what;
  EXPECT_EQ(GetFolderSizeKB(folder + "\\"), kib) << what << ", with a trailing backslash";
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
    for (std::size_t i = 0; i < c.sizes.size(); ++i)
      MakeFile(dir / std::string("f").append(std::to_string(i)), c.sizes[i]);
    ExpectSize(dir.path(), c.kib, c.what);
  }
}

TEST(FolderSize, DeepSubfoldersHiddenAndSystemFilesCount) {
  TempDir dir;
  MakeFile(dir / "hidden.dat", 1000, FILE_ATTRIBUTE_HIDDEN);
  MakeFile(dir / "system.dat", 1000, FILE_ATTRIBUTE_SYSTEM);
  MakeFolders(dir / "one\\two\\three\\four\\five");
  MakeFile(dir / "one\\two\\three\\four\\five\\deep.dat", 2100);
  MakeFolders(dir / "one\\cache", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile(dir / "one\\cache\\inner.dat", 100, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  // 4200 bytes; rounding each file down would give 2.
  ExpectSize(dir.path(), 4, "the whole tree");
}

TEST(FolderSize, OnlyAnEmptyPathOrNoFolderIsMinusOne) {
  TempDir dir;
  MakeFile(dir / "file", 5000);
  for (const std::string& path : {std::string(), dir / "file", dir / "file\\", dir / "missing", dir / "missing\\x"})
    EXPECT_EQ(GetFolderSizeKB(path), -1) << "'" << path << "'";
}

// A folder whose listing pattern is longer than MAX_PATH cannot be listed through the ANSI
// calls: it adds nothing and the walk goes on.
TEST(FolderSize, AFolderThatCannotBeListedAddsNothing) {
  TempDir dir;
  // A folder path of 240 characters leaves room for "\*.*" within MAX_PATH; 20 more do not.
  const std::size_t kListable = 240;
  if (dir.path().size() + 2 > kListable) GTEST_SKIP() << "temp folder too deep: " << dir.path();
  const std::string listable = dir / std::string(kListable - dir.path().size() - 1, 'L');
  const std::string unlistable = listable + "\\" + std::string(20, 'U');
  MakeFolders(listable);
  MakeFile(listable + "\\counted.dat", 1024);
  // Only the long-path form of the wide calls reaches beyond MAX_PATH.
  const std::wstring wide = L"\\\\?\\" + std::wstring(unlistable.begin(), unlistable.end());
  ASSERT_TRUE(::CreateDirectoryW(wide.c_str(), nullptr));
  // The ANSI calls that clear the temp folder cannot reach it either.
  struct RemoveLater {
    std::wstring folder;
    ~RemoveLater() {
      ::DeleteFileW((folder + L"\\lost.dat").c_str());
      ::RemoveDirectoryW(folder.c_str());
    }
  } removeLater{wide};
  {
    UniqueFile file(
        ::CreateFileW((wide + L"\\lost.dat").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), std::string(4096, 'x').data(), 4096, &written, nullptr));
  }
  // Breadth-first, this folder comes after the unlistable one.
  MakeFolders(dir / "s\\t\\u");
  MakeFile(dir / "s\\t\\u\\after.dat", 2048);

  EXPECT_EQ(GetFolderSizeKB(dir.path()), 3);
}

// A directory link, made as this system allows. Windows makes one with CreateSymbolicLinkA
// (given the privilege or developer mode). Wine 8 reports success for that call but makes
// nothing, and refuses FSCTL_SET_REPARSE_POINT (so no junctions either); a Unix symbolic link,
// made here by the Linux ln, is what it shows as a folder with the reparse-point attribute.
class DirectoryLink {
 public:
  DirectoryLink(const std::string& link, const std::string& target) : link_(link) {
    if (::CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && Made()) return;
    unixLink_ = testing::UnixPath(testing::AnsiWide(link));
    const std::string unixTarget = testing::UnixPath(testing::AnsiWide(target));
    if (!unixLink_.empty() && !unixTarget.empty())
      RunUnix("Z:\\bin\\ln", "ln -s \"" + unixTarget + "\" \"" + unixLink_ + "\"", true);
  }
  ~DirectoryLink() {
    if (!unixLink_.empty())
      RunUnix("Z:\\bin\\rm", "rm -f \"" + unixLink_ + "\"", false);
    else
      ::RemoveDirectoryA(link_.c_str());
  }
  DirectoryLink(const DirectoryLink&) = delete;
  DirectoryLink& operator=(const DirectoryLink&) = delete;

  bool Made() const {
    const DWORD attributes = ::GetFileAttributesA(link_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

 private:
  // Wine hands back nothing to wait on: wait for the effect instead.
  void RunUnix(const char* program, std::string commandLine, bool linkWanted) {
    if (!testing::StartUnixProgram(program, std::move(commandLine))) return;
    for (int i = 0; i < 500 && Made() != linkWanted; ++i) ::Sleep(20);
  }

  std::string link_;
  std::string unixLink_;
};

TEST(FolderSize, DirectoryLinksAreNotEnteredSoACycleEnds) {
  TempDir dir, elsewhere;
  MakeFile(dir / "top.dat", 3000);
  MakeFolders(dir / "a\\b");
  MakeFile(dir / "a\\inside.dat", 2000);
  MakeFile(elsewhere / "outside.dat", 50000);
  DirectoryLink up(dir / "a\\b\\up", dir.path());
  DirectoryLink out(dir / "a\\out", elsewhere.path());
  if (!up.Made() || !out.Made()) GTEST_SKIP() << "this system makes no directory links for this process";
  const DWORD attributes = ::GetFileAttributesA((dir / "a\\b\\up").c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "the link is not marked: attributes " << attributes;

  // Following the link would count the tree again at every turn until the paths outgrow
  // MAX_PATH (or forever, given two such links).
  ExpectSize(dir.path(), 4, "a link back up the tree and a link out of it");
}

}  // namespace
}  // namespace mv
