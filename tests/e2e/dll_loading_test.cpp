// What the installer loads, seen through Wine's report of every DLL a process maps
// (WINEDEBUG=+loaddll, on the driver's standard error): a run that shows nothing maps no windowing code,
// every DLL comes from the Windows folder, and DLLs planted beside the installer under the
// names of the DLLs it loads are never loaded.
#include <cwchar>
#include <cwctype>

#include "e2e/fixture.h"

namespace e2e {
namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring FileName(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  return Lower(std::wstring(folder, length)) + L"\\";
}

// The DLLs (full paths, lower case) that the process whose image is `exeName` loaded, from trace
// lines such as: 0118:011c:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\user32.dll"
// at ...: builtin. The first line of a process names its image; its pid prefixes every line,
// which keeps apart the installer's children (the "ver" interpreter) writing to the same file.
std::vector<std::wstring> DllsLoadedBy(const std::string& text, const std::wstring& exeName) {
  const std::string marker = "Loaded L\"";
  std::string pid;
  std::vector<std::wstring> dlls;
  for (std::size_t at = 0; (at = text.find(marker, at)) != std::string::npos; at += marker.size()) {
    const std::size_t lineStart = text.rfind('\n', at) + 1;  // npos + 1 is 0
    const std::string linePid = text.substr(lineStart, text.find(':', lineStart) - lineStart);
    const std::size_t pathStart = at + marker.size();
    std::wstring path;
    for (std::size_t i = pathStart; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;  // the trace doubles each backslash
      path += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
    path = Lower(path);
    if (pid.empty() && FileName(path) == Lower(exeName)) {
      pid = linePid;
      continue;
    }
    if (!pid.empty() && linePid == pid) dlls.push_back(path);
  }
  return dlls;
}

bool LoadedAny(const std::vector<std::wstring>& dlls, std::initializer_list<const wchar_t*> names) {
  for (const std::wstring& dll : dlls)
    for (const wchar_t* name : names)
      if (FileName(dll) == name) return true;
  return false;
}

// The DLLs whose loading the installer itself decides: the delay-imported ones and those it
// loads by name. A DLL that the process imports at load time (kernel32, advapi32, msvcrt and
// their dependencies) is not planted: Windows takes it from the system folder as a known DLL,
// but Wine has no known DLLs and, told to prefer native DLLs, loads a planted copy of it into
// any program before that program runs a single instruction. Nor are the DLLs that Wine's own
// system DLLs load for themselves, which Windows also keeps known: ole32 and oleaut32, which the
// installer delay-imports too, are imported by Wine's shell, so a planted ole32 turns up even in
// a run that never starts the product. That the installer's own load of them comes from the
// system folder is seen in the trace of a launch instead.
const wchar_t* const kPlantedNames[] = {L"user32.dll", L"shell32.dll", L"gdi32.dll", L"comctl32.dll", L"version.dll"};

class DllLoading : public InstallerTest {
 protected:
  // Runs the installer with Wine's DLL trace and returns what the installer's process loaded.
  std::vector<std::wstring> TracedRun(const std::wstring& arguments, const std::vector<Answer>& answers) {
    const std::size_t before = DriverStderr().size();
    {
      ScopedEnvironment trace(L"WINEDEBUG", L"+loaddll,+pid");
      Run(Installer(), arguments, answers);
    }
    const std::vector<std::wstring> dlls = DllsLoadedBy(DriverStderr().substr(before), FileName(Installer()));
    EXPECT_TRUE(LoadedAny(dlls, {L"kernel32.dll"})) << "no trace of the installer on the driver's standard error";
    for (const std::wstring& dll : dlls) EXPECT_EQ(dll.rfind(WindowsFolder(), 0), 0u) << Utf8(dll);
    return dlls;
  }

  // Puts the planted DLL into `folder` under every planted name, and tells Wine to prefer such a
  // native DLL to its own in the programs named. (Wine takes WINEDLLOVERRIDES only from the Unix
  // environment, which a Windows parent cannot change; the per-program registry settings do the
  // same.)
  void Plant(const std::wstring& folder, std::initializer_list<const wchar_t*> programs) {
    const std::wstring planted = ConfiguredPath(L"MV_E2E_PLANTED_DLL");
    for (const wchar_t* name : kPlantedNames) {
      EXPECT_TRUE(CopyFileW(planted.c_str(), (folder + name).c_str(), FALSE)) << Utf8(planted);
      for (const wchar_t* program : programs)
        WriteString(HKEY_CURRENT_USER, kAppDefaults + program + L"\\DllOverrides",
                    std::wstring(name, std::wcslen(name) - 4), L"native,builtin");
    }
  }

  void TearDown() override {
    DeleteKeyTree(HKEY_CURRENT_USER, kAppDefaults + L"mvm3-setup.exe");
    DeleteKeyTree(HKEY_CURRENT_USER, kAppDefaults + L"plantable.exe");
    InstallerTest::TearDown();
  }

  const std::wstring kAppDefaults = L"Software\\Wine\\AppDefaults\\";

  std::vector<std::string> Markers(const std::wstring& folder) {
    std::vector<std::string> found;
    for (const wchar_t* name : kPlantedNames)
      if (IsFile(folder + name + L".loaded")) found.push_back(Utf8(name));
    return found;
  }
};

TEST_F(DllLoading, ModestRunLoadsNoWindowingCodeAndOnlySystemDlls) {
  const auto dlls = TracedRun(L"modest", {});
  ExpectInstalled(product_, Payload());
  for (const std::wstring& dll : dlls)
    EXPECT_FALSE(
        LoadedAny({dll}, {L"user32.dll", L"shell32.dll", L"gdi32.dll", L"comctl32.dll", L"ole32.dll", L"oleaut32.dll"}))
        << Utf8(dll);
}

// Starting the product through the shell loads COM, from the system folder like everything else.
TEST_F(DllLoading, TheLaunchLoadsComFromTheSystemFolder) {
  const auto dlls = TracedRun(L"modest runapp", {});
  ExpectInstalled(product_, Payload());
  ExpectProductStartedAndShown();
  EXPECT_TRUE(LoadedAny(dlls, {L"ole32.dll"}));
  EXPECT_TRUE(LoadedAny(dlls, {L"oleaut32.dll"}));
}

TEST_F(DllLoading, InteractiveRunLoadsWindowingCodeFromTheSystemFolder) {
  const auto dlls = TracedRun(L"", {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDNO)});
  ExpectInstalled(product_, Payload());
  EXPECT_TRUE(LoadedAny(dlls, {L"user32.dll"}));  // so the trace does see windowing code
}

TEST_F(DllLoading, PlantedDllsBesideTheInstallerAreNeverLoaded) {
  // The downloads folder: the installer, the planted DLLs, and the current folder of each run.
  const std::wstring installer = root_ + L"mvm3-setup.exe";
  ASSERT_TRUE(CopyFileW(Installer().c_str(), installer.c_str(), FALSE));
  Plant(root_, {L"mvm3-setup.exe", L"plantable.exe"});

  // The control: a program without the defences, started from the same folder, loads the
  // planted version.dll, so the test can see planting.
  // Both are built for the installer's architecture: a process never loads a DLL of the other.
  const std::wstring control = root_ + L"plantable.exe";
  ASSERT_TRUE(CopyFileW(ConfiguredPath(L"MV_E2E_PLANTABLE").c_str(), control.c_str(), FALSE));
  if (mv::UniqueHandle process = StartProcess(control, L"", root_)) WaitForSingleObject(process.get(), 30000);
  EXPECT_EQ(Markers(root_), std::vector<std::string>{"version.dll"});
  DeleteFileW((root_ + L"version.dll.loaded").c_str());

  Run(installer, L"modest", {});
  ExpectInstalled(product_, Payload());
  EXPECT_EQ(Markers(root_), std::vector<std::string>{}) << "after the modest run";

  // Every windowing DLL and the shell's start of the product.
  DeleteFileW((product_ + L"mvm3.pak").c_str());
  Run(installer, L"", {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDYES)});
  ExpectInstalled(product_, Payload());
  ExpectProductStartedAndShown();
  EXPECT_EQ(Markers(root_), std::vector<std::string>{}) << "after the interactive run";
}

}  // namespace
}  // namespace e2e
