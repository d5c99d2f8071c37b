#pragma once
// Replacing an installed data file without ever losing it, as a rule without any Windows call:
// the new data goes to a temporary file beside the installed copy first.
#include <cstddef>
#include <string>
#include <string_view>

namespace mv {

// Where the file name of `path` starts: after the last backslash before its final character.
std::size_t FileNameStart(std::wstring_view path);

// The temporary file beside `path`: its file name with "~" in front.
std::wstring MakeTempName(std::wstring_view path);

// Where a complete temporary file waits when a quiet run finds the data file still in use:
// Windows moves it over the data file at the next restart. Only a complete file ever takes this
// name, so that a temporary file a later run leaves half written is never what the restart
// installs.
std::wstring MakeRestartName(std::wstring_view path);

// How writing the data file ended.
enum class WriteResult {
  Written,
  KeptNewer,  // the installed copy is newer, and the question before replacing it got a No
  AtRestart,  // in use in a quiet run: replaced at the next restart
  Failed,     // reported with "Can't install file ..."
};

// What opening the destination for deletion found, after a rename over it was refused.
enum class DeleteProbe { Opened, SharingViolation, Refused };

// Whether a destination that the rename could not replace counts as in use, so that a
// quiet run may leave the replacement for the next restart: someone holds it open without
// letting it be deleted, or it is mapped into a process (it opens for deletion, yet the rename
// was refused with "access denied", which is how NTFS refuses to replace a mapped file). A file
// the run may not replace for good (read-only, its rights) stays a failure: the restart would
// not replace it either.
bool CountsAsInUse(DeleteProbe probe, bool renameAccessDenied, bool readOnly);

// What a run does once it is certain to write: after the new data is complete under the
// temporary name and any question about it was answered Yes, just before it takes the data
// file's name (a running product that holds the data file is closed then, and only then).
class BeforeCommit {
 public:
  virtual void Run() = 0;

 protected:
  ~BeforeCommit() = default;
};

}  // namespace mv
