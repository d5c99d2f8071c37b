#include "app/setup_run.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "fake_registry.h"

namespace mv {
namespace {

using testing::FakeRegistry;
using testing::WrongType;
constexpr auto HKLM = RegistryRoot::LocalMachine;
const std::string kUninstallEntry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane";
const std::wstring kTitle = L"\"Тарвелин 3\" версии ";

// Records every effect of the run, in order, as one line each.
class FakeHost : public SetupHost {
 public:
  FakeRegistry registry;
  bool admin = true;
  bool running = false;
  bool intact = true;
  std::vector<std::string> files{"D:\\Mirvane\\Mirvane.exe"};
  std::deque<bool> answers;  // answers to the questions, in order
  std::int32_t folderSize = 4100;
  std::vector<std::string> log;
  struct Question {
    std::wstring text, caption;
    bool russian;
  };
  std::vector<Question> questions;
  std::vector<std::wstring> errors;

  FakeHost() {
    registry.Set(HKLM, kUninstallEntry, "UninstallString", std::string("D:\\Mirvane\\unins000.exe"));
  }

  void ShowBilingualError(std::wstring_view en, std::wstring_view) override {
    errors.emplace_back(en);
    log.push_back("error");
  }
  RegistryAccess& Registry() override { return registry; }
  bool IsUserAnAdmin() override { return admin; }
  bool IsProductRunning() override {
    log.push_back("probe");
    return running;
  }
  void AskProductToQuit() override { log.push_back("quit"); }
  bool VerifyInstallerFile() override {
    log.push_back("verify");
    if (!intact) errors.emplace_back(L"distorted");
    return intact;
  }
  bool FileExists(const std::string& path) override {
    for (const auto& f : files)
      if (f == path) return true;
    return false;
  }
  bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) override {
    questions.push_back({std::wstring(text), std::wstring(caption), russian});
    log.push_back("ask");
    EXPECT_FALSE(answers.empty()) << "unexpected question";
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  void ExtractPayload(std::string_view name, std::string_view kind, const std::string& destination,
                      bool checkExisting) override {
    log.push_back("extract " + std::string(name) + " " + std::string(kind) + " " + destination +
                  (checkExisting ? " check" : ""));
  }
  void ExtractSplitPayload(std::string_view name, std::string_view kind, const std::string& destination) override {
    log.push_back("split " + std::string(name) + " " + std::string(kind) + " " + destination);
  }
  std::int32_t GetFolderSizeKB(const std::string& folder) override {
    log.push_back("size " + folder);
    return folderSize;
  }
  void LaunchProduct(const std::string& folder, const std::string& name) override {
    log.push_back("launch " + folder + name);
  }
};

class RunSetupTest : public ::testing::Test {
 protected:
  void Run(std::string commandSwitch = "", std::string second = "", bool russian = false) {
    settings.RussianMessages = russian;
    settings.CommandSwitch = std::move(commandSwitch);
    settings.SecondArgument = std::move(second);
    RunSetup(constants, settings, host, state);
    EXPECT_FALSE(host.registry.keyOpen()) << "a key was left open";
  }
  std::optional<testing::FakeValue> EstimatedSize() { return host.registry.Get(HKLM, kUninstallEntry, "EstimatedSize"); }

