#pragma once
// The robot that reads and answers the installer's message boxes during a run.
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

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
  int button = IDOK;                // IDYES, IDNO or IDOK
  bool anyText = false;             // accept any caption and text with the expected buttons
  std::function<void()> whileOpen;  // runs before the button is pressed
};
Answer Press(Box expected, int button, std::function<void()> whileOpen = {});
Answer PressOkOnAnyBox();

struct RunResult {
  DWORD exitCode = STILL_ACTIVE;
  bool timedOut = false;
  bool started = false;
  std::vector<Box> boxes;  // every box in the order it appeared
  // The class of every top-level window of the installer's process seen while it ran (looked for
  // every 15 ms), visible or not.
  std::vector<std::string> windows;
};

// Runs `exe` with `arguments` in `workDir`, answering its message boxes from `answers`, and
// waits for it to end. After `limit` the installer is killed and the run counts as timed out.
RunResult RunWithRobot(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                       const std::vector<Answer>& answers, std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace e2e
