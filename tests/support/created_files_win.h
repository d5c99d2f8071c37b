#pragma once
// The names of the files created in a folder while it is watched, the short-lived ones included:
// for what a run must not write there even for a moment.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/text_win.h"
#include "win/handles_win.h"

namespace mv::testing {

class CreatedFiles {
 public:
  explicit CreatedFiles(const std::wstring& folder)
      : folder_(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
        event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    EXPECT_TRUE(folder_ && event_) << "cannot watch " << Utf8(folder);
    Arm();
  }
  ~CreatedFiles() {
    if (!armed_) return;
    ::CancelIoEx(folder_.get(), &overlapped_);
    DWORD got = 0;
    ::GetOverlappedResult(folder_.get(), &overlapped_, &got, TRUE);
  }
  CreatedFiles(const CreatedFiles&) = delete;
  CreatedFiles& operator=(const CreatedFiles&) = delete;

  // Everything reported so far; a change notice may trail the change by a moment.
  std::vector<std::wstring> Collect() {
    while (armed_ && ::WaitForSingleObject(event_.get(), 500) == WAIT_OBJECT_0) {
      DWORD got = 0;
      armed_ = false;
      if (!::GetOverlappedResult(folder_.get(), &overlapped_, &got, FALSE) || got == 0) break;
      for (std::size_t at = 0;;) {
        auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_ + at);
        if (info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_RENAMED_NEW_NAME)
          names_.emplace_back(info->FileName, info->FileNameLength / sizeof(wchar_t));
        if (info->NextEntryOffset == 0) break;
        at += info->NextEntryOffset;
      }
      Arm();
    }
    return names_;
  }

 private:
  void Arm() {
    ::ResetEvent(event_.get());
    overlapped_ = {};
    overlapped_.hEvent = event_.get();
    armed_ = folder_ && ::ReadDirectoryChangesW(folder_.get(), buffer_, sizeof buffer_, FALSE,
                                                FILE_NOTIFY_CHANGE_FILE_NAME, nullptr, &overlapped_, nullptr);
  }

  UniqueFile folder_;
  UniqueHandle event_;
  OVERLAPPED overlapped_{};
  alignas(DWORD) BYTE buffer_[65536];
  bool armed_ = false;
  std::vector<std::wstring> names_;
};

}  // namespace mv::testing
