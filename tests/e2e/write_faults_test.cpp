// Writing the data file when something stands in the way: a full disk, an installed copy held
// open, a leftover temporary file. Whatever happens, the installed copy is either the old one,
// byte for byte, or the new one, never a part of either, and the run goes on to record the
// folder's size. Every way of writing takes part: the compared "pak" file, the split payload and
// a kind without a version (the last two are never compared).
#include "e2e/fixture.h"

#include <cwctype>

namespace e2e {
namespace {

// Runs without a message box say nothing that depends on the locale.
constexpr const char* kEnglishRunOnly = "shows no text: covered by the English run";

const auto& kPaths = kWritePaths;

using FileBytes = std::optional<std::vector<std::uint8_t>>;

class WriteFaults : public InstallerTest {
 protected:
  static std::size_t PayloadSize(const WritePath& path) {
    return ReadBytes(ConfiguredPath(path.payload)).value_or(std::vector<std::uint8_t>()).size();
  }
  static FileBytes AsBytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }
  // Compares without printing megabytes on a mismatch.
  static ::testing::AssertionResult Holds(const std::wstring& file, const FileBytes& expected) {
    const FileBytes found = ReadBytes(file);
    if (found == expected) return ::testing::AssertionSuccess();
    auto describe = [](const FileBytes& b) {
      return b ? std::to_string(b->size()) + " bytes" : std::string("no file");
    };
    return ::testing::AssertionFailure() << Utf8(file) << " holds " << describe(found) << " other than the "
                                         << describe(expected) << " expected";
  }

  // The product folder on the small drive, fresh for each case; empty (and the test failed)
  // without that drive.
  std::wstring ProductOnSmallDrive() {
    wchar_t drive[16] = {};
    const DWORD n = GetEnvironmentVariableW(L"MV_E2E_SMALL_DRIVE", drive, 16);
    if (n == 0 || n >= 16 || !IsDirectory(std::wstring(drive) + L"\\")) {
      ADD_FAILURE() << "no small drive (MV_E2E_SMALL_DRIVE): run the end-to-end tests through tests/e2e/run";
      return {};
    }
    const std::wstring folder = std::wstring(drive) + L"\\Mirvane\\";
    ballast_ = std::wstring(drive) + L"\\ballast";
    RemoveTree(ballast_);
    RemoveTree(folder);
    RemoveAfterTest(ballast_);
    PlaceProduct(folder);
    RegisterUninstallString(folder + L"unins000.exe");
    return folder;
  }

  // Fills the small drive until at most `bytes` are free (the drive counts in whole pages).
  void LeaveFree(std::uint64_t bytes) {
    ULARGE_INTEGER free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(ballast_.substr(0, 3).c_str(), &free, nullptr, nullptr));
    ASSERT_GT(free.QuadPart, bytes) << "the small drive is too small for this case";
    WriteBytes(ballast_, std::string(static_cast<std::size_t>(free.QuadPart - bytes), 'b'));
    ASSERT_TRUE(GetDiskFreeSpaceExW(ballast_.substr(0, 3).c_str(), &free, nullptr, nullptr));
    ASSERT_LE(free.QuadPart, bytes);
  }

  // The run went on after the write and recorded the size of what the folder holds now.
  void ExpectSizeRecorded(const std::wstring& folder) {
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"), FolderBytes(folder) / 1024);
  }

  std::wstring ballast_;
};

// The new data does not fit: the message, and the folder as it was before the run, the
// installed copy (when there is one) byte for byte, with no partial file under either name.
TEST_F(WriteFaults, DiskFullKeepsTheFolderAsItWas) {
  for (const WritePath& path : kPaths) {
    for (const bool installed : {false, true}) {
      SCOPED_TRACE(std::string(path.what) + (installed ? ", replacing a copy" : ", fresh"));
      const std::wstring folder = ProductOnSmallDrive();
      ASSERT_FALSE(folder.empty());
      const std::wstring target = folder + path.file;
      const std::string old = OlderCopy(path);
      if (installed) WriteBytes(target, old);
      LeaveFree(PayloadSize(path) / 2);
      const RunResult r = Run(ConfiguredPath(path.installer), L"modest", {Press(expect::CannotInstall(target), IDOK)});
      EXPECT_EQ(r.exitCode, kExitFailureShown);
      EXPECT_TRUE(Holds(target, installed ? AsBytes(old) : std::nullopt));
      EXPECT_FALSE(IsFile(folder + L"~" + path.file));
      ExpectSizeRecorded(folder);
    }
  }
}

