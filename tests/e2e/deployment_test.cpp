// Runs as a deployment tool starts them, with nobody at the PC: "/quiet /log FILE". No window of
// any class ever comes from the installer (the robot notes every top-level window of its process,
// and Wine's trace shows it never even maps user32), each outcome has the exit code the README
// documents, and the log names the cause.
#include "e2e/fixture.h"

#include <sddl.h>

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
    // The payload staged while the check ran is gone again; a leftover the run could not remove
    // stays as it was.
    if (c.fault != Fault::LeftoverHeldOpen) {
      EXPECT_FALSE(IsFile(leftover));
    }
    if (c.fault == Fault::DamagedInstaller) {
      ExpectLogged("The check of the installer's own file failed: its digest is not its stamp's");
    }
    ExpectProductNotStarted();
    // The stage as it was, for the next case.
    DeleteFileW(leftover.c_str());
    CopyFileW(ConfiguredPath(L"MV_E2E_STANDIN").c_str(), exe.c_str(), TRUE);
    RegisterUninstallString(product_ + L"unins000.exe");
  }
}

// Another run holds the lock for good: the second waits briefly, then gives up with 1618. The
// lock is a file in the product folder, which only administrators may write: a name in the
// global namespace of kernel objects, which any user may take first and deny to everyone, plays
// no part (here one squatted by this test with a DACL that denies everybody everything).
TEST_F(Deployment, OnlyAnotherRunHoldsTheLock) {
  if (RussianLocale()) GTEST_SKIP() << "no text shown; slow: covered by the English run";
  SECURITY_ATTRIBUTES denyAll{sizeof denyAll, nullptr, FALSE};
  mv::UniqueLocalMemory descriptor;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(D;;GA;;;WD)", SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr));
  denyAll.lpSecurityDescriptor = descriptor.get();
  const mv::UniqueHandle squatted(CreateMutexW(&denyAll, TRUE, L"Global\\MirvaneAddonSetup"));
  ASSERT_TRUE(squatted);
  EXPECT_EQ(Quiet(Installer()).exitCode, 0u) << "the squatted name stood in the way";
  ExpectInstalled(product_, Payload());

  const std::wstring lockFile = product_ + L"~mirvane-setup.lock";
  const mv::UniqueFile held(CreateFileW(lockFile.c_str(), DELETE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(held);
  DeleteFileW((product_ + L"mvm3.pak").c_str());
  DeleteValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
  const RunResult r = Quiet(Installer());
  EXPECT_EQ(r.exitCode, kExitAnotherRun);
  ExpectLogged("Another setup of Mirvane runs: waiting up to 10 s");
  ExpectLogged("Error: Another setup of Mirvane update is running now.");
  ExpectNothingWritten(product_);
}

// A log path where a user could have placed a link leads nowhere else: with a symbolic link in the
// log's place or a linked folder on its path, nothing outside is written or made, and the run
// ends as it would have.
TEST_F(Deployment, ALogPathThatLeadsElsewhereIsNotWritten) {
  if (RussianLocale()) GTEST_SKIP() << "no text shown: covered by the English run";
  const std::wstring elsewhere = root_ + L"elsewhere";
  MakeDirectories(elsewhere);
  const std::wstring precious = elsewhere + L"\\precious.log";
  WriteBytes(precious, "precious");
  const std::wstring linkedFile = root_ + L"linked.log";
  const std::wstring linkedFolder = root_ + L"linked";
  ASSERT_TRUE(MakeUnixLink(linkedFile, precious));
  ASSERT_TRUE(MakeUnixLink(linkedFolder, elsewhere));
  for (const std::wstring& log : {linkedFile, linkedFolder + L"\\setup.log"}) {
    SCOPED_TRACE(Utf8(log));
    DeleteFileW((product_ + L"mvm3.pak").c_str());
    const RunResult r = Run(Installer(), L"/quiet /log \"" + log + L"\"", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalled(product_, Payload());
  }
  EXPECT_EQ(ReadBytes(precious), std::optional(std::vector<std::uint8_t>{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_FALSE(IsFile(elsewhere + L"\\setup.log")) << "made where the linked folder leads";
  EXPECT_TRUE(RemoveUnixLink(linkedFile));
  EXPECT_TRUE(RemoveUnixLink(linkedFolder));
}

// A command line the installer cannot read ends the run at once, whatever kind of run it was
// meant to be: "/log" without its file would have made "/quiet" its file and left a run as SYSTEM
// waiting for ever on a question; a switch of another installer would have been ignored.
TEST_F(Deployment, AnUnreadableCommandLineEndsWith1639AndChangesNothing) {
  for (const std::wstring arguments : {L"/log /quiet", L"/S", L"modest /qn", L"/quiet /silent"}) {
    SCOPED_TRACE(Utf8(arguments));
    const RunResult r = Run(Installer(), arguments, {});
    EXPECT_EQ(r.exitCode, kExitUnreadableCommandLine);
    EXPECT_EQ(r.windows, std::vector<std::string>{}) << "a window was shown";
    ExpectNothingWritten(product_);
  }
  EXPECT_EQ(Quiet(Installer(), L"/S").exitCode, kExitUnreadableCommandLine);
  ExpectLogged("Unreadable argument (the switches are /quiet and /log FILE): /S");
  ExpectLogged("Exit code 1639");
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

// A newer copy held open without sharing has a version nobody can read: it is never replaced,
// neither now nor at the next restart, and the run fails saying why.
TEST_F(Deployment, ANewerCopyHeldOpenIsNeverReplaced) {
  if (RussianLocale()) GTEST_SKIP() << "no text shown: covered by the English run";
  const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
  RestoreAfterTest(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
  const std::wstring target = product_ + L"mvm3.pak";
  const std::string newer = PakWithVersion(Payload(), 200);
  WriteBytes(target, newer);
  {
    const mv::UniqueFile holder(
        CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(Quiet(Installer()).exitCode, kExitFailureShown);
  }
  ExpectLogged("Version of the installed copy: unknown: it cannot be read");
  ExpectLogged("A version cannot be read, so the installed copy is kept");
  ExpectLogged("Error: Can't install file " + Utf8(target));
  const mv::UniqueHandle restart = StartProcess(L"C:\\windows\\system32\\wineboot.exe", L"-r", root_);
  ASSERT_TRUE(restart);
  EXPECT_EQ(WaitForSingleObject(restart.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(ReadBytes(target), std::optional(std::vector<std::uint8_t>(newer.begin(), newer.end())));
  EXPECT_FALSE(IsFile(product_ + L"~mvm3.pak.restart"));
  EXPECT_FALSE(IsFile(product_ + L"~mvm3.pak"));
}

// A data file that stays in use is replaced at the next restart (3010), and the size recorded is
// the folder's after that restart; a run before the restart still works and withdraws the
// waiting replacement once it has put its own in place; the restart puts the payload in place.
TEST_F(Deployment, ADataFileInUseIsReplacedAtTheNextRestart) {
  if (RussianLocale()) GTEST_SKIP() << "no text shown: covered by the English run";
  const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
  RestoreAfterTest(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
  const std::wstring target = product_ + L"mvm3.pak";
  const std::wstring waiting = product_ + L"~mvm3.pak.restart";
  const std::string old = PakWithVersion(Payload(), 91);
  // Held as a program that reads it holds it: others may read it (its version too), but not
  // replace it.
  const auto hold = [&] {
    return mv::UniqueFile(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  };
  const auto holdAndRun = [&] {
    WriteBytes(target, old);
    const mv::UniqueFile holder = hold();
    EXPECT_TRUE(holder);
    const RunResult r = Quiet(Installer());
    EXPECT_EQ(r.exitCode, kExitAtRestart);
    ExpectLogged("In use: replaced at the next restart: " + Utf8(target));
    EXPECT_EQ(ReadBytes(waiting), ReadBytes(Payload()));
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"),
              std::optional<DWORD>((FolderBytes(product_) - old.size()) / 1024));
  };
  holdAndRun();
  EXPECT_EQ(Quiet(Installer()).exitCode, 0u) << "the run before the restart";
  ExpectInstalled(product_, Payload());
  EXPECT_FALSE(IsFile(waiting)) << "the restart would undo that run";

  // A later run that fails (a "modest" one, which leaves nothing for the restart, while the copy
  // is still held) leaves the waiting replacement as it was.
  holdAndRun();
  {
    const mv::UniqueFile holder = hold();
    EXPECT_EQ(Run(Installer(), L"modest", {Press(expect::CannotInstall(target), IDOK)}).exitCode, kExitFailureShown);
  }
  EXPECT_EQ(ReadBytes(waiting), ReadBytes(Payload())) << "withdrawn by a run that failed";
  const mv::UniqueHandle restart = StartProcess(L"C:\\windows\\system32\\wineboot.exe", L"-r", root_);
  ASSERT_TRUE(restart);
  EXPECT_EQ(WaitForSingleObject(restart.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(ReadBytes(target), ReadBytes(Payload()));
  EXPECT_FALSE(IsFile(waiting));
}

// A deployment retried while another run is under way: the second waits for the first, and the
// data file is whole at the end, never a mixture. The runs overlap by construction: the first
// holds the lock while it waits for the running product to quit (it takes 3 s), and the second
// starts only once the lock's file is there.
TEST_F(Deployment, TwoRunsAtOnceNeverDamageTheDataFile) {
  if (RussianLocale()) GTEST_SKIP() << "no text shown: covered by the English run";
  const std::wstring installer = ConfiguredPath(L"MV_E2E_INSTALLER_KILLED");  // 32 MiB: a long write
  const std::wstring target = product_ + L"mvk.pak";
  ConfigureStandin("quit_delay_ms=3000\r\n");
  const mv::UniqueHandle product = StartProcess(product_ + L"Mirvane.exe", L"", product_);
  ASSERT_TRUE(WaitForLogSequence(log_, {"start", "mapping", "window"}, 5s));
  const auto start = [&](int i) {
    return StartProcess(installer, L"/quiet /log \"" + root_ + L"run" + std::to_wstring(i) + L".log\"", root_);
  };
  mv::UniqueHandle runs[2];
  runs[0] = start(0);
  ASSERT_TRUE(WaitUntil([&] { return IsFile(product_ + L"~mirvane-setup.lock"); }, 30s))
      << "the first run took no lock";
  runs[1] = start(1);
  for (const mv::UniqueHandle& run : runs) {
    ASSERT_EQ(WaitForSingleObject(run.get(), 120000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 1;
    GetExitCodeProcess(run.get(), &code);
    EXPECT_EQ(code, 0u);
  }
  const auto second = ReadBytes(root_ + L"run1.log").value_or(std::vector<std::uint8_t>());
  EXPECT_NE(std::string(second.begin(), second.end()).find("Another setup of Mirvane runs: waiting up to 10 s"),
            std::string::npos)
      << "the runs did not overlap";
  EXPECT_EQ(ReadBytes(target), ReadBytes(ConfiguredPath(L"MV_E2E_PAYLOAD_KILLED")));
  EXPECT_FALSE(IsFile(product_ + L"~mvk.pak"));
  EXPECT_FALSE(IsFile(product_ + L"~mirvane-setup.lock"));
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
