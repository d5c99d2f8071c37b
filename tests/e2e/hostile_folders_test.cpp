// Product folders that a naive walk never finishes or miscounts: a directory link back up the
// tree (and one out of it), a folder that cannot be listed, 100,000 files. tests/e2e/run makes
// them from the Linux side under C:\e2e-scratch\<case>\Mirvane\, with the byte count that the
// installed size must include in C:\e2e-scratch\<case>\bytes.
#include "e2e/fixture.h"

#include <iostream>
#include <string>

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using HostileFolders = InstallerTest;

std::uint64_t FileSize(const std::wstring& path) {
  auto bytes = ReadBytes(path);
  EXPECT_TRUE(bytes.has_value()) << Utf8(path);
  return bytes ? bytes->size() : 0;
}

TEST_F(HostileFolders, TheInstalledSizeIsComputedAndTheWalkEnds) {
  const struct {
    const wchar_t* name;
    std::chrono::seconds limit;
  } kCases[] = {
      {L"cycle", 30s},
      {L"unlistable", 30s},
      {L"many", 120s},  // one or two seconds of walking here; the bound only catches a walk that never ends
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf8(c.name));
    const std::wstring folder = ScratchFolder() + c.name + L"\\";
    const std::wstring product = folder + L"Mirvane\\";
    if (!IsDirectory(product) && RussianLocale()) continue;  // made for the English run only
    ASSERT_TRUE(IsDirectory(product)) << Utf8(product) << " was not made by tests/e2e/run";
    if (std::wstring(c.name) == L"cycle") {
      const DWORD attributes = GetFileAttributesW((product + L"data\\levels\\up").c_str());
      ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
      ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "Wine no longer marks the link: " << attributes;
    }
    auto counted = ReadBytes(folder + L"bytes");
    ASSERT_TRUE(counted.has_value());
    ASSERT_TRUE(CopyFileW(ConfiguredPath(L"MV_E2E_STANDIN").c_str(), (product + L"Mirvane.exe").c_str(), FALSE));
    const std::uint64_t bytes = std::stoull(std::string(counted->begin(), counted->end())) +
                                FileSize(product + L"Mirvane.exe") + FileSize(Payload());
    RegisterUninstallString(product + L"unins000.exe");
    DeleteValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");

    const auto started = Clock::now();
    RunResult r = RunWithRobot(Installer(), L"modest", root_, {}, c.limit);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    std::cout << "[          ] " << Utf8(c.name) << ": the run took " << took.count() << " ms\n";
    EXPECT_FALSE(r.timedOut) << "the walk did not end";
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty()) << ::testing::PrintToString(r.boxes);
    EXPECT_EQ(ReadBytes(product + L"mvm3.pak"), ReadBytes(Payload()));
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"), std::optional<DWORD>(bytes >> 10))
        << bytes << " bytes";
  }

  // The harness clears a tree with links in it without following them: the file that the link
  // out of the tree leads to is still there.
  const std::wstring cycle = ScratchFolder() + L"cycle\\";
  RemoveTree(cycle + L"Mirvane");
  EXPECT_FALSE(IsDirectory(cycle + L"Mirvane"));
  EXPECT_TRUE(IsFile(cycle + L"elsewhere\\outside.dat"));
}

}  // namespace
}  // namespace e2e
