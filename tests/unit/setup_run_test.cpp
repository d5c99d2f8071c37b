#include "app/setup_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "support/fake_registry.h"
#include "support/fake_ui.h"

namespace mv {
namespace {

using testing::FakeRegistry;
using testing::FakeUi;
using testing::WrongType;
constexpr auto HKLM = RegistryRoot::LocalMachine;
const std::string kUninstallEntry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane";
const std::wstring kTitle = L"\"Тарвелин 3\" версии ";

// The arguments of a command line, as start-up reads them.
CommandArguments Args(std::wstring_view line) {
  return MakeStartupSettings(1033, L"setup.exe " + std::wstring(line)).Arguments;
}

// The test's paths are ASCII, which the event log spells as it is.
std::string Ascii(const std::wstring& path) { return std::string(path.begin(), path.end()); }

// What the run does to the system, as lines of the user side's event log, so that a test sees
// the order of both sides.
struct UnhandledEnd {
  std::string what;
};

class FakeSystem : public SetupSystem {
 public:
  explicit FakeSystem(std::vector<std::string>& events) : log(events) {
    registry.Set(HKLM, kUninstallEntry, "UninstallString", std::wstring(L"D:\\Mirvane\\unins000.exe"));
  }

  FakeRegistry registry;
  bool admin = true;
  bool running = false;
  bool productWindow = true;                 // a running product without one cannot be asked to quit
  bool productEnds = true;                   // within the wait after the quit request
  WriteResult write = WriteResult::Written;  // what the commit does
  bool stageFails = false;                   // the payload cannot be written (a full disk)
  bool installedIsNewer = false;             // the installed copy holds version 93
  bool versionUnknown = false;               // the installed copy's version cannot be read
  bool unreadableLanguageFile = false;       // the payload's version line is no integer
  int runLockFreeAfterMs = 0;                // another run holds the lock this long; -1: for good
  unsigned long runLockError = 0;            // not 0: the lock cannot be taken, with this Windows error
  IntegrityResult integrity = IntegrityResult::Intact;
  std::vector<std::wstring> files{L"D:\\Mirvane\\Mirvane.exe"};
  std::optional<std::int32_t> folderSize = 4100;
  ShellStart shell = ShellStart::Started;
  std::vector<std::string>& log;

  RegistryAccess& Registry() override { return registry; }
  bool IsUserAnAdmin() override { return admin; }
  RunLock TakeRunLock(const std::wstring&, unsigned ms) override {
    if (ms > 0) log.push_back("lock " + std::to_string(ms));
    if (runLockError != 0) return {RunLock::State::Unavailable, runLockError};
    if (runLockFreeAfterMs >= 0 && static_cast<unsigned>(runLockFreeAfterMs) <= ms) return {RunLock::State::Taken};
    return {RunLock::State::Held, 32};
  }
  bool IsProductRunning() override {
    log.push_back("probe");
    return running;
  }
  bool AskProductToQuit() override {
    log.push_back("quit");
    return productWindow;
  }
  bool WaitForProductToEnd(unsigned ms) override {
    log.push_back("wait " + std::to_string(ms));
    return productEnds;
  }

