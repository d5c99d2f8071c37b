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
  // An empty path, or a file that cannot be opened or is not the plain file of that path, keeps
  // no log: the run goes on as it would.
  explicit FileRunLog(const std::wstring& path);
  void Line(std::string_view text, std::wstring_view detail) override;

 private:
  UniqueFile file_;
};

// The elevated run's log file at `path`, opened to append, or nothing. The path often lies where
// anyone may make folders and files (C:\ProgramData, C:\Windows\Temp), so only a plain disk file
// of exactly that path is written: no link on the way is followed into a place of someone else's
// choosing (a junction or mount point in a folder above it, a symbolic or hard link in its
// place), nothing but a disk file is written (a pipe's server could take the run's identity, a
// device could hold it), and a file the run creates may be written by administrators and SYSTEM
// only. A file created in the wrong place is removed again: a failed check changes nothing.
UniqueFile OpenLogFile(const std::wstring& path);

}  // namespace mv
