// The installer's check of its own file, on copies that tests/e2e/run derived from a build.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using Integrity = InstallerTest;

TEST_F(Integrity, FlippedByteInThePayloadIsDistortion) {
  RunResult r = Run(ConfiguredPath(L"MV_E2E_INSTALLER_DAMAGED"), L"", {Press(expect::Distorted(), IDOK)});
  EXPECT_EQ(r.exitCode, kExitDistorted);
  ExpectNothingWritten(product_);
}

TEST_F(Integrity, CutFileIsDistortion) {
  RunResult r = Run(ConfiguredPath(L"MV_E2E_INSTALLER_TRUNCATED"), L"modest", {Press(expect::Distorted(), IDOK)});
  EXPECT_EQ(r.exitCode, kExitDistorted);
  ExpectNothingWritten(product_);
}

// A byte the loader ignores, so the program starts and has to notice by itself: in the PE
// header, and in the stamp's own digest.
TEST_F(Integrity, FlippedByteInTheHeaderOrTheStampIsDistortion) {
  for (const wchar_t* copy : {L"MV_E2E_INSTALLER_HEADER_FLIP", L"MV_E2E_INSTALLER_STAMP_FLIP"}) {
    SCOPED_TRACE(Utf8(copy));
    RunResult r = Run(ConfiguredPath(copy), L"modest", {Press(expect::Distorted(), IDOK)});
    EXPECT_EQ(r.exitCode, kExitDistorted);
    ExpectNothingWritten(product_);
  }
}

TEST_F(Integrity, SignedCopyRunsNormally) {
  RunResult r = Run(ConfiguredPath(L"MV_E2E_INSTALLER_SIGNED"), L"",
                    {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDNO)});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
}

}  // namespace
}  // namespace e2e
