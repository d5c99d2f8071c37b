#pragma once
// The run's log, for whoever deploys the installer and reads afterwards why a PC failed: one line
// of plain English a step. Where it goes (a file named on the command line, or nowhere) is the
// Win32 side's; writing it never changes how a run ends.
#include <string_view>

namespace mv {

class RunLog {
 public:
  // `text` is ASCII; `detail` (a path, a message, a number) follows it.
  virtual void Line(std::string_view text, std::wstring_view detail) = 0;

 protected:
  ~RunLog() = default;
};

}  // namespace mv
