#pragma once
// The run's log, for whoever deploys the installer and reads afterwards why a PC failed: one line
// of plain English a step. Where it goes (a file named on the command line, or nowhere) is the
// Win32 side's; writing it never changes how a run ends.
#include <string>
#include <string_view>

namespace mv {

class RunLog {
 public:
  // `text` is ASCII; `detail` (a path, a message, a number) follows it.
  virtual void Line(std::string_view text, std::wstring_view detail) = 0;

 protected:
  ~RunLog() = default;
};

// A step's line as the log holds it, before its time stamp: `text`, then `detail`, with every
// control character (C0, DEL, C1) and Unicode line or paragraph separator made a blank. A message
// of several lines stays on its step's one line, and a path or a name that someone else chose
// can neither start a line that reads like another step's nor send escape sequences to the
// terminal that shows the log.
std::wstring LogLineText(std::string_view text, std::wstring_view detail);

}  // namespace mv
