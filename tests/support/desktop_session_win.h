#pragma once
// The desktop, and with it the desktop shell, kept for as long as a test program runs, as a
// user's session keeps them. Wine starts the desktop's explorer.exe for the first program that
// needs the desktop and ends it a moment after the last one has gone. Started that way by the
// console host of the installer's "ver" command, it runs inside the command's job object and is
// ended with the job, and the shell it had registered stays unreachable for the rest of the Wine
// session: every later start of the product would go the direct way. A test program that holds
// the desktop from its start keeps one shell, started outside any job, for all its tests.
#include <windows.h>

#include <gtest/gtest.h>

namespace mv::testing {

class DesktopSession : public ::testing::Environment {
 public:
  void SetUp() override { ::GetDesktopWindow(); }
};

// For one file of each test program.
inline ::testing::Environment* HoldDesktopForTheWholeRun() {
  return ::testing::AddGlobalTestEnvironment(new DesktopSession);
}

}  // namespace mv::testing
