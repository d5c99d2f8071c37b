#pragma once
// The setup run's user side on the Windows desktop: message boxes in the language start-up chose,
// and the progress window; in a quiet run, neither.
#include "ui/setup_ui.h"

namespace mv {

class WinSetupUi final : public SetupUi {
 public:
  WinSetupUi(bool russianMessages, RunMode mode) : SetupUi(mode), russian_(russianMessages) {}

  bool RussianMessages() const override { return russian_; }
  using SetupUi::Ask;

 private:
  bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) override;
  void ShowError(std::wstring_view en, std::wstring_view ru) override;
  void ShowNotice(std::wstring_view en, std::wstring_view ru) override;
  void HideProgressWindow() override;
  bool ShowProgressWindow(std::string_view caption, std::string_view text) override;

  bool russian_;
};

}  // namespace mv
