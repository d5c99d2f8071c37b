#pragma once
// Every text the installer shows, the English and the Russian of each side by side.
#include <string>
#include <string_view>

namespace mv {

struct BilingualText {
  std::wstring_view en;
  std::wstring_view ru;
};

namespace text {

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

inline constexpr std::wstring_view kUpdateTitleRu = L"Обновление Mirvane";
inline constexpr std::wstring_view kUpdateTitleEn = L"Mirvane update";
inline constexpr std::wstring_view kQuestionCaptionRu = L"Резонный вопрос";
inline constexpr std::wstring_view kQuestionCaptionEn = L"Sound question";

}  // namespace text

// Where error messages go: a message box on Windows, a record in tests.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows the Russian text when the user's locale asks for it, else the English one.
  virtual void ShowBilingualError(std::wstring_view en, std::wstring_view ru) = 0;
  void ShowBilingualError(const BilingualText& message) { ShowBilingualError(message.en, message.ru); }
  // A message whose texts are both followed by the same detail, such as a path.
  void ShowBilingualError(const BilingualText& message, std::wstring_view detail) {
    ShowBilingualError(std::wstring(message.en).append(detail), std::wstring(message.ru).append(detail));
  }
};

}  // namespace mv
