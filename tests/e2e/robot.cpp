#include "e2e/robot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include "e2e/processes.h"
#include "support/text_win.h"
#include "support/wait_win.h"

namespace e2e {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using mv::testing::Utf8;
using mv::testing::WaitUntil;

void PrintTo(const Box& box, std::ostream* os) {
  // The texts hold CR LF; printed escaped, a difference in line breaks stays visible.
  auto escaped = [](const std::string& s) {
    std::string out;
    for (char c : s) {
      if (c == '\r')
        out += "\\r";
      else if (c == '\n')
        out += "\\n";
      else
        out += c;
    }
    return out;
  };
  *os << "{[" << box.buttons << "] \"" << escaped(box.caption) << "\": \"" << escaped(box.text) << "\"}";
}

Box OkBox(std::wstring_view caption, std::wstring_view text) { return {Utf8(caption), Utf8(text), "OK"}; }
Box YesNoBox(std::wstring_view caption, std::wstring_view text) { return {Utf8(caption), Utf8(text), "YesNo"}; }

Answer Press(Box expected, int button, std::function<void()> whileOpen) {
  Answer a;
  a.expected = std::move(expected);
  a.button = button;
  a.whileOpen = std::move(whileOpen);
  return a;
}

Answer PressOkOnAnyBox() {
  Answer a;
  a.expected.buttons = "OK";
  a.button = IDOK;
  a.anyText = true;
  return a;
}

namespace {

struct BoxSearch {
  DWORD pid;
  const std::set<HWND>* handled;
  std::set<std::string>* seen;
  HWND found = nullptr;
};

// Notes every window of the process and finds a message box not handled yet.
BOOL CALLBACK FindBoxOf(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<BoxSearch*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != search->pid) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, static_cast<int>(std::size(cls)));
  search->seen->insert(Utf8(cls));
  if (search->found || !IsWindowVisible(hwnd) || search->handled->count(hwnd)) return TRUE;
  if (std::wstring_view(cls) == L"#32770") search->found = hwnd;
  return TRUE;
}

std::wstring WindowText(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  n = GetWindowTextW(hwnd, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(std::max(n, 0)));
  return s;
}

// The message box's text is the static control with id 0xFFFF.
std::wstring BoxText(HWND box) {
  HWND label = GetDlgItem(box, 0xFFFF);
  return label ? WindowText(label) : std::wstring();
}

bool HasButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  // Unused buttons of the dialog template may exist hidden.
  return button && (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE);
}

std::string Buttons(HWND box) {
  static constexpr std::pair<int, const char*> kNames[] = {{IDOK, "OK"},       {IDCANCEL, "Cancel"}, {IDABORT, "Abort"},
                                                           {IDRETRY, "Retry"}, {IDIGNORE, "Ignore"}, {IDYES, "Yes"},
                                                           {IDNO, "No"}};
  std::string names;
  for (auto [id, name] : kNames)
    if (HasButton(box, id)) names += name;
  return names;
}

int SafeButton(HWND box) {
  for (int id : {IDNO, IDOK, IDCANCEL})
    if (HasButton(box, id)) return id;
  return IDCANCEL;
}

bool Matches(const Answer& answer, const Box& box) {
  if (answer.anyText) return box.buttons == answer.expected.buttons;
  return box == answer.expected;
}

}  // namespace

RunResult RunWithRobot(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workDir,
                       const std::vector<Answer>& answers, std::chrono::milliseconds limit) {
  RunResult result;
  DWORD pid = 0;
  mv::UniqueHandle process = StartProcess(exe, arguments, workDir, &pid);
  if (!process) return result;
  result.started = true;

  const auto deadline = Clock::now() + limit;
  std::set<HWND> handled;
  std::set<std::string> windows;
  while (WaitForSingleObject(process.get(), 15) == WAIT_TIMEOUT) {
    if (Clock::now() > deadline) {
      result.timedOut = true;
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), 5000);
      break;
    }
    BoxSearch search{pid, &handled, &windows};
    EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&search));
    if (!search.found) continue;
    HWND box = search.found;
    handled.insert(box);

    Box seen{Utf8(WindowText(box)), Utf8(BoxText(box)), Buttons(box)};
    const std::size_t index = result.boxes.size();
    result.boxes.push_back(seen);
    int button = SafeButton(box);
    if (index < answers.size() && Matches(answers[index], seen)) {
      if (answers[index].whileOpen) answers[index].whileOpen();
      button = answers[index].button;
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    // The next box may reuse this one's handle: wait until this one is gone.
    const auto gone = [&] { return !IsWindow(box) || !IsWindowVisible(box); };
    WaitUntil([&] { return gone() || WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT; }, 5s);
    if (gone()) handled.erase(box);
  }
  GetExitCodeProcess(process.get(), &result.exitCode);
  result.windows.assign(windows.begin(), windows.end());
  return result;
}

}  // namespace e2e
