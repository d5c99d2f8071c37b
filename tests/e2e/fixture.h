#pragma once
// The stage every end-to-end test starts from: its own folder C:\e2e\<suite>.<test>\ with an
// installed product (the stand-in as Mirvane.exe plus a few data files), an uninstall entry
// pointing at it, no other uninstall entry, and the stand-in's settings and log beside the
// product folder (the installer measures the product folder, so the log must not be in it).
#include "e2e/harness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

inline const std::wstring kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane";
inline const std::wstring kWowUninstallKey =
    L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirvane";
inline const std::wstring kCurrentVersionKey = L"Software\\Microsoft\\Windows\\CurrentVersion";
// The exit codes a deployment tool acts on (README: exit codes), written out here rather than
// taken from the installer's sources.
inline constexpr DWORD kExitDeclined = 1602;      // No at the first question
inline constexpr DWORD kExitFailureShown = 1603;  // a failure with no more specific code
inline constexpr DWORD kExitNotInstalled = 1605;
inline constexpr DWORD kExitAnotherRun = 1618;
inline constexpr DWORD kExitDistorted = 1620;
inline constexpr DWORD kExitNewerKept = 1638;
inline constexpr DWORD kExitUnreadableCommandLine = 1639;
inline constexpr DWORD kExitAtRestart = 3010;
inline const std::wstring kShellFoldersKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The texts the installer must show, written out here rather than taken from its sources.
namespace expect {
Box Question();                                                   // the first question, in the driver's locale
Box ClosingQuestion();                                            // the same in every locale
Box Error(std::wstring_view english, std::wstring_view russian);  // in the driver's locale
Box NoRegistryAccess();
Box Distorted();
Box NoProduct();
Box CannotInstall(const std::wstring& path);
Box ProductNotStarted();
// The question before a downgrade; `installed` and `payload` are the two version texts.
Box OlderPayloadQuestion(const std::wstring& path, std::wstring_view installed, std::wstring_view payload);
}  // namespace expect

// The payload with another version where a "pak" file keeps it.
std::string PakWithVersion(const std::wstring& payload, std::uint16_t version);

// C:\e2e-scratch\, which tests/e2e/run keeps in memory where it can, with a final backslash.
std::wstring ScratchFolder();

// The ways of writing the data file: the compared "pak" file, the split payload and a kind
// without a version (the last two are never compared).
struct WritePath {
  const char* what;
  const wchar_t* installer;  // variables set by tests/e2e/run
  const wchar_t* payload;
  const wchar_t* file;
};
inline constexpr WritePath kWritePaths[] = {
    {"compared", L"MV_E2E_INSTALLER", L"MV_E2E_PAYLOAD", L"mvm3.pak"},
    {"split", L"MV_E2E_INSTALLER_MVQ", L"MV_E2E_PAYLOAD_MVQ", L"mvq.pak"},
    {"kind without a version", L"MV_E2E_INSTALLER_DAT", L"MV_E2E_PAYLOAD", L"mvd.dat"},
};
// An installed copy that every path replaces without a question: other content, and for the
// compared file an older version (91 where a "pak" file keeps it).
std::string OlderCopy(const WritePath& path);

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The installers and files handed over by tests/e2e/run.
  static std::wstring Installer();
  static std::wstring Payload();

  // Writes the stand-in's settings; the log path and a short lifetime are always included,
  // and the window starts hidden so that "shown" in the log is the installer's doing. A copy of
  // the stand-in reads them from standin.cfg beside its own folder when it starts, whoever
  // started it: root_ + "standin.cfg" for a product folder directly below root_.
  void ConfigureStandin(const std::string& extraLines = "") { ConfigureStandin(log_, extraLines); }
  // The same with another log file, for the next copy to start once the last one has logged
  // its start (and so read its settings).
  void ConfigureStandin(const std::wstring& log, const std::string& extraLines);
  // Replaces both uninstall entries by one with this UninstallString.
  void RegisterUninstallString(const std::wstring& uninstallString, bool underWow6432Node = false);
  void RemoveUninstallEntries();
  // Puts the stand-in and some data files into `folder` (and deletes that folder afterwards).
  void PlaceProduct(const std::wstring& folder);
  // Keeps a registry value as it is now and restores it after the test.
  void RestoreAfterTest(HKEY root, const std::wstring& key, const std::wstring& name);
  // Has Wine report this Windows version ("win10", "winxp64", ...) to every process started
  // during the test.
  void ReportWindows(const wchar_t* version);
  void RemoveAfterTest(const std::wstring& folder);

  // Runs an installer under the robot and checks that it ended by itself after showing
  // exactly the boxes of `answers`.
  RunResult Run(const std::wstring& installer, const std::wstring& arguments, const std::vector<Answer>& answers);
  RunResult RunInstaller(const std::wstring& arguments, const std::vector<Answer>& answers) {
    return Run(Installer(), arguments, answers);
  }

  // `folder` holds the payload byte for byte as `fileName`, and ExpectSizeInTheFoundEntry.
  void ExpectInstalled(const std::wstring& folder, const std::wstring& payload,
                       const std::wstring& fileName = L"mvm3.pak");
  // EstimatedSize matches the folder's size in the uninstall entry that holds "UninstallString"
  // and is nowhere else; with no such entry, no uninstall key was made.
  void ExpectSizeInTheFoundEntry(const std::wstring& folder);
  // Neither the data file, nor its temporary file, nor EstimatedSize was written.
  void ExpectNothingWritten(const std::wstring& folder, const std::wstring& fileName = L"mvm3.pak");
  // Started once, without arguments, in its own folder, by `startedBy` (the desktop shell unless
  // a test has it fail), and shown.
  void ExpectProductStartedAndShown(const char* startedBy = "explorer.exe");
  void ExpectProductNotStarted();

  std::wstring root_;     // the test's own folder, with a final backslash
  std::wstring product_;  // root_ + "Mirvane" + backslash
  std::wstring log_;

 private:
  std::wstring config_;
  std::vector<std::unique_ptr<RestoreValueLater>> restore_;
  bool versionKept_ = false;
  std::vector<std::wstring> remove_;
};

}  // namespace e2e
