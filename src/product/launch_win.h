#pragma once
// The running product: telling whether it runs, asking it to quit, starting it.
#include <string>

namespace mv {

// True when the product's named file mapping exists.
bool IsProductRunning();
// Posts WM_QUIT to the product's main window; false when it has no window, or the post failed.
bool AskProductToQuit();
// Starts the product's executable from `productFolder`; reports no failure.
void StartProduct(const std::wstring& productFolder);
// Starts the product, waits for its mapping and its main window, and brings the window to the
// front. A product that does not come up in time is left alone.
void LaunchProduct(const std::wstring& productFolder);

}  // namespace mv
