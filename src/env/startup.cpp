#include "env/startup.h"

#include <memory>

#include "env/windows_probe.h"

namespace mv {

bool Is64BitWindows = false;

namespace {

StartupSettings g_settings;
Lcg g_random;
std::unique_ptr<SharedRegistry> g_registry;

std::uint32_t InitialSeed() {
  LARGE_INTEGER counter;
  if (::QueryPerformanceCounter(&counter)) return static_cast<std::uint32_t>(counter.QuadPart);
  return ::GetTickCount();
}

}  // namespace

REGSAM SharedRegistryAccess(bool is64BitWindows) {
  return is64BitWindows ? KEY_ALL_ACCESS | KEY_WOW64_64KEY : KEY_ALL_ACCESS;
}

StartupSettings MakeStartupSettings(std::uint32_t userLcid, std::string_view commandLine) {
  StartupSettings settings;
  settings.RussianMessages = IsRussianLocale(userLcid);
  const std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.size() > 1) settings.CommandSwitch = AsciiLower(args[1]);
  if (args.size() > 2) settings.SecondArgument = AsciiLower(args[2]);
  return settings;
}

void SeedRandomGenerator() { g_random = Lcg(InitialSeed()); }

void StartUp() {
  // The naming of Windows draws the name of its capture file from the generator, and the
  // registry view depends on what it finds: seed first, accessor last.
  SeedRandomGenerator();
  g_settings = MakeStartupSettings(::GetUserDefaultLCID(), ::GetCommandLineA());
  DescribeWindows();
  g_registry = std::make_unique<SharedRegistry>(SharedRegistryAccess(Is64BitWindows));
}

void CleanUp() { g_registry.reset(); }

const StartupSettings& Settings() { return g_settings; }
SharedRegistry& TheSharedRegistry() { return *g_registry; }
Lcg& TheRandomGenerator() { return g_random; }

}  // namespace mv
