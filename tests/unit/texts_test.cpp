// The texts composed at run time; the fixed ones are compared where they are shown.
#include "ui/texts.h"

#include <gtest/gtest.h>

namespace mv {
namespace {

TEST(OlderPayloadQuestion, ExactTexts) {
  const Question en = OlderPayloadQuestion(L"C:\\P\\mvm3.pak", L"93", L"-1", false);
  EXPECT_EQ(en.Caption, L"Sound question");
  EXPECT_EQ(en.Text,
            L"C:\\P\\mvm3.pak file installing is of older version\r\nthan the same already installed.\r\n\r\n"
            L"Do you really want to replace existing\r\nnew file version 93 with an older file version -1?");
  const Question ru = OlderPayloadQuestion(L"C:\\P\\mvm3.pak", L"93", L"92", true);
  EXPECT_EQ(ru.Caption, L"Резонный вопрос");
  EXPECT_EQ(ru.Text,
            L"Устанавливаемый файл C:\\P\\mvm3.pak\r\nболее старой версии, чем уже установленный.\r\n\r\n"
            L"Действительно ли Вы хотите заменить уже имеющийся\r\nфайл версии 93 на более старый версии 92?");
}

}  // namespace
}  // namespace mv
