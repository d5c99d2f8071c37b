// The "mvq" build carries its payload in two resources and writes them joined.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using SplitPayload = InstallerTest;

TEST_F(SplitPayload, MvqBuildWritesTheWholePayload) {
  RunResult r = Run(ConfiguredPath(L"MV_E2E_INSTALLER_MVQ"), L"",
                    {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDNO)});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, ConfiguredPath(L"MV_E2E_PAYLOAD_MVQ"), L"mvq.pak");
  EXPECT_FALSE(IsFile(product_ + L"mvm3.pak"));
}

}  // namespace
}  // namespace e2e
