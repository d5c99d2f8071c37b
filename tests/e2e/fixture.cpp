#include "e2e/fixture.h"

#include <algorithm>
#include <chrono>

#include "install/versions.h"
#include "support/desktop_session_win.h"

namespace e2e {

using namespace std::chrono_literals;

namespace {
// The desktop's shell runs for the whole program (see support/desktop_session_win.h).
::testing::Environment* const kDesktop = mv::testing::HoldDesktopForTheWholeRun();
}  // namespace

namespace expect {

namespace {
constexpr std::wstring_view kAddon = L"\"Тарвелин 3\" версии 92";
std::wstring Caption() { return RussianLocale() ? L"Обновление Mirvane" : L"Mirvane update"; }
}  // namespace

Box Question() {
  if (RussianLocale())
    return YesNoBox(L"Резонный вопрос",
                    L"Вы действительно хотите установить\r\nОбновление Mirvane -\r\n" + std::wstring(kAddon) + L"?");
  return YesNoBox(L"Sound question", L"Would you like to setup\r\nMirvane update -\r\n" + std::wstring(kAddon) + L"?");
}

Box ClosingQuestion() {
  return YesNoBox(L"Mirvane update", L"На Ваш компьютер установлено\r\nОбновление Mirvane -\r\n" +
                                         std::wstring(kAddon) + L"\r\n\r\nЗапустить программу?");
}

Box Error(std::wstring_view english, std::wstring_view russian) {
  return OkBox(Caption(), RussianLocale() ? russian : english);
}

Box NoRegistryAccess() { return Error(L"No access to system registry", L"Нет доступа к системному реестру"); }

Box Distorted() {
  return Error(L"The package file has been distorted!\r\nVirus?", L"Файл пакета установки искажён!\r\nВирус?");
}

Box NoProduct() {
  return Error(L"There's no subject of update - the Mirvane installed.\r\nPlease, install the program at first.",
               L"Нет предмета обновления - установленной программы Mirvane.\r\n"
               L"Пожалуйста, сначала установите программу.");
}

Box CannotInstall(const std::wstring& path) {
  return Error(L"Can't install file " + path, L"Не удается установить файл " + path);
}

Box ProductNotStarted() {
  return Error(L"Mirvane could not be started with your own rights.\r\nPlease, start the program yourself.",
               L"Не удаётся запустить Mirvane с Вашими правами.\r\nПожалуйста, запустите программу сами.");
}

Box OlderPayloadQuestion(const std::wstring& path, std::wstring_view installed, std::wstring_view payload) {
  if (RussianLocale())
    return YesNoBox(L"Резонный вопрос", L"Устанавливаемый файл " + path +
                                            L"\r\nболее старой версии, чем уже установленный.\r\n\r\n"
                                            L"Действительно ли Вы хотите заменить уже имеющийся\r\nфайл версии " +
                                            std::wstring(installed) + L" на более старый версии " +
                                            std::wstring(payload) + L"?");
  return YesNoBox(L"Sound question", path +
                                         L" file installing is of older version\r\n"
                                         L"than the same already installed.\r\n\r\n"
                                         L"Do you really want to replace existing\r\nnew file version " +
                                         std::wstring(installed) + L" with an older file version " +
                                         std::wstring(payload) + L"?");
}

}  // namespace expect

std::string PakWithVersion(const std::wstring& payload, std::uint16_t version) {
  auto bytes = ReadBytes(payload).value_or(std::vector<std::uint8_t>(mv::kVersionFieldsEnd));
  bytes[mv::kPakVersionField.Offset] = static_cast<std::uint8_t>(version);
  bytes[mv::kPakVersionField.Offset + 1] = static_cast<std::uint8_t>(version >> 8);
  return std::string(bytes.begin(), bytes.end());
}

std::wstring ScratchFolder() {
  wchar_t buffer[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"MV_E2E_SCRATCH", buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    ADD_FAILURE() << "MV_E2E_SCRATCH is not set: run the end-to-end tests through tests/e2e/run";
    return L"C:\\nowhere\\";
  }
  return std::wstring(buffer, n) + L"\\";
}

std::string OlderCopy(const WritePath& path) {
  auto bytes = ReadBytes(ConfiguredPath(path.payload)).value_or(std::vector<std::uint8_t>(8));
  bytes[6] = 91;
  bytes.back() ^= 0x55;
  return std::string(bytes.begin(), bytes.end());
}

std::wstring InstallerTest::Installer() { return ConfiguredPath(L"MV_E2E_INSTALLER"); }
std::wstring InstallerTest::Payload() { return ConfiguredPath(L"MV_E2E_PAYLOAD"); }

void InstallerTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  root_ = L"C:\\e2e\\" + Wide(info->test_suite_name()) + L"." + Wide(info->name()) + L"\\";
  product_ = root_ + L"Mirvane\\";
  log_ = root_ + L"standin.log";
  config_ = root_ + L"standin.cfg";

