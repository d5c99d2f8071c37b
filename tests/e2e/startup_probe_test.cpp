// The "ver" command that start-up runs where Windows reports version 6.2 (Wine does for "win81"
// and "win10"): the interpreter is the system's, whatever the environment names, it runs no
// AutoRun command and nothing else of the user's, and the run writes nothing into "Temp" or the
// current folder, not even for a moment.
#include "e2e/fixture.h"

#include "support/created_files_win.h"

namespace e2e {
namespace {

using mv::testing::CreatedFiles;

// Texts play no part here: the English run covers it.
constexpr const char* kEnglishRunOnly = "locale-independent: covered by the English run";

using StartUpProbe = InstallerTest;

TEST_F(StartUpProbe, NothingIsWrittenToTempOrTheCurrentFolder) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  const std::wstring temp = root_ + L"temp\\";
  MakeDirectories(temp.substr(0, temp.size() - 1));
  const struct {
    const char* what;
    const wchar_t* version;
    const wchar_t* tempVariable;
    std::wstring folder;  // where a capture file once went
  } cases[] = {
      {"win81, with Temp", L"win81", temp.c_str(), temp},
      {"win10, no Temp", L"win10", nullptr, root_},  // root_ is the run's current folder
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ReportWindows(c.version);
    ScopedEnvironment tempVariable(L"Temp", c.tempVariable);
    CreatedFiles created(c.folder);
    RunResult r = RunInstaller(L"modest", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalled(product_, Payload());
    EXPECT_TRUE(created.Collect().empty()) << ::testing::PrintToString(created.Collect());
    DeleteFileW((product_ + L"mvm3.pak").c_str());
  }
}

// The installer runs elevated, and "ComSpec" is any user's to set. Once it was run unquoted: a
// value with a blank started "...\Program.exe" where there was one, the value itself started
// whatever it named, with administrator rights, and the installer named there started itself
// over and over. Now the system's own interpreter runs "ver" whatever the variable says.
TEST_F(StartUpProbe, ComSpecChoosesNothingThatRuns) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  // The stand-in interpreter leaves "<its path>.ran" beside itself whenever it is started.
  const std::wstring interpreter = ConfiguredPath(L"MV_E2E_INTERPRETER");
  const std::wstring blankFolder = root_ + L"Program Files";
  MakeDirectories(blankFolder);
  const std::wstring shell = blankFolder + L"\\shell.exe";
  const std::wstring program = root_ + L"Program.exe";
  ASSERT_TRUE(CopyFileW(interpreter.c_str(), shell.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(interpreter.c_str(), program.c_str(), FALSE));
  ReportWindows(L"win10");  // where "ver" runs at all
  const std::wstring installerName = Installer().substr(Installer().rfind(L'\\') + 1);

  const struct {
    const char* what;
    std::wstring comSpec;
  } cases[] = {{"a program in a folder with a blank", shell}, {"the installer itself", Installer()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnvironment comSpec(L"ComSpec", c.comSpec.c_str());
    RunResult r = RunInstaller(L"modest", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalled(product_, Payload());
    EXPECT_FALSE(IsFile(program + L".ran")) << "C:\\...\\Program.exe ran";
    EXPECT_FALSE(IsFile(shell + L".ran")) << "the program ComSpec names ran";
    EXPECT_EQ(CountProcesses(installerName), 0) << "installers left running";

    // Whatever a failed run left behind, for the next case and the next test.
    for (int round = 0; round < 20 && CountProcesses(installerName) > 0; ++round) KillProcesses(installerName);
    KillProcesses(L"Program.exe");
    KillProcesses(L"shell.exe");
    DeleteFileW((program + L".ran").c_str());
    DeleteFileW((shell + L".ran").c_str());
    DeleteFileW((product_ + L"mvm3.pak").c_str());
  }
}

// The user's own settings name nothing that the elevated interpreter runs: neither an AutoRun
// command (HKEY_CURRENT_USER is the user's to write; the machine's is checked alike) nor a
// "Temp" value with a quote and a command in it. Wine's cmd.exe knows no AutoRun, so what the
// interpreter is asked to do is read from the stand-in interpreter put in its place.
TEST_F(StartUpProbe, TheInterpreterRunsNothingTheUserNamed) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  ReportWindows(L"win10");
  const std::wstring injected = root_ + L"injected";
  const std::wstring hostileTemp = root_ + L"t\" & mkdir \"" + injected + L"\" & rem \"";
  ScopedEnvironment tempVariable(L"Temp", hostileTemp.c_str());
  const wchar_t kCommandProcessor[] = L"Software\\Microsoft\\Command Processor";
  for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    RestoreAfterTest(root, kCommandProcessor, L"AutoRun");
    WriteString(root, kCommandProcessor, L"AutoRun", L"mkdir \"" + injected + L"\"");
  }

  // With the system's interpreter: the quote in "Temp" ends nothing and starts nothing.
  RunResult r = RunInstaller(L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  EXPECT_FALSE(IsDirectory(injected)) << "a command from Temp or AutoRun ran";

  // With the stand-in in its place, for this run alone (Wine takes a program of the system
  // folder for its own unless told otherwise): what the installer asks of the interpreter.
  const std::wstring system = std::wstring(L"C:\\windows\\") + (ShippedX86() ? L"syswow64\\" : L"system32\\");
  const std::wstring cmd = system + L"cmd.exe";
  const std::wstring kept = root_ + L"cmd.exe.kept";
  ASSERT_TRUE(CopyFileW(cmd.c_str(), kept.c_str(), FALSE));
  // The shared Wine prefix gets its own interpreter back however this test ends, before the
  // folder that keeps it goes: every later test runs the system's.
  const struct PutBack {
    const std::wstring& kept;
    const std::wstring& cmd;
    ~PutBack() {
      EXPECT_TRUE(CopyFileW(kept.c_str(), cmd.c_str(), FALSE)) << "the system's cmd.exe could not be put back";
      DeleteFileW((cmd + L".ran").c_str());
    }
  } putBack{kept, cmd};
  const wchar_t kOverrides[] = L"Software\\Wine\\DllOverrides";
  RestoreAfterTest(HKEY_CURRENT_USER, kOverrides, L"cmd.exe");
  ASSERT_TRUE(CopyFileW(ConfiguredPath(L"MV_E2E_INTERPRETER").c_str(), cmd.c_str(), FALSE));
  WriteString(HKEY_CURRENT_USER, kOverrides, L"cmd.exe", L"native");
  DeleteFileW((product_ + L"mvm3.pak").c_str());
  r = RunInstaller(L"modest", {});
  DeleteValue(HKEY_CURRENT_USER, kOverrides, L"cmd.exe");
  const auto asked = ReadBytes(cmd + L".ran");
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  ASSERT_TRUE(asked.has_value()) << "the stand-in interpreter did not run";
  EXPECT_EQ(std::string(asked->begin(), asked->end()), "\"C:\\windows\\system32\\cmd.exe\" /d /c ver\r\n");
}

}  // namespace
}  // namespace e2e
