#pragma once
// The running product: telling whether it runs, asking it to quit, starting it.
#include <string>

#include "product/launch.h"
#include "win/handles_win.h"

namespace mv {

// True when the product's named file mapping exists.
bool IsProductRunning();
// Posts WM_QUIT to the product's main window; false when it has no window, or the post failed.
// `process` receives the window's process, opened before the post so that its end can be
// awaited; empty when it could not be opened.
bool AskProductToQuit(UniqueHandle& process);
// Waits up to `timeoutMs` for a product asked to quit to end: for its process, or where that
// could not be opened, for its mapping to go. False when it still runs.
bool WaitForProductToEnd(const UniqueHandle& process, unsigned timeoutMs);
// Has the desktop shell start the product's executable in `productFolder`, with the rights of
// the shell's user; waits for the shell's answer without bound.
ShellStart StartProductThroughShell(const std::wstring& productFolder);
// The same on a thread of its own, whose answer is awaited `answerMs` at most: a shell that
// hangs holds up the installer no longer (NoAnswer).
ShellStart StartProductThroughShellInTime(const std::wstring& productFolder, unsigned answerMs = kShellAnswerMs);
// Waits for a product just started to create its mapping and then its main window, and brings
// the window to the front. A product that does not come up in time is left alone.
void BringStartedProductToFront();
// Has the shell start the product and, where it may come up, brings it to the front.
ShellStart LaunchProduct(const std::wstring& productFolder);

}  // namespace mv