  IntegrityResult CheckInstallerFile() override {
    log.push_back("verify");
    return integrity;
  }
  std::wstring InstallerFileFailure() override { return L"its digest is not its stamp's"; }
  bool FileExists(const std::wstring& path) override {
    for (const auto& f : files)
      if (f == path) return true;
    return false;
  }
  // What the real writer stages, as the fields above say.
  void StagePayload(std::string_view name, std::string_view kind, const std::wstring& destination, int parts,
                    StagedPayload& staged) override {
    log.push_back((parts == 2 ? "split " : "stage ") + std::string(name) + " " + std::string(kind) + " " +
                  Ascii(destination));
    staged = StagedPayload();
    staged.Destination = destination;
    staged.Temp = MakeTempName(destination);
    staged.Ready = !stageFails;
    staged.Error = stageFails ? 112 : 0;
    staged.Payload.CannotHandle = unreadableLanguageFile;
    if (installedIsNewer || versionUnknown) {
      staged.Payload = {true, true, unreadableLanguageFile, L"92"};
      staged.Installed = {true, !versionUnknown, false, versionUnknown ? L"0" : L"93"};
      staged.NewerText = staged.Installed.Text;
      staged.PayloadIsOlder = installedIsNewer;
      staged.VersionUnknown = versionUnknown;
      staged.ReadError = versionUnknown ? 32 : 0;
    }
  }
  WriteResult CommitPayload(StagedPayload& staged, BeforeCommit& beforeCommit, InUsePolicy policy) override {
    beforeCommit.Run();
    log.push_back(policy == InUsePolicy::ReplaceAtRestart ? "commit, at the restart if in use" : "commit");
    staged.Error = write == WriteResult::Failed ? 32 : 0;
    return write;
  }
  void DiscardPayload(StagedPayload&) override { log.push_back("discard"); }
  std::optional<std::int32_t> GetFolderSizeKB(const std::wstring& folder,
                                              const std::wstring& replacedAtRestart) override {
    log.push_back("size " + Ascii(folder) + (replacedAtRestart.empty() ? "" : " without " + Ascii(replacedAtRestart)));
    return folderSize;
  }
  ShellStart LaunchProduct(const std::wstring& folder) override {
    log.push_back("launch " + Ascii(folder));
    return shell;
  }
  // The product code neither throws nor catches: this is the one exception on the path of a
  // failure that no step handles, and it stands for the end of the process.
  [[noreturn]] void EndWithUnhandledError(std::string_view what) override { throw UnhandledEnd{std::string(what)}; }
};

// The two sides of one run.
struct Sides {
  explicit Sides(RunMode mode = RunMode::Interactive) : ui(mode) {}
  FakeUi ui;
  FakeSystem system{ui.Events};

  // One run, with what every run must leave: every key closed, no question left unanswered.
  int Run(const BuildConstants& constants, const CommandArguments& arguments, SetupState& state) {
    const int exitCode = RunSetup(constants, arguments, ui, system, state);
    EXPECT_FALSE(system.registry.KeyOpen()) << "a key was left open";
    EXPECT_EQ(ui.UnqueuedQuestions, 0) << "unexpected question";
    return exitCode;
  }
};

class RunSetupTest : public ::testing::Test {
 protected:
  int Run(std::wstring_view line = L"", bool russian = false) {
    ui.Russian = russian;
    return sides.Run(constants, Args(line), state);
  }
  std::optional<testing::FakeValue> EstimatedSize() {
    return system.registry.Get(HKLM, kUninstallEntry, "EstimatedSize");
  }

