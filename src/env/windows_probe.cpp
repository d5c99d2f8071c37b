#include "env/windows_probe.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <vector>

#include "env/registry_access.h"
#include "env/shared_registry.h"
#include "env/startup.h"
#include "env/system_library.h"
#include "env/win_handle.h"

namespace mv {

namespace {

// This runs during start-up, before anything is on screen: an interpreter that hangs must not
// hang the installer with it.
constexpr DWORD kConsoleCommandTimeoutMs = 10000;
// After TerminateProcess the process needs a moment before its handles (the capture file's
// among them) are closed.
constexpr DWORD kTerminationWaitMs = 1000;
constexpr int kDeleteAttempts = 10;
constexpr DWORD kDeleteRetryMs = 100;
// "ver" prints one line; a runaway command that keeps writing must not be read without end.
constexpr DWORD kMaxCaptureBytes = 1 << 20;

std::string EnvironmentVariable(const char* name) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length);  // too small: length is the size needed, terminator included
  }
}

std::string ReadCaptureFile(const std::string& path) {
  std::string content;
  // Shared for writing and deleting: a child of an interpreter that was ended may still hold it.
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return content;
  char chunk[4096];
  DWORD read = 0;
  while (content.size() < kMaxCaptureBytes && ::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
    content.append(chunk, read);
  return content;
}

void DeleteCaptureFile(const std::string& path, bool processWasEnded) {
  for (int attempt = 1; !::DeleteFileA(path.c_str()); ++attempt) {
    // Only an interpreter that had to be ended can leave a child that still holds the file
    // for a moment; otherwise a failed deletion is left as it is.
    if (!processWasEnded || attempt >= kDeleteAttempts || ::GetLastError() == ERROR_FILE_NOT_FOUND) return;
    ::Sleep(kDeleteRetryMs);
  }
}

// Runs the command line hidden and waits for it; true when it had to be ended.
bool RunHidden(std::string commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info))
    return false;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (::WaitForSingleObject(process.get(), kConsoleCommandTimeoutMs) == WAIT_OBJECT_0) return false;
  ::TerminateProcess(process.get(), 1);
  ::WaitForSingleObject(process.get(), kTerminationWaitMs);
  return true;
}

class WinEditionLookups final : public EditionLookups {
 public:
  std::optional<std::string> ProductName() override {
    // The 64-bit view: a 32-bit process would otherwise read the WOW64 copy of the key.
    SharedRegistry registry(KEY_ALL_ACCESS | KEY_WOW64_64KEY);
    registry.SetRoot(RegistryRoot::LocalMachine);
    if (!registry.OpenKey("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", false)) return std::nullopt;
    if (!registry.ValueExists("ProductName")) return std::nullopt;
    // A value that is not a string names nothing; it must not end the process at start-up.
    return registry.ReadString("ProductName");
  }

  std::optional<std::string> ProductOptionsType() override {
    UniqueKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0, KEY_QUERY_VALUE,
                        key.put()) != ERROR_SUCCESS)
      return std::nullopt;
    char data[256];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (::RegQueryValueExA(key.get(), "ProductType", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
      return std::nullopt;
    // Stored strings need not be terminated.
    return std::string(data, ::strnlen(data, size));
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
  record.CsdVersion.assign(info.szCSDVersion, ::strnlen(info.szCSDVersion, sizeof info.szCSDVersion));
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

std::string DescribeWindows() {
  std::string name;
  std::string servicePack;
  const bool identified = IdentifyWindows(name, servicePack);
  std::string description = WindowsDescription(identified, name, servicePack);
  if (identified) Is64BitWindows = DescribesSixtyFourBitWindows(description);
  return description;
}

std::string RunConsoleCommand(std::string_view command) {
  char comSpec[260] = {};
  // A value that does not fit leaves the buffer as it was: empty.
  const DWORD length = ::GetEnvironmentVariableA("ComSpec", comSpec, sizeof comSpec);
  if (length == 0 || length >= sizeof comSpec) return "";

  const std::string capture = CaptureFileName(EnvironmentVariable("Temp"), TheRandomGenerator());
  const bool ended = RunHidden(ConsoleCommandLine(comSpec, command, capture));
  const std::string output = JoinCapturedLines(ReadCaptureFile(capture));
  DeleteCaptureFile(capture, ended);
  return OemToAnsiText(output);
}

std::string OemToAnsiText(std::string_view text) {
  // Seven-bit text reads the same in every OEM and ANSI code page, and "ver" prints nothing
  // else on most systems: without this shortcut every start on Windows 8.1 and later would
  // load user32 for the conversion.
  bool sevenBit = true;
  for (const char c : text) sevenBit = sevenBit && static_cast<unsigned char>(c) < 0x80;
  if (sevenBit) return std::string(text);
  // OemToCharBuff, not OemToChar: a NUL inside the text must not leave the rest unconverted.
  std::string converted(text.size(), '\0');
  ::OemToCharBuffA(text.data(), converted.data(), static_cast<DWORD>(text.size()));
  return converted;
}

}  // namespace mv
