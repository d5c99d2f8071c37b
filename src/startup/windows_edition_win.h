#pragma once
// Naming the running Windows edition from the real system.
#include <string>

#include "startup/windows_edition.h"

namespace mv {

// Reads the version record (extended, else basic) and the native architecture.
SystemFacts GatherSystemFacts();

// Fills the edition name and service pack text from the real system; false when Windows
// cannot be identified.
bool IdentifyWindows(std::string& name, std::string& servicePack);

// The one-line description of the running Windows and whether it is 64-bit (false when the
// identification failed and the description is "unknown").
WindowsEdition DescribeWindows();

}  // namespace mv
