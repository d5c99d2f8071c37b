// What the installer loads, seen through Wine's report of every DLL a process maps
// (WINEDEBUG=+loaddll, on the driver's standard error): a run that shows nothing maps no windowing code,
// every DLL comes from the Windows folder, and DLLs planted beside the installer under the
// names of the DLLs it loads are never loaded.
#include <cwchar>
#include <cwctype>

#include "e2e/fixture.h"

namespace e2e {
namespace {

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  return Lower(std::wstring(folder, length)) + L"\\";
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
