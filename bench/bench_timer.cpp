// Times whole program runs under Windows, the programs taking turns within each round so that
// a slow moment of a shared machine hits every program of that round alike.
//
//   bench_timer.exe ROUNDS PAYLOAD DATAFILE UNINSTALLKEY LABEL|MODE|COMMANDLINE...
//
// MODE says what a run must find and leave behind, so that a program that silently skipped
// its work cannot look fast:
//   start    nothing (the process-start floor)
//   copy     DATAFILE is removed before the run and holds PAYLOAD's size after it
//   install  as copy, and "EstimatedSize" in HKLM\UNINSTALLKEY is removed before and written
//   replace  DATAFILE is already there (left by the round's earlier runs) and "EstimatedSize"
//            is written again
//   recopy   DATAFILE is already there, and holds PAYLOAD's size after the run: a floor that
//            replaces the installed copy, as a replacement does
// One round runs first untimed, to fill the file cache. Then one line per run goes to stdout:
// LABEL <tab> ROUND <tab> MILLISECONDS. Any failed check ends the program with exit code 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win/handles_win.h"

namespace {

enum class Mode { Start, Copy, Install, Replace, Recopy };

struct Program {
  std::string label;
  Mode mode = Mode::Start;
  std::string commandLine;
};

struct Setup {
  int rounds = 0;
  ULONGLONG payloadSize = 0;
  std::string dataFile;
  std::string uninstallKey;
  std::vector<Program> programs;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench_timer: %s\n", what.c_str());
  std::exit(1);
}

bool ParseMode(const std::string& text, Mode& mode) {
  if (text == "start")
    mode = Mode::Start;
  else if (text == "copy")
    mode = Mode::Copy;
  else if (text == "install")
    mode = Mode::Install;
  else if (text == "replace")
    mode = Mode::Replace;
  else if (text == "recopy")
    mode = Mode::Recopy;
  else
    return false;
  return true;
}

// Size of a file, or -1 when it is not there.
long long FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return static_cast<long long>((ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

// The uninstall entry is read by every installer in its 64-bit view; the bench does the same.
mv::UniqueKey OpenEntry(const std::string& key) {
  mv::UniqueKey opened;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                      opened.put()) != ERROR_SUCCESS)
    Fail("cannot open HKLM\\" + key);
  return opened;
}

void RemoveEstimatedSize(const std::string& key) {
  const LSTATUS status = ::RegDeleteValueA(OpenEntry(key).get(), "EstimatedSize");
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) Fail("cannot remove EstimatedSize");
}

bool HasEstimatedSize(const std::string& key) {
  DWORD type = 0, value = 0, size = sizeof value;
  return ::RegQueryValueExA(OpenEntry(key).get(), "EstimatedSize", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                            &size) == ERROR_SUCCESS &&
         type == REG_DWORD;
}

// Whether the program needs the copy that the round's earlier runs left in place.
bool Replaces(const Program& program) { return program.mode == Mode::Replace || program.mode == Mode::Recopy; }

void Prepare(const Setup& setup, const Program& program) {
  if (program.mode == Mode::Copy || program.mode == Mode::Install) {
    if (!::DeleteFileA(setup.dataFile.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
      Fail("cannot remove " + setup.dataFile + " before " + program.label);
  }
  if (Replaces(program) && FileSize(setup.dataFile) != static_cast<long long>(setup.payloadSize))
    Fail(program.label + " needs a copy of the payload in place, and there is none");
  if (program.mode == Mode::Install || program.mode == Mode::Replace) RemoveEstimatedSize(setup.uninstallKey);
}

void Check(const Setup& setup, const Program& program) {
  if (program.mode == Mode::Start) return;
  if (FileSize(setup.dataFile) != static_cast<long long>(setup.payloadSize))
    Fail(program.label + " did not leave the payload in " + setup.dataFile);
  if (program.mode != Mode::Copy && program.mode != Mode::Recopy && !HasEstimatedSize(setup.uninstallKey))
    Fail(program.label + " did not write EstimatedSize");
}

double RunOnce(const Program& program) {
  std::string commandLine = program.commandLine;  // CreateProcessA may write into it
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  LARGE_INTEGER frequency, begin, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&begin);
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    Fail("cannot start " + program.label + " (error " + std::to_string(::GetLastError()) + ")");
  const mv::UniqueHandle process(info.hProcess);
  const mv::UniqueHandle thread(info.hThread);
  ::WaitForSingleObject(process.get(), INFINITE);
  ::QueryPerformanceCounter(&end);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.get(), &exitCode);
  if (exitCode != 0) Fail(program.label + " ended with exit code " + std::to_string(exitCode));
  return static_cast<double>(end.QuadPart - begin.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The order turns by one program each round, so that no program always runs right after the
// same neighbour (whose file writes may still be settling). Replacements come last, turning
// among themselves: they need the copy that the round's earlier runs left in place.
std::vector<const Program*> RoundOrder(const Setup& setup, int round) {
  std::vector<const Program*> first, last;
  for (const Program& program : setup.programs) (Replaces(program) ? last : first).push_back(&program);
  std::vector<const Program*> order;
  for (const auto* group : {&first, &last}) {
    for (std::size_t i = 0; i < group->size(); ++i) order.push_back((*group)[(i + round) % group->size()]);
  }
  return order;
}

Setup ParseArguments(int argc, char** argv) {
  if (argc < 6) Fail("usage: bench_timer.exe ROUNDS PAYLOAD DATAFILE UNINSTALLKEY LABEL|MODE|COMMANDLINE...");
  Setup setup;
  setup.rounds = std::atoi(argv[1]);
  if (setup.rounds < 1) Fail("ROUNDS must be a positive number");
  const long long payloadSize = FileSize(argv[2]);
  if (payloadSize <= 0) Fail(std::string("no payload at ") + argv[2]);
  setup.payloadSize = static_cast<ULONGLONG>(payloadSize);
  setup.dataFile = argv[3];
  setup.uninstallKey = argv[4];
  bool needsCopy = false, makesCopy = false;
  for (int i = 5; i < argc; ++i) {
    const std::string given = argv[i];
    const auto first = given.find('|');
    const auto second = first == std::string::npos ? first : given.find('|', first + 1);
    Program program;
    if (second == std::string::npos || !ParseMode(given.substr(first + 1, second - first - 1), program.mode))
      Fail("bad program: " + given);
    program.label = given.substr(0, first);
    program.commandLine = given.substr(second + 1);
    needsCopy |= Replaces(program);
    makesCopy |= program.mode == Mode::Copy || program.mode == Mode::Install;
    setup.programs.push_back(std::move(program));
  }
  if (needsCopy && !makesCopy) Fail("a replacement needs a program that writes the data file first");
  return setup;
}

}  // namespace

int main(int argc, char** argv) {
  const Setup setup = ParseArguments(argc, argv);
  for (int round = 0; round <= setup.rounds; ++round) {
    for (const Program* program : RoundOrder(setup, round)) {
      Prepare(setup, *program);
      const double ms = RunOnce(*program);
      Check(setup, *program);
      if (round > 0) std::printf("%s\t%d\t%.3f\n", program->label.c_str(), round, ms);
    }
  }
  return 0;
}
