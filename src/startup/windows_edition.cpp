#include "startup/windows_edition.h"

#include "base/strings.h"

namespace mv {

namespace {

// "ver" starts a console process; it runs only for the rows that need it, and once at most.
class VerOnce {
 public:
  explicit VerOnce(EditionLookups& lookups) : lookups_(lookups) {}
  const std::string& Output() {
    if (!output_) output_ = lookups_.VerOutput();
    return *output_;
  }

 private:
  EditionLookups& lookups_;
  std::optional<std::string> output_;
};

bool Has(std::uint16_t suite, std::uint16_t bit) { return (suite & bit) != 0; }

// The second character marks the 9x sub-releases ("A", "B", "C"); an empty CSD text has a NUL
// there.
char SecondCsdCharacter(const VersionRecord& v) { return v.CsdVersion.size() >= 2 ? v.CsdVersion[1] : '\0'; }

const char* Win9xName(const VersionRecord& v) {
  const std::uint32_t build = v.BuildNumber & 0xFFFF;
  const char c = SecondCsdCharacter(v);
  if (v.Major != 4) return "Unknown 9x";
  switch (v.Minor) {
    case 0:
    case 3:
      if (build == 1111) return "95 OSR 2.0";
      if (build == 1212 || build == 1213) return "95 OSR 2.1";
      if (build == 1214) return c == 'C' ? "95 OSR 2.5" : "95 OSR 2.1";
      if (build > 1080) return "95 OSR 2.x";
      if (c == 'A' || c == 'W') return "95 OSR 1";
      return "95";
    case 10:
      return build == 2222 || c == 'A' || c == 'B' ? "98 SE" : "98";
    case 90:
      return "Millennium";
    default:
      return "Unknown 9x";
  }
}

std::string VerNumberText(bool workstation, VerOnce& ver) {
  return (workstation ? "" : "Server ") + VerNumberPiece(ver.Output()) + " ";
}

// The piece of the version table, or null where the "ver" number rule names the version. The
// texts are returned as literals, not strings: one string built per return would cost more code
// than the whole table.
const char* NtVersionText(const SystemFacts& facts, bool workstation, EditionLookups& lookups, VerOnce& ver) {
  const VersionRecord& v = *facts.Version;
  auto pick = [workstation](const char* w, const char* s) { return workstation ? w : s; };
  switch (v.Major) {
    case 3:
    case 4:
      return "NT ";
    case 5:
      if (v.Minor == 0) return "2000 ";
      if (v.Minor == 1) return "XP ";
      if (v.Minor == 2) {
        if (lookups.MetricSet(SystemMetric::ServerR2)) return "Server 2003 R2 ";
        // Equal, not containing: a storage server with any further suite bit is named below.
        if (v.SuiteMask == kSuiteStorageServer) return "Storage Server 2003";
        if (workstation && facts.Architecture == kArchitectureAmd64) return "XP ";
        return "Server 2003 ";
      }
      return "Unknown version ";
    case 6:
      switch (v.Minor) {
        case 0:
          return pick("Vista ", "Server 2008 ");
        case 1:
          return pick("7 ", "Server 2008 R2 ");
        case 2: {
          // Without a manifest naming them, 8.1 and later report 6.2; the command interpreter
          // still prints the real version.
          const std::string& out = ver.Output();
          if (out.find(" 6.2") != std::string::npos) return pick("8 ", "Server 2012 ");
          if (out.find(" 6.3") != std::string::npos) return pick("8.1 ", "Server 2012 R2 ");
          if (out.find(" 10") != std::string::npos) return pick("10 ", "Server 10 ");
          return nullptr;
        }
        case 3:
          return pick("8.1 ", "Server 2012 R2 ");
        default:
          return "";
      }
    case 10:
      return v.Minor == 0 ? pick("10 ", "Server 2016 ") : "";
    default:
      return nullptr;
  }
}

const char* ArchitectureSuffix(std::uint16_t architecture) {
  if (architecture == kArchitectureAmd64) return " 64-bit";
  if (architecture == kArchitectureX86) return " 32-bit";
  return "";
}

// Null for an architecture of no name.
const char* Server2003Edition(const SystemFacts& facts) {
  const std::uint16_t suite = facts.Version->SuiteMask;
  switch (facts.Architecture) {
    case kArchitectureX86:
      if (Has(suite, kSuiteComputeServer)) return "Computer Cluster";
      if (Has(suite, kSuiteDatacenter)) return "Datacenter";
      if (Has(suite, kSuiteEnterprise)) return "Enterprise";
      // Equal, not containing: a blade server with terminal services is "Standard".
      if (suite == kSuiteBlade) return "Web";
      return "Standard";
    case kArchitectureIa64:
      if (Has(suite, kSuiteDatacenter)) return "Datacenter for Itanium-based Systems";
      if (Has(suite, kSuiteEnterprise)) return "Enterprise for Itanium-based Systems";
      return "Standard Itanium-based";
    case kArchitectureAmd64:
      if (Has(suite, kSuiteDatacenter)) return "Datacenter x64";
      if (Has(suite, kSuiteEnterprise)) return "Enterprise x64";
      return "Standard x64";
    default:
      return nullptr;
  }
}

// The edition table for every major version but 6 (which takes its name from the registry); null
// for a 2003 server of an architecture of no name.
const char* NtEditionText(const SystemFacts& facts, EditionLookups& lookups) {
  const VersionRecord& v = *facts.Version;
  const std::uint16_t suite = v.SuiteMask;
  if (v.ProductType == kNtWorkstation) {
    if (v.Major == 4) return "Workstation";
    if (v.Major != 5) return "Unknown Workstation";
    if (v.Minor == 2 && facts.Architecture == kArchitectureAmd64) return "Professional x64";
    if (lookups.MetricSet(SystemMetric::Starter)) return "Starter";
    if (lookups.MetricSet(SystemMetric::MediaCenter)) return "Media Center";
    if (lookups.MetricSet(SystemMetric::TabletPc)) return "Tablet PC";
    if (Has(suite, kSuitePersonal)) return "Home";
    if (Has(suite, kSuiteEmbeddedNt)) return "Embedded";
    return "Professional";
  }
  if (v.ProductType != kNtDomainController && v.ProductType != kNtServer) return "Unknown";
  const char* unknown = v.ProductType == kNtServer ? "Unknown Server" : "Unknown Domain controller";
  if (v.Major == 4) return Has(suite, kSuiteEnterprise) ? "Server 4.0 Enterprise" : "Server 4.0";
  if (v.Major != 5) return unknown;
  if (v.Minor == 0) {
    if (Has(suite, kSuiteDatacenter)) return "Datacenter Server";
    if (Has(suite, kSuiteEnterprise)) return "Advanced Server";
    return "Server";
  }
  if (v.Minor == 2) return Server2003Edition(facts);
  return unknown;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

const char* ProductOptionsText(EditionLookups& lookups) {
  const std::optional<std::string> type = lookups.ProductOptionsType();
  if (!type) return "";
  const std::string upper = AsciiUpper(*type);
  if (upper == "WINNT") return "Workstation";
  if (upper == "LANMANNT") return "Server";
  if (upper == "SERVERNT") return "Advanced Server";
  return "Unknown";
}

}  // namespace

bool IdentifyWindows(const SystemFacts& given, EditionLookups& lookups, std::string& name, std::string& servicePack) {
  name.clear();
  servicePack.clear();
  if (!given.Version) return false;
  SystemFacts facts = given;
  if (!facts.Extended) {
    // The basic record has neither field.
    facts.Version->SuiteMask = 0;
    facts.Version->ProductType = 0;
  }
  const VersionRecord& v = *facts.Version;
  name = "Microsoft Windows ";

  if (v.PlatformId == kPlatformWin9x) {
    name += Win9xName(v);
    servicePack = v.CsdVersion;
    return true;
  }
  if (v.PlatformId != kPlatformNt) return false;

  VerOnce ver(lookups);
  const bool workstation = v.ProductType == kNtWorkstation;
  if (const char* version = NtVersionText(facts, workstation, lookups, ver))
    name += version;
  else
    name += VerNumberText(workstation, ver);
  if (!facts.Extended) {
    name += ProductOptionsText(lookups);
  } else if (v.Major == 6) {
    if (std::optional<std::string> productName = lookups.ProductName()) name = *productName;
    name += ArchitectureSuffix(facts.Architecture);
  } else if (const char* edition = NtEditionText(facts, lookups)) {
    name += edition;
  } else {
    name += "Unknown on Architecture 0x" + HexText(facts.Architecture);
  }

  // Service Pack 6a shipped without changing the CSD text; only its hotfix key tells it.
  if (v.Major == 4 && v.CsdVersion == "Service Pack 6" && lookups.HasHotfixQ246009())
    servicePack = "Service Pack 6a";
  else
    servicePack = v.CsdVersion;
  return true;
}

std::string WindowsDescription(bool identified, std::string_view name, std::string_view servicePack) {
  if (!identified) return "unknown";
  bool onlyBlanks = true;
  for (char c : servicePack)
    if (static_cast<unsigned char>(c) > ' ') onlyBlanks = false;
  std::string description(name);
  if (!onlyBlanks) {
    description += ' ';
    description += servicePack;
  }
  return description;
}

bool DescribesSixtyFourBitWindows(std::string_view description) {
  return description.find(" 64") != std::string_view::npos;
}

std::string VerNumberPiece(std::string_view verOutput) {
  // Positions count from 1, and a text that is not found is at 0: without "ion" the piece
  // starts at the fourth character.
  auto position = [&](std::string_view what) -> std::size_t {
    const std::size_t at = verOutput.find(what);
    return at == std::string_view::npos ? 0 : at + 1;
  };
  const std::size_t start = position("ion") + 4;
  const std::size_t end = position(".");
  if (end <= start) return "";
  return std::string(verOutput.substr(start - 1, end - start));
}

}  // namespace mv
