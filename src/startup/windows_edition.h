#pragma once
// Naming the running Windows edition from what the system reports, without any Windows call:
// the version record and the processor architecture, and lookups (registry values, the "ver"
// command, a few system metrics) that are asked only when a rule needs them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mv {

inline constexpr std::uint32_t kPlatformWin9x = 1;  // VER_PLATFORM_WIN32_WINDOWS
inline constexpr std::uint32_t kPlatformNt = 2;     // VER_PLATFORM_WIN32_NT

inline constexpr std::uint8_t kNtWorkstation = 1;       // VER_NT_WORKSTATION
inline constexpr std::uint8_t kNtDomainController = 2;  // VER_NT_DOMAIN_CONTROLLER
inline constexpr std::uint8_t kNtServer = 3;            // VER_NT_SERVER

inline constexpr std::uint16_t kSuiteEnterprise = 0x0002;
inline constexpr std::uint16_t kSuiteEmbeddedNt = 0x0040;
inline constexpr std::uint16_t kSuiteDatacenter = 0x0080;
inline constexpr std::uint16_t kSuitePersonal = 0x0200;
inline constexpr std::uint16_t kSuiteBlade = 0x0400;
inline constexpr std::uint16_t kSuiteStorageServer = 0x2000;
inline constexpr std::uint16_t kSuiteComputeServer = 0x4000;

inline constexpr std::uint16_t kArchitectureX86 = 0;    // PROCESSOR_ARCHITECTURE_INTEL
inline constexpr std::uint16_t kArchitectureIa64 = 6;   // PROCESSOR_ARCHITECTURE_IA64
inline constexpr std::uint16_t kArchitectureAmd64 = 9;  // PROCESSOR_ARCHITECTURE_AMD64

// The fields of GetVersionEx's record that the naming uses. With the basic record the suite
// mask and the product type read as 0.
struct VersionRecord {
  std::uint32_t Major = 0;
  std::uint32_t Minor = 0;
  std::uint32_t BuildNumber = 0;
  std::uint32_t PlatformId = 0;
  std::string CsdVersion;
  std::uint16_t SuiteMask = 0;
  std::uint8_t ProductType = 0;
};

// What is read up front, in one go.
struct SystemFacts {
  std::optional<VersionRecord> Version;  // none when both GetVersionEx calls failed
  bool Extended = false;                 // the extended record was obtained
  std::uint16_t Architecture = kArchitectureX86;
};

// The system metrics that the rows of Windows 5.x test (GetSystemMetrics indexes).
enum class SystemMetric { TabletPc = 86, MediaCenter = 87, Starter = 88, ServerR2 = 89 };

// What is looked up only when a rule needs it.
class EditionLookups {
 public:
  virtual ~EditionLookups() = default;
  // "ProductName" of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion in the 64-bit view;
  // none when the key does not open or the value is missing.
  virtual std::optional<std::string> ProductName() = 0;
  // "ProductType" of HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions when it is REG_SZ;
  // none when the key does not open, the read fails or the type is another.
  virtual std::optional<std::string> ProductOptionsType() = 0;
  // Whether HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Hotfix\Q246009 opens.
  virtual bool HasHotfixQ246009() = 0;
  // The console output of the command interpreter's "ver".
  virtual std::string VerOutput() = 0;
  // Whether the metric is non-zero. Asked only by the rows of Windows 5.x: the metrics live in
  // user32, which a run that shows nothing must not load.
  virtual bool MetricSet(SystemMetric metric) = 0;
};

// What start-up takes from the naming: the description, and whether it names 64-bit Windows.
struct WindowsEdition {
  std::string Description;
  bool Is64Bit = false;  // also false when the edition cannot be identified
};

// Fills the edition name and the service pack text (both emptied first). False when the
// version record is missing or the platform is neither 9x nor NT; the name may then hold a
// partial text. VerOutput is asked at most once.
bool IdentifyWindows(const SystemFacts& facts, EditionLookups& lookups, std::string& name, std::string& servicePack);

// "unknown" when the identification failed; else the name, and the service pack text after a
// blank unless that text is only blanks and control characters.
std::string WindowsDescription(bool identified, std::string_view name, std::string_view servicePack);

// The one test that tells 64-bit Windows: a blank followed by "64" anywhere in the description.
bool DescribesSixtyFourBitWindows(std::string_view description);

// The number piece of the "ver" output, as the rule for versions outside the tables takes it:
// from 4 characters after the first "ion" up to the first "." of the whole output.
std::string VerNumberPiece(std::string_view verOutput);

}  // namespace mv
