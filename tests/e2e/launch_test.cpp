// Starting the product after the install: through the desktop shell, and never by the installer
// itself; the wait for its mapping (seven believed probes of 512 ms) and for its
// main window (ten believed look-ups of 1024 ms), against a stand-in that comes up slowly, too
// slowly, or is running already. The stand-in's window starts hidden, so
// "shown" in its log is the installer's doing.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
class ProductLaunch : public InstallerTest {
 protected:
  // Wine told not to load a DLL for the installer alone (its per-program settings), while the
  // object lives.
  class NotLoadedByTheInstaller {
   public:
    explicit NotLoadedByTheInstaller(const wchar_t* dll)
        : key_(L"Software\\Wine\\AppDefaults\\" + Installer().substr(Installer().find_last_of(L'\\') + 1)) {
      WriteString(HKEY_CURRENT_USER, key_ + L"\\DllOverrides", dll, L"");
    }
    ~NotLoadedByTheInstaller() { DeleteKeyTree(HKEY_CURRENT_USER, key_); }

   private:
    const std::wstring key_;
  };

  std::wstring LogFile() const { return root_ + L"setup.log"; }
  std::string LogText() const {
    const auto bytes = ReadBytes(LogFile());
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
  }
};

// The waits take seconds and show no text: the English run covers them.
constexpr const char* kEnglishRunOnly = "locale-independent and slow: covered by the English run";

TEST_F(ProductLaunch, MappingAfterOneSecondAndWindowAfterTwoIsBroughtToTheFront) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  // Both delays count from the stand-in's start: the window comes a second after the mapping.
  ConfigureStandin("mapping_delay_ms=1000\r\nwindow_delay_ms=1000\r\n");
  RunResult r = RunInstaller(L"modest runapp", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectProductStartedAndShown();
}

// A product started while the closing question is open is already running when the launch
// begins; the copy the installer starts never makes a mapping, so what is found is the running
// product's. That the first successful probe and look-up end the waits is pinned without a
// clock by the unit test of WaitFor; here only that a sleep of each wait came first.
TEST_F(ProductLaunch, AnAlreadyRunningProductIsFoundByTheFirstProbe) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  const std::wstring copyLog = root_ + L"copy.log";

  mv::UniqueHandle running;
  Clock::time_point answered;
  RunResult r = RunInstaller(L"", {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDYES, [&] {
                                     running = StartProcess(product_ + L"Mirvane.exe", L"", product_);
                                     EXPECT_TRUE(WaitForLogSequence(log_, {"start", "mapping", "window"}, 10s));
                                     // Read by the copy the installer starts, whoever starts it.
                                     ConfigureStandin(copyLog, "mapping_delay_ms=60000\r\n");
                                     answered = Clock::now();
                                   })});
  const auto took = Clock::now() - answered;
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());

  EXPECT_TRUE(WaitForLogSequence(log_, {"start", "mapping", "window", "shown", "activated"}, 3s))
      << ::testing::PrintToString(ReadLogLines(log_));
  EXPECT_EQ(CountLogLines(log_, "start"), 1);
  EXPECT_TRUE(WaitForLogSequence(copyLog, {"start"}, 5s)) << "the installer did not start the product";
  EXPECT_EQ(LogValue(copyLog, "parent"), std::optional<std::string>("explorer.exe"));
  EXPECT_EQ(CountLogLines(copyLog, "mapping"), 0);
  EXPECT_GE(took, 512ms + 1024ms);
}

// Where no shell takes the product, it is not started at all: started by the installer it would
// run with administrator rights on the user's desktop. The user is told, the run succeeds. Wine
// is told here not to load, for the installer alone, the DLL that carries the shell's interfaces
// between processes (actxprxy): the first step of the way to the shell then fails (access
// denied), as a step fails where no shell runs.
TEST_F(ProductLaunch, WhereNoShellTakesItNothingIsStartedAndTheUserIsTold) {
  const NotLoadedByTheInstaller noProxies(L"actxprxy");
  RunResult r = RunInstaller(L"modest runapp /log \"" + LogFile() + L"\"", {Press(expect::ProductNotStarted(), IDOK)});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  ExpectProductNotStarted();
  EXPECT_NE(LogText().find("No desktop shell to start Mirvane with the user's rights"), std::string::npos);
}

