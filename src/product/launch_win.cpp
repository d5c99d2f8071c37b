#include "product/launch_win.h"

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

#include "product/launch.h"
#include "product/product.h"
#include "win/com_win.h"
#include "win/handles_win.h"

namespace mv {

namespace {

using namespace std::string_view_literals;

// The service of the browser that owns a shell view; shlguid.h has it only for libuuid.
constexpr GUID kTopLevelBrowser = {0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

// A step of the way to the shell succeeded: S_OK and an interface. FindWindowSW says "no such
// window" with S_FALSE.
template <typename Interface>
bool Got(HRESULT result, const UniqueCom<Interface>& object) {
  return result == S_OK && object;
}

}  // namespace

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

// The shell's own ShellExecute, reached from the desktop window: its shell browser, the
// browser's view of the desktop, the view's automation object and that object's application.
// The shell runs it in its own process, so the product becomes the shell's child.
bool StartProductThroughShell(const std::wstring& productFolder) {
  const ComApartment apartment;
  UniqueCom<IShellWindows> windows;
  if (!Got(::CoCreateInstance(__uuidof(ShellWindows), nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(windows.put())),
           windows))
    return false;
  UniqueVariant desktop(LONG{CSIDL_DESKTOP});
  UniqueVariant none;  // no root folder; no arguments for the product
  LONG desktopWindow = 0;
  UniqueCom<IDispatch> desktopObject;
  if (!Got(windows->FindWindowSW(desktop.get(), none.get(), SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                                 desktopObject.put()),
           desktopObject))
    return false;
  UniqueCom<IServiceProvider> services;
  if (!Got(desktopObject->QueryInterface(IID_PPV_ARGS(services.put())), services)) return false;
  UniqueCom<IShellBrowser> browser;
  if (!Got(services->QueryService(kTopLevelBrowser, IID_PPV_ARGS(browser.put())), browser)) return false;
  UniqueCom<IShellView> view;
  if (!Got(browser->QueryActiveShellView(view.put()), view)) return false;
  UniqueCom<IDispatch> background;
  if (!Got(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(background.put())), background)) return false;
  UniqueCom<IShellFolderViewDual> folderView;
  if (!Got(background->QueryInterface(IID_PPV_ARGS(folderView.put())), folderView)) return false;
  UniqueCom<IDispatch> application;
  if (!Got(folderView->get_Application(application.put()), application)) return false;
  UniqueCom<IShellDispatch2> shell;
  if (!Got(application->QueryInterface(IID_PPV_ARGS(shell.put())), shell)) return false;

  const UniqueBstr executable = MakeBstr(product::ExecutableIn(productFolder));
  UniqueVariant folder{std::wstring_view(productFolder)};
  UniqueVariant verb{L"open"sv};
  UniqueVariant show(LONG{SW_SHOWNORMAL});
  if (!executable || !folder.Holds() || !verb.Holds()) return false;
  // Only S_OK says the program was started: a shell that could not start it may say S_FALSE.
  return shell->ShellExecute(executable.get(), *none.get(), *folder.get(), *verb.get(), *show.get()) == S_OK;
}

void StartProductDirectly(const std::wstring& productFolder) {
  ::SetCurrentDirectoryW(productFolder.c_str());
  ::ShellExecuteW(nullptr, L"open", product::ExecutableIn(productFolder).c_str(), L"", L"", SW_SHOWNORMAL);
}

void StartProduct(const std::wstring& productFolder) {
  StartThroughShellOrDirectly(productFolder, StartProductThroughShell, StartProductDirectly);
}

void BringStartedProductToFront() {
  const auto sleep = [](unsigned ms) { ::Sleep(ms); };
  if (!WaitFor(kMappingWait, sleep, IsProductRunning)) return;
  HWND window = nullptr;
  const auto found = [&] { return (window = ::FindWindowA(product::kMainWindowClass, nullptr)) != nullptr; };
  if (!WaitFor(kWindowWait, sleep, found)) return;

  ::ShowWindow(window, SW_SHOWNORMAL);
  ::SetForegroundWindow(window);
}

void LaunchProduct(const std::wstring& productFolder) {
  StartProduct(productFolder);
  BringStartedProductToFront();
}

}  // namespace mv
