// A product that is already running when the installer starts.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using RunningProduct = InstallerTest;

TEST_F(RunningProduct, IsAskedToQuitBeforeTheFirstQuestion) {
  mv::UniqueHandle standin = StartProcess(product_ + L"Mirvane.exe", L"", product_);
  ASSERT_TRUE(WaitForLogSequence(log_, {"start", "mapping", "window"}, 5s));

  // Its lifetime is far longer than this wait: it only ends now if it was told to quit.
  bool endedWhileAsking = false;
  RunResult r = RunInstaller(L"", {Press(expect::Question(), IDNO, [&] {
                               endedWhileAsking = WaitForSingleObject(standin.get(), 5000) == WAIT_OBJECT_0;
                             })});
  EXPECT_TRUE(endedWhileAsking);
  EXPECT_TRUE(WaitForLogSequence(log_, {"start", "mapping", "window", "quit", "exit"}, 0ms))
      << ::testing::PrintToString(ReadLogLines(log_));
  EXPECT_EQ(r.exitCode, 0u);
  ExpectNothingWritten(product_);
  EXPECT_EQ(CountLogLines(log_, "start"), 1) << "the product was started again";
  EXPECT_EQ(CountProcesses(L"Mirvane.exe"), 0);
}

// A product that has no window yet is not asked to quit, and keeps its data file locked: the
// data file cannot be replaced.
TEST_F(RunningProduct, LockedDataFileIsReportedAndLeftAlone) {
  const std::wstring target = product_ + L"mvm3.pak";
  ConfigureStandin("window_delay_ms=60000\r\nhold_file=" + Utf8(target) + "\r\n");
  mv::UniqueHandle standin = StartProcess(product_ + L"Mirvane.exe", L"", product_);
  ASSERT_TRUE(WaitForLogSequence(log_, {"start", "holding", "mapping"}, 5s));

  // After the failed write the run goes on as usual.
  RunResult r = RunInstaller(L"", {Press(expect::Question(), IDYES), Press(expect::CannotInstall(target), IDOK),
                                   Press(expect::ClosingQuestion(), IDNO)});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(WaitForSingleObject(standin.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the product ended";
  KillProcesses(L"Mirvane.exe");
  auto held = ReadBytes(target);
  ASSERT_TRUE(held.has_value());
  EXPECT_TRUE(held->empty()) << "the locked file was written";
  // The new data waits, complete, under the temporary name.
  EXPECT_EQ(ReadBytes(product_ + L"~mvm3.pak"), ReadBytes(Payload()));
}

}  // namespace
}  // namespace e2e
