// Installing over a copy of the data file that is already there: the version comparison, the
// question before an older payload replaces a newer copy, and the progress window after it.
#include "e2e/fixture.h"

namespace e2e {
namespace {

using Replacement = InstallerTest;

using expect::OlderPayloadQuestion;

// The progress window as it stands: visible, blank, topmost, 408 by 76. Nothing when there is
// none.
std::optional<std::string> ProgressWindowFault() {
  HWND window = FindWindowW(L"PlainWindow", nullptr);
  if (window == nullptr) return std::nullopt;
  RECT r{};
  GetWindowRect(window, &r);
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  wchar_t status[64] = {};
  GetWindowTextW(FindWindowExW(window, nullptr, L"STATIC", nullptr), status, 64);
  std::string fault;
  if (!IsWindowVisible(window)) fault += "hidden; ";
  if (!(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST)) fault += "not topmost; ";
  if (r.right - r.left != 408 || r.bottom - r.top != 76) fault += "not 408 by 76; ";
  if (title[0] || status[0]) fault += "not blank; ";
  return fault;
}

class ProgressWindowCheck {
 public:
  // For the box during which the window is looked at. The window thread may still be bringing
  // the window up when the box appears, so a window that is not there yet is waited for.
  std::function<void()> Probe() {
    return [this] {
      WaitUntil(
          [this] {
            seen_ = ProgressWindowFault();
            return seen_ && seen_->empty();
          },
          std::chrono::seconds(5));
    };
  }
  // One look, for runs that must show no window: there the window's thread is never started.
  std::function<void()> ProbeNow() {
    return [this] { seen_ = ProgressWindowFault(); };
  }
  void ExpectShownBlank() const {
    ASSERT_TRUE(seen_.has_value()) << "no progress window";
    EXPECT_EQ(*seen_, "");
  }
  void ExpectNone() const { EXPECT_FALSE(seen_.has_value()) << "a progress window"; }

