#pragma once
// What the installer relies on in the installed product Mirvane, a separate program: where
// Windows keeps its uninstall entry, the executable that proves it is installed, and the named
// file mapping and main window class by which a running copy is known.
#include <string>
#include <string_view>

namespace mv::product {

inline constexpr std::string_view kName = "Mirvane";
inline constexpr std::wstring_view kExecutable = L"Mirvane.exe";
// The executable in `folder`, which ends with a backslash.
inline std::wstring ExecutableIn(std::wstring_view folder) { return std::wstring(folder).append(kExecutable); }

// Created by the product while it runs; the installer only probes for it.
inline constexpr char kMappingName[] = "mirvane_memfile";
inline constexpr char kMainWindowClass[] = "TMVMainForm";

// Below HKEY_LOCAL_MACHINE (and HKEY_CURRENT_USER for the shell folders). The product's entry
// is kUninstallKey + kName; a 32-bit product on 64-bit Windows may have it below WOW6432Node.
inline constexpr std::string_view kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion\\";
inline constexpr std::string_view kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

}  // namespace mv::product
