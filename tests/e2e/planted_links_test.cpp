// Links planted in the product folder under the temporary name ("~" + the data file's name) and
// aimed at a file outside it, on every way of writing, over an installed copy and as a fresh
// install. The elevated run never writes through such a link and never moves or deletes the file
// it leads to: a hard link (made with CreateHardLinkW) is removed by its name and the run
// installs; a Unix symbolic link (made by the Linux ln), which Wine shows as the file it leads to
// and would delete in its place, is reported, with the folder as it was.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using PlantedLinks = InstallerTest;

const std::string kPrecious(3000, 'p');

struct Case {
  const WritePath& path;
  bool installed;
  std::string Trace() const { return std::string(path.what) + (installed ? ", replacing a copy" : ", fresh"); }
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const WritePath& path : kWritePaths)
    for (const bool installed : {true, false}) cases.push_back({path, installed});
  return cases;
}

TEST_F(PlantedLinks, AHardLinkIsRemovedByItsNameAndTheRunInstalls) {
  if (RussianLocale()) GTEST_SKIP() << "shows no text: covered by the English run";
  const std::wstring victim = root_ + L"elsewhere.dat";
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.Trace());
    const std::wstring target = product_ + c.path.file;
    const std::wstring temp = product_ + L"~" + c.path.file;
    WriteBytes(victim, kPrecious);
    if (c.installed) WriteBytes(target, OlderCopy(c.path));
    ASSERT_TRUE(CreateHardLinkW(temp.c_str(), victim.c_str(), nullptr));
    Run(ConfiguredPath(c.path.installer), L"modest", {});
    ExpectInstalled(product_, ConfiguredPath(c.path.payload), c.path.file);
    EXPECT_FALSE(IsFile(temp));
    EXPECT_EQ(ReadBytes(victim), std::vector<std::uint8_t>(kPrecious.begin(), kPrecious.end()));
    DeleteFileW(target.c_str());
  }
}

TEST_F(PlantedLinks, ASymbolicLinkIsReportedAndNothingIsTouched) {
  const std::wstring victim = root_ + L"elsewhere.dat";
  const std::vector<std::uint8_t> precious(kPrecious.begin(), kPrecious.end());
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.Trace());
    const std::wstring target = product_ + c.path.file;
    const std::wstring temp = product_ + L"~" + c.path.file;
    const std::string old = OlderCopy(c.path);
    WriteBytes(victim, kPrecious);
    if (c.installed) WriteBytes(target, old);
    DeleteValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
    ASSERT_TRUE(MakeUnixLink(temp, victim));
    const RunResult r = Run(ConfiguredPath(c.path.installer), L"modest", {Press(expect::CannotInstall(target), IDOK)});
    EXPECT_EQ(r.exitCode, kExitFailureShown);
    EXPECT_EQ(ReadBytes(victim), precious);
    EXPECT_EQ(ReadBytes(target),
              c.installed ? std::optional(std::vector<std::uint8_t>(old.begin(), old.end())) : std::nullopt);
    EXPECT_TRUE(IsFile(temp)) << "the link is gone";
    // The run went on and measured the folder as it is, the link counted as the file it shows.
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"), FolderBytes(product_) / 1024);
    ASSERT_TRUE(RemoveUnixLink(temp));
    DeleteFileW(target.c_str());
  }
}

// A link to a file that does not exist yet: creating the temporary file through it would create
// that file outside the product folder, full of the payload.
TEST_F(PlantedLinks, ADanglingSymbolicLinkIsNotFollowed) {
  if (RussianLocale()) GTEST_SKIP() << "the same box as above: covered by the English run";
  const std::wstring victim = root_ + L"elsewhere.dat";
  const std::wstring target = product_ + L"mvm3.pak";
  const std::wstring temp = product_ + L"~mvm3.pak";
  WriteBytes(victim, kPrecious);
  ASSERT_TRUE(MakeUnixLink(temp, victim));
  ASSERT_TRUE(DeleteFileW(victim.c_str()));
  const RunResult r = Run(Installer(), L"modest", {Press(expect::CannotInstall(target), IDOK)});
  EXPECT_EQ(r.exitCode, kExitFailureShown);
  EXPECT_FALSE(IsFile(victim)) << "created through the link";
  EXPECT_FALSE(IsFile(target));
  WriteBytes(victim, kPrecious);  // so that the link is seen to go
  ASSERT_TRUE(RemoveUnixLink(temp));
}

}  // namespace
}  // namespace e2e
