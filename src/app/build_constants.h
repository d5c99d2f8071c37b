#pragma once
// The handful of constants that differ between two builds of the installer.
#include <cstdint>
#include <string_view>

namespace mv {

struct BuildConstants {
  std::wstring_view AddonTitle;  // quoted add-on title, the word for version, a trailing blank
  std::string_view PayloadName;  // base name of the data file and name of its resource
  std::int32_t PayloadVersion;   // shown in the questions
  std::string_view PayloadExt;   // extension of the data file and type of its resource
  // 1: one resource named PayloadName; 2: the halves PayloadName + "1" and + "2", joined.
  int PayloadParts;
};

// The constants this installer was built with (generated at build time).
const BuildConstants& InstallerConstants();

}  // namespace mv