  BuildConstants constants{kTitle, "mvm3", 92, "pak", 1};
  Sides sides;
  FakeUi& ui = sides.ui;
  FakeSystem& system = sides.system;
  std::vector<std::string>& log = ui.Events;
  SetupState state;
};

using Log = std::vector<std::string>;
const std::string kStage = "stage mvm3 pak D:\\Mirvane\\mvm3.pak";

TEST_F(RunSetupTest, InteractiveInstallAsksTwiceAndLaunchesOnYes) {
  ui.Answers = {true, true};
  EXPECT_EQ(Run(), exit_code::kInstalled);
  EXPECT_EQ(log,
            (Log{"verify", "ask", kStage, "probe", "commit", "size D:\\Mirvane\\", "ask", "launch D:\\Mirvane\\"}));
  EXPECT_EQ(EstimatedSize(), testing::FakeValue(std::int32_t{4100}));
  ASSERT_EQ(ui.Questions.size(), 2u);
  EXPECT_EQ(ui.Questions[0].Text, L"Would you like to setup\r\nMirvane update -\r\n\"Тарвелин 3\" версии 92?");
  EXPECT_EQ(ui.Questions[0].Caption, L"Sound question");
  EXPECT_FALSE(ui.Questions[0].Russian);
  // The closing question is Russian for everyone, under the English caption.
  EXPECT_EQ(
      ui.Questions[1].Text,
      L"На Ваш компьютер установлено\r\nОбновление Mirvane -\r\n\"Тарвелин 3\" версии 92\r\n\r\nЗапустить программу?");
  EXPECT_EQ(ui.Questions[1].Caption, L"Mirvane update");
  EXPECT_TRUE(ui.Questions[1].Russian);
  EXPECT_EQ(state.PayloadFileName, L"mvm3.pak");
}

TEST_F(RunSetupTest, RussianUserGetsTheRussianQuestion) {
  ui.Answers = {true, false};
  Run(L"", true);
  ASSERT_EQ(ui.Questions.size(), 2u);
  EXPECT_EQ(ui.Questions[0].Text,
            L"Вы действительно хотите установить\r\nОбновление Mirvane -\r\n\"Тарвелин 3\" версии 92?");
  EXPECT_EQ(ui.Questions[0].Caption, L"Резонный вопрос");
  EXPECT_TRUE(ui.Questions[0].Russian);
  EXPECT_EQ(ui.Questions[1].Caption, L"Mirvane update");
  EXPECT_EQ(log.back(), "ask") << "No to the closing question starts nothing";
}

TEST_F(RunSetupTest, NoToTheFirstQuestionWritesNothing) {
  ui.Answers = {false};
  EXPECT_EQ(Run(), exit_code::kDeclined);
  EXPECT_EQ(ui.LogLines.back(), L"Exit code 1602: declined at the first question");
  EXPECT_EQ(log, (Log{"verify", "ask"}));
  EXPECT_FALSE(system.registry.HasKey(HKLM, kUninstallEntry + "x"));
  EXPECT_FALSE(EstimatedSize().has_value());
}

// A modest run asks nothing, and with nothing to ask and no product to close it writes the
// payload while the check of its own file still runs: the commit waits for that check.
TEST_F(RunSetupTest, ModestRunsAskNothingAndStageWhileTheCheckRuns) {
  EXPECT_EQ(Run(L"modest"), exit_code::kInstalled);
  EXPECT_EQ(log, (Log{"probe", kStage, "verify", "probe", "commit", "size D:\\Mirvane\\"}));

  log.clear();
  Run(L"modest runapp");
  EXPECT_EQ(log.back(), "launch D:\\Mirvane\\");
  EXPECT_TRUE(ui.Questions.empty());
}

TEST_F(RunSetupTest, ModestOnlyAsSecondArgumentIsAnOrdinaryRun) {
  ui.Answers = {true, false};
  Run(L"runapp modest");
  EXPECT_EQ(ui.Questions.size(), 2u);
}

// A distorted installer ends as it always has: the payload staged while the check ran is removed
// again, before anything else happens, and nothing is committed. The same holds for every other
// end before the write.
TEST_F(RunSetupTest, AnEndBeforeTheWriteDiscardsWhatWasStaged) {
  for (const IntegrityResult verdict : {IntegrityResult::Distorted, IntegrityResult::Uncheckable}) {
    Sides distorted(RunMode::Modest);
    distorted.system.integrity = verdict;
    SetupState s;
    distorted.Run(constants, Args(L"modest"), s);
    EXPECT_EQ(distorted.ui.Events, (Log{"probe", kStage, "verify", "discard", "error"}));
    EXPECT_EQ(distorted.ui.Logged(L"The check"),
              L"The check of the installer's own file failed: its digest is not its stamp's");
  }
  // Nothing is staged early where a leftover holds the temporary name (it is left as it was), the
  // lock is not to be had at once, or the product is not there.
  Sides leftover;
  leftover.system.files.push_back(L"D:\\Mirvane\\~mvm3.pak");
  Sides locked;
  locked.system.runLockFreeAfterMs = 100;
  Sides missing;
  missing.system.files.clear();
  for (Sides* run : {&leftover, &locked, &missing}) {
    SetupState s;
    run->Run(constants, Args(L"modest"), s);
    EXPECT_EQ(run->ui.Events[1], "verify");
  }
}

// A running product is asked to quit only once the run is certain to write, after every
// question, and the write waits for its process to end.
TEST_F(RunSetupTest, RunningProductIsAskedToQuitOnlyOnceTheRunIsCertainToWrite) {
  system.running = true;
  ui.Answers = {false};
  Run();
  EXPECT_EQ(log, (Log{"verify", "ask"})) << "a No keeps the product running";

  log.clear();
  ui.Answers = {true, false};
  Run();
  EXPECT_EQ(log, (Log{"verify", "ask", kStage, "probe", "quit", "wait 10000", "commit", "size D:\\Mirvane\\", "ask"}));

  // A No to the question before a downgrade, or a write that failed, keeps it running too; and
  // nothing is written before the check with a product to close.
  for (const bool declined : {true, false}) {
    Sides kept;
    kept.system.running = true;
    kept.system.installedIsNewer = declined;
    kept.system.stageFails = !declined;
    if (declined) kept.ui.Answers = {false};
    SetupState s;
    EXPECT_EQ(kept.Run(constants, Args(L"modest"), s), declined ? exit_code::kNewerKept : exit_code::kFailure);
    EXPECT_EQ(kept.ui.Events[1], "verify") << declined;
    for (const std::string& event : kept.ui.Events) EXPECT_NE(event, "quit") << declined;
  }

  // Without a main window no quit request goes out, so there is nothing to wait for.
  Sides windowless;
  windowless.system.running = true;
  windowless.system.productWindow = false;
  SetupState s;
  windowless.Run(constants, Args(L"modest"), s);
  EXPECT_EQ(windowless.ui.Events, (Log{"probe", "verify", kStage, "probe", "quit", "commit", "size D:\\Mirvane\\"}));
}

// Before an older payload replaces a newer copy the run asks, with the progress window hidden
// for the question and shown again, blank, after it: a Yes commits, a No removes what was staged
// and keeps the copy. A window thread that cannot be started fails the step like a failed write.
TEST_F(RunSetupTest, TheQuestionBeforeAnOlderPayloadReplacesANewerCopy) {
  const struct {
    bool yes;
    bool progressStarts;
    int exitCode;
    Log events;
  } cases[] = {
      {true, true, exit_code::kInstalled, {"hide", "ask", "probe", "commit", "show"}},
      {false, true, exit_code::kNewerKept, {"hide", "ask", "discard", "show"}},
      {true, false, exit_code::kFailure, {"hide", "ask", "probe", "commit", "show", "error"}},
      {false, false, exit_code::kFailure, {"hide", "ask", "discard", "show", "error"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.yes ? "yes" : "no") + (c.progressStarts ? "" : ", no progress window"));
    Sides older;
    older.system.installedIsNewer = true;
    older.ui.Answers = {c.yes};
    older.ui.ProgressStarts = c.progressStarts;
    SetupState s;
    EXPECT_EQ(older.Run(constants, Args(L"modest"), s), c.exitCode);
    const Log& events = older.ui.Events;
    EXPECT_EQ(Log(events.begin() + 3, events.end() - 1), c.events);
    ASSERT_EQ(older.ui.Questions.size(), 1u);
    EXPECT_EQ(older.ui.Questions[0].Text,
              L"D:\\Mirvane\\mvm3.pak file installing is of older version\r\nthan the same already installed.\r\n\r\n"
              L"Do you really want to replace existing\r\nnew file version 93 with an older file version 92?");
    EXPECT_EQ(older.ui.Logged(L"Version of the installed copy: "), L"Version of the installed copy: 93");
    EXPECT_EQ(older.ui.Logged(L"Version of this add-on: "), L"Version of this add-on: 92");
  }
}

// What the writer found that the user is to be told, and a write that failed: the message, and
// the Windows error in the log.
TEST_F(RunSetupTest, AFailedWriteEndsWithoutTheClosingQuestionAndWithTheFailureCode) {
  system.write = WriteResult::Failed;
  ui.Answers = {true};
  EXPECT_EQ(Run(), exit_code::kFailure);
  EXPECT_EQ(log, (Log{"verify", "ask", kStage, "probe", "commit", "error", "size D:\\Mirvane\\"}));
  EXPECT_EQ(ui.Errors, std::vector<std::wstring>{L"Can't install file D:\\Mirvane\\mvm3.pak"});
  EXPECT_EQ(ui.Logged(L"Writing failed"), L"Writing failed with Windows error 32");
  EXPECT_EQ(EstimatedSize(), testing::FakeValue(std::int32_t{4100})) << "the size is still recorded";

  // A modest "runapp" run still starts the product it may have closed.
  log.clear();
  EXPECT_EQ(Run(L"modest runapp"), exit_code::kFailure);
  EXPECT_EQ(log.back(), "launch D:\\Mirvane\\");

  // A payload that cannot be written is not committed; a language file whose version cannot be
  // read is reported, and the run goes on.
  Sides full;
  full.system.stageFails = true;
  SetupState s;
  EXPECT_EQ(full.Run(constants, Args(L"modest"), s), exit_code::kFailure);
  EXPECT_EQ(full.ui.Events, (Log{"probe", kStage, "verify", "error", "size D:\\Mirvane\\"}));
  EXPECT_EQ(full.ui.Logged(L"Writing failed"), L"Writing failed with Windows error 112");
  Sides language;
  language.system.unreadableLanguageFile = true;
  EXPECT_EQ(language.Run(constants, Args(L"modest"), s), exit_code::kFailure);
  EXPECT_EQ(language.ui.Errors,
            std::vector<std::wstring>{L"Can't handle the language support file D:\\Mirvane\\~mvm3.pak"});
  EXPECT_EQ(std::count(language.ui.Events.begin(), language.ui.Events.end(), "commit"), 1);
}

// Each early end shows its message, writes nothing and ends with the code a deployment tool can
// act on, which the log names.
TEST_F(RunSetupTest, EarlyEndsShowTheirMessageWriteNothingAndHaveTheirExitCode) {
  struct Case {
    const char* what;
    void (*arrange)(FakeSystem&);
    Log log;
    std::wstring error;
    int exitCode;
    const wchar_t* meaning;
  } cases[] = {
      {"not an administrator",
       [](FakeSystem& s) { s.admin = false; },
       {"error"},
       L"You have no right to install applications!",
       740,
       L"Exit code 740: no administrator rights"},
      {"damaged installer",
       [](FakeSystem& s) { s.integrity = IntegrityResult::Distorted; },
       {"probe", "verify", "error"},
       L"The package file has been distorted!\r\nVirus?",
       1620,
       L"Exit code 1620: the installer's own file is damaged"},
      {"installer that cannot be checked",
       [](FakeSystem& s) { s.integrity = IntegrityResult::Uncheckable; },
       {"probe", "verify", "error"},
       L"Failed to check up the package file!",
       1619,
       L"Exit code 1619: the installer's own file could not be checked"},
      {"no product executable",
       [](FakeSystem& s) { s.files.clear(); },
       {"probe", "verify", "error"},
       L"There's no subject of update - the Mirvane installed.\r\nPlease, install the program at first.",
       1605,
       L"Exit code 1605: Mirvane is not installed"},
      {"unreadable shell folders",
       [](FakeSystem& s) {
         s.registry.Set(RegistryRoot::CurrentUser,
                        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Desktop",
                        WrongType{});
       },
       {"error"},
       L"No access to system registry",
       1603,
       L"Exit code 1603: the setup failed"},
      {"another run that does not end",
       [](FakeSystem& s) { s.runLockFreeAfterMs = -1; },
       {"probe", "verify", "lock 10000", "error"},
       L"Another setup of Mirvane update is running now.\r\nPlease, wait for it to end.",
       1618,
       L"Exit code 1618: another setup of Mirvane was running"},
      // Not another run: the product folder refuses the lock (its rights, a folder in its place).
      {"a run lock that cannot be taken",
       [](FakeSystem& s) { s.runLockError = 5; },
       {"probe", "verify", "error"},
       L"Can't install file D:\\Mirvane\\mvm3.pak",
       1603,
       L"Exit code 1603: the setup failed"},
  };
  for (const Case& c : cases) {
    for (const RunMode mode : {RunMode::Modest, RunMode::Quiet}) {
      const bool quiet = mode == RunMode::Quiet;
      SCOPED_TRACE(std::string(c.what) + (quiet ? ", quiet" : ""));
      Sides fresh(mode);
      fresh.system.running = true;  // and so never asked to quit
      c.arrange(fresh.system);
      SetupState s;
      EXPECT_EQ(fresh.Run(constants, Args(quiet ? L"/quiet modest runapp" : L"modest runapp"), s), c.exitCode);
      EXPECT_EQ(fresh.ui.Logged(L"Error: "), L"Error: " + c.error);
      EXPECT_EQ(fresh.ui.LogLines.back(), c.meaning);
      EXPECT_FALSE(fresh.system.registry.Get(HKLM, kUninstallEntry, "EstimatedSize").has_value());
      if (quiet) {
        EXPECT_TRUE(fresh.ui.Errors.empty()) << "a quiet run showed a box";
        continue;
      }
      EXPECT_EQ(fresh.ui.Events, c.log);
      EXPECT_EQ(fresh.ui.Errors, std::vector<std::wstring>{c.error});
    }
  }
}

// A second run waits briefly for one that runs already, and goes on once it has ended; a lock
// that cannot be had for another reason is not waited for, and the log says why.
TEST_F(RunSetupTest, AnotherRunIsWaitedForBriefly) {
  system.runLockFreeAfterMs = 3000;
  EXPECT_EQ(Run(L"modest"), exit_code::kInstalled);
  EXPECT_EQ(log, (Log{"probe", "verify", "lock 10000", kStage, "probe", "commit", "size D:\\Mirvane\\"}));
  EXPECT_NE(ui.Logged(L"Another setup of Mirvane runs"), L"");

  Sides refused;
  refused.system.runLockError = 5;
  SetupState s;
  EXPECT_EQ(refused.Run(constants, Args(L"modest"), s), exit_code::kFailure);
  EXPECT_EQ(refused.ui.Logged(L"The run lock"), L"The run lock in the product folder cannot be taken: Windows error 5");
  EXPECT_EQ(refused.ui.Logged(L"Another setup"), L"");
}

// A quiet run is a modest one that shows nothing and starts nothing: the question before an older
// payload replaces a newer copy is answered No, a copy in use is left for the next restart, a copy
// whose version cannot be read is kept, and each outcome has its own exit code. After a write left
// for the next restart, the size recorded is the folder's after that restart.
TEST_F(RunSetupTest, QuietRunsShowNothingAndEndWithTheirOwnCodes) {
  const struct {
    const char* what;
    bool installedIsNewer;
    bool versionUnknown;
    WriteResult write;
    int exitCode;
    const char* size;
  } cases[] = {
      {"installed", false, false, WriteResult::Written, exit_code::kInstalled, "size D:\\Mirvane\\"},
      {"a newer copy kept", true, false, WriteResult::Written, exit_code::kNewerKept, "size D:\\Mirvane\\"},
      {"in use: at the next restart", false, false, WriteResult::AtRestart, exit_code::kInstalledAtRestart,
       "size D:\\Mirvane\\ without D:\\Mirvane\\mvm3.pak"},
      {"failed", false, false, WriteResult::Failed, exit_code::kFailure, "size D:\\Mirvane\\"},
      {"a version that cannot be read", false, true, WriteResult::AtRestart, exit_code::kFailure, "size D:\\Mirvane\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sides quiet(RunMode::Quiet);
    quiet.system.installedIsNewer = c.installedIsNewer;
    quiet.system.versionUnknown = c.versionUnknown;
    quiet.system.write = c.write;
    SetupState s;
    EXPECT_EQ(quiet.Run(constants, Args(L"/quiet modest runapp"), s), c.exitCode);
    EXPECT_TRUE(quiet.ui.Questions.empty()) << "a box was shown";
    EXPECT_TRUE(quiet.ui.Errors.empty()) << "a box was shown";
    EXPECT_TRUE(quiet.ui.Progress.empty());
    for (const std::string& event : quiet.ui.Events) EXPECT_EQ(event.rfind("launch", 0), std::string::npos);
    EXPECT_EQ(quiet.ui.Events.back(), c.size);
    if (c.installedIsNewer) {
      EXPECT_EQ(quiet.ui.Logged(L"Answer: "), L"Answer: No, nobody to ask");
    }
    const bool committed = !c.installedIsNewer && !c.versionUnknown;
    EXPECT_EQ(std::count(quiet.ui.Events.begin(), quiet.ui.Events.end(), "commit, at the restart if in use"),
              committed ? 1 : 0);
    if (c.versionUnknown) {
      EXPECT_EQ(quiet.ui.Logged(L"Version of the installed copy: "),
                L"Version of the installed copy: unknown: it cannot be read");
      EXPECT_EQ(quiet.ui.Logged(L"A version"), L"A version cannot be read, so the installed copy is kept");
    }
  }
  // At a desk such a copy counts as version 0, as it always has: the write goes ahead, and fails
  // while the copy is held.
  Sides desk;
  desk.system.versionUnknown = true;
  SetupState s;
  EXPECT_EQ(desk.Run(constants, Args(L"modest"), s), exit_code::kInstalled);
  EXPECT_EQ(desk.ui.Events[4], "commit");
}

// The installer never starts the product with its own administrator rights: where no desktop
// shell can start it with the user's, it is not started, and the user is told, as a notice that
// fails nothing. A shell that refused, or may still start it, is not waited for in vain.
TEST_F(RunSetupTest, WhereNoShellCanStartTheProductTheUserIsToldAndTheRunSucceeds) {
  const struct {
    ShellStart shell;
    const wchar_t* logged;
    bool notice;
  } cases[] = {
      {ShellStart::Started, L"Mirvane started through the desktop shell", false},
      {ShellStart::Refused, L"The desktop shell refused to start Mirvane", false},
      {ShellStart::NoAnswer, L"The desktop shell did not answer in time: Mirvane may start later", false},
      {ShellStart::Unreachable, L"No desktop shell to start Mirvane with the user's rights: not started", true},
  };
  for (const auto& c : cases) {
    for (const bool interactive : {true, false}) {
      SCOPED_TRACE(static_cast<int>(c.shell));
      Sides run;
      run.system.shell = c.shell;
      if (interactive) run.ui.Answers = {true, true};
      SetupState s;
      EXPECT_EQ(run.Run(constants, Args(interactive ? L"" : L"modest runapp"), s), exit_code::kInstalled);
      EXPECT_EQ(run.ui.Logged(c.logged), c.logged);
      EXPECT_EQ(run.ui.Notices, c.notice ? std::vector<std::wstring>{L"Mirvane could not be started with your own "
                                                                     L"rights.\r\nPlease, start the program yourself."}
                                         : std::vector<std::wstring>{});
      EXPECT_TRUE(run.ui.Errors.empty());
    }
  }
}

// A command line with an argument the installer cannot read ends before any step: nothing shown,
// whatever kind of run it would have been, and the log says which argument.
TEST(UnreadableCommandLine, EndsWith1639ShowingNothing) {
  for (const bool quiet : {false, true}) {
    FakeUi ui(quiet ? RunMode::Quiet : RunMode::Interactive);
    EXPECT_EQ(RefuseUnreadableCommandLine(Args(quiet ? L"/quiet /S" : L"/S"), ui), exit_code::kUnreadableCommandLine);
    EXPECT_TRUE(ui.Events.empty());
    EXPECT_EQ(ui.LogLines, (std::vector<std::wstring>{
                               L"Unreadable argument (the switches are /quiet and /log FILE): /S",
                               L"Exit code 1639: the command line has an argument the installer cannot read"}));
  }
}

TEST_F(RunSetupTest, SplitPayloadBuildUsesTheSplitExtraction) {
  constants.PayloadName = "mvq";
  constants.PayloadParts = 2;
  Run(L"modest");
  EXPECT_EQ(log[1], "split mvq pak D:\\Mirvane\\mvq.pak");
}

TEST_F(RunSetupTest, SizeGoesIntoTheEntryWhereTheProductWasFoundAndNowhereElse) {
  const std::string wowEntry = "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane";
  system.registry = FakeRegistry();
  system.registry.Set(HKLM, wowEntry, "UninstallString", std::wstring(L"D:\\Mirvane\\unins000.exe"));
  Run(L"modest");
  EXPECT_EQ(system.registry.Get(HKLM, wowEntry, "EstimatedSize"), testing::FakeValue(std::int32_t{4100}));
  EXPECT_FALSE(system.registry.HasKey(HKLM, kUninstallEntry)) << "a stray plain-path entry was made";

  // No entry at all: the product is found in Program Files, installed into, and no entry made.
  Sides noEntry;
  noEntry.system.registry = FakeRegistry();
  noEntry.system.registry.Set(HKLM, "Software\\Microsoft\\Windows\\CurrentVersion\\", "ProgramFilesDir",
                              std::wstring(L"C:\\Program Files"));
  noEntry.system.files = {L"C:\\Program Files\\Mirvane\\Mirvane.exe"};
  SetupState s;
  EXPECT_EQ(noEntry.Run(constants, Args(L"modest"), s), exit_code::kInstalled);
  EXPECT_EQ(noEntry.ui.Events,
            (Log{"probe", "stage mvm3 pak C:\\Program Files\\Mirvane\\mvm3.pak", "verify", "probe", "commit"}));
  EXPECT_FALSE(noEntry.system.registry.HasKey(HKLM, kUninstallEntry));
  EXPECT_FALSE(noEntry.system.registry.HasKey(HKLM, wowEntry));
}

TEST_F(RunSetupTest, UnmeasurableFolderWritesNoSizeButTheRunGoesOn) {
  system.folderSize = std::nullopt;
  EXPECT_EQ(Run(L"modest runapp"), exit_code::kInstalled);
  EXPECT_FALSE(EstimatedSize().has_value());
  EXPECT_EQ(log.back(), "launch D:\\Mirvane\\") << "the run stopped at the size";
}

TEST_F(RunSetupTest, FailuresNoStepHandlesEndTheRunWithTheKeyClosed) {
  system.registry.FailWrites = true;
  try {
    Run(L"modest runapp");
    ADD_FAILURE() << "the run went on after the failed write";
  } catch (const UnhandledEnd& end) {
    EXPECT_EQ(end.what, "Failed to set data for 'EstimatedSize'");
  }
  EXPECT_FALSE(system.registry.KeyOpen());
  EXPECT_EQ(log.back(), "size D:\\Mirvane\\") << "nothing after the failed write";
  EXPECT_TRUE(ui.Errors.empty());

  Sides wrongType;
  wrongType.system.registry.Set(HKLM, kUninstallEntry, "UninstallString", std::int32_t{1});
  SetupState s;
  try {
    wrongType.Run(constants, Args(L"modest"), s);
    ADD_FAILURE() << "the run went on after the failed read";
  } catch (const UnhandledEnd& end) {
    EXPECT_EQ(end.what, "Invalid data type for 'UninstallString'");
  }
  EXPECT_FALSE(wrongType.system.registry.KeyOpen());
  EXPECT_TRUE(wrongType.ui.Events.empty());
}

TEST_F(RunSetupTest, DescriptionHasTheVersionInDecimal) {
  constants.PayloadVersion = -5;
  ui.Answers = {false};
  Run();
  EXPECT_EQ(state.AddonDescription, kTitle + L"-5");
}

}  // namespace
}  // namespace mv
