// Runs as a deployment tool starts them, with nobody at the PC: "/quiet /log FILE". No window of
// any class ever comes from the installer (the robot notes every top-level window of its process,
// and Wine's trace shows it never even maps user32), each outcome has the exit code the README
// documents, and the log names the cause.
#include "e2e/fixture.h"

#include <algorithm>
#include <optional>

namespace e2e {
namespace {

using namespace std::chrono_literals;

class Deployment : public InstallerTest {
 protected:
  // A quiet run of `installer` with the log in the test's folder; returns its result and keeps
  // the log's text.
  RunResult Quiet(const std::wstring& installer, const std::wstring& arguments = L"") {
    DeleteFileW(LogFile().c_str());
    const std::size_t before = DriverStderr().size();
    RunResult r;
    {
      ScopedEnvironment trace(L"WINEDEBUG", L"+loaddll,+pid");
      r = Run(installer, L"/quiet /log \"" + LogFile() + L"\" " + arguments, {});
    }
    const auto dlls = DllsLoadedBy(DriverStderr().substr(before), FileName(installer));
    EXPECT_TRUE(LoadedAny(dlls, {L"kernel32.dll"})) << "no trace of the installer";
    EXPECT_FALSE(LoadedAny(dlls, {L"user32.dll"})) << "a quiet run mapped windowing code";
    EXPECT_EQ(r.windows, std::vector<std::string>{}) << "a quiet run had a window";
    const auto bytes = ReadBytes(LogFile());
    logText_ = bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
    return r;
  }
  // The log holds `line` (UTF-8) within one of its lines.
  void ExpectLogged(const std::string& line) {
    EXPECT_NE(logText_.find(line), std::string::npos) << "log:\n" << logText_;
  }