// A structured exception that nothing handles (here the system's COM DLL, which Wine is told not
// to load for the installer, cannot be delay-loaded when the product is to be started) ends the
// run as every failure that no step handles ends it: its report and exit code 1, never the
// system's crash report.
TEST_F(ProductLaunch, AStructuredExceptionEndsTheRunWithExitCode1) {
  if (RussianLocale()) GTEST_SKIP() << "the report is English in every locale";
  const NotLoadedByTheInstaller noCom(L"ole32");
  RunResult r = RunInstaller(L"modest runapp /log \"" + LogFile() + L"\"", {PressOkOnAnyBox()});
  EXPECT_EQ(r.exitCode, 1u);
  ASSERT_EQ(r.boxes.size(), 1u);
  EXPECT_EQ(r.boxes[0].caption, "Mirvane update");
  EXPECT_EQ(r.boxes[0].text.rfind("Exception 0xC06D007E at address ", 0), 0u) << r.boxes[0].text;
  ExpectInstalled(product_, Payload());
  EXPECT_NE(LogText().find("Error that no step handles: Exception 0xC06D007E"), std::string::npos) << LogText();
  EXPECT_NE(LogText().find("Exit code 1: a failure that no step handles"), std::string::npos);
}

// A product that does not start, never makes its mapping or never shows its window is left
// alone: the installer gives up and ends normally with everything before the launch recorded.
TEST_F(ProductLaunch, AProductThatDoesNotComeUpIsLeftAloneAndTheRunEndsNormally) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  const std::wstring exe = product_ + L"Mirvane.exe";
  const struct {
    const char* what;
    std::string standin;           // settings of a stand-in that starts
    const char* exeContent;        // replaces the executable before the run
    bool removeWhileAsked;         // the executable disappears while the closing question is open
    std::vector<std::string> log;  // what the stand-in logs
  } cases[] = {
      {"not a program", "", "MZ this is no program\r\n", false, {}},
      {"removed before the launch", "", nullptr, true, {}},
      // The mapping, or the window after it, would come in 60 s: the waits give up long before.
      {"no mapping", "mapping_delay_ms=60000\r\n", nullptr, false, {"start"}},
      {"no window", "window_delay_ms=60000\r\n", nullptr, false, {"start", "mapping"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KillProcesses(L"Mirvane.exe");
    DeleteFileW(log_.c_str());
    DeleteFileW((product_ + L"mvm3.pak").c_str());
    DeleteValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
    CopyFileW(ConfiguredPath(L"MV_E2E_STANDIN").c_str(), exe.c_str(), FALSE);
    ConfigureStandin(c.standin);
    if (c.exeContent) WriteBytes(exe, c.exeContent);

    std::uint64_t bytesWhenAsked = 0;
    RunResult r =
        c.removeWhileAsked
            ? RunInstaller(L"", {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDYES,
                                                                         [&] {
                                                                           bytesWhenAsked = FolderBytes(product_);
                                                                           EXPECT_TRUE(DeleteFileW(exe.c_str()));
                                                                         })})
            : RunInstaller(L"modest runapp", {});
    // A launch that never gives up is caught by the robot's time limit in Run.
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(ReadBytes(product_ + L"mvm3.pak"), ReadBytes(Payload()));
    const std::uint64_t bytes = c.removeWhileAsked ? bytesWhenAsked : FolderBytes(product_);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"), std::optional<DWORD>(bytes / 1024));
    if (c.log.empty()) {
      ExpectProductNotStarted();
    } else {
      EXPECT_TRUE(WaitForLogSequence(log_, c.log, 3s)) << ::testing::PrintToString(ReadLogLines(log_));
      EXPECT_EQ(CountLogLines(log_, "window"), 0);
      EXPECT_EQ(CountLogLines(log_, "shown"), 0);
    }
  }
}

}  // namespace
}  // namespace e2e
