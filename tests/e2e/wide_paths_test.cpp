// Product folders whose names the ANSI code page cannot spell: in an English locale Cyrillic,
// Chinese and fullwidth letters; in a Russian one Chinese and fullwidth letters. Through ANSI
// calls such a name turns into question marks, which name nothing, or by best-fit mapping into
// its ASCII lookalike, which may be another folder. The run must find, measure, write into and
// start from the folder as it is named.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using WidePaths = InstallerTest;

// A fullwidth capital M in front: best-fit mapping makes "Mirvane" of it, the fixture's own
// product folder beside it, which must be left alone.
TEST_F(WidePaths, ALookalikeFolderIsNeverTaken) {
  const std::wstring fullwidth = root_ + L"Ｍirvane\\";
  PlaceProduct(fullwidth);
  RegisterUninstallString(L"\"" + fullwidth + L"unins000.exe\"");
  RunResult r = RunInstaller(L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(fullwidth, Payload());
  EXPECT_FALSE(IsFile(product_ + L"mvm3.pak")) << "written into the lookalike folder";
}

// In a folder of plain name: the size walk, which lists names, still enters these and counts
// what they hold (5000 bytes each: a walk that skipped either would be 4 KiB short).
TEST_F(WidePaths, SubfoldersNamedBeyondTheCodePageAreMeasured) {
  MakeDirectories(product_ + L"Уроки\\中文");
  WriteBytes(product_ + L"Уроки\\урок.dat", std::string(5000, 'u'));
  WriteBytes(product_ + L"Уроки\\中文\\课.dat", std::string(5000, 'k'));
  RunResult r = RunInstaller(L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
}

// Found, measured, written into and started from, with the product's own folder as its current
// folder.
TEST_F(WidePaths, AFolderNamedBeyondTheCodePageIsUsedAsNamed) {
  product_ = root_ + L"Мирвейн 中文\\";
  PlaceProduct(product_);
  RegisterUninstallString(product_ + L"unins000.exe");
  RunResult r = RunInstaller(L"modest runapp", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  ExpectProductStartedAndShown();
}

// The installed copy's version is read there, and the question names the path as it is.
TEST_F(WidePaths, TheOlderVersionQuestionNamesThePathAsItIs) {
  product_ = root_ + L"Мирвейн 中文\\";
  PlaceProduct(product_);
  RegisterUninstallString(product_ + L"unins000.exe");
  const std::wstring target = product_ + L"mvm3.pak";
  const std::string newer = PakWithVersion(Payload(), 93);
  WriteBytes(target, newer);
  RunResult r = RunInstaller(L"modest", {Press(expect::OlderPayloadQuestion(target, L"93", L"92"), IDNO)});
  EXPECT_EQ(r.exitCode, kExitNewerKept);
  EXPECT_EQ(ReadBytes(target), std::vector<std::uint8_t>(newer.begin(), newer.end()));
  EXPECT_FALSE(IsFile(product_ + L"~mvm3.pak"));
}

}  // namespace
}  // namespace e2e