  std::wstring LogFile() const { return root_ + L"setup log.txt"; }
  std::string logText_;
};

// Every failure a deployment can meet here (Wine runs everyone as an administrator, so the
// missing rights are the unit tests' to show).
TEST_F(Deployment, FailuresShowNothingAndEndWithTheirOwnCode) {
  enum class Fault { NoProduct, DamagedInstaller, ShellFolderNoString, UninstallStringNoString, LeftoverHeldOpen };
  const struct {
    Fault fault;
    const wchar_t* installer;
    DWORD exitCode;
    const char* cause;
  } cases[] = {
      {Fault::NoProduct, L"MV_E2E_INSTALLER", kExitNotInstalled,
       "Error: There's no subject of update - the Mirvane installed."},
      {Fault::DamagedInstaller, L"MV_E2E_INSTALLER_DAMAGED", kExitDistorted,
       "Error: The package file has been distorted!"},
      {Fault::ShellFolderNoString, L"MV_E2E_INSTALLER", kExitFailureShown, "Error: No access to system registry"},
      {Fault::UninstallStringNoString, L"MV_E2E_INSTALLER", 1,
       "Error that no step handles: Invalid data type for 'UninstallString'"},
      {Fault::LeftoverHeldOpen, L"MV_E2E_INSTALLER", kExitFailureShown, "Error: Can't install file "},
  };
  const std::wstring exe = product_ + L"Mirvane.exe";
  const std::wstring leftover = product_ + L"~mvm3.pak";
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    std::optional<RestoreValueLater> shellFolder;
    mv::UniqueFile holder;
    switch (c.fault) {
      case Fault::NoProduct:
        DeleteFileW(exe.c_str());
        break;
      case Fault::ShellFolderNoString:
        shellFolder.emplace(HKEY_CURRENT_USER, kShellFoldersKey, L"Desktop");
        WriteDword(HKEY_CURRENT_USER, kShellFoldersKey, L"Desktop", 1);
        break;
      case Fault::UninstallStringNoString:
        RemoveUninstallEntries();
        WriteDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", 7);
        break;
      case Fault::LeftoverHeldOpen:
        WriteBytes(leftover, "leftover");
        holder.reset(
            CreateFileW(leftover.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        break;
      case Fault::DamagedInstaller:
        break;
    }
    const RunResult r = Quiet(ConfiguredPath(c.installer), L"modest runapp");
    holder.reset();
    EXPECT_EQ(r.exitCode, c.exitCode);
    ExpectLogged(c.cause);
    ExpectLogged("Exit code " + std::to_string(c.exitCode));
    EXPECT_FALSE(IsFile(product_ + L"mvm3.pak"));
    ExpectProductNotStarted();
    // The stage as it was, for the next case.
    DeleteFileW(leftover.c_str());
    CopyFileW(ConfiguredPath(L"MV_E2E_STANDIN").c_str(), exe.c_str(), TRUE);
    RegisterUninstallString(product_ + L"unins000.exe");
  }
}

// Another run holds the lock for good: the second waits briefly, then gives up with 1618.
TEST_F(Deployment, AnotherRunInProgressEndsWith1618) {
  if (RussianLocale()) GTEST_SKIP() << "no text shown; slow: covered by the English run";
  const mv::UniqueHandle lock(CreateMutexW(nullptr, TRUE, L"Global\\MirvaneAddonSetup"));
  ASSERT_TRUE(lock);
  const RunResult r = Quiet(Installer());
  EXPECT_EQ(r.exitCode, kExitAnotherRun);
  ExpectLogged("Another setup of Mirvane runs: waiting up to 10 s");
  ExpectLogged("Error: Another setup of Mirvane update is running now.");
  ExpectNothingWritten(product_);
}

// The question before an older payload replaces a newer copy gets its safe answer: No.
TEST_F(Deployment, ANewerInstalledCopyIsKeptWith1638) {
  const std::wstring target = product_ + L"mvm3.pak";
  const std::string newer = PakWithVersion(Payload(), 93);
  WriteBytes(target, newer);
  const RunResult r = Quiet(Installer());
  EXPECT_EQ(r.exitCode, kExitNewerKept);
  EXPECT_EQ(ReadBytes(target), std::optional(std::vector<std::uint8_t>(newer.begin(), newer.end())));
  ExpectLogged("Version of the installed copy: 93");
  ExpectLogged("Answer: No, nobody to ask");
  ExpectLogged("Kept the newer installed copy");
}

// A data file that stays in use is replaced at the next restart (3010); a run before the restart
// still works and withdraws the waiting replacement; the restart puts the payload in place.
TEST_F(Deployment, ADataFileInUseIsReplacedAtTheNextRestart) {
  if (RussianLocale()) GTEST_SKIP() << "no text shown: covered by the English run";
  const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
  RestoreAfterTest(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
  const std::wstring target = product_ + L"mvm3.pak";
  const std::wstring waiting = product_ + L"~mvm3.pak.restart";
  const std::string old = PakWithVersion(Payload(), 91);
  const auto holdAndRun = [&] {
    WriteBytes(target, old);
    const mv::UniqueFile holder(
        CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(holder);
    const RunResult r = Quiet(Installer());
    EXPECT_EQ(r.exitCode, kExitAtRestart);
    ExpectLogged("In use: replaced at the next restart: " + Utf8(target));
    EXPECT_EQ(ReadBytes(waiting), ReadBytes(Payload()));
  };
  holdAndRun();
  EXPECT_EQ(Quiet(Installer()).exitCode, 0u) << "the run before the restart";
  ExpectInstalled(product_, Payload());
  EXPECT_FALSE(IsFile(waiting)) << "the restart would undo that run";

  holdAndRun();
  const mv::UniqueHandle restart = StartProcess(L"C:\\windows\\system32\\wineboot.exe", L"-r", root_);
  ASSERT_TRUE(restart);
  EXPECT_EQ(WaitForSingleObject(restart.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(ReadBytes(target), ReadBytes(Payload()));
  EXPECT_FALSE(IsFile(waiting));
}

// A deployment retried while another run is under way: each waits for the other, and the data
// file is whole at the end, never a mixture.
TEST_F(Deployment, TwoRunsAtOnceNeverDamageTheDataFile) {
  if (RussianLocale()) GTEST_SKIP() << "no text shown: covered by the English run";
  const std::wstring installer = ConfiguredPath(L"MV_E2E_INSTALLER_KILLED");  // 32 MiB: a long write
  const std::wstring target = product_ + L"mvk.pak";
  mv::UniqueHandle runs[2];
  for (int i = 0; i < 2; ++i)
    runs[i] = StartProcess(installer, L"/quiet /log \"" + root_ + L"run" + std::to_wstring(i) + L".log\"", root_);
  std::vector<DWORD> codes;
  for (const mv::UniqueHandle& run : runs) {
    ASSERT_EQ(WaitForSingleObject(run.get(), 120000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    GetExitCodeProcess(run.get(), &code);
    codes.push_back(code);
  }
  for (const DWORD code : codes) EXPECT_TRUE(code == 0 || code == kExitAnotherRun) << code;
  EXPECT_NE(std::count(codes.begin(), codes.end(), 0u), 0) << "neither installed";
  EXPECT_EQ(ReadBytes(target), ReadBytes(ConfiguredPath(L"MV_E2E_PAYLOAD_KILLED")));
  EXPECT_FALSE(IsFile(product_ + L"~mvk.pak"));
}

// A deployment runs in no one's session: the product is not started, whatever else is asked.
TEST_F(Deployment, QuietWithModestRunappStartsNothing) {
  const RunResult r = Quiet(Installer(), L"modest runapp");
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  ExpectProductNotStarted();
  ExpectLogged("Exit code 0: installed");
}

}  // namespace
}  // namespace e2e
