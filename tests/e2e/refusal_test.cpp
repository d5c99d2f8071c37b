// Runs that end with a message instead of installing, and the exit code that says so.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using Refusal = InstallerTest;

TEST_F(Refusal, MissingProductIsReported) {
  ASSERT_TRUE(DeleteFileW((product_ + L"Mirvane.exe").c_str()));
  RunResult r = RunInstaller(L"", {Press(expect::NoProduct(), IDOK)});
  EXPECT_EQ(r.exitCode, kExitNotInstalled);
  ExpectNothingWritten(product_);
}

TEST_F(Refusal, FolderNamedLikeTheProgramIsNoProduct) {
  ASSERT_TRUE(DeleteFileW((product_ + L"Mirvane.exe").c_str()));
  MakeDirectories(product_ + L"Mirvane.exe");
  RunResult r = RunInstaller(L"", {Press(expect::NoProduct(), IDOK)});
  EXPECT_EQ(r.exitCode, kExitNotInstalled);
  ExpectNothingWritten(product_);
}

TEST_F(Refusal, MissingProductIsReportedInModestRunsToo) {
  ASSERT_TRUE(DeleteFileW((product_ + L"Mirvane.exe").c_str()));
  RunResult r = RunInstaller(L"modest runapp", {Press(expect::NoProduct(), IDOK)});
  EXPECT_EQ(r.exitCode, kExitNotInstalled);
  ExpectNothingWritten(product_);
}

TEST_F(Refusal, ShellFolderThatIsNoStringMeansNoRegistryAccess) {
  for (const wchar_t* name : {L"Desktop", L"Programs", L"Startup"}) {
    SCOPED_TRACE(Utf8(name));
    RestoreValueLater restore(HKEY_CURRENT_USER, kShellFoldersKey, name);
    WriteDword(HKEY_CURRENT_USER, kShellFoldersKey, name, 1);
    RunResult r = RunInstaller(L"", {Press(expect::NoRegistryAccess(), IDOK)});
    EXPECT_EQ(r.exitCode, kExitFailureShown);
    ExpectNothingWritten(product_);
  }
}

// The error's own text is shown; only that there is one box and the exit code are fixed.
TEST_F(Refusal, UninstallStringThatIsNoStringEndsWithExitCode1) {
  RemoveUninstallEntries();
  WriteDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", 7);
  RunResult r = RunInstaller(L"", {PressOkOnAnyBox()});
  EXPECT_EQ(r.exitCode, 1u);
  ExpectNothingWritten(product_);
}

TEST_F(Refusal, ProgramFilesDirThatIsNoStringEndsWithExitCode1) {
  RestoreAfterTest(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir");
  WriteDword(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", 7);
  RunResult r = RunInstaller(L"", {PressOkOnAnyBox()});
  EXPECT_EQ(r.exitCode, 1u);
  ExpectNothingWritten(product_);
}

}  // namespace
}  // namespace e2e
