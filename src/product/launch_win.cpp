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

// One start through the shell, handed to a thread of its own.
struct ShellCall {
  std::wstring Folder;
  ShellStart Result = ShellStart::NoAnswer;
};

DWORD WINAPI RunShellCall(void* parameter) {
  auto* call = static_cast<ShellCall*>(parameter);
  call->Result = StartProductThroughShell(call->Folder);
  return 0;
}

}  // namespace

bool IsProductRunning() {
  // The probe creates the mapping itself when the product has none; it is closed again at once
  // in every case, so that a product that quits later is not taken for a running one.
  UniqueHandle mapping(
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, product::kMappingName));
  return mapping && ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool AskProductToQuit(UniqueHandle& process) {
  // A quit request to a null window would land in the installer's own queue.
  HWND window = ::FindWindowA(product::kMainWindowClass, nullptr);
  if (window == nullptr) return false;
  // Opened before the request: once the product has ended, its id may belong to another
  // process. The window, still there after the open, says the handle is its process.
  DWORD id = 0;
  DWORD stillId = 0;
  ::GetWindowThreadProcessId(window, &id);
  process.reset(::OpenProcess(SYNCHRONIZE, FALSE, id));
  if (process && (::GetWindowThreadProcessId(window, &stillId) == 0 || stillId != id)) process.reset();
  return ::PostMessageA(window, WM_QUIT, 0, 0);
}

bool WaitForProductToEnd(const UniqueHandle& process, unsigned timeoutMs) {
  // The product drops its mapping before it has closed its files, so the mapping is only the
  // second choice.
  if (process) return ::WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0;
  constexpr unsigned kProbeMs = 250;
  for (unsigned waited = 0; waited < timeoutMs; waited += kProbeMs) {
    if (!IsProductRunning()) return true;
    ::Sleep(kProbeMs);
  }
  return !IsProductRunning();
}

// The shell's own ShellExecute, reached from the desktop window: its shell browser, the
// browser's view of the desktop, the view's automation object and that object's application.
// The shell runs it in its own process, so the product becomes the shell's child.
ShellStart StartProductThroughShell(const std::wstring& productFolder) {
  const ComApartment apartment;
  UniqueCom<IShellWindows> windows;
  if (!Got(::CoCreateInstance(__uuidof(ShellWindows), nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(windows.put())),
           windows))
    return ShellStart::Unreachable;
  UniqueVariant desktop(LONG{CSIDL_DESKTOP});
  UniqueVariant none;  // no root folder; no arguments for the product
  LONG desktopWindow = 0;
  UniqueCom<IDispatch> desktopObject;
  if (!Got(windows->FindWindowSW(desktop.get(), none.get(), SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                                 desktopObject.put()),
           desktopObject))
    return ShellStart::Unreachable;
  UniqueCom<IServiceProvider> services;
  if (!Got(desktopObject->QueryInterface(IID_PPV_ARGS(services.put())), services)) return ShellStart::Unreachable;
  UniqueCom<IShellBrowser> browser;
  if (!Got(services->QueryService(kTopLevelBrowser, IID_PPV_ARGS(browser.put())), browser))
    return ShellStart::Unreachable;
  UniqueCom<IShellView> view;
  if (!Got(browser->QueryActiveShellView(view.put()), view)) return ShellStart::Unreachable;
  UniqueCom<IDispatch> background;
  if (!Got(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(background.put())), background))
    return ShellStart::Unreachable;
  UniqueCom<IShellFolderViewDual> folderView;
  if (!Got(background->QueryInterface(IID_PPV_ARGS(folderView.put())), folderView)) return ShellStart::Unreachable;
  UniqueCom<IDispatch> application;
  if (!Got(folderView->get_Application(application.put()), application)) return ShellStart::Unreachable;
  UniqueCom<IShellDispatch2> shell;
  if (!Got(application->QueryInterface(IID_PPV_ARGS(shell.put())), shell)) return ShellStart::Unreachable;

  const UniqueBstr executable = MakeBstr(product::ExecutableIn(productFolder));
  UniqueVariant folder{std::wstring_view(productFolder)};
  UniqueVariant verb{L"open"sv};
  UniqueVariant show(LONG{SW_SHOWNORMAL});
  if (!executable || !folder.Holds() || !verb.Holds()) return ShellStart::Unreachable;
  // Only S_OK says the program was started: a shell that could not start it may say S_FALSE.
  return shell->ShellExecute(executable.get(), *none.get(), *folder.get(), *verb.get(), *show.get()) == S_OK
             ? ShellStart::Started
             : ShellStart::Refused;
}

ShellStart StartProductThroughShellInTime(const std::wstring& productFolder, unsigned answerMs) {
  // Left to the thread when the shell does not answer in time: it may still write its result
  // there, and the process ends soon after.
  auto* call = new ShellCall{productFolder};
  const UniqueHandle thread(::CreateThread(nullptr, 0, RunShellCall, call, 0, nullptr));
  if (!thread) RunShellCall(call);
  if (thread && ::WaitForSingleObject(thread.get(), answerMs) != WAIT_OBJECT_0) return ShellStart::NoAnswer;
  const ShellStart result = call->Result;
  delete call;
  return result;
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

ShellStart LaunchProduct(const std::wstring& productFolder) {
  const ShellStart started = StartProductThroughShellInTime(productFolder);
  if (MayComeUp(started)) BringStartedProductToFront();
  return started;
}

}  // namespace mv
