// Ordinary runs: the two questions, and what each answer leads to.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using InteractiveRun = InstallerTest;

TEST_F(InteractiveRun, YesToBothQuestionsInstallsAndStartsTheProduct) {
  RunResult r = RunInstaller(L"", {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDYES)});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  ExpectProductStartedAndShown();
}

TEST_F(InteractiveRun, NoToTheClosingQuestionInstallsWithoutStarting) {
  RunResult r = RunInstaller(L"", {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDNO)});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  ExpectProductNotStarted();
}

TEST_F(InteractiveRun, NoToTheFirstQuestionWritesNothing) {
  RunResult r = RunInstaller(L"", {Press(expect::Question(), IDNO)});
  EXPECT_EQ(r.exitCode, kExitDeclined);
  ExpectNothingWritten(product_);
  ExpectProductNotStarted();
}

TEST_F(InteractiveRun, ModestCountsOnlyAsTheFirstArgument) {
  RunResult r =
      RunInstaller(L"runapp modest", {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDNO)});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  ExpectProductNotStarted();
}

}  // namespace
}  // namespace e2e