  KillProcesses(L"Mirvane.exe");
  RemoveTree(root_);
  MakeDirectories(root_);
  PlaceProduct(product_);
  ConfigureStandin();
  RegisterUninstallString(product_ + L"unins000.exe");
}

void InstallerTest::TearDown() {
  KillProcesses(L"Mirvane.exe");
  RemoveUninstallEntries();
  restore_.clear();
  for (const auto& folder : remove_) RemoveTree(folder);
  RemoveTree(root_);
}

void InstallerTest::ConfigureStandin(const std::wstring& log, const std::string& extraLines) {
  WriteBytes(config_, "log=" + Utf8(log) + "\r\nlifetime_ms=20000\r\nwindow_visible=0\r\n" + extraLines);
}

void InstallerTest::RemoveUninstallEntries() {
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstallKey);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kWowUninstallKey);
}

void InstallerTest::RegisterUninstallString(const std::wstring& uninstallString, bool underWow6432Node) {
  RemoveUninstallEntries();
  WriteString(HKEY_LOCAL_MACHINE, underWow6432Node ? kWowUninstallKey : kUninstallKey, L"UninstallString",
              uninstallString);
}

void InstallerTest::PlaceProduct(const std::wstring& folder) {
  if (folder != product_ && folder.rfind(root_, 0) != 0) RemoveAfterTest(folder);
  MakeDirectories(folder + L"data");
  if (!CopyFileW(ConfiguredPath(L"MV_E2E_STANDIN").c_str(), (folder + L"Mirvane.exe").c_str(), FALSE))
    ADD_FAILURE() << "cannot copy the stand-in to " << Utf8(folder);
  // Two files of 600 bytes: rounding each file down to KiB gives another total than rounding
  // the sum, and one of them sits in a subfolder.
  WriteBytes(folder + L"readme.txt", std::string(600, 'r'));
  WriteBytes(folder + L"data\\lessons.dat", std::string(600, 'd'));
}

void InstallerTest::RestoreAfterTest(HKEY root, const std::wstring& key, const std::wstring& name) {
  restore_.push_back(std::make_unique<RestoreValueLater>(root, key, name));
}

void InstallerTest::ReportWindows(const wchar_t* version) {
  // Kept once, before the first change: restored, the first copy puts back the original.
  if (!versionKept_) RestoreAfterTest(HKEY_CURRENT_USER, L"Software\\Wine", L"Version");
  versionKept_ = true;
  WriteString(HKEY_CURRENT_USER, L"Software\\Wine", L"Version", version);
}

void InstallerTest::RemoveAfterTest(const std::wstring& folder) { remove_.push_back(folder); }

RunResult InstallerTest::Run(const std::wstring& installer, const std::wstring& arguments,
                             const std::vector<Answer>& answers) {
  RunResult result = RunWithRobot(installer, arguments, root_, answers);
  EXPECT_TRUE(result.started);
  EXPECT_FALSE(result.timedOut) << "the installer did not end by itself";
  EXPECT_EQ(result.boxes.size(), answers.size()) << "boxes shown: " << ::testing::PrintToString(result.boxes);
  for (std::size_t i = 0; i < std::min(answers.size(), result.boxes.size()); ++i) {
    if (answers[i].anyText)
      EXPECT_EQ(result.boxes[i].buttons, answers[i].expected.buttons) << "box " << i;
    else
      EXPECT_EQ(result.boxes[i], answers[i].expected) << "box " << i;
  }
  return result;
}

