#pragma once
// A small topmost window with one status line over a progress bar, scaled by the DPI of its
// monitor and owned by a thread of its own. There is one per process, and the main thread only
// calls these four operations. The first ShowProgress starts the window thread without waiting
// for it; once the window exists, each change is sent to it and returns when the window thread
// has handled it.
#include <string_view>

namespace mv {

// Shows the window with this caption and status text, creating it (and its thread) on first
// use. False when the window thread cannot be started.
bool ShowProgress(std::string_view caption, std::string_view text);
// Hides the window; does nothing before it exists.
void HideProgress();
// The window's caption, or the caption it is to be created with.
void SetCaption(std::string_view caption);
void SetStatusText(std::string_view text);

}  // namespace mv
