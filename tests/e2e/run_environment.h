#pragma once
// What tests/e2e/run hands the driver: paths in environment variables, the locale it runs in,
// and the file its standard error goes to.
#include <initializer_list>
#include <string>
#include <vector>

namespace e2e {

// A path handed over by tests/e2e/run through the environment; empty (and the test failed)
// when the variable is missing.
std::wstring ConfiguredPath(const wchar_t* variable);

// True when the driver runs in the Russian user locale (the installer's messages follow it).
bool RussianLocale();

// True when the installer under test is the shipped 32-bit one, not its x64 twin.
bool ShippedX86();

// A path's file name, and a text in lower case.
std::wstring FileName(const std::wstring& path);
std::wstring Lower(std::wstring text);

// The DLLs (full paths, lower case) that the process whose image is `exeName` loaded, from the
// trace of WINEDEBUG=+loaddll,+pid on the driver's standard error (DriverStderr).
std::vector<std::wstring> DllsLoadedBy(const std::string& trace, const std::wstring& exeName);
// True when `dlls` holds a DLL of one of these file names (lower case).
bool LoadedAny(const std::vector<std::wstring>& dlls, std::initializer_list<const wchar_t*> names);

// All that the driver's standard error has taken so far. Wine gives every process its parent's
// Unix standard error, whatever its standard handles, so the debug channels (WINEDEBUG) of the
// processes started here print there; tests/e2e/run points it at a file.
std::string DriverStderr();

}  // namespace e2e
