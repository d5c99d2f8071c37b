#pragma once
// What the end-to-end tests need around a real installer run: the robot that reads and answers
// the installer's message boxes, and plain Win32 helpers for files, the registry, processes and
// the stand-in product's log.
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "win/handles_win.h"

namespace e2e {

std::string Utf8(std::wstring_view text);
std::wstring Wide(std::string_view utf8);

// A path handed over by tests/e2e/run through the environment; empty (and the test failed)
// when the variable is missing.
std::wstring ConfiguredPath(const wchar_t* variable);

// True when the driver runs in the Russian user locale (the installer's messages follow it).
bool RussianLocale();

// ---- Message boxes -------------------------------------------------------------------------

// What a message box showed. Texts are UTF-8 so that failures print readably.
struct Box {
  std::string caption;
  std::string text;
  std::string buttons;  // "OK", "YesNo", ...
  bool operator==(const Box&) const = default;
};
void PrintTo(const Box& box, std::ostream* os);

Box OkBox(std::wstring_view caption, std::wstring_view text);
Box YesNoBox(std::wstring_view caption, std::wstring_view text);

// How the robot answers one box. A box that differs from `expected` (or comes after the last
// answer) gets the harmless button instead, No or OK, so a wrong box never leads to a write.
struct Answer {
  Box expected;
  int button = IDOK;              // IDYES, IDNO or IDOK
  bool anyText = false;           // accept any caption and text with the expected buttons
  std::function<void()> whileOpen;  // runs before the button is pressed
};
Answer Press(Box expected, int button, std::function<void()> whileOpen = {});
Answer PressOkOnAnyBox();

struct RunResult {
  DWORD exitCode = STILL_ACTIVE;
  bool timedOut = false;
  bool started = false;
  std::vector<Box> boxes;  // every box in the order it appeared
};

// Runs `exe` with `arguments` in `workDir`, answering its message boxes from `answers`, and
// waits for it to end. After `limit` the installer is killed and the run counts as timed out.
RunResult RunWithRobot(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                       const std::vector<Answer>& answers,
                       std::chrono::milliseconds limit = std::chrono::seconds(30));

// ---- Files ---------------------------------------------------------------------------------

void MakeDirectories(const std::wstring& path);
void RemoveTree(const std::wstring& path);  // retries while files are still held open
bool IsFile(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
std::optional<std::vector<std::uint8_t>> ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, std::string_view data);
// Sum of the sizes of all files below `folder`, counted independently of the installer.
std::uint64_t FolderBytes(const std::wstring& folder);

// ---- Registry (64-bit view) ----------------------------------------------------------------

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};
std::optional<RegValue> ReadValue(HKEY root, const std::wstring& key, const std::wstring& name);
void WriteValue(HKEY root, const std::wstring& key, const std::wstring& name, const RegValue& value);
void WriteString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value);
void WriteDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value);
void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name);
void DeleteKeyTree(HKEY root, const std::wstring& key);
std::optional<DWORD> ReadDword(HKEY root, const std::wstring& key, const std::wstring& name);
std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const std::wstring& name);

// Puts a value back as it was (or deletes it) when the test ends, however it ends.
class RestoreValueLater {
 public:
  RestoreValueLater(HKEY root, std::wstring key, std::wstring name);
  ~RestoreValueLater();
  RestoreValueLater(const RestoreValueLater&) = delete;
  RestoreValueLater& operator=(const RestoreValueLater&) = delete;

 private:
  HKEY root_;
  std::wstring key_, name_;
  std::optional<RegValue> saved_;
};

// ---- Processes -----------------------------------------------------------------------------

// While it lives, the driver's environment, which every process it starts inherits, holds this
// variable; it is put back as it was afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::wstring name, const std::wstring& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> saved_;
};

// All that the driver's standard error has taken so far. Wine gives every process its parent's
// Unix standard error, whatever its standard handles, so the debug channels (WINEDEBUG) of the
// processes started here print there; tests/e2e/run points it at a file.
std::string DriverStderr();

// The process handle, or none (and the test failed) when it could not be started.
mv::UniqueHandle StartProcess(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                              DWORD* pid = nullptr);
int CountProcesses(std::wstring_view imageName);
void KillProcesses(std::wstring_view imageName);

// ---- The stand-in product's log ------------------------------------------------------------

std::vector<std::string> ReadLogLines(const std::wstring& path);
// Log lines are a word, then possibly a blank and a value; lines are matched by that word.
// Waits until the log holds `lines` in this order (other lines may come between).
bool WaitForLogSequence(const std::wstring& path, const std::vector<std::string>& lines,
                        std::chrono::milliseconds limit);
int CountLogLines(const std::wstring& path, std::string_view word);
// The rest of the first line "<key> <value>", or nothing when no line has that key.
std::optional<std::string> LogValue(const std::wstring& path, std::string_view key);

}  // namespace e2e
