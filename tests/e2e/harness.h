#pragma once
// What the end-to-end tests need around a real installer run: the robot that reads and answers
// the installer's message boxes (robot.h), the processes it starts (processes.h), what
// tests/e2e/run hands over (run_environment.h), the stand-in product's log (standin_log.h), and
// the files, registry values and environment of the Windows tests (tests/support).
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>

#include "e2e/processes.h"
#include "e2e/robot.h"
#include "e2e/run_environment.h"
#include "e2e/standin_log.h"
#include "support/environment_win.h"
#include "support/files_win.h"
#include "support/registry_win.h"
#include "support/text_win.h"

namespace e2e {

using mv::testing::DeleteKeyTree;
using mv::testing::DeleteValue;
using mv::testing::FolderBytes;
using mv::testing::IsDirectory;
using mv::testing::IsFile;
using mv::testing::MakeDirectories;
using mv::testing::MakeUnixFileLink;
using mv::testing::ReadBytes;
using mv::testing::ReadDword;
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
using mv::testing::Wide;
using mv::testing::WriteBytes;
using mv::testing::WriteDword;
using mv::testing::WriteString;
using mv::testing::WriteValue;

}  // namespace e2e
