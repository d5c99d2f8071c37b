#pragma once
// What a setup run needs from the user's side: its errors, its questions, the progress window
// around the question before an older payload replaces a newer copy, and the log for whoever
// deploys it. The run alone talks to it; on Windows it is WinSetupUi, in tests a recording fake.
#include <string>
#include <string_view>

#include "base/run_mode.h"
#include "ui/run_log.h"
#include "ui/texts.h"

namespace mv {

class SetupUi {
 public:
  // In a quiet run nobody is at the PC: nothing is shown, not even an error, and a question gets
  // the answer that keeps what is there: No.
  explicit SetupUi(RunMode mode = RunMode::Interactive) : mode_(mode) {}
  virtual ~SetupUi() = default;

  // True when messages and questions are in Russian, as start-up found from the user's locale.
  virtual bool RussianMessages() const = 0;
  RunMode Mode() const { return mode_; }

  void KeepLog(RunLog& log) { log_ = &log; }
  // A line of the log: ASCII `text`, then `detail`.
  void Log(std::string_view text, std::wstring_view detail = {}) {
    if (log_ != nullptr) log_->Line(text, detail);
  }

  // Shows the Russian text when RussianMessages says so, else the English one (a quiet run shows
  // nothing), logs the English one and remembers that the run has reported a failure.
  void ShowBilingualError(std::wstring_view en, std::wstring_view ru) {
    errorShown_ = true;
    Log("Error: ", en);
    if (mode_ != RunMode::Quiet) ShowError(en, ru);
  }
  void ShowBilingualError(const BilingualText& message) { ShowBilingualError(message.En, message.Ru); }
  // A message whose texts are both followed by the same detail, such as a path.
  void ShowBilingualError(const BilingualText& message, std::wstring_view detail) {
    ShowBilingualError(std::wstring(message.En).append(detail), std::wstring(message.Ru).append(detail));
  }

  // A notice that is no failure (the run's exit code stays as it is): shown as ShowBilingualError
  // shows an error, and logged.
  void ShowBilingualNotice(const BilingualText& message) {
    Log("Notice: ", message.En);
    if (mode_ != RunMode::Quiet) ShowNotice(message.En, message.Ru);
  }

  // A Yes/No question; true only for Yes. `russian` selects the Russian language id of the box;
  // `what` is what the log says was asked.
  bool Ask(const Question& question, bool russian, std::string_view what) {
    const bool quiet = mode_ == RunMode::Quiet;
    const bool yes = !quiet && Ask(question.Text, question.Caption, russian);
    Log(what);
    Log(quiet ? "Answer: No, nobody to ask" : yes ? "Answer: Yes" : "Answer: No");
    return yes;
  }

  // The progress window, which a quiet run never shows. ShowProgress is false when the window
  // could not be shown (its thread cannot be started).
  void HideProgress() {
    if (mode_ != RunMode::Quiet) HideProgressWindow();
  }
  bool ShowProgress(std::string_view caption, std::string_view text) {
    return mode_ == RunMode::Quiet || ShowProgressWindow(caption, text);
  }

  // True once any error pair has been shown: the run then ends with a failure exit code.
  bool ErrorShown() const { return errorShown_; }

 protected:
  virtual bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) = 0;
  virtual void ShowError(std::wstring_view en, std::wstring_view ru) = 0;
  virtual void ShowNotice(std::wstring_view en, std::wstring_view ru) = 0;
  virtual void HideProgressWindow() = 0;
  virtual bool ShowProgressWindow(std::string_view caption, std::string_view text) = 0;

 private:
  RunMode mode_;
  bool errorShown_ = false;
  RunLog* log_ = nullptr;
};

}  // namespace mv
