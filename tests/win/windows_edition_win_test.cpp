// The naming of Windows against the real (Wine) system: the OEM text of the console command,
// and describe-windows.exe under the Windows versions Wine reports.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "support/files_win.h"
#include "support/program_output_win.h"
#include "support/registry_win.h"
#include "win/code_page_win.h"

namespace mv {
namespace {

using testing::AnsiWide;

TEST(OemToAnsiText, EveryByteIsConvertedAndTheLengthKept) {
  EXPECT_EQ(OemToAnsiText(""), "");
  EXPECT_EQ(OemToAnsiText("Microsoft Windows 6.1.7601\r\n"), "Microsoft Windows 6.1.7601\r\n");
  // A NUL inside the text does not stop the conversion.
  const std::string converted = OemToAnsiText(std::string("\x81\0\x81", 3));
  ASSERT_EQ(converted.size(), 3u);
  EXPECT_EQ(converted[1], '\0');
  EXPECT_EQ(converted[0], converted[2]);
  EXPECT_EQ(converted.substr(0, 1), OemToAnsiText("\x81"));
  if (::GetOEMCP() != ::GetACP()) {
    EXPECT_NE(converted[0], '\x81') << "code pages " << ::GetOEMCP() << "/" << ::GetACP();
  }
}

// What Wine 8.0 reports for each configured version (to a program like the installer, whose
// manifest names no supported systems), and what the tables make of it. The fresh prefix holds
// "ProductName" = "Microsoft Windows 7", which the Version setting leaves alone; so every
// version 6 system takes that name, and the second text is the name built without it.
struct WineVersionCase {
  const char* version;
  const char* withProductName;
  const char* withoutProductName;
  bool is64;
} const kWineVersions[] = {
    // 6.1.7601 "Service Pack 1", x64; Wine reports product type VER_NT_SERVER for win7 (and
    // VER_NT_WORKSTATION for win2008r2), hence "Server 2008 R2 " without the registry name.
    {"win7", "Microsoft Windows 7 64-bit Service Pack 1", "Microsoft Windows Server 2008 R2  64-bit Service Pack 1",
     true},
    // 6.2.9200 without a service pack (the version lie), workstation; "ver" in cmd prints
    // "Microsoft Windows 10.0.18362", which holds " 10".
    {"win10", "Microsoft Windows 7 64-bit", "Microsoft Windows 10  64-bit", true},
    // Also 6.2.9200; "ver" prints "Microsoft Windows 6.3.9600".
    {"win81", "Microsoft Windows 7 64-bit", "Microsoft Windows 8.1  64-bit", true},
    // 6.0.6002 "Service Pack 2", workstation.
    {"vista", "Microsoft Windows 7 64-bit Service Pack 2", "Microsoft Windows Vista  64-bit Service Pack 2", true},
    // 5.2.3790 "Service Pack 2", workstation on x64: "XP " and "Professional x64", no " 64".
    {"winxp64", "Microsoft Windows XP Professional x64 Service Pack 2",
     "Microsoft Windows XP Professional x64 Service Pack 2", false},
    // 5.2.3790 "Service Pack 2", server, suite 0x0100 (single-user terminal services) on x64.
    {"win2003", "Microsoft Windows Server 2003 Standard x64 Service Pack 2",
     "Microsoft Windows Server 2003 Standard x64 Service Pack 2", false},
};

TEST(DescribeWindowsProgram, NamesEachVersionWineReportsAsTheTablesSay) {
  // Wine reads the version to report from here when a process starts.
  const std::wstring wineKey = L"Software\\Wine";
  const std::wstring currentVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  const testing::RestoreValueLater version(HKEY_CURRENT_USER, wineKey, L"Version");
  const testing::RestoreValueLater productName(HKEY_LOCAL_MACHINE, currentVersionKey, L"ProductName");
  const std::optional<std::wstring> freshName =
      testing::ReadString(HKEY_LOCAL_MACHINE, currentVersionKey, L"ProductName");
  ASSERT_EQ(freshName, std::optional<std::wstring>(L"Microsoft Windows 7")) << "a fresh Wine 8.0 prefix";

  for (const WineVersionCase& c : kWineVersions) {
    testing::WriteString(HKEY_CURRENT_USER, wineKey, L"Version", AnsiWide(c.version));
    const std::string flag = c.is64 ? "\r\nIs64BitWindows=true\r\n" : "\r\nIs64BitWindows=false\r\n";
    testing::WriteString(HKEY_LOCAL_MACHINE, currentVersionKey, L"ProductName", *freshName);
    EXPECT_EQ(testing::ProgramOutput("describe-windows.exe"), c.withProductName + flag) << c.version;
    testing::DeleteValue(HKEY_LOCAL_MACHINE, currentVersionKey, L"ProductName");
    EXPECT_EQ(testing::ProgramOutput("describe-windows.exe"), c.withoutProductName + flag) << c.version;
  }

  // A "ProductName" that is no string names nothing; it must not end the process.
  testing::WriteString(HKEY_CURRENT_USER, wineKey, L"Version", L"vista");
  testing::WriteDword(HKEY_LOCAL_MACHINE, currentVersionKey, L"ProductName", 7);
  EXPECT_EQ(testing::ProgramOutput("describe-windows.exe"),
            "Microsoft Windows Vista  64-bit Service Pack 2\r\nIs64BitWindows=true\r\n");
}

}  // namespace
}  // namespace mv