// The same drive with room for one more copy: a replacement needs no more than that.
TEST_F(WriteFaults, ReplacementNeedsRoomForOneCopy) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  for (const WritePath& path : kPaths) {
    SCOPED_TRACE(path.what);
    const std::wstring folder = ProductOnSmallDrive();
    ASSERT_FALSE(folder.empty());
    WriteBytes(folder + path.file, OlderCopy(path));
    LeaveFree(PayloadSize(path) + 16384);
    Run(ConfiguredPath(path.installer), L"modest", {});
    EXPECT_TRUE(Holds(folder + path.file, ReadBytes(ConfiguredPath(path.payload))));
    EXPECT_FALSE(IsFile(folder + L"~" + path.file));
    ExpectSizeRecorded(folder);
  }
}

// An installed copy held open without sharing (the product, a scanner): the message, the copy
// as it was, and the complete new data waiting under the temporary name.
TEST_F(WriteFaults, LockedCopyIsKept) {
  for (const WritePath& path : kPaths) {
    SCOPED_TRACE(path.what);
    const std::wstring target = product_ + path.file;
    const std::string old = OlderCopy(path);
    WriteBytes(target, old);
    DeleteValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
    {
      const mv::UniqueFile holder(
          CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(holder);
      const RunResult r = Run(ConfiguredPath(path.installer), L"modest", {Press(expect::CannotInstall(target), IDOK)});
      EXPECT_EQ(r.exitCode, kExitFailureShown);
    }
    EXPECT_TRUE(Holds(target, AsBytes(old)));
    EXPECT_TRUE(Holds(product_ + L"~" + path.file, ReadBytes(ConfiguredPath(path.payload))));
    ExpectSizeRecorded(product_);
    RemoveTree(product_ + L"~" + path.file);
  }
}

// A temporary file left by an earlier run, here under its name in capitals (which the file
// system takes for the same name), is removed and written afresh, and gone afterwards.
TEST_F(WriteFaults, LeftoverTemporaryFileIsReplaced) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  for (const WritePath& path : kPaths) {
    SCOPED_TRACE(path.what);
    std::wstring capitals = path.file;
    for (wchar_t& c : capitals) c = static_cast<wchar_t>(std::towupper(c));
    WriteBytes(product_ + path.file, OlderCopy(path));
    WriteBytes(product_ + L"~" + capitals, std::string(2000000, 't'));
    DeleteValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
    Run(ConfiguredPath(path.installer), L"modest", {});
    ExpectInstalled(product_, ConfiguredPath(path.payload), path.file);
    EXPECT_FALSE(IsFile(product_ + L"~" + path.file));
  }
}

// One that cannot simply be removed, read-only or held open by someone, is either replaced or
// reported, with the installed copy and the leftover as they were; never anything in between.
// (Wine lets root delete a read-only file; Windows refuses.)
TEST_F(WriteFaults, LeftoverThatCannotBeRemovedIsReplacedOrReported) {
  for (const bool held : {false, true}) {
    for (const WritePath& path : kPaths) {
      SCOPED_TRACE(std::string(path.what) + (held ? ", held open" : ", read-only"));
      const std::wstring target = product_ + path.file;
      const std::wstring temp = product_ + L"~" + path.file;
      const std::string old = OlderCopy(path);
      WriteBytes(target, old);
      WriteBytes(temp, "leftover");
      DeleteValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
      mv::UniqueFile holder;
      if (held) {
        holder.reset(
            CreateFileW(temp.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
      } else {
        ASSERT_TRUE(SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_READONLY));
      }
      const Box reported = expect::CannotInstall(target);
      RunResult r = RunWithRobot(ConfiguredPath(path.installer), L"modest", root_, {Press(reported, IDOK)});
      holder.reset();
      EXPECT_FALSE(r.timedOut);
      ASSERT_LE(r.boxes.size(), 1u);
      if (held) {
        EXPECT_EQ(r.boxes.size(), 1u) << "a file held open cannot have been removed";
      }
      EXPECT_EQ(r.exitCode, r.boxes.empty() ? 0u : kExitFailureShown);
      if (r.boxes.empty()) {
        ExpectInstalled(product_, ConfiguredPath(path.payload), path.file);
        EXPECT_FALSE(IsFile(temp));
      } else {
        EXPECT_EQ(r.boxes[0], reported);
        EXPECT_TRUE(Holds(target, AsBytes(old)));
        EXPECT_TRUE(Holds(temp, AsBytes("leftover")));
        ExpectSizeRecorded(product_);
      }
      SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
      RemoveTree(temp);
    }
  }
}

}  // namespace
}  // namespace e2e
