#pragma once
// Every text the installer shows, the English and the Russian of each side by side: the error
// messages, the captions and the three questions.
#include <string>
#include <string_view>

#include "win/registry.h"

namespace mv {

struct BilingualText {
  std::wstring_view En;
  std::wstring_view Ru;
};

namespace text {

// One line a language, so that each English text stands over its Russian one.
// clang-format off
inline constexpr BilingualText kNoRegistryAccess{
    L"No access to system registry",
    L"Нет доступа к системному реестру"};
inline constexpr BilingualText kNoAdminRights{
    L"You have no right to install applications!",
    L"У Вас нет права устанавливать программы!"};
inline constexpr BilingualText kPackageDistorted{
    L"The package file has been distorted!\r\nVirus?",
    L"Файл пакета установки искажён!\r\nВирус?"};
inline constexpr BilingualText kPackageUncheckable{
    L"Failed to check up the package file!",
    L"Не удаётся проверить файл пакета установки!"};
inline constexpr BilingualText kNoProduct{
    L"There's no subject of update - the Mirvane installed.\r\nPlease, install the program at first.",
    L"Нет предмета обновления - установленной программы Mirvane.\r\n"
    L"Пожалуйста, сначала установите программу."};
// Followed by the destination path.
inline constexpr BilingualText kCannotInstallFile{
    L"Can't install file ",
    L"Не удается установить файл "};
// Followed by the file's path.
inline constexpr BilingualText kCannotHandleLanguageFile{
    L"Can't handle the language support file ",
    L"Не удаётся работать с файлом языковой поддержки "};
// Shown as a notice, not an error: the add-on is installed.
inline constexpr BilingualText kProductNotStarted{
    L"Mirvane could not be started with your own rights.\r\nPlease, start the program yourself.",
    L"Не удаётся запустить Mirvane с Вашими правами.\r\nПожалуйста, запустите программу сами."};
inline constexpr BilingualText kAnotherSetupRuns{
    L"Another setup of Mirvane update is running now.\r\nPlease, wait for it to end.",
    L"Сейчас уже идёт другая установка обновления Mirvane.\r\nПожалуйста, дождитесь её окончания."};
// clang-format on

// The caption of every error box; the English one also of the closing question and of the
// report of an error that no step handles.
inline constexpr std::wstring_view kUpdateTitleRu = L"Обновление Mirvane";
inline constexpr std::wstring_view kUpdateTitleEn = L"Mirvane update";
inline constexpr std::wstring_view kQuestionCaptionRu = L"Резонный вопрос";
inline constexpr std::wstring_view kQuestionCaptionEn = L"Sound question";

}  // namespace text

struct Question {
  std::wstring Text;
  std::wstring_view Caption;
};

// The first question: whether to install the add-on of `addonDescription`.
Question ConfirmationQuestion(std::wstring_view addonDescription, bool russian);

// The closing question, whether to start the product. It exists in Russian only and is asked
// under the English update title.
Question ClosingQuestion(std::wstring_view addonDescription);

// The report of a registry failure that no step handles, in English only, in a runtime's words:
// "Invalid data type for 'Name'".
std::string UnhandledFailureText(const RegistryFailure& failure);

// The question before an older payload replaces a newer installed copy. `installed` and
// `payload` are the two version texts.
Question OlderPayloadQuestion(std::wstring_view destination, std::wstring_view installed, std::wstring_view payload,
                              bool russian);

}  // namespace mv
