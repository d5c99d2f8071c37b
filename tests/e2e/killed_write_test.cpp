// A run ended the hard way while it writes the data file, as by a power cut or Task Manager: a
// kill at any moment leaves under the data file's name either what was there before (nothing,
// for a fresh install) or the whole new file, never a part; a part under the temporary name is
// cleared by the next run, which installs. Wine lets a write in progress finish before it ends a
// process, so the kill comes from the Linux side (tests/e2e/kill_mid_write.py), the moment the
// file being written has grown past a point.
#include "e2e/fixture.h"

#include <chrono>
#include <iostream>

#include "install/versions.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using KilledWrite = InstallerTest;

// Runs `installer` and kills it once the data file or the temporary file beside `target` holds
// more than `when` bytes but not all `size`. What the killer saw: "killed FILE BYTES", or
// "missed" when the run ended first.
std::string RunAndKill(const std::wstring& installer, const std::wstring& target, std::size_t size, std::size_t when,
                       const std::wstring& scratch) {
  const std::wstring ready = scratch + L"killer.ready";
  const std::wstring result = scratch + L"killer.result";
  DeleteFileW(ready.c_str());
  DeleteFileW(result.c_str());
  const std::size_t nameStart = target.rfind(L'\\') + 1;
  const std::string command = "python3 \"" + UnixPath(ConfiguredPath(L"MV_E2E_KILL_MID_WRITE")) + "\" \"" +
                              Utf8(installer) + "\" \"" + UnixPath(target.substr(0, nameStart)) + "\" \"" +
                              Utf8(target.substr(nameStart)) + "\" " + std::to_string(size) + " " +
                              std::to_string(when) + " \"" + UnixPath(ready) + "\" \"" + UnixPath(result) + "\"";
  if (!StartUnixProgram("Z:\\usr\\bin\\python3", command) || !WaitUntil([&] { return IsFile(ready); }, 10s)) {
    ADD_FAILURE() << "the killer did not start: " << command;
    return {};
  }
  const RunResult r = RunWithRobot(installer, L"modest", scratch, {}, 60s);
  EXPECT_TRUE(r.boxes.empty()) << ::testing::PrintToString(r.boxes);
  if (!WaitUntil([&] { return IsFile(result); }, 40s)) {
    ADD_FAILURE() << "the killer gave no result";
    return {};
  }
  const auto said = ReadBytes(result).value_or(std::vector<std::uint8_t>());
  return std::string(said.begin(), said.end());
}

// The payload is 32 MiB, so that the write lasts long enough to be caught; the product folder is
// in memory where tests/e2e/run can put it, so that the flush of each whole copy costs nothing.
// Over an installed copy and as a fresh install, where the data file's name is given last.
TEST_F(KilledWrite, NoPartOfTheFileEverStandsUnderItsName) {
  if (RussianLocale()) GTEST_SKIP() << "shows no text: covered by the English run";
  product_ = ScratchFolder() + L"killed\\Mirvane\\";
  RemoveTree(product_);
  PlaceProduct(product_);
  RegisterUninstallString(product_ + L"unins000.exe");
  const std::wstring installer = ConfiguredPath(L"MV_E2E_INSTALLER_KILLED");
  const std::wstring payloadFile = ConfiguredPath(L"MV_E2E_PAYLOAD_KILLED");
  const auto payload = ReadBytes(payloadFile).value_or(std::vector<std::uint8_t>());
  ASSERT_GT(payload.size(), 8u);
  const std::wstring target = product_ + L"mvk.pak";
  // An older version, replaced without a question, and as long as the new data, so that the
  // killer never takes it for a file being written.
  std::vector<std::uint8_t> old = payload;
  old[mv::kPakVersionField.Offset] = 91;
  for (const bool installed : {false, true}) {
    for (const std::size_t when : {std::size_t{0}, payload.size() / 2}) {
      SCOPED_TRACE(std::string(installed ? "replacing a copy" : "fresh") + ", killed past " + std::to_string(when) +
                   " bytes");
      // The kill must come while the file is being written: a run that finished first proves
      // nothing, and is run again.
      std::string seen;
      int attempts = 0;
      while (attempts < 5 && seen.rfind("killed", 0) != 0) {
        ++attempts;
        DeleteFileW(target.c_str());
        if (installed) WriteBytes(target, std::string(old.begin(), old.end()));
        seen = RunAndKill(installer, target, payload.size(), when, root_);
        const auto left = ReadBytes(target);
        if (installed)
          EXPECT_TRUE(left == old || left == payload) << seen << ": a part under the data file's name";
        else
          EXPECT_TRUE(!left || *left == payload) << seen << ": a part under the data file's name";
      }
      EXPECT_EQ(seen.rfind("killed", 0), 0u) << "never caught writing: " << seen;
      std::cout << "[          ] " << seen << " (attempt " << attempts << ")\n";

      // The next run clears what the killed one left and installs.
      Run(installer, L"modest", {});
      ExpectInstalled(product_, payloadFile, L"mvk.pak");
      EXPECT_FALSE(IsFile(product_ + L"~mvk.pak"));
    }
  }
}

}  // namespace
}  // namespace e2e
