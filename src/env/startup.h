#pragma once
// Process start-up: the settings every later step takes for granted.
#include <windows.h>

#include <string_view>

#include "app/setup_run.h"
#include "env/rules.h"
#include "env/shared_registry.h"

namespace mv {

// Set once at start-up by the Windows edition identification; false until then and whenever
// the edition cannot be identified.
extern bool Is64BitWindows;

// The access mask of the shared registry accessor: the native 64-bit view on 64-bit Windows,
// so that a 32-bit installer reads and writes the product's real uninstall entry.
REGSAM SharedRegistryAccess(bool is64BitWindows);

// Seeds the generator, fixes the message language, names the running Windows (which sets
// Is64BitWindows), creates the shared registry accessor and keeps the first two command-line
// arguments. Runs once, before the setup run.
void StartUp();
// Seeds the process's generator from the performance counter (the tick count without one).
void SeedRandomGenerator();
// Releases the shared registry accessor (closing any key still open).
void CleanUp();

const StartupSettings& Settings();
SharedRegistry& TheSharedRegistry();
Lcg& TheRandomGenerator();

// The start-up settings for a given locale and command line (the testable part of StartUp).
StartupSettings MakeStartupSettings(std::uint32_t userLcid, std::string_view commandLine);

}  // namespace mv
