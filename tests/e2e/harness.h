#pragma once
// What the end-to-end tests need around a real installer run: the robot that reads and answers
// the installer's message boxes (robot.h), the processes it starts (processes.h), what
// tests/e2e/run hands over (run_environment.h), and what the Windows tests share (tests/support):
// files, registry values, environment, the stand-in product's log, waiting for an effect.
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>

#include "e2e/processes.h"
#include "e2e/robot.h"
#include "e2e/run_environment.h"
#include "support/environment_win.h"
#include "support/files_win.h"
#include "support/registry_win.h"
#include "support/standin_log_win.h"
#include "support/text_win.h"

namespace e2e {

using mv::testing::CountLogLines;
using mv::testing::DeleteKeyTree;
using mv::testing::DeleteValue;
using mv::testing::FolderBytes;
using mv::testing::IsDirectory;
using mv::testing::IsFile;
using mv::testing::LogValue;
using mv::testing::MakeDirectories;
using mv::testing::MakeUnixLink;
using mv::testing::ReadBytes;
using mv::testing::ReadDword;
using mv::testing::ReadLogLines;
using mv::testing::ReadString;
using mv::testing::ReadValue;
using mv::testing::RegValue;
using mv::testing::RemoveTree;
using mv::testing::RemoveUnixLink;
using mv::testing::RestoreValueLater;
using mv::testing::ScopedEnvironment;
using mv::testing::StartUnixProgram;
using mv::testing::UnixPath;
using mv::testing::Utf8;
using mv::testing::WaitForLogSequence;
using mv::testing::WaitUntil;
using mv::testing::Wide;
using mv::testing::WriteBytes;
using mv::testing::WriteDword;
using mv::testing::WriteString;
using mv::testing::WriteValue;

}  // namespace e2e
