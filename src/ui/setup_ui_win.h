#pragma once
// The setup run's user side on the Windows desktop: message boxes in the language start-up chose,
// and the progress window.
#include "ui/setup_ui.h"

namespace mv {

class WinSetupUi final : public SetupUi {
 public:
  explicit WinSetupUi(bool russianMessages) : russian_(russianMessages) {}

  bool RussianMessages() const override { return russian_; }
  bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) override;
  void HideProgress() override;
  bool ShowProgress(std::string_view caption, std::string_view text) override;
  using SetupUi::Ask;

 private:
  void ShowError(std::wstring_view en, std::wstring_view ru) override;

  bool russian_;
};

}  // namespace mv
