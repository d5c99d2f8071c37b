#pragma once
// The running product: telling whether it runs, asking it to quit, starting it.
#include <string>

namespace mv {

// True when the product's named file mapping exists.
bool IsProductRunning();
// Posts WM_QUIT to the product's main window; false when it has no window, or the post failed.
bool AskProductToQuit();
// Has the desktop shell start the product's executable in `productFolder`, with the rights of
// the shell's user; false when no shell took it (none running, or a step on the way failed).
bool StartProductThroughShell(const std::wstring& productFolder);
// Starts the product's executable from `productFolder` as a child of the installer, with the
// installer's rights; reports no failure.
void StartProductDirectly(const std::wstring& productFolder);
// Through the shell, and directly only when no shell took it.
void StartProduct(const std::wstring& productFolder);
// Waits for a product just started to create its mapping and then its main window, and brings
// the window to the front. A product that does not come up in time is left alone.
void BringStartedProductToFront();
// Starts the product and brings it to the front.
void LaunchProduct(const std::wstring& productFolder);

}  // namespace mv
