#include "app/integrity.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/stamp_layout.h"
#include "env/win_handle.h"

namespace mv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// The smallest PE32+ header layout the stamp reads, with filler elsewhere.
constexpr std::size_t kPe = 0x80;
constexpr std::size_t kOptional = kPe + 24;
constexpr std::size_t kSecurityEntry = kOptional + 112 + 4 * 8;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes StampedImage() {
  Bytes b(4096);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 167 + 13);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, kPe);
  Put32(b, kPe, 0x00004550);
  Put32(b, kPe + 4, 0x8664);
  Put32(b, kPe + 20, 112 + 16 * 8);  // SizeOfOptionalHeader, then Characteristics
  Put32(b, kOptional, 0x20b);
  Put32(b, kOptional + 108, 16);
  Put32(b, kSecurityEntry, 0);
  Put32(b, kSecurityEntry + 4, 0);
  std::string error;
  Bytes stamped = stamp::Stamp(b, error);
  EXPECT_FALSE(stamped.empty()) << error;
  return stamped;
}

// A file under the temp folder, removed with the test whatever happens in it.
class TempFile {
 public:
  TempFile() {
    static int counter = 0;
    wchar_t dir[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, dir);
    EXPECT_GT(length, 0u);
    path_ = std::wstring(dir, length) + L"mv-integrity-" + std::to_wstring(::GetCurrentProcessId()) +
            L"-" + std::to_wstring(++counter) + L".exe";
  }
  ~TempFile() { ::DeleteFileW(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Write(const Bytes& bytes) const {
    const UniqueFile file(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << ::GetLastError();
    if (bytes.empty()) return;
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }
  UniqueFile Hold(DWORD share) const {
    UniqueFile file(::CreateFileW(path_.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << ::GetLastError();
    return file;
  }
  const wchar_t* path() const { return path_.c_str(); }

 private:
  std::wstring path_;
};

// The layout rules are covered natively; here, that the mapped view is the whole file.
TEST(Integrity, VerdictOnTheFileContent) {
  struct Case {
    const char* what;
    std::function<Bytes()> content;
    IntegrityResult expected;
  };
  const std::vector<Case> cases = {
      {"stamped", [] { return StampedImage(); }, IntegrityResult::Intact},
      {"one byte changed", [] { Bytes b = StampedImage(); b[2000] ^= 0x04; return b; }, IntegrityResult::Distorted},
      {"empty", [] { return Bytes{}; }, IntegrityResult::Distorted},
  };
  for (const Case& c : cases) {
    TempFile file;
    file.Write(c.content());
    EXPECT_EQ(CheckInstallerFile(file.path()), c.expected) << c.what;
  }
}

TEST(Integrity, FileThatCannotBeOpenedIsUncheckable) {
  TempFile missing;
  EXPECT_EQ(CheckInstallerFile(missing.path()), IntegrityResult::Uncheckable);
  wchar_t dir[MAX_PATH + 1];
  ASSERT_GT(::GetTempPathW(MAX_PATH + 1, dir), 0u);
  EXPECT_EQ(CheckInstallerFile(dir), IntegrityResult::Uncheckable) << "a folder";
}

// A scanner that lets others read does not stand in the way at all.
TEST(Integrity, ReaderThatSharesDoesNotBlock) {
  TempFile file;
  file.Write(StampedImage());
  const UniqueFile scanner = file.Hold(FILE_SHARE_READ);
  EXPECT_EQ(CheckInstallerFile(file.path()), IntegrityResult::Intact);
}

TEST(Integrity, FileHeldExclusivelyIsUncheckableAfterWaiting) {
  TempFile file;
  file.Write(StampedImage());
  const UniqueFile scanner = file.Hold(0);
  const auto start = Clock::now();
  EXPECT_EQ(CheckInstallerFile(file.path()), IntegrityResult::Uncheckable);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1000)) << "gave up without waiting";
}

TEST(Integrity, FileReleasedWhileWaitingIsChecked) {
  TempFile file;
  file.Write(StampedImage());
  UniqueFile scanner = file.Hold(0);
  std::thread release([&scanner] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    scanner.reset();
  });
  const IntegrityResult result = CheckInstallerFile(file.path());
  release.join();
  EXPECT_EQ(result, IntegrityResult::Intact);
}

class RecordingSink : public MessageSink {
 public:
  using MessageSink::ShowBilingualError;
  void ShowBilingualError(std::wstring_view en, std::wstring_view ru) override {
    shown.push_back({std::wstring(en), std::wstring(ru)});
  }
  std::vector<std::pair<std::wstring, std::wstring>> shown;
};

// The test program itself carries no stamp: the running-executable path is found and checked,
// and the user gets exactly the "distorted" message.
TEST(Integrity, UnstampedRunningProgramShowsTheDistortedMessage) {
  RecordingSink sink;
  EXPECT_FALSE(VerifyInstallerFile(sink));
  ASSERT_EQ(sink.shown.size(), 1u);
  EXPECT_EQ(sink.shown[0].first, text::kPackageDistorted.en);
  EXPECT_EQ(sink.shown[0].second, text::kPackageDistorted.ru);
}

}  // namespace
}  // namespace mv
