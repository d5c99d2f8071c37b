#pragma once
// Programs that the build puts beside a test program, run and read: what one prints is its
// answer to the test.
#include <windows.h>

#include <string>

#include "win/handles_win.h"

namespace mv::testing {

// The folder of this test program, where the build also puts the programs it runs.
inline std::string ProgramFolder() {
  char path[MAX_PATH];
  const std::string self(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
  return self.substr(0, self.rfind('\\') + 1);
}

// Runs `program` of that folder with `arguments` (each after a space) and returns what it
// printed, standard error included.
inline std::string ProgramOutput(const std::string& program, const std::string& arguments = "") {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  if (!::CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return "no pipe";
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  std::string commandLine = "\"" + ProgramFolder() + program + "\"" + arguments;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    return program + " did not start";
  UniqueHandle process(info.hProcess), thread(info.hThread);
  writeEnd.reset();  // the pipe ends when the program's copy of this end is closed
  std::string output;
  char chunk[512];
  DWORD read = 0;
  while (::ReadFile(readEnd.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) output.append(chunk, read);
  ::WaitForSingleObject(process.get(), 30000);
  return output;
}

}  // namespace mv::testing