 private:
  std::optional<std::string> seen_;
};

TEST_F(Replacement, NewerCopyIsKeptAfterNo) {
  const std::wstring target = product_ + L"mvm3.pak";
  const std::string newer = PakWithVersion(Payload(), 93);
  WriteBytes(target, newer);
  ProgressWindowCheck progress;
  RunResult r =
      RunInstaller(L"", {Press(expect::Question(), IDYES), Press(OlderPayloadQuestion(target, L"93", L"92"), IDNO),
                         Press(expect::ClosingQuestion(), IDNO, progress.Probe())});
  EXPECT_EQ(r.exitCode, kExitNewerKept);
  auto kept = ReadBytes(target);
  ASSERT_TRUE(kept.has_value());
  EXPECT_TRUE(std::string(kept->begin(), kept->end()) == newer) << "the newer copy changed";
  EXPECT_FALSE(IsFile(product_ + L"~mvm3.pak")) << "the temporary file was left";
  progress.ExpectShownBlank();
  // The size is recorded all the same.
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"), FolderBytes(product_) / 1024);
}

// The product, or a virus scanner, holds the installed copy open for reading: its version is
// read all the same, so the question still comes before an older payload replaces it.
TEST_F(Replacement, ACopyHeldOpenForReadingStillHasItsVersion) {
  const std::wstring target = product_ + L"mvm3.pak";
  const std::string newer = PakWithVersion(Payload(), 93);
  WriteBytes(target, newer);
  const mv::UniqueFile reader(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(reader);
  RunResult r = RunInstaller(L"modest", {Press(OlderPayloadQuestion(target, L"93", L"92"), IDNO)});
  EXPECT_EQ(r.exitCode, kExitNewerKept);
  EXPECT_EQ(ReadBytes(target), std::vector<std::uint8_t>(newer.begin(), newer.end()));
  EXPECT_FALSE(IsFile(product_ + L"~mvm3.pak"));
}

TEST_F(Replacement, NewerCopyIsReplacedAfterYes) {
  const std::wstring target = product_ + L"mvm3.pak";
  WriteBytes(target, PakWithVersion(Payload(), 0xFFFF));
  ProgressWindowCheck progress;
  RunResult r =
      RunInstaller(L"", {Press(expect::Question(), IDYES), Press(OlderPayloadQuestion(target, L"65535", L"92"), IDYES),
                         Press(expect::ClosingQuestion(), IDNO, progress.Probe())});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, Payload());
  EXPECT_FALSE(IsFile(product_ + L"~mvm3.pak"));
  progress.ExpectShownBlank();
}

TEST_F(Replacement, EqualOrOlderCopyIsReplacedWithoutAQuestion) {
  for (const std::uint16_t version : {92, 91, 0}) {
    SCOPED_TRACE(version);
    std::string installed = PakWithVersion(Payload(), version);
    installed.back() ^= 0x55;  // differs from the payload even at the same version
    WriteBytes(product_ + L"mvm3.pak", installed);
    ProgressWindowCheck progress;
    RunResult r = RunInstaller(
        L"", {Press(expect::Question(), IDYES), Press(expect::ClosingQuestion(), IDNO, progress.ProbeNow())});
    EXPECT_EQ(r.exitCode, 0u);
    ExpectInstalled(product_, Payload());
    EXPECT_FALSE(IsFile(product_ + L"~mvm3.pak"));
    progress.ExpectNone();
  }
}

// A "!" anywhere in the path of a language file skips the comparison: a newer copy is replaced
// without a word, so a modest run shows nothing at all.
TEST_F(Replacement, LanguageFileInAFolderWithABangIsReplacedWithoutAsking) {
  const std::wstring folder = root_ + L"Mir!vane\\";
  PlaceProduct(folder);
  RegisterUninstallString(folder + L"unins000.exe");
  WriteBytes(folder + L"mvl.lng", "[langver]\r\n93\r\n");
  RunResult r = Run(ConfiguredPath(L"MV_E2E_INSTALLER_LNG"), L"modest", {});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(folder, ConfiguredPath(L"MV_E2E_PAYLOAD_LNG"), L"mvl.lng");
  EXPECT_FALSE(IsFile(folder + L"~mvl.lng"));
}

TEST_F(Replacement, LanguageFileElsewhereIsCompared) {
  const std::wstring target = product_ + L"mvl.lng";
  WriteBytes(target, "[langver]\r\n93\r\n");
  RunResult r = Run(ConfiguredPath(L"MV_E2E_INSTALLER_LNG"), L"modest",
                    {Press(OlderPayloadQuestion(target, L"93", L"92"), IDNO)});
  EXPECT_EQ(r.exitCode, kExitNewerKept);
  EXPECT_EQ(ReadBytes(target), std::optional(std::vector<std::uint8_t>{'[', 'l', 'a', 'n', 'g', 'v', 'e', 'r', ']',
                                                                       '\r', '\n', '9', '3', '\r', '\n'}));
  EXPECT_FALSE(IsFile(product_ + L"~mvl.lng"));
}

// An executable is compared by its "FileVersion": an older program never silently replaces a
// newer one.
TEST_F(Replacement, OlderExecutableAsksBeforeADowngrade) {
  const std::wstring target = product_ + L"mvx.exe";
  const std::wstring newer = ConfiguredPath(L"MV_E2E_NEWER_EXE");
  ASSERT_TRUE(CopyFileW(newer.c_str(), target.c_str(), FALSE));
  RunResult r = Run(ConfiguredPath(L"MV_E2E_INSTALLER_EXE"), L"modest",
                    {Press(OlderPayloadQuestion(target, L"2.0.0.0", L"1.0.0.0"), IDNO)});
  EXPECT_EQ(r.exitCode, kExitNewerKept);
  EXPECT_EQ(ReadBytes(target), ReadBytes(newer));
  EXPECT_FALSE(IsFile(product_ + L"~mvx.exe"));

  r = Run(ConfiguredPath(L"MV_E2E_INSTALLER_EXE"), L"modest",
          {Press(OlderPayloadQuestion(target, L"2.0.0.0", L"1.0.0.0"), IDYES)});
  EXPECT_EQ(r.exitCode, 0u);
  ExpectInstalled(product_, ConfiguredPath(L"MV_E2E_PAYLOAD_EXE"), L"mvx.exe");
  EXPECT_FALSE(IsFile(product_ + L"~mvx.exe"));
}

}  // namespace
}  // namespace e2e
