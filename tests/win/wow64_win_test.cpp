// What only the shipped 32-bit build shows on 64-bit Windows: the processor and the registry as
// WOW64 presents them to a 32-bit process, and the digest code as the 32-bit build compiles it.
// The same tests run in the x64 build, where both registry views are the native one.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "integrity/sha256.h"
#include "startup/startup_win.h"
#include "startup/windows_edition_win.h"
#include "support/registry_win.h"
#include "win/handles_win.h"
#include "win/registry_win.h"

namespace mv {
namespace {

constexpr bool kThirtyTwoBitBuild = sizeof(void*) == 4;

TEST(Wow64, TheNativeProcessorIsSeenThroughTheLayer) {
  // Wine here is a 64-bit Windows on x64: what start-up must find, whichever build asks.
  EXPECT_EQ(GatherSystemFacts().Architecture, kArchitectureAmd64);
  BOOL wow64 = FALSE;
  ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
  EXPECT_EQ(wow64 != FALSE, kThirtyTwoBitBuild);
  // What a 32-bit process sees of itself, and why start-up asks for the native information.
  SYSTEM_INFO own{};
  ::GetSystemInfo(&own);
  EXPECT_EQ(own.wProcessorArchitecture,
            kThirtyTwoBitBuild ? PROCESSOR_ARCHITECTURE_INTEL : PROCESSOR_ARCHITECTURE_AMD64);
}

class RegistryViews : public ::testing::Test {
 protected:
  static constexpr char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MvWow64Test";
  void TearDown() override {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kKey, view, 0);
  }
};

TEST_F(RegistryViews, TheAccessorReadsAndWritesTheViewItsFlagSelects) {
  // The two views hold different Program Files folders: what a 32-bit process reads tells which
  // view it sees.
  const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
  const auto native = testing::ReadString(HKEY_LOCAL_MACHINE, testing::Wide(kCurrentVersion), L"ProgramFilesDir");
  const auto redirected =
      testing::ReadString(HKEY_LOCAL_MACHINE, testing::Wide(kCurrentVersion), L"ProgramFilesDir", KEY_WOW64_32KEY);
  ASSERT_TRUE(native && redirected);
  ASSERT_NE(*native, *redirected) << "the prefix has no separate 32-bit view";
  // Start-up names Windows (here a 64-bit one) before it creates the accessor in its view.
  Startup startup = StartUp();
  startup.Registry.SetRoot(RegistryRoot::LocalMachine);
  ASSERT_TRUE(startup.Registry.OpenKey(kCurrentVersion, false));
  EXPECT_EQ(startup.Registry.ReadString("ProgramFilesDir"), native);

  for (const bool is64BitWindows : {true, false}) {
    SCOPED_TRACE(is64BitWindows ? "with the 64-bit flag" : "without it");
    // A 64-bit process sees the native view whatever it asks; a 32-bit one only when it asks.
    const bool seesNative = is64BitWindows || !kThirtyTwoBitBuild;
    SharedRegistry registry(SharedRegistryAccess(is64BitWindows));
    registry.SetRoot(RegistryRoot::LocalMachine);
    ASSERT_TRUE(registry.OpenKey(kCurrentVersion, false));
    EXPECT_EQ(registry.ReadString("ProgramFilesDir"), seesNative ? native : redirected);
    registry.CloseKey();

    ASSERT_TRUE(registry.OpenKey(kKey, true));
    EXPECT_TRUE(registry.WriteInteger("EstimatedSize", 1234));
    registry.CloseKey();
    const REGSAM written = seesNative ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const REGSAM other = seesNative ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    EXPECT_EQ(testing::ReadDword(HKEY_LOCAL_MACHINE, testing::Wide(kKey), L"EstimatedSize", written), 1234u);
    EXPECT_EQ(testing::ReadDword(HKEY_LOCAL_MACHINE, testing::Wide(kKey), L"EstimatedSize", other), std::nullopt);
    TearDown();
  }
}

// The integrity check's digest as this build compiles it: the SHA instructions where the
// processor (or the emulator running the 32-bit code) reports them, the portable rounds
// elsewhere. Both must give the FIPS digests and agree on random data of every length.
TEST(Wow64, BothDigestPathsOfThisBuildAgree) {
  std::printf("[          ] %s build: the digest uses %s\n", kThirtyTwoBitBuild ? "32-bit" : "64-bit",
              Sha256::HasShaInstructions() ? "the SHA instructions" : "the portable rounds");
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  const Sha256::Digest expected = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                   0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                   0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
  EXPECT_EQ(Sha256::Of(abc), expected);
  EXPECT_EQ(Sha256::Of(abc, Sha256::Engine::Portable), expected);

  std::mt19937 random(20261208);
  std::vector<std::uint8_t> data(300000);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
  for (const std::size_t length : {std::size_t{0}, std::size_t{55}, std::size_t{64}, std::size_t{1000}, data.size()}) {
    const std::span<const std::uint8_t> piece(data.data(), length);
    EXPECT_EQ(Sha256::Of(piece), Sha256::Of(piece, Sha256::Engine::Portable)) << length << " bytes";
  }
}

}  // namespace
}  // namespace mv
