// The control of the planted-DLL test: a program without the installer's defences that, like
// most programs, imports version.dll at load time. Started beside a planted version.dll (with
// Wine told to prefer native DLLs), it loads the planted one, which shows that the test can see
// planting at all.
#include <windows.h>

int main() { return ::GetFileVersionInfoSizeW(L"kernel32.dll", nullptr) == 0 ? 1 : 0; }
