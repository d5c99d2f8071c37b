#include "ui/texts.h"

namespace mv {

Question ConfirmationQuestion(std::wstring_view addonDescription, bool russian) {
  Question q;
  if (russian) {
    q.Caption = text::kQuestionCaptionRu;
    q.Text.append(L"Вы действительно хотите установить\r\n").append(text::kUpdateTitleRu);
  } else {
    q.Caption = text::kQuestionCaptionEn;
    q.Text.append(L"Would you like to setup\r\n").append(text::kUpdateTitleEn);
  }
  q.Text.append(L" -\r\n").append(addonDescription).append(L"?");
  return q;
}

Question ClosingQuestion(std::wstring_view addonDescription) {
  Question q;
  q.Caption = text::kUpdateTitleEn;
  q.Text.append(L"На Ваш компьютер установлено\r\n").append(text::kUpdateTitleRu).append(L" -\r\n");
  q.Text.append(addonDescription).append(L"\r\n\r\nЗапустить программу?");
  return q;
}

std::string UnhandledFailureText(const RegistryFailure& failure) {
  std::string text;
  switch (failure.What) {
    case RegistryFailure::Kind::NoData:
      text = "Failed to get data for '";
      break;
    case RegistryFailure::Kind::WrongType:
      text = "Invalid data type for '";
      break;
    case RegistryFailure::Kind::NotWritten:
      text = "Failed to set data for '";
      break;
    case RegistryFailure::Kind::NotOpened:
      text = "Failed to open key '";
      break;
  }
  return text.append(failure.ValueName).append("'");
}

Question OlderPayloadQuestion(std::wstring_view destination, std::wstring_view installed, std::wstring_view payload,
                              bool russian) {
  Question q;
  if (russian) {
    q.Caption = text::kQuestionCaptionRu;
    q.Text.append(L"Устанавливаемый файл ").append(destination).append(L"\r\n");
    q.Text.append(L"более старой версии, чем уже установленный.\r\n\r\n");
    q.Text.append(L"Действительно ли Вы хотите заменить уже имеющийся\r\n");
    q.Text.append(L"файл версии ").append(installed).append(L" на более старый версии ").append(payload).append(L"?");
  } else {
    q.Caption = text::kQuestionCaptionEn;
    q.Text.append(destination).append(L" file installing is of older version\r\n");
    q.Text.append(L"than the same already installed.\r\n\r\n");
    q.Text.append(L"Do you really want to replace existing\r\n");
    q.Text.append(L"new file version ").append(installed).append(L" with an older file version ").append(payload);
    q.Text.append(L"?");
  }
  return q;
}

}  // namespace mv
