// Starting the product against the real (Wine) system: through the desktop shell, never by the
// installer itself, and the launch's waits bringing it to the front. Wine cannot show
// elevation (every process is an administrator), so what is seen here is whose child the product
// is, in which folder it starts, with what arguments, and that its window comes to the front. The
// product is the stand-in (tests/standin), which reads standin.cfg beside its folder and logs
// what happens to it.
#include "product/launch_win.h"

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "product/product.h"
#include "support/files_win.h"
#include "support/standin_log_win.h"

namespace mv {
namespace {

using namespace std::chrono_literals;
using testing::LogValue;
using testing::TempDir;
using testing::Utf8;
using testing::WaitForLogSequence;

// This test program's image name in lower case, as the stand-in logs its parent.
std::string OwnImageName() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, length);
  name.erase(0, name.find_last_of(L'\\') + 1);
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
  return Utf8(name);
}

class ProductStart : public ::testing::Test {
 protected:
  void SetUp() override {
    // Named beyond the ANSI code page: the path must reach the shell, as a BSTR, as named.
    product_ = root_ / L"Мирвейн 中文\\";
    ASSERT_TRUE(::CreateDirectoryW(product_.c_str(), nullptr));
    const std::wstring standin = testing::AnsiWide(MV_TEST_BUILD_DIR "/Mirvane.exe");
    ASSERT_TRUE(::CopyFileW(standin.c_str(), (product_ + product::kExecutable.data()).c_str(), FALSE)) << Utf8(standin);
    log_ = root_ / L"standin.log";
    testing::WriteBytes(root_ / L"standin.cfg", "log=" + Utf8(log_) + "\r\nlifetime_ms=20000\r\nwindow_visible=0\r\n");
  }

  void TearDown() override { EndStartedCopies(); }

  // Ends every copy that logged its start, so that no test leaves one running or holding its
  // folder.
  void EndStartedCopies() {
    for (const std::string& line : testing::ReadLogLines(log_)) {
      unsigned long pid = 0;
      if (std::sscanf(line.c_str(), "start %lu", &pid) != 1) continue;
      const UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
      if (!process) continue;
      ::TerminateProcess(process.get(), 0);
      ::WaitForSingleObject(process.get(), 5000);
    }
  }

  // Starts the stand-in from the product folder as this test's child, as a user would.
  void StartStandin() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + product_ + product::kExecutable.data() + L"\"";
    ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, product_.c_str(),
                                 &startup, &process));
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }

  // The stand-in started once, in the product folder, without arguments, by `parent`.
  void ExpectStartedBy(const std::string& parent) {
    ASSERT_TRUE(WaitForLogSequence(log_, {"start", "cwd", "parent", "args"}, 10s))
        << ::testing::PrintToString(testing::ReadLogLines(log_));
    EXPECT_EQ(testing::CountLogLines(log_, "start"), 1);
    EXPECT_EQ(LogValue(log_, "parent"), std::optional<std::string>(parent));
    std::string folder = Utf8(product_);
    folder.pop_back();
    std::optional<std::string> cwd = LogValue(log_, "cwd");
    if (cwd && cwd->size() > 3 && cwd->back() == '\\') cwd->pop_back();
    EXPECT_EQ(cwd, std::optional<std::string>(folder));
    EXPECT_EQ(LogValue(log_, "args"), std::optional<std::string>(""));
  }

  // The hidden window shown and activated, and in front of every other.
  void ExpectBroughtToTheFront() {
    EXPECT_TRUE(WaitForLogSequence(log_, {"mapping", "window", "shown", "activated"}, 3s))
        << ::testing::PrintToString(testing::ReadLogLines(log_));
    const HWND window = ::FindWindowA(product::kMainWindowClass, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_EQ(::GetForegroundWindow(), window);
  }

  TempDir root_;
  std::wstring product_;
  std::wstring log_;
};

// The elevation of the installer stays behind: the shell's process starts the product.
TEST_F(ProductStart, TheShellStartsTheProductAsItsOwnChildInTheProductFolder) {
  ASSERT_EQ(StartProductThroughShellInTime(product_), ShellStart::Started);
  ExpectStartedBy("explorer.exe");
}

