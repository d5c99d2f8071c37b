#pragma once
// Naming the running Windows edition from the real system, and the console command that the
// naming needs on systems that hide their version.
#include <string>
#include <string_view>

#include "env/windows_edition.h"

namespace mv {

// Reads the version record (extended, else basic) and the native architecture.
SystemFacts GatherSystemFacts();

// Fills the edition name and service pack text from the real system; false when Windows
// cannot be identified.
bool IdentifyWindows(std::string& name, std::string& servicePack);

// The one-line description of the running Windows; sets Is64BitWindows from it unless the
// identification failed ("unknown").
std::string DescribeWindows();

// The console output of `command` run by the interpreter named in "ComSpec", captured through
// a file in the "Temp" folder and converted from the OEM to the ANSI code page. Empty when
// "ComSpec" is empty; "\r\n" when nothing could be captured. A command still running after
// 10 seconds is ended, and what it captured until then is returned.
std::string RunConsoleCommand(std::string_view command);

// The text converted from the OEM to the ANSI code page, byte for byte (same length).
std::string OemToAnsiText(std::string_view text);

}  // namespace mv
