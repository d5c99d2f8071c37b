#include "app/setup_run.h"

#include <gtest/gtest.h>

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
  bool productWindow = true;  // a running product without one cannot be asked to quit
  bool extractSucceeds = true;
  bool olderPayloadDeclined = false;  // the question before a downgrade answered No
  IntegrityResult integrity = IntegrityResult::Intact;
  std::vector<std::wstring> files{L"D:\\Mirvane\\Mirvane.exe"};
  std::int32_t folderSize = 4100;
  std::vector<std::string>& log;

  RegistryAccess& Registry() override { return registry; }
  bool IsUserAnAdmin() override { return admin; }
  bool IsProductRunning() override {
    log.push_back("probe");
    return running;
  }
  bool AskProductToQuit() override {
    log.push_back("quit");
    return productWindow;
  }
  void WaitForProductToEnd(unsigned ms) override { log.push_back("wait " + std::to_string(ms)); }

  IntegrityResult CheckInstallerFile() override {
    log.push_back("verify");
    return integrity;
  }
  bool FileExists(const std::wstring& path) override {
    for (const auto& f : files)
      if (f == path) return true;
    return false;
  }
  bool ExtractPayload(std::string_view name, std::string_view kind, const std::wstring& destination, bool checkExisting,
                      SetupUi& ui, BeforeCommit& beforeCommit) override {
    log.push_back("extract " + std::string(name) + " " + std::string(kind) + " " + Ascii(destination) +
                  (checkExisting ? " check" : ""));
    return Extracted(destination, ui, beforeCommit);
  }
  bool ExtractSplitPayload(std::string_view name, std::string_view kind, const std::wstring& destination, SetupUi& ui,
                           BeforeCommit& beforeCommit) override {
    log.push_back("split " + std::string(name) + " " + std::string(kind) + " " + Ascii(destination));
    return Extracted(destination, ui, beforeCommit);
  }
  // A failed write reports itself, as the real writers do; the commit comes after every
  // question and only when the write goes ahead.
  bool Extracted(const std::wstring& destination, SetupUi& ui, BeforeCommit& beforeCommit) {
    if (!extractSucceeds) ui.ShowBilingualError(text::kCannotInstallFile, destination);
    if (!extractSucceeds || olderPayloadDeclined) return extractSucceeds;
    beforeCommit.Run();
    log.push_back("commit");
    return true;
  }
  std::int32_t GetFolderSizeKB(const std::wstring& folder) override {
    log.push_back("size " + Ascii(folder));
    return folderSize;
  }
  void LaunchProduct(const std::wstring& folder) override { log.push_back("launch " + Ascii(folder)); }
  // The product code neither throws nor catches: this is the one exception on the path of a
  // failure that no step handles, and it stands for the end of the process.
  [[noreturn]] void EndWithUnhandledError(std::string_view what) override { throw UnhandledEnd{std::string(what)}; }
};

// The two sides of one run.
struct Sides {
  FakeUi ui;
  FakeSystem system{ui.Events};
};

