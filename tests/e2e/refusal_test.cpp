// Runs that end with a message instead of installing, and the exit code that says so.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using Refusal = InstallerTest;

// No program in the product's folder, in every kind of run, and a folder named like it.
TEST_F(Refusal, MissingProductIsReported) {
  ASSERT_TRUE(DeleteFileW((product_ + L"Mirvane.exe").c_str()));
  const struct {
    const char* what;
    const wchar_t* arguments;
    bool folderInItsPlace;
  } cases[] = {{"asking", L"", false}, {"modest", L"modest runapp", false}, {"a folder in its place", L"", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.folderInItsPlace) MakeDirectories(product_ + L"Mirvane.exe");
    RunResult r = RunInstaller(c.arguments, {Press(expect::NoProduct(), IDOK)});
    EXPECT_EQ(r.exitCode, kExitNotInstalled);
    ExpectNothingWritten(product_);
  }
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
