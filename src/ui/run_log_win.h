#pragma once
// The run's log in the file named after "/log": appended to in UTF-8, one line a step, each with
// its time and the process that wrote it, so that two runs writing to one file can be told apart.
#include <string>
#include <string_view>

#include "ui/run_log.h"
#include "win/handles_win.h"

namespace mv {

class FileRunLog final : public RunLog {
 public:
  // An empty path, or a file that cannot be opened, keeps no log: the run goes on as it would.
  explicit FileRunLog(const std::wstring& path);
  void Line(std::string_view text, std::wstring_view detail) override;

 private:
  UniqueFile file_;
};

}  // namespace mv