class RunSetupTest : public ::testing::Test {
 protected:
  int Run(std::string commandSwitch = "", std::string second = "", bool russian = false) {
    ui.Russian = russian;
    const int exitCode = RunSetup(constants, {std::move(commandSwitch), std::move(second)}, ui, system, state);
    EXPECT_FALSE(system.registry.KeyOpen()) << "a key was left open";
    EXPECT_EQ(ui.UnqueuedQuestions, 0) << "unexpected question";
    return exitCode;
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

TEST_F(RunSetupTest, InteractiveInstallAsksTwiceAndLaunchesOnYes) {
  ui.Answers = {true, true};
  EXPECT_EQ(Run(), kExitAsAsked);
  EXPECT_EQ(log, (Log{"verify", "ask", "extract mvm3 pak D:\\Mirvane\\mvm3.pak check", "probe", "commit",
                      "size D:\\Mirvane\\", "ask", "launch D:\\Mirvane\\"}));
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
  EXPECT_FALSE(state.ModestRun);
}

TEST_F(RunSetupTest, RussianUserGetsTheRussianQuestion) {
  ui.Answers = {true, false};
  Run("", "", true);
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
  EXPECT_EQ(Run(), kExitAsAsked);
  EXPECT_EQ(log, (Log{"verify", "ask"}));
  EXPECT_FALSE(system.registry.HasKey(HKLM, kUninstallEntry + "x"));
  EXPECT_FALSE(EstimatedSize().has_value());
}

TEST_F(RunSetupTest, ModestRunsAskNothing) {
  EXPECT_EQ(Run("modest"), kExitAsAsked);
  EXPECT_EQ(log,
            (Log{"verify", "extract mvm3 pak D:\\Mirvane\\mvm3.pak check", "probe", "commit", "size D:\\Mirvane\\"}));
  EXPECT_TRUE(state.ModestRun);

  log.clear();
  Run("modest", "runapp");
  EXPECT_EQ(log.back(), "launch D:\\Mirvane\\");
  EXPECT_TRUE(ui.Questions.empty());
}

TEST_F(RunSetupTest, ModestOnlyAsSecondArgumentIsAnOrdinaryRun) {
  ui.Answers = {true, false};
  Run("runapp", "modest");
  EXPECT_EQ(ui.Questions.size(), 2u);
  EXPECT_FALSE(state.ModestRun);
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
  EXPECT_EQ(log, (Log{"verify", "ask", "extract mvm3 pak D:\\Mirvane\\mvm3.pak check", "probe", "quit", "wait 10000",
                      "commit", "size D:\\Mirvane\\", "ask"}));

  // A No to the question before a downgrade, or a write that failed, keeps it running too.
  for (const bool declined : {true, false}) {
    Sides kept;
    kept.system.running = true;
    kept.system.olderPayloadDeclined = declined;
    kept.system.extractSucceeds = declined;
    SetupState s;
    RunSetup(constants, {"modest", ""}, kept.ui, kept.system, s);
    EXPECT_EQ(kept.ui.Events[1], "extract mvm3 pak D:\\Mirvane\\mvm3.pak check") << declined;
    for (const std::string& event : kept.ui.Events) EXPECT_NE(event, "quit") << declined;
  }

  // Without a main window no quit request goes out, so there is nothing to wait for.
  Sides windowless;
  windowless.system.running = true;
  windowless.system.productWindow = false;
  SetupState s;
  RunSetup(constants, {"modest", ""}, windowless.ui, windowless.system, s);
  EXPECT_EQ(windowless.ui.Events, (Log{"verify", "extract mvm3 pak D:\\Mirvane\\mvm3.pak check", "probe", "quit",
                                       "commit", "size D:\\Mirvane\\"}));
}

TEST_F(RunSetupTest, AFailedWriteEndsWithoutTheClosingQuestionAndWithTheFailureCode) {
  system.extractSucceeds = false;
  ui.Answers = {true};
  EXPECT_EQ(Run(), kExitFailureShown);
  EXPECT_EQ(log, (Log{"verify", "ask", "extract mvm3 pak D:\\Mirvane\\mvm3.pak check", "error", "size D:\\Mirvane\\"}));
  EXPECT_EQ(EstimatedSize(), testing::FakeValue(std::int32_t{4100})) << "the size is still recorded";

  // A modest "runapp" run still starts the product it may have closed.
  log.clear();
  EXPECT_EQ(Run("modest", "runapp"), kExitFailureShown);
  EXPECT_EQ(log.back(), "launch D:\\Mirvane\\");
}

TEST_F(RunSetupTest, EarlyEndsShowTheirMessageAndWriteNothing) {
  struct Case {
    const char* what;
    void (*arrange)(FakeSystem&);
    Log log;
    std::wstring error;
  } cases[] = {
      {"not an administrator",
       [](FakeSystem& s) { s.admin = false; },
       {"error"},
       L"You have no right to install applications!"},
      {"damaged installer",
       [](FakeSystem& s) { s.integrity = IntegrityResult::Distorted; },
       {"verify", "error"},
       L"The package file has been distorted!\r\nVirus?"},
      {"installer that cannot be checked",
       [](FakeSystem& s) { s.integrity = IntegrityResult::Uncheckable; },
       {"verify", "error"},
       L"Failed to check up the package file!"},
      {"no product executable",
       [](FakeSystem& s) { s.files.clear(); },
       {"verify", "error"},
       L"There's no subject of update - the Mirvane installed.\r\nPlease, install the program at first."},
      {"unreadable shell folders",
       [](FakeSystem& s) {
         s.registry.Set(RegistryRoot::CurrentUser,
                        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Desktop",
                        WrongType{});
       },
       {"error"},
       L"No access to system registry"},
  };
  for (const Case& c : cases) {
    Sides fresh;
    fresh.system.running = true;  // and so never asked to quit
    c.arrange(fresh.system);
    SetupState s;
    EXPECT_EQ(RunSetup(constants, {"modest", "runapp"}, fresh.ui, fresh.system, s), kExitFailureShown) << c.what;
    EXPECT_EQ(fresh.ui.Events, c.log) << c.what;
    ASSERT_EQ(fresh.ui.Errors.size(), 1u) << c.what;
    EXPECT_EQ(fresh.ui.Errors[0], c.error) << c.what;
    EXPECT_FALSE(fresh.system.registry.Get(HKLM, kUninstallEntry, "EstimatedSize").has_value()) << c.what;
  }
}

TEST_F(RunSetupTest, SplitPayloadBuildUsesTheSplitExtraction) {
  constants.PayloadName = "mvq";
  constants.PayloadParts = 2;
  ui.Answers = {false};
  Run("MODEST");  // the switch arrives lowercased; capitals here are not "modest"
  EXPECT_FALSE(state.ModestRun);
  log.clear();
  ui.Answers.clear();
  Run("modest");
  EXPECT_EQ(log[1], "split mvq pak D:\\Mirvane\\mvq.pak");
}

TEST_F(RunSetupTest, SizeGoesIntoTheEntryWhereTheProductWasFoundAndNowhereElse) {
  const std::string wowEntry = "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane";
  system.registry = FakeRegistry();
  system.registry.Set(HKLM, wowEntry, "UninstallString", std::wstring(L"D:\\Mirvane\\unins000.exe"));
  Run("modest");
  EXPECT_EQ(system.registry.Get(HKLM, wowEntry, "EstimatedSize"), testing::FakeValue(std::int32_t{4100}));
  EXPECT_FALSE(system.registry.HasKey(HKLM, kUninstallEntry)) << "a stray plain-path entry was made";

  // No entry at all: the product is found in Program Files, installed into, and no entry made.
  Sides noEntry;
  noEntry.system.registry = FakeRegistry();
  noEntry.system.registry.Set(HKLM, "Software\\Microsoft\\Windows\\CurrentVersion\\", "ProgramFilesDir",
                              std::wstring(L"C:\\Program Files"));
  noEntry.system.files = {L"C:\\Program Files\\Mirvane\\Mirvane.exe"};
  SetupState s;
  EXPECT_EQ(RunSetup(constants, {"modest", ""}, noEntry.ui, noEntry.system, s), kExitAsAsked);
  EXPECT_EQ(noEntry.ui.Events,
            (Log{"verify", "extract mvm3 pak C:\\Program Files\\Mirvane\\mvm3.pak check", "probe", "commit"}));
  EXPECT_FALSE(noEntry.system.registry.HasKey(HKLM, kUninstallEntry));
  EXPECT_FALSE(noEntry.system.registry.HasKey(HKLM, wowEntry));
}

TEST_F(RunSetupTest, UnmeasurableFolderWritesNoSizeButTheRunGoesOn) {
  system.folderSize = -1;
  EXPECT_EQ(Run("modest", "RUNAPP"), kExitAsAsked);  // the second argument also arrives lowercased
  EXPECT_FALSE(EstimatedSize().has_value());
  EXPECT_NE(log.back().rfind("launch", 0), 0u);
}

TEST_F(RunSetupTest, FailuresNoStepHandlesEndTheRunWithTheKeyClosed) {
  system.registry.FailWrites = true;
  try {
    Run("modest", "runapp");
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
    RunSetup(constants, {"modest", ""}, wrongType.ui, wrongType.system, s);
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
