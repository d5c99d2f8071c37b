// The DLL search restriction as it is taken on a Windows without SetDefaultDllDirectories (Vista,
// 7 without its update), forced here on any system: DLLs that system code loads by bare name
// must not come from the program's own folder, where a downloads folder may hold planted ones.
#include "win/system_library_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files_win.h"
#include "support/registry_win.h"

namespace mv {
namespace {

using testing::AnsiWide;
using testing::TempDir;

// Loaded by bare name by themed message boxes, the shell and the version functions.
const char* const kIndirectDlls[] = {"uxtheme.dll",  "dwmapi.dll",  "userenv.dll",
                                     "setupapi.dll", "version.dll", "cryptbase.dll"};
// Imported by setupapi (and oleacc), and loaded by nothing before it.
const char kDependency[] = "rpcrt4.dll";
const wchar_t kOverrides[] = L"Software\\Wine\\AppDefaults\\older_windows.exe\\DllOverrides";

class OlderWindowsDllSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::CopyFileA(MV_TEST_BUILD_DIR "/older_windows.exe", (folder / "older_windows.exe").c_str(), FALSE));
    const std::string system = SystemFolder();
    for (const char* name : kIndirectDlls) {
      // A name this Windows lacks is asked for by nothing on it.
      if (testing::Exists(system + "\\" + name)) indirect.push_back(name);
    }
    planted = indirect;
    planted.push_back(kDependency);
    for (const std::string& name : planted) {
      ASSERT_TRUE(::CopyFileA(MV_TEST_BUILD_DIR "/planted.dll", (folder / name).c_str(), FALSE));
      // Wine prefers its own DLLs to a file beside the program unless told otherwise; Windows
      // takes the file.
      const std::string base = name.substr(0, name.size() - 4);
      testing::WriteString(HKEY_CURRENT_USER, kOverrides, AnsiWide(base), L"native,builtin");
    }
  }
  void TearDown() override {
    testing::DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\older_windows.exe");
  }

  // Runs the program from its folder, loading `names`; returns the planted DLLs that left their
  // marker.
  std::vector<std::string> Run(const std::string& mode, const std::vector<std::string>& names) {
    std::string commandLine = "\"" + (folder / "older_windows.exe") + "\" " + mode;
    for (const std::string& name : names) commandLine += " " + name;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 folder.path().c_str(), &startup, &info));
    const UniqueHandle process(info.hProcess), thread(info.hThread);
    EXPECT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    std::vector<std::string> marked;
    for (const std::string& name : planted) {
      if (testing::Exists(folder / (name + ".loaded"))) marked.push_back(name);
      ::DeleteFileA((folder / (name + ".loaded")).c_str());
    }
    return marked;
  }

  TempDir folder;
  std::vector<std::string> indirect;
  std::vector<std::string> planted;  // the indirect ones and the dependency
};

// Neither the DLLs loaded by bare name nor what they import come from the program's folder.
TEST_F(OlderWindowsDllSearch, DllsLoadedByBareNameAndTheirDependenciesComeFromTheSystemFolder) {
  ASSERT_GE(indirect.size(), 5u) << "this system lacks most of the DLLs the test plants";
  // The controls, so that the test sees planting at all: with SetDllDirectory("") alone, every
  // planted DLL loaded by bare name is taken; a load by full path alone takes what it imports.
  EXPECT_EQ(Run("control", indirect), indirect);
  EXPECT_EQ(Run("fullpath", {"setupapi.dll"}), std::vector<std::string>{kDependency});
  EXPECT_EQ(Run("restricted", indirect), std::vector<std::string>{});
}

}  // namespace
}  // namespace mv
