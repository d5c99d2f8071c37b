#pragma once
// What a setup run needs from the user's side: its errors, its questions and the progress
// window around the question before an older payload replaces a newer copy. The run and the
// payload writer share one such object; on Windows it is WinSetupUi, in tests a recording fake.
#include <string>
#include <string_view>

#include "ui/texts.h"

namespace mv {

class SetupUi {
 public:
  virtual ~SetupUi() = default;

  // True when messages and questions are in Russian, as start-up found from the user's locale.
  virtual bool RussianMessages() const = 0;

  // Shows the Russian text when RussianMessages says so, else the English one, and remembers
  // that the run has reported a failure.
  void ShowBilingualError(std::wstring_view en, std::wstring_view ru) {
    errorShown_ = true;
    ShowError(en, ru);
  }
  void ShowBilingualError(const BilingualText& message) { ShowBilingualError(message.En, message.Ru); }
  // A message whose texts are both followed by the same detail, such as a path.
  void ShowBilingualError(const BilingualText& message, std::wstring_view detail) {
    ShowBilingualError(std::wstring(message.En).append(detail), std::wstring(message.Ru).append(detail));
  }

  // A Yes/No question; true only for Yes. `russian` selects the Russian language id of the box.
  virtual bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) = 0;
  bool Ask(const Question& question, bool russian) { return Ask(question.Text, question.Caption, russian); }

  virtual void HideProgress() = 0;
  // False when the window could not be shown (its thread cannot be started).
  virtual bool ShowProgress(std::string_view caption, std::string_view text) = 0;

  // True once any error pair has been shown: the run then ends with the failure exit code.
  bool ErrorShown() const { return errorShown_; }

 protected:
  virtual void ShowError(std::wstring_view en, std::wstring_view ru) = 0;

 private:
  bool errorShown_ = false;
};

}  // namespace mv
