#include "startup/windows_edition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace mv {
namespace {

// Version facts built up row by row: an NT workstation with the extended record on x86 unless
// a row says otherwise.
struct F {
  SystemFacts facts;
  std::vector<SystemMetric> metrics;  // the metrics that are set
  F(std::uint32_t major, std::uint32_t minor, std::uint8_t type = kNtWorkstation) {
    facts.Version = VersionRecord{};
    facts.Version->Major = major;
    facts.Version->Minor = minor;
    facts.Version->PlatformId = kPlatformNt;
    facts.Version->ProductType = type;
    facts.Extended = true;
  }
  static F Win9x(std::uint32_t major, std::uint32_t minor, std::uint32_t build, std::string csd = "") {
    F f(major, minor, 0);
    f.facts.Version->PlatformId = kPlatformWin9x;
    f.facts.Version->BuildNumber = build;
    f.facts.Version->CsdVersion = std::move(csd);
    f.facts.Extended = false;
    return f;
  }
  F& Suite(std::uint16_t mask) { return facts.Version->SuiteMask = mask, *this; }
  F& Arch(std::uint16_t architecture) { return facts.Architecture = architecture, *this; }
  F& Csd(std::string csd) { return facts.Version->CsdVersion = std::move(csd), *this; }
  F& Basic() { return facts.Extended = false, *this; }
  F& R2() { return metrics.push_back(SystemMetric::ServerR2), *this; }
  F& Starter() { return metrics.push_back(SystemMetric::Starter), *this; }
  F& MediaCenter() { return metrics.push_back(SystemMetric::MediaCenter), *this; }
  F& TabletPc() { return metrics.push_back(SystemMetric::TabletPc), *this; }
};

struct FakeLookups : EditionLookups {
  std::optional<std::string> productName;
  std::optional<std::string> productType;
  bool hotfix = false;
  std::string ver;
  std::vector<SystemMetric> metrics;
  int productNameCalls = 0, productTypeCalls = 0, hotfixCalls = 0, verCalls = 0, metricCalls = 0;

