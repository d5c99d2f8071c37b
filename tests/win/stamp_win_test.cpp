#include "integrity/stamp_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/environment_win.h"
#include "support/files_win.h"
#include "support/program_output_win.h"
#include "support/synthetic_pe.h"
#include "support/wait_win.h"
#include "win/handles_win.h"

namespace mv {
namespace {

using testing::Bytes;
using testing::Get16;
using testing::Get32;
using Clock = std::chrono::steady_clock;

Bytes StampedImage() { return testing::StampOrFail(testing::SyntheticPe{true}.Image(4096)); }

// A file under the temp folder, removed with the test whatever happens in it.
class TempFile {
 public:
  TempFile() {
    static int counter = 0;
    wchar_t dir[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, dir);
    EXPECT_GT(length, 0u);
    path_ = std::wstring(dir, length) + L"mv-integrity-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter) + L".exe";
  }
  ~TempFile() { ::DeleteFileW(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Write(const Bytes& bytes) const {
    testing::WriteBytes(path_, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  }
  UniqueFile Hold(DWORD share) const {
    UniqueFile file(
        ::CreateFileW(path_.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << ::GetLastError();
    return file;
  }
  const wchar_t* path() const { return path_.c_str(); }

 private:
  std::wstring path_;
};

// The layout rules are covered natively; here, that the mapped view is the whole file, and that
// the check says why a file is not intact, for the log.
TEST(Integrity, VerdictOnTheFileContent) {
  struct Case {
    const char* what;
    std::function<Bytes()> content;
    IntegrityResult expected;
    const wchar_t* failure;
  };
  const std::vector<Case> cases = {
      {"stamped", [] { return StampedImage(); }, IntegrityResult::Intact, L""},
      {"one byte changed",
       [] {
         Bytes b = StampedImage();
         b[2000] ^= 0x04;
         return b;
       },
       IntegrityResult::Distorted, L"its digest is not its stamp's"},
      {"no PE image", [] { return Bytes(4096, 'x'); }, IntegrityResult::Distorted, L"no MZ header"},
      {"empty", [] { return Bytes{}; }, IntegrityResult::Distorted, L"it is empty"},
  };
  for (const Case& c : cases) {
    TempFile file;
    file.Write(c.content());
    FileCheck check(std::vector<wchar_t>(file.path(), file.path() + std::wcslen(file.path()) + 1), 2);
    EXPECT_EQ(check.Verdict(), c.expected) << c.what;
    if (c.expected != IntegrityResult::Intact) {
      EXPECT_EQ(check.Failure(), c.failure) << c.what;
    }
  }
}

TEST(Integrity, FileThatCannotBeOpenedIsUncheckable) {
  TempFile missing;
  FileCheck check(std::vector<wchar_t>(missing.path(), missing.path() + std::wcslen(missing.path()) + 1), 1);
  EXPECT_EQ(check.Verdict(), IntegrityResult::Uncheckable);
  EXPECT_EQ(check.Failure(), L"it cannot be opened: Windows error 2");
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

// A file released while the check waits is checked: that hand-over is the brief-hold opener's,
// tested with the version readers, which share it.
TEST(Integrity, FileHeldExclusivelyIsUncheckableAfterWaiting) {
  TempFile file;
  file.Write(StampedImage());
  const UniqueFile scanner = file.Hold(0);
  const auto start = Clock::now();
  EXPECT_EQ(CheckInstallerFile(file.path()), IntegrityResult::Uncheckable);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1000)) << "gave up without waiting";
}

// The check of the running program reads that program's own file: this test program carries no
// stamp and is distorted; a stamped copy of it, running this test, finds itself intact.
TEST(Integrity, RunningProgramChecksItsOwnFile) {
  InstallerCheck check;
  const IntegrityResult verdict = check.Verdict();
  if (::GetEnvironmentVariableW(L"MV_STAMPED_COPY", nullptr, 0)) {
    std::printf("verdict %s\n", verdict == IntegrityResult::Intact ? "intact" : "not intact");
    return;
  }
  EXPECT_EQ(verdict, IntegrityResult::Distorted);
  EXPECT_EQ(check.Verdict(), IntegrityResult::Distorted) << "asked again";

  char self[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  const std::string copy = "stamped-" + std::to_string(::GetCurrentProcessId()) + ".exe";
  Bytes image = testing::ReadFile(std::string(self));
  image.resize((image.size() + 7) & ~std::size_t{7});  // the stamp takes whole 8-byte units
  testing::WriteFile(testing::ProgramFolder() + copy, testing::StampOrFail(image));
  testing::ScopedEnvironment marked(L"MV_STAMPED_COPY", L"1");
  const std::string output = testing::ProgramOutput(copy, " --gtest_filter=Integrity.RunningProgramChecksItsOwnFile");
  ::DeleteFileA((testing::ProgramFolder() + copy).c_str());
  EXPECT_NE(output.find("verdict intact"), std::string::npos) << output;
}

// Whether something holds the file without sharing writes, as the check holds it.
bool HeldAgainstWriters(const wchar_t* path) {
  const UniqueFile probe(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !probe && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// A run that ends before its check (no administrator rights) abandons it: by the time the check
// is gone, so are its threads, views and handles, whether it was still opening the file or
// hashing it.
TEST(Integrity, AbandonedCheckLeavesNothingOpen) {
  TempFile file;
  file.Write(testing::StampOrFail(testing::SyntheticPe{true}.Image(3 * kCheckViewBytes)));
  const std::vector<wchar_t> path(file.path(), file.path() + std::wcslen(file.path()) + 1);
  for (const unsigned threads : {1u, kMostCheckThreads}) {
    { FileCheck abandoned(path, threads); }
    EXPECT_FALSE(HeldAgainstWriters(file.path())) << threads << " threads, abandoned at once";
    {
      // Held with the file open and its first piece mapped, helpers started, until it is
      // abandoned: that is reached by construction, not by a probe that comes in time.
      struct Held {
        UniqueHandle reached{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        static void Hold(void* context, const std::atomic<bool>& abandoned) {
          ::SetEvent(static_cast<Held*>(context)->reached.get());
          while (!abandoned) ::Sleep(1);
        }
      } held;
      FileCheck abandoned(path, threads, Held::Hold, &held);
      ASSERT_EQ(::WaitForSingleObject(held.reached.get(), INFINITE), WAIT_OBJECT_0);
      EXPECT_TRUE(HeldAgainstWriters(file.path())) << "the check does not hold the file";
    }
    EXPECT_FALSE(HeldAgainstWriters(file.path())) << threads << " threads, abandoned while hashing";
  }
  EXPECT_EQ(CheckInstallerFile(file.path()), IntegrityResult::Intact) << "a check asked to the end";
}

// A file bigger than one view is checked view by view; the trailer here straddles the boundary
// of the first two views, so that its marker is in one and its digest in the other.
TEST(Integrity, FileOfSeveralViews) {
  const std::size_t boundary = static_cast<std::size_t>(kCheckViewBytes);
  const Bytes stamped = testing::StampOrFail(testing::SyntheticPe{true}.Image(boundary - 24));
  ASSERT_EQ(stamped.size(), boundary + 24);
  const struct {
    const char* what;
    std::size_t at;  // the byte changed, or none
    IntegrityResult expected;
  } cases[] = {{"intact", 0, IntegrityResult::Intact},
               {"content in the first view", boundary / 2, IntegrityResult::Distorted},
               {"marker, in the first view", boundary - 20, IntegrityResult::Distorted},
               {"digest, in the second view", boundary + 3, IntegrityResult::Distorted}};
  TempFile file;
  for (const auto& c : cases) {
    Bytes changed = stamped;
    if (c.at != 0) changed[c.at] ^= 0x40;
    file.Write(changed);
    EXPECT_EQ(CheckInstallerFile(file.path()), c.expected) << c.what;
  }
  // Signed: the certificate table, which the check leaves alone, is in the second view too.
  file.Write(testing::SyntheticPe{true}.Signed(stamped, 4096));
  EXPECT_EQ(CheckInstallerFile(file.path()), IntegrityResult::Intact) << "signed";
}

// ---- The built installer, changed the way a bad download or a tamperer changes it ------------

// tools/run-tests builds the installer of the tests' own architecture before the Windows tests.
const wchar_t kBuiltInstaller[] = MV_TEST_BUILT_INSTALLER;

struct Region {
  std::string name;
  std::size_t begin, size;
};

// 200 places spread over the headers (named fields first), each section's raw data and the
// stamp's trailer; the code and the resources (where the payload lies) take the larger share.
// The optional header's CheckSum is left out: signing rewrites it, so the stamp cannot cover
// it, and the loader ignores it for a program.
std::vector<std::size_t> FlipPositions(const Bytes& file, std::size_t& checksum) {
  const std::size_t pe = Get32(file, 0x3C);
  const std::size_t optional = pe + 24;
  const std::size_t sections = optional + Get16(file, pe + 20);
  const std::size_t securityEntry = optional + 112 + 4 * 8;  // PE32+
  checksum = optional + 64;
  std::vector<std::size_t> at = {0,
                                 1,
                                 0x3C,
                                 0x40,
                                 pe,
                                 pe + 4,
                                 pe + 6,
                                 pe + 8,
                                 pe + 20,
                                 optional,
                                 optional + 16,
                                 optional + 56,
                                 securityEntry,
                                 securityEntry + 4,
                                 sections,
                                 sections + 20};
  std::vector<Region> regions = {{"headers", 0, Get32(file, optional + 60)}};
  std::size_t code = 0, resources = 0;
  for (std::size_t i = 0, count = Get16(file, pe + 6); i < count; ++i) {
    const std::size_t header = sections + 40 * i;
    const std::string name(reinterpret_cast<const char*>(&file[header]), 8);
    if (Get32(file, header + 16) == 0) continue;                 // no raw data (.bss)
    if (Get32(file, header + 36) & 0x20) code = regions.size();  // IMAGE_SCN_CNT_CODE
    if (name.starts_with(".rsrc")) resources = regions.size();
    regions.push_back({name.c_str(), Get32(file, header + 20), Get32(file, header + 16)});
  }
  regions.push_back({"stamp", file.size() - stamp::kTrailerSize, stamp::kTrailerSize});
  EXPECT_NE(code, 0u);
  EXPECT_NE(resources, 0u);

  constexpr std::size_t kTotal = 200, kEach = 10;
  const std::size_t extra = kTotal - at.size() - kEach * regions.size();
  std::set<std::size_t> taken(at.begin(), at.end());
  for (std::size_t r = 0; r < regions.size(); ++r) {
    std::size_t n = kEach + (r == code ? extra / 2 : 0) + (r == resources ? extra - extra / 2 : 0);
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t p = regions[r].begin + (regions[r].size - 1) * i / (n - 1);
      while (taken.count(p) || (p >= checksum && p < checksum + 4)) ++p;
      taken.insert(p);
      at.push_back(p);
    }
  }
  return at;
}

// The built installer, and the same grown to three pieces (an overlay after its sections, and
// stamped again), so that the check's threads share its pieces and one takes two.
class BuiltInstallerCopy : public ::testing::Test {
 protected:
  struct Copy {
    Bytes bytes;
    TempFile file;
  };

  void SetUp() override {
    const std::optional<Bytes> original = testing::ReadBytes(kBuiltInstaller);
    ASSERT_TRUE(original) << "no built installer: run tools/build-installer (with --arch x64 for the x64 tests) first";
    built_.bytes = *original;
    Bytes grown(original->begin(), original->end() - stamp::kTrailerSize);
    for (std::size_t i = grown.size(); i < 2 * kCheckViewBytes + 4096; ++i)
      grown.push_back(static_cast<std::uint8_t>(i * 29));
    grown_.bytes = testing::StampOrFail(grown);
    for (const Copy* copy : {&built_, &grown_}) {
      copy->file.Write(copy->bytes);
      ASSERT_EQ(Checked(*copy), IntegrityResult::Intact)
          << "the built installer itself, " << copy->bytes.size() << " bytes";
    }
  }

  // The installer's own check, and the same on one thread: they must agree.
  static IntegrityResult Checked(const Copy& copy) {
    const IntegrityResult all = CheckInstallerFile(copy.file.path());
    if (copy.bytes.size() > kCheckViewBytes) {
      EXPECT_EQ(CheckInstallerFile(copy.file.path(), 1), all) << "on one thread";
    }
    return all;
  }

  // Changes the copy in place: cheaper than writing 4 MB for each of hundreds of variants.
  static void Patch(const Copy& copy, std::size_t at, std::uint8_t value) {
    const UniqueFile file(
        ::CreateFileW(copy.file.path(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(at);
    DWORD written = 0;
    ASSERT_TRUE(::SetFilePointerEx(file.get(), to, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::WriteFile(file.get(), &value, 1, &written, nullptr));
  }
  static void CutTo(const Copy& copy, std::size_t length) {
    const UniqueFile file(
        ::CreateFileW(copy.file.path(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(length);
    ASSERT_TRUE(::SetFilePointerEx(file.get(), to, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file.get()));
  }

  Copy built_, grown_;
};

TEST_F(BuiltInstallerCopy, EveryFlippedByteIsDistortion) {
  std::size_t checksum = 0;
  const std::vector<std::size_t> positions = FlipPositions(built_.bytes, checksum);
  ASSERT_EQ(positions.size(), 200u);
  ASSERT_EQ(std::set(positions.begin(), positions.end()).size(), 200u);
  ASSERT_LT(*std::max_element(positions.begin(), positions.end()), built_.bytes.size());
  // The grown copy, whose every check hashes 32 MiB, has a sample of those and the pieces' ends.
  const std::size_t piece = kCheckViewBytes, grownContent = grown_.bytes.size() - stamp::kTrailerSize;
  std::vector<std::size_t> grownPositions = {
      piece - 1,        piece,        piece + piece / 2,      2 * piece - 1, 2 * piece,
      grownContent - 1, grownContent, grown_.bytes.size() - 1};
  for (std::size_t i = 0; i < positions.size(); i += 40) grownPositions.push_back(positions[i]);

  for (const auto& [copy, at] :
       {std::pair<const Copy*, const std::vector<std::size_t>*>{&built_, &positions}, {&grown_, &grownPositions}}) {
    for (const std::size_t p : *at) {
      Patch(*copy, p, copy->bytes[p] ^ 0xFF);
      EXPECT_EQ(Checked(*copy), IntegrityResult::Distorted)
          << "byte " << p << " of " << copy->bytes.size() << " flipped";
      Patch(*copy, p, copy->bytes[p]);
    }
    EXPECT_EQ(Checked(*copy), IntegrityResult::Intact) << "every byte put back";
    Patch(*copy, checksum, copy->bytes[checksum] ^ 0xFF);
    EXPECT_EQ(Checked(*copy), IntegrityResult::Intact) << "the CheckSum is for signing to rewrite";
  }
}

TEST_F(BuiltInstallerCopy, EveryCutIsDistortion) {
  const std::size_t size = built_.bytes.size();
  for (const std::size_t length : {size - 1, size - 8, size - stamp::kTrailerSize, size - stamp::kTrailerSize - 8,
                                   size / 2, std::size_t{1024}, std::size_t{0x40}, std::size_t{1}}) {
    CutTo(built_, length);
    EXPECT_EQ(Checked(built_), IntegrityResult::Distorted) << "cut to " << length << " bytes";
  }
  // At the pieces' boundaries, and just short of the end.
  const std::size_t grown = grown_.bytes.size();
  for (const std::size_t length : {grown - 1, grown - stamp::kTrailerSize, 2 * kCheckViewBytes, kCheckViewBytes}) {
    CutTo(grown_, length);
    EXPECT_EQ(Checked(grown_), IntegrityResult::Distorted) << "cut to " << length << " bytes";
  }
}

}  // namespace
}  // namespace mv
