// The "ver" command that start-up runs where Windows reports version 6.2 (Wine does for
// "win81" and "win10"): its capture file, "Temp" + eight letters, never outlives the run, and
// the interpreter is the system's, whatever the environment names.
#include "e2e/fixture.h"

#include <algorithm>

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Texts play no part here: the English run covers it.
constexpr const char* kEnglishRunOnly = "locale-independent: covered by the English run";

// An environment variable of the driver (and so of the installers it starts) for one scope;
// nullptr removes it.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t buffer[4096];
    DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    if (n > 0 && n < 4096) old_ = std::wstring(buffer, n);
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

// Names of the files created in a folder while it is watched, the short-lived ones included.
class CreatedFiles {
 public:
  explicit CreatedFiles(const std::wstring& folder)
      : folder_(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
        event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    EXPECT_TRUE(folder_ && event_) << "cannot watch " << Utf8(folder);
    Arm();
  }
  ~CreatedFiles() {
    if (!armed_) return;
    CancelIoEx(folder_.get(), &overlapped_);
    DWORD got = 0;
    GetOverlappedResult(folder_.get(), &overlapped_, &got, TRUE);
  }
  CreatedFiles(const CreatedFiles&) = delete;
  CreatedFiles& operator=(const CreatedFiles&) = delete;

  // Everything reported so far; a change notice may trail the change by a moment.
  std::vector<std::wstring> Collect() {
    while (armed_ && WaitForSingleObject(event_.get(), 500) == WAIT_OBJECT_0) {
      DWORD got = 0;
      armed_ = false;
      if (!GetOverlappedResult(folder_.get(), &overlapped_, &got, FALSE) || got == 0) break;
      for (std::size_t at = 0;;) {
        auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_ + at);
        if (info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_RENAMED_NEW_NAME)
          names_.emplace_back(info->FileName, info->FileNameLength / sizeof(wchar_t));
        if (info->NextEntryOffset == 0) break;
        at += info->NextEntryOffset;
      }
      Arm();
    }
    return names_;
  }

 private:
  void Arm() {
    ResetEvent(event_.get());
    overlapped_ = {};
    overlapped_.hEvent = event_.get();
    armed_ = folder_ && ReadDirectoryChangesW(folder_.get(), buffer_, sizeof buffer_, FALSE,
                                              FILE_NOTIFY_CHANGE_FILE_NAME, nullptr, &overlapped_, nullptr);
  }

  mv::UniqueFile folder_;
  mv::UniqueHandle event_;
  OVERLAPPED overlapped_{};
  alignas(DWORD) BYTE buffer_[65536];
  bool armed_ = false;
  std::vector<std::wstring> names_;
};

bool IsCaptureName(const std::wstring& name) {
  return name.size() == 8 && std::all_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'a' && c <= L'z'; });
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  mv::UniqueFind find(FindFirstFileW((folder + L"*").c_str(), &fd));
  if (!find) return names;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(fd.cFileName);
  } while (FindNextFileW(find.get(), &fd));
  return names;
}

class StartUpProbe : public InstallerTest {
 protected:
  // Wine reads the Windows version to report from here when a process starts.
  void ReportVersion(const wchar_t* version) {
    if (!restoreVersion_) RestoreAfterTest(HKEY_CURRENT_USER, L"Software\\Wine", L"Version");
    restoreVersion_ = true;
    WriteString(HKEY_CURRENT_USER, L"Software\\Wine", L"Version", version);
  }

 private:
  bool restoreVersion_ = false;
};

TEST_F(StartUpProbe, TheCaptureFileIsGoneAfterTheRunWhereverItIsMade) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  const std::wstring temp = root_ + L"temp\\";
  MakeDirectories(temp.substr(0, temp.size() - 1));
  const struct {
    const char* what;
    const wchar_t* version;
    const wchar_t* tempVariable;
    std::wstring folder;  // where the capture file is made
  } cases[] = {
      {"win81, in Temp", L"win81", temp.c_str(), temp},
      // Without "Temp" the bare name lands in the current folder, which is root_ for the run.
      {"win10, no Temp", L"win10", nullptr, root_},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ReportVersion(c.version);
    ScopedVariable tempVariable(L"Temp", c.tempVariable);
    CreatedFiles created(c.folder);

    RunResult r = RunInstaller(L"modest", {});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalled(product_, Payload());
    const auto names = created.Collect();
    EXPECT_EQ(std::count_if(names.begin(), names.end(), IsCaptureName), 1)
        << "\"ver\" ran once, captured in " << Utf8(c.folder) << "; created: " << ::testing::PrintToString(names);
    const auto left = FilesIn(c.folder);
    EXPECT_EQ(std::count_if(left.begin(), left.end(), IsCaptureName), 0) << ::testing::PrintToString(left);
    DeleteFileW((product_ + L"mvm3.pak").c_str());
  }
}

// The installer runs elevated, and "ComSpec" is any user's to set. Once it was run unquoted: a
// value with a blank started "...\Program.exe" where there was one, the value itself started
// whatever it named, with administrator rights, and the installer named there started itself
// over and over. Now the system's own interpreter runs "ver" whatever the variable says.
TEST_F(StartUpProbe, ComSpecChoosesNothingThatRuns) {
  if (RussianLocale()) GTEST_SKIP() << kEnglishRunOnly;
  // never_ends.exe leaves "<its path>.ran" beside itself whenever it is started.
  const std::wstring neverEnds = ConfiguredPath(L"MV_E2E_NEVER_ENDS");
  const std::wstring blankFolder = root_ + L"Program Files";
  MakeDirectories(blankFolder);
  const std::wstring shell = blankFolder + L"\\shell.exe";
  const std::wstring program = root_ + L"Program.exe";
  ASSERT_TRUE(CopyFileW(neverEnds.c_str(), shell.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(neverEnds.c_str(), program.c_str(), FALSE));
  const std::wstring temp = root_ + L"temp\\";
  MakeDirectories(temp.substr(0, temp.size() - 1));
  ReportVersion(L"win10");  // where "ver" runs at all
  ScopedVariable tempVariable(L"Temp", temp.c_str());
  const std::wstring installerName = Installer().substr(Installer().rfind(L'\\') + 1);

  const struct {
    const char* what;
    std::wstring comSpec;
  } cases[] = {{"a program in a folder with a blank", shell}, {"the installer itself", Installer()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedVariable comSpec(L"ComSpec", c.comSpec.c_str());
    CreatedFiles created(temp);
    const auto started = Clock::now();
    RunResult r = RunInstaller(L"modest", {});
    const auto took = Clock::now() - started;
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalled(product_, Payload());
    EXPECT_LT(took, 9s) << "start-up waited for an interpreter that does not end";
    const auto names = created.Collect();
    EXPECT_EQ(std::count_if(names.begin(), names.end(), IsCaptureName), 1) << "\"ver\" ran once";
    EXPECT_FALSE(IsFile(program + L".ran")) << "C:\\...\\Program.exe ran";
    EXPECT_FALSE(IsFile(shell + L".ran")) << "the program ComSpec names ran";
    EXPECT_EQ(CountProcesses(installerName), 0) << "installers left running";

    // Whatever a failed run left behind, for the next case and the next test.
    for (int round = 0; round < 20 && CountProcesses(installerName) > 0; ++round) KillProcesses(installerName);
    KillProcesses(L"Program.exe");
    KillProcesses(L"shell.exe");
    DeleteFileW((program + L".ran").c_str());
    DeleteFileW((shell + L".ran").c_str());
    DeleteFileW((product_ + L"mvm3.pak").c_str());
  }
}

}  // namespace
}  // namespace e2e
