// The elevated run's log against the real (Wine) file system: appended to where the path names a
// plain file of its own, refused wherever the path would lead somewhere else, with nothing
// written or left there.
#include "ui/run_log_win.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "support/files_win.h"
#include "win/files_win.h"

namespace mv {
namespace {

using testing::IsFile;
using testing::MakeUnixLink;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::string Text(const std::wstring& path) {
  const auto bytes = ReadBytes(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("(none)");
}

TEST(RunLogFile, WrittenOnlyAsThePlainFileOfItsPath) {
  TempDir root;
  const std::wstring elsewhere = root / L"elsewhere";
  ASSERT_TRUE(::CreateDirectoryW(elsewhere.c_str(), nullptr));
  const std::wstring precious = elsewhere + L"\\precious.txt";

  // A new log is made, and an existing one appended to, one line a step.
  const std::wstring plain = root / L"setup log.txt";
  for (int run = 1; run <= 2; ++run) FileRunLog(plain).Line("Step ", L"two\r\nlines");
  const std::string lines = Text(plain);
  const std::string line = "] Step two  lines\r\n";
  EXPECT_EQ(lines.rfind(line), lines.size() - line.size()) << lines;
  EXPECT_NE(lines.find(line), lines.rfind(line)) << lines;

  // Wherever the path leads elsewhere, the log is not opened and nothing there changes.
  const std::wstring linkedFolder = root / L"linked";
  ASSERT_TRUE(MakeUnixLink(linkedFolder, elsewhere));
  WriteBytes(precious, "precious");
  const std::wstring linkedFile = root / L"link.txt";
  ASSERT_TRUE(MakeUnixLink(linkedFile, precious));
  const std::wstring hardLink = root / L"hard.txt";
  ASSERT_TRUE(::CreateHardLinkW(hardLink.c_str(), precious.c_str(), nullptr));
  const struct {
    const char* what;
    std::wstring path;
  } refused[] = {
      {"a symbolic link in its place", linkedFile},
      {"a linked folder on its path", linkedFolder + L"\\new.log"},
      {"a linked folder on its path, to a file there", linkedFolder + L"\\precious.txt"},
      {"a second name of a file elsewhere", hardLink},
      {"a folder", elsewhere},
      {"a device", L"\\\\.\\NUL"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(OpenLogFile(c.path));
    FileRunLog(c.path).Line("Step", {});
  }
  EXPECT_EQ(Text(precious), "precious");
  EXPECT_FALSE(IsFile(elsewhere + L"\\new.log")) << "made where the linked folder leads";
  // While what they lead to is there: Wine cannot see a link that leads nowhere, nor remove it.
  EXPECT_TRUE(testing::RemoveUnixLink(linkedFile));
  EXPECT_TRUE(testing::RemoveUnixLink(linkedFolder));
}

// A pipe's server that answers to the log's path is not written to: the run's identity is not
// his to take.
TEST(RunLogFile, APipeIsNoLog) {
  const std::wstring name = L"\\\\.\\pipe\\mv-run-log-test-" + std::to_wstring(::GetCurrentProcessId());
  const UniqueFile server(
      ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 0, 4096, 0, nullptr));
  ASSERT_TRUE(server);
  EXPECT_FALSE(OpenLogFile(name));
}

// A log the run makes may be opened by SYSTEM and the Administrators only, even to read: nobody
// else can add to it, nor hold it so that the next run's open waits on him. (Wine keeps no
// security of its own for files, so the descriptor is read here, as the run hands it over.)
TEST(RunLogFile, ANewLogBelongsToTheAdministrators) {
  const UniqueLocalMemory descriptor = AdministratorsOnlySecurity();
  ASSERT_TRUE(descriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the folder's inheritable entries would apply";
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  std::wstring trustees;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    LPWSTR text = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &text));
    trustees.append(text).append(L" ");
    ::LocalFree(text);
  }
  EXPECT_EQ(trustees, L"S-1-5-18 S-1-5-32-544 ") << "SYSTEM and Administrators";
}

}  // namespace
}  // namespace mv