  std::optional<std::string> ProductName() override { return ++productNameCalls, productName; }
  std::optional<std::string> ProductOptionsType() override { return ++productTypeCalls, productType; }
  bool HasHotfixQ246009() override { return ++hotfixCalls, hotfix; }
  std::string VerOutput() override { return ++verCalls, ver; }
  bool MetricSet(SystemMetric metric) override {
    return ++metricCalls, std::find(metrics.begin(), metrics.end(), metric) != metrics.end();
  }
};

struct Row {
  F facts;
  std::string expected;
  std::string ver = "";
  std::optional<std::string> productName = std::nullopt;
  std::optional<std::string> productType = std::nullopt;
};

// Runs each row and checks the name, and that each lookup was made exactly when its rule
// applies: "ver" when `needsVer`, the registry name for version 6 with the extended record,
// the product options with the basic record; and that no metric is asked beyond Windows 5.x
// (they load user32).
void ExpectNames(const std::vector<Row>& rows, bool needsVer) {
  for (const Row& row : rows) {
    const SystemFacts& facts = row.facts.facts;
    FakeLookups lookups;
    lookups.ver = row.ver;
    lookups.productName = row.productName;
    lookups.productType = row.productType;
    lookups.metrics = row.facts.metrics;
    std::string name = "stale", servicePack = "stale";
    ASSERT_TRUE(IdentifyWindows(facts, lookups, name, servicePack)) << row.expected;
    EXPECT_EQ(name, row.expected);
    const bool nt = facts.Version->PlatformId == kPlatformNt;
    EXPECT_EQ(lookups.verCalls, needsVer ? 1 : 0) << row.expected;
    EXPECT_EQ(lookups.productNameCalls, nt && facts.Extended && facts.Version->Major == 6 ? 1 : 0) << row.expected;
    EXPECT_EQ(lookups.productTypeCalls, nt && !facts.Extended ? 1 : 0) << row.expected;
    if (!nt || facts.Version->Major != 5) {
      EXPECT_EQ(lookups.metricCalls, 0) << row.expected;
    }
  }
}

TEST(IdentifyWindows, Win9xTable) {
  ExpectNames(
      {
          {F::Win9x(4, 0, 1111), "Microsoft Windows 95 OSR 2.0"},
          {F::Win9x(4, 3, 0x04030457), "Microsoft Windows 95 OSR 2.0"},  // only the low 16 bits
          {F::Win9x(4, 0, 1212), "Microsoft Windows 95 OSR 2.1"},
          {F::Win9x(4, 3, 1213), "Microsoft Windows 95 OSR 2.1"},
          {F::Win9x(4, 3, 1214, " C "), "Microsoft Windows 95 OSR 2.5"},
          {F::Win9x(4, 3, 1214, " B "), "Microsoft Windows 95 OSR 2.1"},
          {F::Win9x(4, 3, 1214), "Microsoft Windows 95 OSR 2.1"},
          {F::Win9x(4, 0, 1081, " A "), "Microsoft Windows 95 OSR 2.x"},
          {F::Win9x(4, 0, 1080, " A "), "Microsoft Windows 95 OSR 1"},
          {F::Win9x(4, 0, 950, " W"), "Microsoft Windows 95 OSR 1"},
          {F::Win9x(4, 0, 950, "A"), "Microsoft Windows 95"},  // "A" is the first character
          {F::Win9x(4, 0, 950), "Microsoft Windows 95"},
          {F::Win9x(4, 10, 2222), "Microsoft Windows 98 SE"},
          {F::Win9x(4, 10, 1998, " A "), "Microsoft Windows 98 SE"},
          {F::Win9x(4, 10, 1998, " B"), "Microsoft Windows 98 SE"},
          {F::Win9x(4, 10, 1998, " C"), "Microsoft Windows 98"},
          {F::Win9x(4, 90, 3000), "Microsoft Windows Millennium"},
          {F::Win9x(4, 1, 1111), "Microsoft Windows Unknown 9x"},
          {F::Win9x(5, 0, 1111), "Microsoft Windows Unknown 9x"},
      },
      false);
}

TEST(IdentifyWindows, NtVersionsThatNeedNoVer) {
  const std::uint16_t x64 = kArchitectureAmd64;
  ExpectNames(
      {
          {F(3, 51), "Microsoft Windows NT Unknown Workstation"},
          {F(4, 0), "Microsoft Windows NT Workstation"},
          {F(5, 0), "Microsoft Windows 2000 Professional"},
          {F(5, 1), "Microsoft Windows XP Professional"},
          {F(5, 2, kNtServer).R2(), "Microsoft Windows Server 2003 R2 Standard"},
          // Equal, not containing; and no blank before the edition.
          {F(5, 2, kNtServer).Suite(kSuiteStorageServer), "Microsoft Windows Storage Server 2003Standard"},
          {F(5, 2, kNtServer).Suite(kSuiteStorageServer | kSuiteEnterprise),
           "Microsoft Windows Server 2003 Enterprise"},
          {F(5, 2).Arch(x64), "Microsoft Windows XP Professional x64"},
          {F(5, 2), "Microsoft Windows Server 2003 Professional"},
          {F(5, 3), "Microsoft Windows Unknown version Professional"},
          // Version 6 with no readable "ProductName": the built name, then the architecture.
          {F(6, 0), "Microsoft Windows Vista  32-bit"},
          {F(6, 0, kNtServer).Arch(x64), "Microsoft Windows Server 2008  64-bit"},
          {F(6, 1).Arch(x64), "Microsoft Windows 7  64-bit"},
          {F(6, 1, kNtDomainController), "Microsoft Windows Server 2008 R2  32-bit"},
          {F(6, 3), "Microsoft Windows 8.1  32-bit"},
          {F(6, 3, kNtServer).Arch(kArchitectureIa64), "Microsoft Windows Server 2012 R2 "},
          {F(6, 4).Arch(x64), "Microsoft Windows  64-bit"},
          {F(10, 0).Arch(x64), "Microsoft Windows 10 Unknown Workstation"},
          {F(10, 0, kNtServer), "Microsoft Windows Server 2016 Unknown Server"},
          {F(10, 1), "Microsoft Windows Unknown Workstation"},
      },
      false);
}

TEST(IdentifyWindows, VersionSixTwoAndUnlistedVersionsAskVerOnce) {
  const std::string ver62 = "\r\nMicrosoft Windows [Version 6.2.9200]\r\n";
  const std::string ver63 = "\r\nMicrosoft Windows [Version 6.3.9600]\r\n";
  const std::string ver10 = "\r\nMicrosoft Windows [Version 10.0.19045.2965]\r\n";
  const std::string ver11 = "\r\nMicrosoft Windows [Version 11.0.1]\r\n";
  ExpectNames(
      {
          {F(6, 2), "Microsoft Windows 8  32-bit", ver62},
          {F(6, 2, kNtServer), "Microsoft Windows Server 2012  32-bit", ver62},
          {F(6, 2), "Microsoft Windows 8.1  32-bit", ver63},
          {F(6, 2, kNtServer), "Microsoft Windows Server 2012 R2  32-bit", ver63},
          {F(6, 2).Arch(kArchitectureAmd64), "Microsoft Windows 10  64-bit", ver10},
          {F(6, 2, kNtServer), "Microsoft Windows Server 10  32-bit", ver10},
          {F(6, 2), "Microsoft Windows 11  32-bit", ver11},
          {F(6, 2, kNtServer), "Microsoft Windows Server 11  32-bit", ver11},
          // Without "ion" the piece starts at the fourth character.
          {F(6, 2), "Microsoft Windows rosoft Windows 6  32-bit", "Microsoft Windows 6.4.1"},
          {F(6, 2), "Microsoft Windows   32-bit", ""},  // ComSpec empty
          {F(11, 0), "Microsoft Windows 11 Unknown Workstation", ver11},
          {F(11, 0, kNtServer), "Microsoft Windows Server 11 Unknown Server", ver11},
          {F(7, 1, kNtDomainController), "Microsoft Windows Server 11 Unknown Domain controller", ver11},
          {F(0, 0), "Microsoft Windows 11 Unknown Workstation", ver11},
          {F(2, 0, 0), "Microsoft Windows Server 11 Unknown", ver11},
          {F(12, 0), "Microsoft Windows  Unknown Workstation", "\r\n"},
          {F(9, 0, kNtServer), "Microsoft Windows Server  Unknown Server", ""},
      },
      true);
}

TEST(IdentifyWindows, EditionTable) {
  const std::uint16_t x86 = kArchitectureX86, ia64 = kArchitectureIa64, x64 = kArchitectureAmd64;
  const std::uint8_t server = kNtServer, dc = kNtDomainController;
  ExpectNames(
      {
          // Workstations, first matching row wins.
          {F(5, 2).Arch(x64).Starter(), "Microsoft Windows XP Professional x64"},
          {F(5, 2).Starter(), "Microsoft Windows Server 2003 Starter"},
          {F(5, 1).Starter().MediaCenter(), "Microsoft Windows XP Starter"},
          {F(5, 1).MediaCenter().TabletPc(), "Microsoft Windows XP Media Center"},
          {F(5, 1).TabletPc().Suite(kSuitePersonal), "Microsoft Windows XP Tablet PC"},
          {F(5, 1).Suite(kSuitePersonal | kSuiteEmbeddedNt), "Microsoft Windows XP Home"},
          {F(5, 0).Suite(kSuiteEmbeddedNt), "Microsoft Windows 2000 Embedded"},
          {F(5, 1).Suite(kSuiteEnterprise), "Microsoft Windows XP Professional"},
          // Servers and domain controllers.
          {F(4, 0, server).Suite(kSuiteEnterprise), "Microsoft Windows NT Server 4.0 Enterprise"},
          {F(4, 0, dc), "Microsoft Windows NT Server 4.0"},
          {F(5, 0, server).Suite(kSuiteDatacenter | kSuiteEnterprise), "Microsoft Windows 2000 Datacenter Server"},
          {F(5, 0, dc).Suite(kSuiteEnterprise), "Microsoft Windows 2000 Advanced Server"},
          {F(5, 0, server), "Microsoft Windows 2000 Server"},
          {F(5, 2, server).Arch(x86).Suite(kSuiteComputeServer | kSuiteDatacenter),
           "Microsoft Windows Server 2003 Computer Cluster"},
          {F(5, 2, server).Suite(kSuiteDatacenter | kSuiteEnterprise), "Microsoft Windows Server 2003 Datacenter"},
          {F(5, 2, dc).Suite(kSuiteEnterprise | kSuiteBlade), "Microsoft Windows Server 2003 Enterprise"},
          {F(5, 2, server).Suite(kSuiteBlade), "Microsoft Windows Server 2003 Web"},
          // Blade with terminal services: not equal to the blade bit alone.
          {F(5, 2, server).Suite(kSuiteBlade | 0x0010), "Microsoft Windows Server 2003 Standard"},
          {F(5, 2, server).Arch(ia64).Suite(kSuiteDatacenter | kSuiteEnterprise),
           "Microsoft Windows Server 2003 Datacenter for Itanium-based Systems"},
          {F(5, 2, server).Arch(ia64).Suite(kSuiteEnterprise),
           "Microsoft Windows Server 2003 Enterprise for Itanium-based Systems"},
          {F(5, 2, server).Arch(ia64).Suite(kSuiteComputeServer),
           "Microsoft Windows Server 2003 Standard Itanium-based"},
          {F(5, 2, server).Arch(x64).Suite(kSuiteDatacenter), "Microsoft Windows Server 2003 Datacenter x64"},
          {F(5, 2, dc).Arch(x64).Suite(kSuiteEnterprise), "Microsoft Windows Server 2003 Enterprise x64"},
          {F(5, 2, server).Arch(x64).Suite(kSuiteBlade), "Microsoft Windows Server 2003 Standard x64"},
          {F(5, 2, server).Arch(5), "Microsoft Windows Server 2003 Unknown on Architecture 0x5"},
          {F(5, 2, server).Arch(12), "Microsoft Windows Server 2003 Unknown on Architecture 0xC"},
          {F(5, 2, dc).Arch(0xFFFF), "Microsoft Windows Server 2003 Unknown on Architecture 0xFFFF"},
          {F(5, 1, server), "Microsoft Windows XP Unknown Server"},
          {F(5, 3, dc), "Microsoft Windows Unknown version Unknown Domain controller"},
          {F(3, 51, server), "Microsoft Windows NT Unknown Server"},
          {F(10, 0, dc), "Microsoft Windows Server 2016 Unknown Domain controller"},
          // Other product types.
          {F(5, 1, 0), "Microsoft Windows XP Unknown"},
          {F(5, 2, 4).Arch(x64), "Microsoft Windows Server 2003 Unknown"},
      },
      false);
}

TEST(IdentifyWindows, VersionSixTakesTheRegistryNameThenTheArchitecture) {
  const std::uint16_t x64 = kArchitectureAmd64;
  ExpectNames(
      {
          {F(6, 1).Arch(x64), "Windows 7 Ultimate 64-bit", "", "Windows 7 Ultimate"},
          {F(6, 0, kNtServer), "Windows Server (R) 2008 Standard 32-bit", "", "Windows Server (R) 2008 Standard"},
          {F(6, 3).Arch(kArchitectureIa64), "Windows 8.1 Pro", "", "Windows 8.1 Pro"},
          {F(6, 1).Arch(x64), " 64-bit", "", ""},
          // Only the extended record of version 6 takes it.
          {F(5, 2).Arch(x64), "Microsoft Windows XP Professional x64", "", "Windows 7 Ultimate"},
          {F(10, 0), "Microsoft Windows 10 Unknown Workstation", "", "Windows 7 Ultimate"},
      },
      false);
}

TEST(IdentifyWindows, ProductOptionsFallbackWithTheBasicRecord) {
  ExpectNames(
      {
          {F(4, 0).Basic(), "Microsoft Windows NT Workstation", "", "Windows 7", "WinNT"},
          {F(4, 0).Basic(), "Microsoft Windows NT Server", "", std::nullopt, "LanmanNT"},
          {F(4, 0).Basic(), "Microsoft Windows NT Advanced Server", "", std::nullopt, "servernt"},
          {F(4, 0).Basic(), "Microsoft Windows NT Unknown", "", std::nullopt, "WinNT "},  // compared in full
          {F(4, 0).Basic(), "Microsoft Windows NT Unknown", "", std::nullopt, ""},
          {F(4, 0).Basic(), "Microsoft Windows NT ", "", std::nullopt, std::nullopt},
          // The basic record has no product type or suite: never a workstation, whatever the
          // fields say, and no architecture suffix for version 6.
          {F(6, 1).Basic().Arch(kArchitectureAmd64), "Microsoft Windows Server 2008 R2 Workstation", "", "Windows 7",
           "WinNT"},
          {F(5, 2).Basic().Suite(kSuiteStorageServer), "Microsoft Windows Server 2003 Workstation", "", std::nullopt,
           "WinNT"},
      },
      false);
}

TEST(IdentifyWindows, ServicePackText) {
  struct Case {
    F facts;
    bool hotfix;
    std::string expected;
    bool asksHotfix;
  } cases[] = {
      {F(4, 0).Csd("Service Pack 6"), true, "Service Pack 6a", true},
      {F(4, 0).Basic().Csd("Service Pack 6"), true, "Service Pack 6a", true},
      {F(4, 0).Csd("Service Pack 6"), false, "Service Pack 6", true},
      {F(4, 0).Csd("Service Pack 6 "), true, "Service Pack 6 ", false},
      {F(4, 0).Csd("Service Pack 5"), true, "Service Pack 5", false},
      {F(5, 0).Csd("Service Pack 6"), true, "Service Pack 6", false},
      {F(6, 1).Csd(" Service Pack 1\t"), true, " Service Pack 1\t", false},
      {F::Win9x(4, 0, 950, " A "), true, " A ", false},
  };
  for (const Case& c : cases) {
    FakeLookups lookups;
    lookups.hotfix = c.hotfix;
    std::string name, servicePack;
    ASSERT_TRUE(IdentifyWindows(c.facts.facts, lookups, name, servicePack));
    EXPECT_EQ(servicePack, c.expected);
    EXPECT_EQ(lookups.hotfixCalls, c.asksHotfix ? 1 : 0) << c.expected;
  }
}

TEST(IdentifyWindows, FailsWithoutARecordOrOnAnotherPlatform) {
  FakeLookups lookups;
  std::string name = "stale", servicePack = "stale";
  EXPECT_FALSE(IdentifyWindows(SystemFacts{}, lookups, name, servicePack));
  EXPECT_EQ(name, "");
  EXPECT_EQ(servicePack, "");
  for (std::uint32_t platform : {0u, 3u}) {
    F facts(6, 1);
    facts.facts.Version->PlatformId = platform;
    facts.Csd("Service Pack 1");
    EXPECT_FALSE(IdentifyWindows(facts.facts, lookups, name, servicePack));
    EXPECT_EQ(name, "Microsoft Windows ");
    EXPECT_EQ(servicePack, "");
  }
  EXPECT_EQ(lookups.verCalls + lookups.productNameCalls + lookups.productTypeCalls + lookups.hotfixCalls +
                lookups.metricCalls,
            0);
}

TEST(WindowsDescription, ServicePackAfterABlankUnlessOnlyBlanksAndControls) {
  EXPECT_EQ(WindowsDescription(false, "Microsoft Windows 7", "Service Pack 1"), "unknown");
  EXPECT_EQ(WindowsDescription(true, "Windows 7 Ultimate 64-bit", "Service Pack 1"),
            "Windows 7 Ultimate 64-bit Service Pack 1");
  EXPECT_EQ(WindowsDescription(true, "N", ""), "N");
  EXPECT_EQ(WindowsDescription(true, "N", " \t\r\n\x01"), "N");
  EXPECT_EQ(WindowsDescription(true, "N", " A "), "N  A ") << "the text itself is not trimmed";
  EXPECT_EQ(WindowsDescription(true, "N", "\xA0"), "N \xA0");
}

TEST(WindowsDescription, SixtyFourBitIsABlankThenSixtyFour) {
  for (const char* yes : {"Windows 7 Ultimate 64-bit", "Microsoft Windows 7  64-bit Service Pack 1", "X 640"})
    EXPECT_TRUE(DescribesSixtyFourBitWindows(yes)) << yes;
  for (const char* no :
       {"Microsoft Windows XP Professional x64 Service Pack 2", "Microsoft Windows Server 2003 Datacenter x64",
        "Microsoft Windows 8.1  32-bit", "Windows 7 x64-bit", "unknown", ""})
    EXPECT_FALSE(DescribesSixtyFourBitWindows(no)) << no;
}

TEST(VerNumberPiece, FromFourAfterIonToTheFirstDot) {
  struct Case {
    const char* ver;
    const char* piece;
  } cases[] = {
      {"\r\nMicrosoft Windows [Version 10.0.19045.2965]\r\n", "10"},
      {"Microsoft Windows [Version 6.3.9600]", "6"},
      {"ion x.", "x"},
      {"ion .", ""},            // ends where it starts
      {"abcd.", "d"},           // no "ion": from the fourth character
      {"1.2 Version 3.4", ""},  // the first dot lies before the start
      {"Version 11", ""},       // no dot
      {"\r\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(VerNumberPiece(c.ver), c.piece) << c.ver;
}

}  // namespace
}  // namespace mv
