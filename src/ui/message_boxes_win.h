#pragma once
// The installer's message boxes. Texts are UTF-16 so that Russian reads right on every system,
// whatever its ANSI code page. They have no owner: the installer has no window of its own.
#include <string_view>

#include "base/run_mode.h"
#include "ui/run_log.h"

namespace mv {

// An error box under the update title of the chosen language.
void ShowErrorBox(std::wstring_view text, bool russian);

// A notice under the update title of the chosen language: the same box with a warning sign.
void ShowNoticeBox(std::wstring_view text, bool russian);

// A Yes/No question; true only for Yes. Russian questions carry the Russian language id.
bool AskQuestionBox(std::wstring_view text, std::wstring_view caption, bool russian);

// Where an error that no step handles is reported, set once when the run begins: its log, and
// a box unless the run is quiet. A structured exception that nothing handles, on any thread, is
// reported there too.
void ReportUnhandledErrorsTo(RunLog* log, RunMode mode);

// The end of the process after an error that no step handles: a box with `what` (ANSI text from
// the system or the runtime) under the English update title, and a line in the log, then exit
// code 1.
[[noreturn]] void EndWithUnhandledError(std::string_view what);

}  // namespace mv