// With a shell running, the launch goes through it and never starts a second copy itself.
TEST_F(ProductStart, TheLaunchTakesTheShellWhenOneRuns) {
  LaunchProduct(product_);
  ExpectStartedBy("explorer.exe");
  ExpectBroughtToTheFront();
}

// Whoever started it (here this test, as a user would), a product that comes up is brought to
// the front.
TEST_F(ProductStart, AStartedProductIsBroughtToTheFront) {
  StartStandin();
  BringStartedProductToFront();
  ExpectStartedBy(OwnImageName());
  ExpectBroughtToTheFront();
}

// A product the shell cannot start is a refusal (Wine's shell says S_FALSE), not a missing shell:
// the installer does not start it itself.
TEST_F(ProductStart, AProductTheShellCannotStartIsRefused) {
  const struct {
    const char* what;
    const char* content;  // of Mirvane.exe; none: no such file
  } cases[] = {{"no executable", nullptr}, {"not a program", "MZ this is no program\r\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring exe = product_ + product::kExecutable.data();
    ::DeleteFileW(exe.c_str());
    if (c.content) testing::WriteBytes(exe, c.content);
    EXPECT_EQ(StartProductThroughShellInTime(product_), ShellStart::Refused);
  }
  EXPECT_FALSE(testing::IsFile(log_)) << "something started";
}

// A shell that does not answer (here: every thread of explorer.exe suspended) holds the start up
// no longer than the bound, and may still start the product once it answers: so the installer
// starts no copy of its own.
TEST_F(ProductStart, AShellThatDoesNotAnswerIsNotWaitedForWithoutBound) {
  std::vector<UniqueHandle> suspended;
  {
    const UniqueSnapshot processes(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W process{};
    process.dwSize = sizeof process;
    DWORD explorer = 0;
    for (BOOL more = ::Process32FirstW(processes.get(), &process); more && !explorer;
         more = ::Process32NextW(processes.get(), &process))
      if (::lstrcmpiW(process.szExeFile, L"explorer.exe") == 0) explorer = process.th32ProcessID;
    ASSERT_NE(explorer, 0u) << "no desktop shell runs";
    const UniqueSnapshot threads(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 thread{};
    thread.dwSize = sizeof thread;
    for (BOOL more = ::Thread32First(threads.get(), &thread); more; more = ::Thread32Next(threads.get(), &thread)) {
      if (thread.th32OwnerProcessID != explorer) continue;
      UniqueHandle handle(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread.th32ThreadID));
      if (handle && ::SuspendThread(handle.get()) != static_cast<DWORD>(-1)) suspended.push_back(std::move(handle));
    }
  }
  ASSERT_FALSE(suspended.empty());
  const ShellStart answer = StartProductThroughShellInTime(product_, 2000);
  for (const UniqueHandle& thread : suspended) ::ResumeThread(thread.get());
  EXPECT_EQ(answer, ShellStart::NoAnswer);
  ASSERT_TRUE(WaitForLogSequence(log_, {"start", "parent"}, 20s)) << "the shell never started it";
  EXPECT_EQ(LogValue(log_, "parent"), std::optional<std::string>("explorer.exe"));
}

// A product drops its mapping before it has closed its files: the wait after the quit request
// is for its process.
TEST_F(ProductStart, TheWaitForAProductAskedToQuitEndsWithItsProcess) {
  testing::WriteBytes(root_ / L"standin.cfg",
                      "log=" + Utf8(log_) + "\r\nquit_delay_ms=1500\r\nrelease_mapping_at_quit=1\r\n");
  StartStandin();
  ASSERT_TRUE(WaitForLogSequence(log_, {"start", "mapping", "window"}, 10s));
  UniqueHandle process;
  ASSERT_TRUE(AskProductToQuit(process));
  ASSERT_TRUE(process);
  WaitForProductToEnd(process, kQuitWaitMs);
  EXPECT_TRUE(WaitForLogSequence(log_, {"quit", "exit"}, 0s)) << ::testing::PrintToString(testing::ReadLogLines(log_));
  EXPECT_EQ(::WaitForSingleObject(process.get(), 0), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace mv
