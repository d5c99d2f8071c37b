// Runs with "modest" first: no boxes at all, and the product started only on request.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using ModestRun = InstallerTest;

TEST_F(ModestRun, ShowsNothingInstallsAndDoesNotStartTheProduct) {
  RunResult r = RunInstaller(L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  ExpectProductNotStarted();
}

TEST_F(ModestRun, RunAppInAnyLetterCaseStartsAndShowsTheProduct) {
  RunResult r = RunInstaller(L"MODEST RunApp", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  ExpectProductStartedAndShown();
}

}  // namespace
}  // namespace e2e
