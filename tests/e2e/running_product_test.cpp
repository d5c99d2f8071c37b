// A product that is already running when the installer starts: it is asked to quit only once
// the run is certain to write, and the write waits for its process to end.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

class RunningProduct : public InstallerTest {
 protected:
  // Starts the stand-in with its main window and waits until it is up.
  mv::UniqueHandle StartProduct() {
    mv::UniqueHandle standin = StartProcess(product_ + L"Mirvane.exe", L"", product_);
    EXPECT_TRUE(WaitForLogSequence(log_, {"start", "mapping", "window"}, 5s));
    return standin;
  }
  // Its lifetime is far longer than the run: had it been asked to quit, it would have ended.
  void ExpectStillRunning(HANDLE standin) {
    EXPECT_EQ(WaitForSingleObject(standin, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the product ended";
    EXPECT_EQ(CountLogLines(log_, "quit"), 0) << ::testing::PrintToString(ReadLogLines(log_));
  }
};

TEST_F(RunningProduct, IsLeftRunningWhenTheAnswerIsNo) {
  mv::UniqueHandle standin = StartProduct();
  RunResult r = RunInstaller(L"", {Press(expect::Question(), IDNO)});
  EXPECT_EQ(r.exitCode, kExitDeclined);
  ExpectStillRunning(standin.get());
  ExpectNothingWritten(product_);
}

TEST_F(RunningProduct, IsLeftRunningByADistortedInstaller) {
  if (RussianLocale()) GTEST_SKIP() << "the box is checked in both locales by the integrity tests";
  mv::UniqueHandle standin = StartProduct();
  RunResult r = Run(ConfiguredPath(L"MV_E2E_INSTALLER_DAMAGED"), L"modest", {Press(expect::Distorted(), IDOK)});
  EXPECT_EQ(r.exitCode, kExitDistorted);
  ExpectStillRunning(standin.get());
}

// A product that takes two seconds to end after the quit request, holding the installed data
// file open all the while though its mapping goes at once: the write waits for its process, and
// succeeds.
TEST_F(RunningProduct, IsAskedToQuitAfterYesAndTheWriteWaitsForItToEnd) {
  const std::wstring target = product_ + L"mvm3.pak";
  WriteBytes(target, PakWithVersion(Payload(), 91));
  ConfigureStandin("quit_delay_ms=2000\r\nrelease_mapping_at_quit=1\r\nhold_file=" + Utf8(target) + "\r\n");
  mv::UniqueHandle standin = StartProduct();

  bool runningAtTheQuestion = false;
  RunResult r = RunInstaller(L"", {Press(expect::Question(), IDYES,
                                         [&] {
                                           runningAtTheQuestion =
                                               WaitForSingleObject(standin.get(), 0) == WAIT_TIMEOUT &&
                                               CountLogLines(log_, "quit") == 0;
                                         }),
                                   Press(expect::ClosingQuestion(), IDNO)});
  EXPECT_TRUE(runningAtTheQuestion) << "the product was closed before the user agreed";
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_TRUE(WaitForLogSequence(log_, {"start", "holding", "mapping", "window", "quit", "exit"}, 0ms))
      << ::testing::PrintToString(ReadLogLines(log_));
  ExpectInstalled(product_, Payload());
  EXPECT_EQ(CountLogLines(log_, "start"), 1) << "the product was started again";
}

// The question before an older payload replaces a newer copy comes after the first one: a No
// there keeps the product running, with its work.
TEST_F(RunningProduct, IsLeftRunningWhenTheOlderVersionIsDeclined) {
  const std::wstring target = product_ + L"mvm3.pak";
  const std::string newer = PakWithVersion(Payload(), 93);
  WriteBytes(target, newer);
  mv::UniqueHandle standin = StartProduct();
  RunResult r = RunInstaller(
      L"", {Press(expect::Question(), IDYES), Press(expect::OlderPayloadQuestion(target, L"93", L"92"), IDNO),
            Press(expect::ClosingQuestion(), IDNO)});
  EXPECT_EQ(r.exitCode, kExitNewerKept);
  ExpectStillRunning(standin.get());
  const auto kept = ReadBytes(target);
  EXPECT_TRUE(kept && std::string(kept->begin(), kept->end()) == newer) << "the newer copy changed";
}

// The same in a run that asks nothing: the request comes after the checks, and "runapp" brings
// the product back.
TEST_F(RunningProduct, ModestRunappClosesItWaitsAndStartsItAgain) {
  if (RussianLocale()) GTEST_SKIP() << "no text: covered by the English run";
  const std::wstring target = product_ + L"mvm3.pak";
  WriteBytes(target, PakWithVersion(Payload(), 91));
  ConfigureStandin("quit_delay_ms=2000\r\nhold_file=" + Utf8(target) + "\r\n");
  mv::UniqueHandle standin = StartProduct();
  RunResult r = RunInstaller(L"modest runapp", {});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_TRUE(WaitForLogSequence(log_, {"quit", "exit", "start", "mapping", "window", "shown"}, 5s))
      << ::testing::PrintToString(ReadLogLines(log_));
  // The product started again holds the data file in its turn.
  KillProcesses(L"Mirvane.exe");
  ExpectInstalled(product_, Payload());
}

// A product that has no window yet cannot be asked to quit, and keeps its data file locked: the
// data file cannot be replaced, and after that failure nothing is announced as installed.
TEST_F(RunningProduct, LockedDataFileIsReportedAndLeftAlone) {
  const std::wstring target = product_ + L"mvm3.pak";
  ConfigureStandin("window_delay_ms=60000\r\nhold_file=" + Utf8(target) + "\r\n");
  mv::UniqueHandle standin = StartProcess(product_ + L"Mirvane.exe", L"", product_);
  ASSERT_TRUE(WaitForLogSequence(log_, {"start", "holding", "mapping"}, 5s));

  RunResult r = RunInstaller(L"", {Press(expect::Question(), IDYES), Press(expect::CannotInstall(target), IDOK)});
  EXPECT_EQ(r.exitCode, kExitFailureShown);
  EXPECT_EQ(WaitForSingleObject(standin.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the product ended";
  KillProcesses(L"Mirvane.exe");
  auto held = ReadBytes(target);
  ASSERT_TRUE(held.has_value());
  EXPECT_TRUE(held->empty()) << "the locked file was written";
  // The new data waits, complete, under the temporary name, and the size was still recorded.
  EXPECT_EQ(ReadBytes(product_ + L"~mvm3.pak"), ReadBytes(Payload()));
  ExpectSizeInTheFoundEntry(product_);
}

}  // namespace
}  // namespace e2e
