#pragma once
// What writing the payload found on its way, as data. The writer talks to nobody: the run tells
// the user, asks before an older payload replaces a newer copy, drives the progress window and
// logs, from what the writer returns.
#include <string>

namespace mv {

// What a write does with a data file that stays in use: fails, or, where nobody is at the PC to
// close the program that holds it, leaves the complete new data for the next restart.
enum class InUsePolicy { Fail, ReplaceAtRestart };

// One version the comparison read: the payload's, the installed copy's, or that of the
// replacement an earlier quiet run left for the next restart (which is what the folder holds
// after it).
struct ComparedVersion {
  bool Compared = false;      // the file was there and its version was read, or tried
  bool Known = false;         // its version could be read (Text holds it)
  bool CannotHandle = false;  // a language file that cannot be read or has no integer version line
  std::wstring Text;
};

// The payload, complete and flushed under its temporary name beside the destination, and what
// comparing it with the copies there found. Not Ready: nothing was written (Error tells why), or
// what was written is gone again.
struct StagedPayload {
  std::wstring Destination;
  std::wstring Temp;
  bool Ready = false;
  unsigned long Error = 0;
  bool Replaces = false;  // an installed copy is there, and the new data takes its place
  // The comparison, where the kind has versions and a copy is there: the payload's version is
  // read first.
  ComparedVersion Payload;
  ComparedVersion Installed;
  ComparedVersion Waiting;
  bool PayloadIsOlder = false;
  std::wstring NewerText;  // the version the question names: the first held copy that is newer
  // A version could not be read: it counted as 0, or as no version string, as it always has;
  // ReadError says why.
  bool VersionUnknown = false;
  unsigned long ReadError = 0;
};

}  // namespace mv