  BuildConstants constants{kTitle, "mvm3", 92, "pak"};
  StartupSettings settings;
  FakeHost host;
  SetupState state;
};

using Log = std::vector<std::string>;

TEST_F(RunSetupTest, InteractiveInstallAsksTwiceAndLaunchesOnYes) {
  host.answers = {true, true};
  Run();
  EXPECT_EQ(host.log, (Log{"probe", "verify", "ask", "extract mvm3 pak D:\\Mirvane\\mvm3.pak check",
                           "size D:\\Mirvane\\", "ask", "launch D:\\Mirvane\\Mirvane"}));
  EXPECT_EQ(EstimatedSize(), testing::FakeValue(std::int32_t{4100}));
  ASSERT_EQ(host.questions.size(), 2u);
  EXPECT_EQ(host.questions[0].text, L"Would you like to setup\r\nMirvane update -\r\n\"Тарвелин 3\" версии 92?");
  EXPECT_EQ(host.questions[0].caption, L"Sound question");
  EXPECT_FALSE(host.questions[0].russian);
  // The closing question is Russian for everyone, under the English caption.
  EXPECT_EQ(host.questions[1].text,
            L"На Ваш компьютер установлено\r\nОбновление Mirvane -\r\n\"Тарвелин 3\" версии 92\r\n\r\nЗапустить программу?");
  EXPECT_EQ(host.questions[1].caption, L"Mirvane update");
  EXPECT_TRUE(host.questions[1].russian);
  EXPECT_EQ(state.PayloadFileName, "mvm3.pak");
  EXPECT_FALSE(state.ModestRun);
}

TEST_F(RunSetupTest, RussianUserGetsTheRussianQuestion) {
  host.answers = {true, false};
  Run("", "", true);
  ASSERT_EQ(host.questions.size(), 2u);
  EXPECT_EQ(host.questions[0].text, L"Вы действительно хотите установить\r\nОбновление Mirvane -\r\n\"Тарвелин 3\" версии 92?");
  EXPECT_EQ(host.questions[0].caption, L"Резонный вопрос");
  EXPECT_TRUE(host.questions[0].russian);
  EXPECT_EQ(host.questions[1].caption, L"Mirvane update");
  EXPECT_EQ(host.log.back(), "ask") << "No to the closing question starts nothing";
}

TEST_F(RunSetupTest, NoToTheFirstQuestionWritesNothing) {
  host.answers = {false};
  Run();
  EXPECT_EQ(host.log, (Log{"probe", "verify", "ask"}));
  EXPECT_FALSE(host.registry.HasKey(HKLM, kUninstallEntry + "x"));
  EXPECT_FALSE(EstimatedSize().has_value());
}

TEST_F(RunSetupTest, ModestRunsAskNothing) {
  Run("modest");
  EXPECT_EQ(host.log, (Log{"probe", "verify", "extract mvm3 pak D:\\Mirvane\\mvm3.pak check", "size D:\\Mirvane\\"}));
  EXPECT_TRUE(state.ModestRun);

  host.log.clear();
  Run("modest", "runapp");
  EXPECT_EQ(host.log.back(), "launch D:\\Mirvane\\Mirvane");
  EXPECT_TRUE(host.questions.empty());
}

TEST_F(RunSetupTest, ModestOnlyAsSecondArgumentIsAnOrdinaryRun) {
  host.answers = {true, false};
  Run("runapp", "modest");
  EXPECT_EQ(host.questions.size(), 2u);
  EXPECT_FALSE(state.ModestRun);
}

TEST_F(RunSetupTest, RunningProductIsAskedToQuitBeforeTheCheckAndTheQuestion) {
  host.running = true;
  host.answers = {false};
  Run();
  EXPECT_EQ(host.log, (Log{"probe", "quit", "verify", "ask"}));
}

TEST_F(RunSetupTest, EarlyEndsShowTheirMessageAndWriteNothing) {
  struct Case {
    const char* what;
    void (*arrange)(FakeHost&);
    Log log;
    std::wstring error;
  } cases[] = {
      {"not an administrator", [](FakeHost& h) { h.admin = false; }, {"error"},
       L"You have no right to install applications!"},
      {"damaged installer", [](FakeHost& h) { h.intact = false; }, {"probe", "verify"}, L"distorted"},
      {"no product executable", [](FakeHost& h) { h.files.clear(); }, {"probe", "verify", "error"},
       L"There's no subject of update - the Mirvane installed.\r\nPlease, install the program at first."},
      {"unreadable shell folders",
       [](FakeHost& h) {
         h.registry.Set(RegistryRoot::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                        "Desktop", WrongType{});
       },
       {"error"}, L"No access to system registry"},
  };
  for (const Case& c : cases) {
    FakeHost fresh;
    c.arrange(fresh);
    SetupState s;
    RunSetup(constants, {false, "modest", "runapp"}, fresh, s);
    EXPECT_EQ(fresh.log, c.log) << c.what;
    ASSERT_EQ(fresh.errors.size(), 1u) << c.what;
    EXPECT_EQ(fresh.errors[0], c.error) << c.what;
    EXPECT_FALSE(fresh.registry.Get(HKLM, kUninstallEntry, "EstimatedSize").has_value()) << c.what;
  }
}

TEST_F(RunSetupTest, SplitPayloadBuildUsesTheSplitExtraction) {
  constants.PayloadName = "mvq";
  host.answers = {false};
  Run("MODEST");  // the switch arrives lowercased; capitals here are not "modest"
  EXPECT_FALSE(state.ModestRun);
  host.log.clear();
  host.answers.clear();
  Run("modest");
  EXPECT_EQ(host.log[2], "split mvq pak D:\\Mirvane\\mvq.pak");
}

TEST_F(RunSetupTest, SizeIsWrittenUnderThePlainPathEvenWhenFoundUnderWow6432Node) {
  FakeRegistry wowOnly;
  wowOnly.Set(HKLM, "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane", "UninstallString",
              std::string("D:\\Mirvane\\unins000.exe"));
  host.registry = wowOnly;
  Run("modest");
  EXPECT_EQ(EstimatedSize(), testing::FakeValue(std::int32_t{4100}));
}

TEST_F(RunSetupTest, UnmeasurableFolderWritesNoSizeButTheRunGoesOn) {
  host.folderSize = -1;
  host.registry = FakeRegistry();
  host.files = {"C:\\Program Files\\Mirvane\\Mirvane.exe"};
  host.registry.Set(HKLM, "Software\\Microsoft\\Windows\\CurrentVersion\\", "ProgramFilesDir",
                    std::string("C:\\Program Files"));
  Run("modest", "RUNAPP");  // the second argument also arrives lowercased
  EXPECT_TRUE(host.registry.HasKey(HKLM, kUninstallEntry)) << "the key is created even so";
  EXPECT_FALSE(EstimatedSize().has_value());
  EXPECT_NE(host.log.back().rfind("launch", 0), 0u);
}

TEST_F(RunSetupTest, FailuresNoStepHandlesEndTheRunWithTheKeyClosed) {
  host.registry.failWrites = true;
  try {
    Run("modest", "runapp");
    ADD_FAILURE() << "the run went on after the failed write";
  } catch (const testing::UnhandledEnd& end) {
    EXPECT_EQ(end.what, "Failed to set data for 'EstimatedSize'");
  }
  EXPECT_FALSE(host.registry.keyOpen());
  EXPECT_EQ(host.log.back(), "size D:\\Mirvane\\") << "nothing after the failed write";
  EXPECT_TRUE(host.errors.empty());

  FakeHost wrongType;
  wrongType.registry.Set(HKLM, kUninstallEntry, "UninstallString", std::int32_t{1});
  SetupState s;
  EXPECT_THROW(RunSetup(constants, {false, "modest", ""}, wrongType, s), testing::UnhandledEnd);
  EXPECT_TRUE(wrongType.log.empty());
}

TEST_F(RunSetupTest, DescriptionHasTheVersionInDecimal) {
  constants.PayloadVersion = -5;
  host.answers = {false};
  Run();
  EXPECT_EQ(state.AddonDescription, kTitle + L"-5");
}

}  // namespace
}  // namespace mv
