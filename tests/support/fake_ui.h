#pragma once
// The user's side of a setup run, scripted: every error, question and progress-window call is
// recorded, and questions are answered from a queue. It also stands for the run's log and, in the
// tests of the payload writer, for the run's step before a commit ("commit").
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "install/safe_write.h"
#include "ui/setup_ui.h"

namespace mv::testing {

class FakeUi : public SetupUi, public BeforeCommit, public RunLog {
 public:
  struct AskedQuestion {
    std::wstring Text;
    std::wstring Caption;
    bool Russian;
  };

  explicit FakeUi(RunMode mode = RunMode::Interactive) : SetupUi(mode) { KeepLog(*this); }
  FakeUi(const FakeUi&) = delete;
  FakeUi& operator=(const FakeUi&) = delete;

  bool Russian = false;
  // Answers to the questions, in order; once they run out, every question gets `Answer`.
  std::deque<bool> Answers;
  bool Answer = false;
  int UnqueuedQuestions = 0;   // questions asked after `Answers` ran out
  bool ProgressStarts = true;  // false: the progress window's thread cannot be started

  std::vector<std::wstring> Errors;   // the English texts
  std::vector<std::wstring> Notices;  // the English texts
  std::vector<AskedQuestion> Questions;
  std::vector<std::string> Progress;  // "hide", "show[caption][text]"
  // One line per call, "error", "notice", "ask", "hide", "show" or "commit", in order; fakes of the system
  // side may write their own lines here so that a test sees the order of both.
  std::vector<std::string> Events;
  std::vector<std::wstring> LogLines;

  // Forgets what was set and recorded, for the next case.
  void Clear() {
    Russian = false;
    Answers.clear();
    Answer = false;
    UnqueuedQuestions = 0;
    ProgressStarts = true;
    Errors.clear();
    Notices.clear();
    Questions.clear();
    Progress.clear();
    Events.clear();
    LogLines.clear();
  }

  bool RussianMessages() const override { return Russian; }
  void Run() override { Events.push_back("commit"); }
  void Line(std::string_view text, std::wstring_view detail) override {
    LogLines.emplace_back(text.begin(), text.end());
    LogLines.back().append(detail);
  }
  // The first logged line that starts with `start`, or "" when none does.
  std::wstring Logged(std::wstring_view start) const {
    for (const std::wstring& line : LogLines)
      if (line.rfind(start, 0) == 0) return line;
    return L"";
  }
  using SetupUi::Ask;

 protected:
  void ShowError(std::wstring_view en, std::wstring_view) override {
    Errors.emplace_back(en);
    Events.push_back("error");
  }
  void ShowNotice(std::wstring_view en, std::wstring_view) override {
    Notices.emplace_back(en);
    Events.push_back("notice");
  }
  bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) override {
    Questions.push_back({std::wstring(text), std::wstring(caption), russian});
    Events.push_back("ask");
    if (Answers.empty()) {
      ++UnqueuedQuestions;
      return Answer;
    }
    const bool yes = Answers.front();
    Answers.pop_front();
    return yes;
  }
  void HideProgressWindow() override {
    Progress.push_back("hide");
    Events.push_back("hide");
  }
  bool ShowProgressWindow(std::string_view caption, std::string_view text) override {
    Progress.push_back("show[" + std::string(caption) + "][" + std::string(text) + "]");
    Events.push_back("show");
    return ProgressStarts;
  }
};

}  // namespace mv::testing
