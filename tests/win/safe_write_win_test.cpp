// The temporary file and the one-step rename against the real (Wine) file system, with things
// planted under the temporary name: the new data never goes through a name this process did not
// create itself, and nothing outside the product folder is written, moved or deleted.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install/safe_write_win.h"
#include "support/files_win.h"
#include "support/registry_win.h"

namespace mv {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using Bytes = std::vector<std::uint8_t>;

class SafeWriteTest : public ::testing::Test {
 protected:
  // Writes the new data through the temporary file and the commit, replacing an installed copy
  // when there is one.
  WriteResult WriteOrReplace(InUsePolicy policy = InUsePolicy::Fail) {
    if (!WriteTempFile(temp, data)) return WriteResult::Failed;
    return Commit(temp, target, testing::IsFile(target), nothingBefore, policy);
  }
  // Writes the new data over an installed copy, or as a fresh file when `installed` is false.
  bool Write(bool installed) {
    if (installed)
      WriteFile(target, old);
    else
      ::DeleteFileW(target.c_str());
    return WriteOrReplace() == WriteResult::Written;
  }
  // The destination holds the new data and nothing is left under the temporary name; or, after a
  // refusal, it holds what it held before.
  void ExpectWritten() {
    EXPECT_EQ(ReadFile(target), data);
    EXPECT_FALSE(Exists(temp));
  }
  void ExpectUntouched(bool installed) { EXPECT_EQ(ReadFile(target), installed ? old : Bytes()); }

  struct : BeforeCommit {
    void Run() override {}
  } nothingBefore;
  TempDir dir, elsewhere;
  const std::wstring target = dir / L"mvm3.pak";
  const std::wstring temp = dir / L"~mvm3.pak";
  const std::wstring victim = elsewhere / L"victim.dat";
  const Bytes data = Bytes(70000, 0x5C);
  const Bytes old = Bytes(500, 0x01);
  const Bytes precious = Bytes(3000, 0xA5);
};

// A hard link shares its file with a name elsewhere: removing this name leaves that file whole.
TEST_F(SafeWriteTest, AHardLinkUnderTheTemporaryNameIsRemovedByItsName) {
  for (const bool installed : {true, false}) {
    SCOPED_TRACE(installed ? "over an installed copy" : "fresh");
    WriteFile(victim, precious);
    ASSERT_TRUE(::CreateHardLinkW(temp.c_str(), victim.c_str(), nullptr));
    EXPECT_TRUE(Write(installed));
    ExpectWritten();
    EXPECT_EQ(ReadFile(victim), precious);
  }
}

// Windows removes a symbolic link by its name (given the privilege to make one here). Wine shows
// a Unix symbolic link as the file it leads to and would delete that file: there the write is
// refused and the link left for someone to look at.
TEST_F(SafeWriteTest, ASymbolicLinkUnderTheTemporaryNameIsNeverWrittenThrough) {
  const bool wine = !testing::UnixPath(dir.wide()).empty();
  for (const bool installed : {true, false}) {
    SCOPED_TRACE(installed ? "over an installed copy" : "fresh");
    WriteFile(victim, precious);
    const bool made = wine ? testing::MakeUnixLink(temp, victim)
                           : ::CreateSymbolicLinkW(temp.c_str(), victim.c_str(), 0) && Exists(temp);
    if (!made) GTEST_SKIP() << "this system makes no symbolic links to files for this process";
    const bool written = Write(installed);
    EXPECT_EQ(ReadFile(victim), precious);
    if (wine) {
      EXPECT_FALSE(written);
    }
    if (written) {
      ExpectWritten();
    } else {
      ExpectUntouched(installed);
      EXPECT_TRUE(Exists(temp)) << "the link is gone, and with Wine its target with it";
      ASSERT_TRUE(testing::RemoveUnixLink(temp));
    }
  }
}

// A link whose target does not exist yet: creating the temporary file through it would create
// that file elsewhere.
TEST_F(SafeWriteTest, ADanglingSymbolicLinkIsNotFollowed) {
  WriteFile(victim, precious);
  if (testing::UnixPath(dir.wide()).empty() || !testing::MakeUnixLink(temp, victim))
    GTEST_SKIP() << "no Unix symbolic links here";
  ASSERT_TRUE(::DeleteFileW(victim.c_str()));
  EXPECT_FALSE(Write(true));
  ExpectUntouched(true);
  EXPECT_FALSE(Exists(victim)) << "written through the link";
  WriteFile(victim, precious);  // so that the link is seen to go
  ASSERT_TRUE(testing::RemoveUnixLink(temp));
}

TEST_F(SafeWriteTest, AFolderUnderTheTemporaryNameIsReported) {
  ASSERT_TRUE(::CreateDirectoryW(temp.c_str(), nullptr));
  EXPECT_FALSE(Write(true));
  ExpectUntouched(true);
  EXPECT_TRUE(Exists(temp));
}

// A fresh file gets its name only if none turned up meanwhile: a copy that appeared is refused,
// not replaced unasked, and the new data waits under the temporary name.
TEST_F(SafeWriteTest, AFreshFileNeverReplacesACopyThatTurnedUpMeanwhile) {
  ASSERT_TRUE(WriteTempFile(temp, data));
  WriteFile(target, old);
  EXPECT_FALSE(MoveIntoPlace(temp, target, false));
  EXPECT_EQ(ReadFile(target), old);
  EXPECT_EQ(ReadFile(temp), data);
  EXPECT_TRUE(MoveIntoPlace(temp, target, true));
  ExpectWritten();
}

// Nobody at the PC (a quiet run's policy): a copy still in use is replaced at the next restart, by a
// complete file under a name no half-written temporary file ever takes; a later write that gets
// through withdraws it, so that the restart cannot undo that write.
TEST_F(SafeWriteTest, AnUnattendedWriteLeavesACopyInUseForTheNextRestart) {
  const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
  const testing::RestoreValueLater keep(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
  const std::wstring waiting = dir / L"~mvm3.pak.restart";
  WriteFile(target, old);
  {
    const UniqueFile holder(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(WriteOrReplace(), WriteResult::Failed) << "only where the policy says so";
    EXPECT_EQ(WriteOrReplace(InUsePolicy::ReplaceAtRestart), WriteResult::AtRestart);
  }
  EXPECT_EQ(ReadFile(target), old);
  EXPECT_EQ(ReadFile(waiting), data);
  EXPECT_FALSE(Exists(temp));
  const auto pending = testing::ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
  ASSERT_TRUE(pending.has_value());
  const std::wstring operations(reinterpret_cast<const wchar_t*>(pending->data.data()),
                                pending->data.size() / sizeof(wchar_t));
  EXPECT_NE(operations.find(waiting.substr(waiting.find(L'\\'))), std::wstring::npos) << testing::Utf8(operations);

  EXPECT_TRUE(Write(true));
  ExpectWritten();
  EXPECT_FALSE(Exists(waiting)) << "the restart would put the older write back";

  // A copy mapped into a process (as a program may map its data) cannot be renamed over either;
  // NTFS says "access denied" then, yet the copy opens for deletion: it counts as in use.
  WriteFile(target, old);
  {
    const UniqueFile file(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    const UniqueHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    ASSERT_TRUE(view);
    EXPECT_EQ(WriteOrReplace(InUsePolicy::ReplaceAtRestart), WriteResult::AtRestart);
  }
  EXPECT_EQ(ReadFile(waiting), data);
}

}  // namespace
}  // namespace mv
