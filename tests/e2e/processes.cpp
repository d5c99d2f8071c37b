#include "e2e/processes.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "support/text_win.h"

namespace e2e {

using mv::testing::Utf8;

mv::UniqueHandle StartProcess(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                              DWORD* pid) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
    ADD_FAILURE() << "cannot start " << Utf8(exe) << ": error " << GetLastError();
    return {};
  }
  mv::UniqueHandle thread(pi.hThread);
  if (pid) *pid = pi.dwProcessId;
  return mv::UniqueHandle(pi.hProcess);
}

namespace {

template <typename Visit>
void ForEachProcess(std::wstring_view imageName, Visit visit) {
  const mv::UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (CompareStringOrdinal(entry.szExeFile, -1, imageName.data(), static_cast<int>(imageName.size()), TRUE) ==
        CSTR_EQUAL)
      visit(entry.th32ProcessID);
  }
}

}  // namespace

int CountProcesses(std::wstring_view imageName) {
  int count = 0;
  ForEachProcess(imageName, [&](DWORD) { ++count; });
  return count;
}

void KillProcesses(std::wstring_view imageName) {
  ForEachProcess(imageName, [](DWORD pid) {
    mv::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) return;
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
  });
}

}  // namespace e2e
