// The console command against the real (Wine) system: the system's interpreter whatever
// "ComSpec" says, its output through a pipe with nothing left anywhere, and the time limit with
// everything the interpreter started.
#include "startup/console_command_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "support/created_files_win.h"
#include "support/environment_win.h"
#include "support/files_win.h"
#include "win/handles_win.h"

namespace mv {
namespace {

using testing::AnsiWide;
using testing::CreatedFiles;
using testing::ScopedEnvironment;
using testing::TempDir;

// How many of the processes whose ids the stand-in interpreter printed ("pids <interpreter>
// <child>") are still there a moment after they should have been ended. Each is ended here: a
// failing test must leave nothing running, least of all a process that holds the test runner's
// output open.
int StillRunning(const std::string& output) {
  int running = 0;
  for (std::size_t at = output.find("pids "); at != std::string::npos; at = output.find("pids ", at + 1)) {
    unsigned long pids[2] = {};
    if (std::sscanf(output.c_str() + at, "pids %lu %lu", &pids[0], &pids[1]) != 2) continue;
    for (const unsigned long pid : pids) {
      const UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
      if (!process || ::WaitForSingleObject(process.get(), 2000) != WAIT_TIMEOUT) continue;
      ++running;
      ::TerminateProcess(process.get(), 1);
    }
  }
  return running;
}

class ConsoleCommandTest : public ::testing::Test {
 protected:
  // The stand-in interpreter (tests/win/tools) in a folder of its own.
  std::string Interpreter() {
    const std::string copy = programs / "interpreter.exe";
    EXPECT_TRUE(::CopyFileA(MV_TEST_BUILD_DIR "/interpreter.exe", copy.c_str(), FALSE));
    return copy;
  }

  TempDir temp;
  TempDir programs;
  ScopedEnvironment tempVariable{L"Temp", AnsiWide(temp.path())};
};

// "Temp" and the current folder are the user's: nothing goes there, not even for a moment.
TEST_F(ConsoleCommandTest, OutputComesThroughAPipeAndNothingIsWrittenAnywhere) {
  TempDir current;
  wchar_t previous[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(current.path().c_str()));
  CreatedFiles inTemp(temp.wide());
  CreatedFiles inCurrent(current.wide());
  const std::string ver = RunConsoleCommand("ver");
  ::SetCurrentDirectoryW(previous);
  EXPECT_NE(ver.find("Microsoft Windows"), std::string::npos) << ver;
  EXPECT_EQ(ver.substr(ver.size() - 2), "\r\n");
  EXPECT_TRUE(inTemp.Collect().empty());
  EXPECT_TRUE(inCurrent.Collect().empty());
  // More than a pipe holds at once is read while the command runs.
  const std::string big = programs / "big.txt";
  testing::WriteFile(big, std::vector<std::uint8_t>(40000, 'x'));
  EXPECT_GT(RunConsoleCommand("type \"" + big + "\"").size(), 40000u);
}

// The installer runs elevated; "ComSpec" is the user's to set, and it must not choose what runs.
TEST_F(ConsoleCommandTest, ComSpecPlaysNoPart) {
  const std::string interpreter = Interpreter();
  const struct {
    const char* what;
    std::optional<std::wstring> value;
  } cases[] = {{"removed", std::nullopt},
               {"too long", AnsiWide("C:\\" + std::string(300, 'x') + ".exe")},
               {"a program that never ends", AnsiWide(interpreter)}};
  for (const auto& c : cases) {
    ScopedEnvironment comSpec(L"ComSpec", c.value ? c.value->c_str() : nullptr);
    const std::string ver = RunConsoleCommand("ver");
    EXPECT_NE(ver.find("Microsoft Windows"), std::string::npos) << c.what << ": " << ver;
    EXPECT_EQ(StillRunning(ver), 0) << c.what;
  }
  EXPECT_FALSE(testing::Exists(interpreter + ".ran"));
}

// The interpreter inherits its pipe and nothing else: not the inheritable handles that whoever
// started the installer (a deployment agent) gave it.
TEST_F(ConsoleCommandTest, TheInterpreterInheritsOnlyItsPipe) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const UniqueHandle event(::CreateEventW(&inheritable, TRUE, TRUE, nullptr));
  ASSERT_TRUE(event);
  const std::wstring value = std::to_wstring(reinterpret_cast<ULONG_PTR>(event.get()));
  ScopedEnvironment handle(L"MV_TEST_HANDLE", value.c_str());
  EXPECT_EQ(RunConsoleCommandWith(Interpreter(), "handle"), "not inherited\r\n");
}

TEST_F(ConsoleCommandTest, AnInterpreterThatCannotStartGivesAnEmptyLine) {
  EXPECT_EQ(RunConsoleCommandWith(programs / "no-such-interpreter.exe", "ver"), "\r\n");
}

// What it printed before the hang is read; it and its child are ended at the time limit, and so
// is a child left behind by an interpreter that ended by itself.
TEST_F(ConsoleCommandTest, NothingTheCommandStartedOutlivesIt) {
  const std::string interpreter = Interpreter();
  for (const char* command : {"hang", "exit"}) {
    SCOPED_TRACE(command);
    const std::string output = RunConsoleCommandWith(interpreter, command);
    ASSERT_NE(output.find("pids "), std::string::npos) << "the interpreter started no child: " << output;
    EXPECT_EQ(output.find("written before the hang\r\n") == 0, std::string(command) == "hang") << output;
    EXPECT_EQ(StillRunning(output), 0) << "the interpreter or its child outlived the command";
  }
}

}  // namespace
}  // namespace mv
