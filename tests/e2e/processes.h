#pragma once
// Processes the end-to-end tests start, count and end.
#include <windows.h>

#include <string>
#include <string_view>

#include "win/handles_win.h"

namespace e2e {

// The process handle, or none (and the test failed) when it could not be started.
mv::UniqueHandle StartProcess(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                              DWORD* pid = nullptr);
int CountProcesses(std::wstring_view imageName);
void KillProcesses(std::wstring_view imageName);

}  // namespace e2e
