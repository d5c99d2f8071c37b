// A payload of hundreds of megabytes in the shipped 32-bit installer. The loaded image already
// holds the payload once in the 2 GiB of address space of a 32-bit process; checking the
// installer's own file must not need room for it a second time. tests/e2e/run builds this
// installer for the English x86 run only: the x64 twin has address space to spare.
#include "e2e/fixture.h"

#include <chrono>

namespace e2e {
namespace {

using namespace std::chrono_literals;

// Whether the two files hold the same bytes, read a piece at a time: neither needs to fit in
// memory whole.
bool SameContent(const std::wstring& a, const std::wstring& b) {
  const auto open = [](const std::wstring& path) {
    return mv::UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  };
  const mv::UniqueFile first = open(a), second = open(b);
  if (!first || !second) return false;
  std::vector<char> one(16 << 20), other(16 << 20);
  for (;;) {
    DWORD gotOne = 0, gotOther = 0;
    if (!ReadFile(first.get(), one.data(), static_cast<DWORD>(one.size()), &gotOne, nullptr) ||
        !ReadFile(second.get(), other.data(), static_cast<DWORD>(other.size()), &gotOther, nullptr) ||
        gotOne != gotOther || !std::equal(one.begin(), one.begin() + gotOne, other.begin()))
      return false;
    if (gotOne == 0) return true;
  }
}

class BigPayload : public InstallerTest {};

TEST_F(BigPayload, InstallsFromTheShipped32BitBuild) {
  wchar_t variable[8];
  if (GetEnvironmentVariableW(L"MV_E2E_INSTALLER_BIG", variable, 8) == 0)
    GTEST_SKIP() << "built for the English x86 run only";
  const std::wstring installer = ConfiguredPath(L"MV_E2E_INSTALLER_BIG");
  const std::wstring payload = ConfiguredPath(L"MV_E2E_PAYLOAD_BIG");
  // Under emulation the check of the installer's file and the writing take a while.
  const RunResult r = RunWithRobot(installer, L"modest", root_, {}, 5min);
  ASSERT_TRUE(r.started);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.boxes, std::vector<Box>{}) << "no message in a modest run that installs";
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_TRUE(SameContent(product_ + L"mvm3.pak", payload)) << "the data file differs from the payload";
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"),
            std::optional<DWORD>(static_cast<DWORD>(FolderBytes(product_) / 1024)));
}

}  // namespace
}  // namespace e2e
