#include "product/launch_win.h"

#include <windows.h>
#include <shellapi.h>

#include "product/launch.h"
#include "product/product.h"
#include "win/handles_win.h"

namespace mv {

bool IsProductRunning() {
  // The probe creates the mapping itself when the product has none; it is closed again at once
  // in every case, so that a product that quits later is not taken for a running one.
  UniqueHandle mapping(
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, product::kMappingName));
  return mapping && ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool AskProductToQuit() {
  // A quit request to a null window would land in the installer's own queue.
  HWND window = ::FindWindowA(product::kMainWindowClass, nullptr);
  return window != nullptr && ::PostMessageA(window, WM_QUIT, 0, 0);
}

void StartProduct(const std::wstring& productFolder) {
  ::SetCurrentDirectoryW(productFolder.c_str());
  const std::wstring executable = std::wstring(productFolder).append(product::kExecutable);
  ::ShellExecuteW(nullptr, L"open", executable.c_str(), L"", L"", SW_SHOWNORMAL);
}

void LaunchProduct(const std::wstring& productFolder) {
  StartProduct(productFolder);

  const auto sleep = [](unsigned ms) { ::Sleep(ms); };
  if (!WaitFor(kMappingWait, sleep, IsProductRunning)) return;
  HWND window = nullptr;
  const auto found = [&] { return (window = ::FindWindowA(product::kMainWindowClass, nullptr)) != nullptr; };
  if (!WaitFor(kWindowWait, sleep, found)) return;

  ::ShowWindow(window, SW_SHOWNORMAL);
  ::SetForegroundWindow(window);
}

}  // namespace mv