void InstallerTest::ExpectInstalled(const std::wstring& folder, const std::wstring& payload,
                                    const std::wstring& fileName) {
  auto written = ReadBytes(folder + fileName);
  auto wanted = ReadBytes(payload);
  ASSERT_TRUE(wanted.has_value());
  ASSERT_TRUE(written.has_value()) << Utf8(folder + fileName) << " was not written";
  EXPECT_EQ(written->size(), wanted->size());
  EXPECT_TRUE(*written == *wanted) << Utf8(folder + fileName) << " differs from the payload";
  ExpectSizeInTheFoundEntry(folder);
}

void InstallerTest::ExpectSizeInTheFoundEntry(const std::wstring& folder) {
  // The entry the installer finds: the plain one when it holds "UninstallString", else the
  // WOW6432Node one.
  std::wstring entry;
  for (const std::wstring* key : {&kUninstallKey, &kWowUninstallKey}) {
    if (ReadValue(HKEY_LOCAL_MACHINE, *key, L"UninstallString").has_value()) {
      entry = *key;
      break;
    }
  }
  for (const std::wstring* key : {&kUninstallKey, &kWowUninstallKey}) {
    const auto size = ReadValue(HKEY_LOCAL_MACHINE, *key, L"EstimatedSize");
    if (*key != entry) {
      EXPECT_FALSE(size.has_value()) << "EstimatedSize outside the product's entry, in " << Utf8(*key);
      if (entry.empty()) {
        EXPECT_FALSE(mv::testing::KeyExists(HKEY_LOCAL_MACHINE, *key)) << "made " << Utf8(*key);
      }
      continue;
    }
    const auto number = ReadDword(HKEY_LOCAL_MACHINE, *key, L"EstimatedSize");
    ASSERT_TRUE(number.has_value()) << "no REG_DWORD EstimatedSize in " << Utf8(*key);
    EXPECT_EQ(*number, FolderBytes(folder) / 1024) << "folder holds " << FolderBytes(folder) << " bytes";
  }
}

void InstallerTest::ExpectNothingWritten(const std::wstring& folder, const std::wstring& fileName) {
  EXPECT_FALSE(IsFile(folder + fileName)) << Utf8(folder + fileName) << " was written";
  // Not even for a while: a payload staged while the check ran is gone again.
  EXPECT_FALSE(IsFile(folder + L"~" + fileName)) << "a temporary file was left";
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize").has_value());
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kWowUninstallKey, L"EstimatedSize").has_value());
}

void InstallerTest::ExpectProductStartedAndShown(const char* startedBy) {
  EXPECT_TRUE(WaitForLogSequence(log_, {"start", "mapping", "window", "shown", "activated"}, 3s))
      << "stand-in log:\n"
      << ::testing::PrintToString(ReadLogLines(log_));
  EXPECT_EQ(CountLogLines(log_, "start"), 1);
  EXPECT_EQ(CountLogLines(log_, "quit"), 0);
  EXPECT_EQ(LogValue(log_, "parent"), std::optional<std::string>(startedBy));
  // Started without parameters, in its own folder.
  EXPECT_EQ(LogValue(log_, "args"), std::optional<std::string>(""));
  std::string folder = Utf8(product_);
  folder.pop_back();
  auto cwd = LogValue(log_, "cwd");
  if (cwd && cwd->size() > 3 && cwd->back() == '\\') cwd->pop_back();
  EXPECT_EQ(cwd, std::optional<std::string>(folder));
}

void InstallerTest::ExpectProductNotStarted() {
  // A product started through the shell exists as a process before the installer ends.
  EXPECT_EQ(CountProcesses(L"Mirvane.exe"), 0);
  EXPECT_EQ(CountLogLines(log_, "start"), 0);
}

}  // namespace e2e
