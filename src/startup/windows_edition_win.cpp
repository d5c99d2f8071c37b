#include "startup/windows_edition_win.h"

#include <windows.h>

#include <cstring>
#include <optional>

#include "startup/console_command_win.h"
#include "win/handles_win.h"
#include "win/system_library_win.h"

namespace mv {

namespace {

// The text before the first NUL within `size` bytes (the msvcrt.dll of older systems has no
// strnlen).
std::size_t TextLength(const char* data, std::size_t size) {
  const void* nul = std::memchr(data, 0, size);
  return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : size;
}

// A string value below HKEY_LOCAL_MACHINE as the A call hands it over, the way the naming
// tables spell their names; nothing when the key or the value is missing, of another type or
// longer than any name of Windows.
std::optional<std::string> AnsiValue(const char* key, const char* name, REGSAM view, bool expandable) {
  UniqueKey opened;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, opened.put()) != ERROR_SUCCESS)
    return std::nullopt;
  char data[512];
  DWORD size = sizeof data;
  DWORD type = 0;
  if (::RegQueryValueExA(opened.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && !(expandable && type == REG_EXPAND_SZ)))
    return std::nullopt;
  // Stored strings need not be terminated.
  return std::string(data, TextLength(data, size));
}

class WinEditionLookups final : public EditionLookups {
 public:
  std::optional<std::string> ProductName() override {
    // The 64-bit view: a 32-bit process would otherwise read the WOW64 copy of the key. A value
    // that is not a string names nothing; it must not end the process at start-up.
    return AnsiValue("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "ProductName", KEY_WOW64_64KEY, true);
  }

  std::optional<std::string> ProductOptionsType() override {
    return AnsiValue("SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductType", 0, false);
  }

  bool HasHotfixQ246009() override {
    UniqueKey key;
    return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", 0,
                           KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
  }

  std::string VerOutput() override { return RunConsoleCommand("ver"); }

  bool MetricSet(SystemMetric metric) override { return ::GetSystemMetrics(static_cast<int>(metric)) != 0; }
  static_assert(static_cast<int>(SystemMetric::ServerR2) == SM_SERVERR2 &&
                static_cast<int>(SystemMetric::Starter) == SM_STARTER &&
                static_cast<int>(SystemMetric::MediaCenter) == SM_MEDIACENTER &&
                static_cast<int>(SystemMetric::TabletPc) == SM_TABLETPC);
};

VersionRecord RecordFrom(const OSVERSIONINFOA& info) {
  VersionRecord record;
  record.Major = info.dwMajorVersion;
  record.Minor = info.dwMinorVersion;
  record.BuildNumber = info.dwBuildNumber;
  record.PlatformId = info.dwPlatformId;
  record.CsdVersion.assign(info.szCSDVersion, TextLength(info.szCSDVersion, sizeof info.szCSDVersion));
  return record;
}

}  // namespace

SystemFacts GatherSystemFacts() {
  SystemFacts facts;
  // NT 4 before SP6 and the 9x systems know only the basic record.
  OSVERSIONINFOEXA extended{};
  extended.dwOSVersionInfoSize = sizeof extended;
  OSVERSIONINFOA basic{};
  basic.dwOSVersionInfoSize = sizeof basic;
  if (::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
    facts.Extended = true;
    facts.Version = RecordFrom(*reinterpret_cast<const OSVERSIONINFOA*>(&extended));
    facts.Version->SuiteMask = extended.wSuiteMask;
    facts.Version->ProductType = extended.wProductType;
  } else if (::GetVersionExA(&basic)) {
    facts.Version = RecordFrom(basic);
  }

  // A 32-bit process sees the x86 of WOW64 through GetSystemInfo; GetNativeSystemInfo tells
  // the real processor but is missing before XP, hence the lookup by name.
  SYSTEM_INFO system{};
  using NativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  if (const auto native = KernelProcedure<NativeSystemInfoFn>("GetNativeSystemInfo"))
    native(&system);
  else
    ::GetSystemInfo(&system);
  facts.Architecture = system.wProcessorArchitecture;
  return facts;
}

bool IdentifyWindows(std::string& name, std::string& servicePack) {
  WinEditionLookups lookups;
  return IdentifyWindows(GatherSystemFacts(), lookups, name, servicePack);
}

WindowsEdition DescribeWindows() {
  std::string name;
  std::string servicePack;
  const bool identified = IdentifyWindows(name, servicePack);
  WindowsEdition edition;
  edition.Description = WindowsDescription(identified, name, servicePack);
  edition.Is64Bit = identified && DescribesSixtyFourBitWindows(edition.Description);
  return edition;
}

}  // namespace mv
