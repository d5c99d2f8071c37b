// The console command against the real (Wine) system: the system's interpreter whatever
// "ComSpec" says, the capture file, and the time limit with everything the interpreter started.
#include "startup/console_command_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "startup/console_command.h"
#include "support/environment_win.h"
#include "support/files_win.h"
#include "win/handles_win.h"

namespace mv {
namespace {

using testing::AnsiWide;
using testing::ScopedEnvironment;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

bool FolderIsEmpty(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  UniqueFind find(::FindFirstFileA((folder + "\\*").c_str(), &entry));
  if (!find) return true;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") return false;
  } while (::FindNextFileA(find.get(), &entry));
  return true;
}

// How many of the processes whose ids never_ends.exe wrote ("pids <interpreter> <child>") are
// still there a moment after they should have been ended. Each is ended here: a failing test
// must leave nothing running, least of all a process that holds the test runner's output open.
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

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class ConsoleCommandTest : public ::testing::Test {
 protected:
  // never_ends.exe (tests/win/tools) in a folder of its own, away from the capture files.
  std::string NeverEnds() {
    const std::string copy = programs / "never_ends.exe";
    EXPECT_TRUE(::CopyFileA(MV_TEST_BUILD_DIR "/never_ends.exe", copy.c_str(), FALSE));
    return copy;
  }

  TempDir temp;
  TempDir programs;
  ScopedEnvironment tempVariable{L"Temp", AnsiWide(temp.path())};
  Lcg random{0x5EED};
};

TEST_F(ConsoleCommandTest, CapturesThroughAFileNamedByTheGeneratorAndRemovesIt) {
  Lcg next = random;
  const std::string capture = CaptureFileName(temp.path(), next);
  // The listing of the Temp folder, made while the capture file exists, shows its name.
  const std::string listing = RunConsoleCommand("dir /b \"" + temp.path() + "\"", random);
  EXPECT_EQ(listing, capture.substr(capture.rfind('\\') + 1) + "\r\n");
  EXPECT_EQ(random.Seed(), next.Seed()) << "eight draws, no more";
  EXPECT_FALSE(testing::Exists(capture));

  const std::string ver = RunConsoleCommand("ver", random);
  EXPECT_NE(ver.find("Microsoft Windows"), std::string::npos) << ver;
  EXPECT_EQ(ver.substr(ver.size() - 2), "\r\n");
  EXPECT_TRUE(FolderIsEmpty(temp.path()));
}

// The installer runs elevated; "ComSpec" is the user's to set, and it must not choose what runs.
TEST_F(ConsoleCommandTest, ComSpecPlaysNoPart) {
  const std::string neverEnds = NeverEnds();
  const struct {
    const char* what;
    std::optional<std::wstring> value;
  } cases[] = {{"removed", std::nullopt},
               {"too long", AnsiWide("C:\\" + std::string(300, 'x') + ".exe")},
               {"a program that never ends", AnsiWide(neverEnds)}};
  for (const auto& c : cases) {
    ScopedEnvironment comSpec(L"ComSpec", c.value ? c.value->c_str() : nullptr);
    const auto start = Clock::now();
    const std::string ver = RunConsoleCommand("ver", random);
    EXPECT_NE(ver.find("Microsoft Windows"), std::string::npos) << c.what << ": " << ver;
    EXPECT_LT(SecondsSince(start), 5.0) << c.what;
    EXPECT_EQ(StillRunning(ver), 0) << c.what;
  }
  EXPECT_FALSE(testing::Exists(neverEnds + ".ran"));
  EXPECT_TRUE(FolderIsEmpty(temp.path()));
}

TEST_F(ConsoleCommandTest, AnInterpreterThatCannotStartGivesAnEmptyLine) {
  EXPECT_EQ(RunConsoleCommandWith(programs / "no-such-interpreter.exe", "ver", random), "\r\n");
  EXPECT_TRUE(FolderIsEmpty(temp.path()));
}

TEST_F(ConsoleCommandTest, AnInterpreterThatNeverEndsIsEndedWithItsChildAfterTenSeconds) {
  // It keeps the capture file open without delete sharing, and its child never ends either.
  const auto start = Clock::now();
  const std::string output = RunConsoleCommandWith(NeverEnds(), "ver", random);
  const double seconds = SecondsSince(start);
  EXPECT_EQ(output.rfind("written before the hang\r\n", 0), 0u) << output;
  EXPECT_GT(seconds, 9.0) << "it ran until the time limit";
  EXPECT_LT(seconds, 13.0);
  ASSERT_NE(output.find("pids "), std::string::npos) << "the interpreter started no child: " << output;
  EXPECT_EQ(StillRunning(output), 0) << "the interpreter or its child outlived the time limit";
  EXPECT_TRUE(FolderIsEmpty(temp.path())) << "the capture file outlived the interpreter";
}

TEST_F(ConsoleCommandTest, AChildLeftBehindByAnInterpreterThatEndedIsEnded) {
  const auto start = Clock::now();
  const std::string output = RunConsoleCommandWith(NeverEnds(), "exit", random);
  EXPECT_LT(SecondsSince(start), 5.0) << "the interpreter ended by itself";
  ASSERT_NE(output.find("pids "), std::string::npos) << "the interpreter started no child: " << output;
  EXPECT_EQ(StillRunning(output), 0) << "a child of the command outlived it";
  EXPECT_TRUE(FolderIsEmpty(temp.path()));
}

}  // namespace
}  // namespace mv
