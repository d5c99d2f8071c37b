// Writing the payload over the real (Wine) file system: direct writes, the replacement of an
// installed copy through the temporary file, the version comparison and what is left behind
// after each answer and each failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "install/extract_win.h"
#include "install/versions_win.h"
#include "support/fake_ui.h"
#include "support/files_win.h"
#include "win/files_win.h"

namespace mv {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempDir;
using testing::Wide;
using testing::WriteFile;
using Bytes = std::vector<std::uint8_t>;

using testing::FakeUi;

const std::vector<std::string> kBlankProgressAfterQuestion = {"hide", "show[][]"};
using Events = std::vector<std::string>;

class ExtractTest : public ::testing::Test {
 protected:
  Bytes Data(const char* name) { return ReadFile(std::string(MV_TEST_SOURCE_DIR) + "/data/" + name); }
  Bytes Payload() { return Data("payload.bin"); }
  // The payload with one byte changed: a higher (+1) or lower (-1) version where `at` is the
  // version's high byte, or the same version with other content where it is not.
  Bytes Variant(std::size_t at, int delta) {
    Bytes bytes = Payload();
    bytes[at] = static_cast<std::uint8_t>(bytes[at] + delta);
    return bytes;
  }
  // Every question of the payload writer is the English one in an English run.
  void ExpectEnglishQuestions() {
    for (const FakeUi::AskedQuestion& q : ui.Questions) {
      EXPECT_EQ(q.Caption, L"Sound question");
      EXPECT_FALSE(q.Russian);
    }
  }
  void TearDown() override { ExpectEnglishQuestions(); }
  void ResetUi() {
    ExpectEnglishQuestions();
    ui.Clear();
  }
  void ExpectNoTemp(const std::wstring& target) {
    const std::wstring temp = dir / (L"~" + target.substr(target.rfind(L'\\') + 1));
    EXPECT_FALSE(Exists(temp)) << testing::Utf8(temp);
  }

  TempDir dir;
  FakeUi ui;
};

// The payload's version fields (see data/payload.bin): "pak" 0x1714, "3bs" 0x14, "cok" 0x14ED.
struct KindCase {
  const char* kind;
  std::size_t highByte;
  const char* payloadVersion;
  const char* newerVersion;  // with the high byte one up
};
const KindCase kKinds[] = {
    {"pak", 7, "5908", "6164"},
    {"3bs", 6, "20", "21"},
    {"cok", 6, "5357", "5613"},
};

TEST_F(ExtractTest, DirectWritesNeverCompare) {
  const std::wstring target = dir / L"mvm3.pak";
  ExtractPayload("testpay", "pak", target, true, ui, ui);  // nothing there yet
  EXPECT_EQ(ReadFile(target), Payload());

  // Written over in place, newer or not: no check asked for, or a kind without a version
  // ("PAK" in capitals is not "pak").
  const struct {
    const char* kind;
    bool checkExisting;
  } cases[] = {{"pak", false}, {"PAK", true}, {"txt", true}};
  for (const auto& c : cases) {
    const std::wstring file = dir / (L"data." + Wide(c.kind));
    WriteFile(file, Variant(7, +1));
    ExtractPayload("TESTPAY", c.kind, file, c.checkExisting, ui, ui);
    EXPECT_EQ(ReadFile(file), Payload()) << c.kind;
    ExpectNoTemp(file);
  }
  EXPECT_TRUE(ui.Errors.empty());
  EXPECT_TRUE(ui.Questions.empty());
  EXPECT_TRUE(ui.Progress.empty());
}

TEST_F(ExtractTest, EqualOlderOrUnreadableCopyIsReplacedWithoutAsking) {
  for (const KindCase& k : kKinds) {
    const std::wstring target = dir / (L"data." + Wide(k.kind));
    const Bytes installed[] = {Variant(k.highByte, -1), Variant(Payload().size() - 1, 1), Bytes(5, 0xFF)};
    for (const Bytes& copy : installed) {
      WriteFile(target, copy);
      ExtractPayload("testpay", k.kind, target, true, ui, ui);
      EXPECT_EQ(ReadFile(target), Payload()) << k.kind;
      ExpectNoTemp(target);
    }
  }
  EXPECT_TRUE(ui.Errors.empty());
  EXPECT_TRUE(ui.Questions.empty());
  EXPECT_TRUE(ui.Progress.empty()) << "the progress window was touched";
}

TEST_F(ExtractTest, NewerCopyIsReplacedOnlyAfterYes) {
  for (const KindCase& k : kKinds) {
    const std::wstring target = dir / (L"data." + Wide(k.kind));
    const Bytes newer = Variant(k.highByte, +1);
    for (const bool yes : {false, true}) {
      SCOPED_TRACE(std::string(k.kind) + (yes ? " yes" : " no"));
      WriteFile(target, newer);
      ResetUi();
      ui.Answer = yes;
      ExtractPayload("testpay", k.kind, target, true, ui, ui);
      ASSERT_EQ(ui.Questions.size(), 1u);
      EXPECT_NE(ui.Questions[0].Text.find(target + L" file installing is of older version"), std::wstring::npos);
      EXPECT_NE(ui.Questions[0].Text.find(L"new file version " + Wide(k.newerVersion) +
                                          L" with an older file version " + Wide(k.payloadVersion) + L"?"),
                std::wstring::npos)
          << ui.Questions[0].Text;
      EXPECT_EQ(ReadFile(target), yes ? Payload() : newer);
      ExpectNoTemp(target);
      // Certain to write only after a Yes: a running product would be closed only then.
      EXPECT_EQ(ui.Events, yes ? (Events{"hide", "ask", "commit", "show"}) : (Events{"hide", "ask", "show"}));
      EXPECT_EQ(ui.Progress, kBlankProgressAfterQuestion);
      EXPECT_TRUE(ui.Errors.empty());
    }
  }
}

// The progress window comes back after the question; a thread that cannot start it fails the
// step like a failed write, whichever the answer was.
TEST_F(ExtractTest, ProgressWindowThatCannotStartIsReported) {
  const std::wstring target = dir / L"mvm3.pak";
  const Bytes newer = Variant(7, +1);
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    WriteFile(target, newer);
    ResetUi();
    ui.Answer = yes;
    ui.ProgressStarts = false;
    ExtractPayload("testpay", "pak", target, true, ui, ui);
    EXPECT_EQ(ui.Progress, kBlankProgressAfterQuestion);
    EXPECT_EQ(ui.Errors, std::vector<std::wstring>{L"Can't install file " + target});
    EXPECT_EQ(ReadFile(target), yes ? Payload() : newer);
    ExpectNoTemp(target);
  }
}

TEST_F(ExtractTest, LanguageFiles) {
  const Bytes payload = Data("lang.lng");  // version 42
  auto text = [](const char* content) { return Bytes(content, content + std::strlen(content)); };
  const std::wstring target = dir / L"mvl.lng";

  WriteFile(target, text("[langver]\r\n41\r\n"));
  ExtractPayload("testpay", "lng", target, true, ui, ui);
  EXPECT_EQ(ReadFile(target), payload);
  EXPECT_TRUE(ui.Questions.empty());

  WriteFile(target, text("[langver]\r\n43\r\n"));
  ExtractPayload("testpay", "lng", target, true, ui, ui);
  ASSERT_EQ(ui.Questions.size(), 1u);
  EXPECT_NE(ui.Questions[0].Text.find(L"version 43 with an older file version 42?"), std::wstring::npos);
  EXPECT_EQ(ReadFile(target), text("[langver]\r\n43\r\n"));

  // A "!" anywhere in the destination: no comparison at all.
  ASSERT_TRUE(::CreateDirectoryW((dir / L"Mir!vane").c_str(), nullptr));
  const std::wstring marked = dir / L"Mir!vane\\mvl.lng";
  WriteFile(marked, text("[langver]\r\n43\r\n"));
  ExtractPayload("testpay", "lng", marked, true, ui, ui);
  EXPECT_EQ(ReadFile(marked), payload);
  EXPECT_EQ(ui.Questions.size(), 1u);

  // An installed copy without a readable version counts as 0, after its message.
  WriteFile(target, text("[langver]\r\nold\r\n"));
  ExtractPayload("testpay", "lng", target, true, ui, ui);
  EXPECT_EQ(ReadFile(target), payload);
  ASSERT_EQ(ui.Errors.size(), 1u);
  EXPECT_EQ(ui.Errors[0], L"Can't handle the language support file " + target);

  // So does a payload without one; the message names the temporary file.
  WriteFile(target, text("1"));
  ExtractPayload("badlang", "lng", target, true, ui, ui);
  ASSERT_EQ(ui.Errors.size(), 2u);
  EXPECT_EQ(ui.Errors[1], L"Can't handle the language support file " + dir / L"~mvl.lng");
  EXPECT_EQ(ui.Questions.size(), 2u) << "version 1 installed is newer than 0";
  EXPECT_EQ(ReadFile(target), text("1"));
  ExpectNoTemp(target);
}

// A copy held open without sharing has a version nobody knows. At a desk it counts as 0, as it
// always has (the write then fails on the held copy); an unattended run, which would leave the
// write for the next restart, keeps the copy instead, and fails.
TEST_F(ExtractTest, AnUnreadableVersionIsNeverReplacedAtTheNextRestart) {
  const std::wstring target = dir / L"mvm3.pak";
  const Bytes newer = Variant(7, +1);
  WriteFile(target, newer);
  for (const bool unattended : {false, true}) {
    SCOPED_TRACE(unattended ? "unattended" : "at a desk");
    FakeUi run(unattended);
    {
      const UniqueFile holder(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holder);
      EXPECT_EQ(ExtractPayload("testpay", "pak", target, true, run, run), WriteResult::Failed);
    }
    EXPECT_EQ(run.Logged(L"Version of the installed copy: "),
              L"Version of the installed copy: unknown: it cannot be read");
    EXPECT_EQ(run.Logged(L"A version cannot be read") != L"", unattended);
    EXPECT_EQ(ReadFile(target), newer);
    EXPECT_FALSE(Exists(dir / L"~mvm3.pak.restart"));
    EXPECT_EQ(run.Events, unattended ? Events() : (Events{"commit", "error"}));
  }
}

// A replacement an earlier unattended run left for the next restart is what the folder will hold:
// its version counts in the comparison, and it is withdrawn only once a later write has taken
// its place, never by a write that fails.
TEST_F(ExtractTest, AReplacementWaitingForTheRestartCountsAndOutlivesAFailedWrite) {
  const std::wstring target = dir / L"mvm3.pak";
  const std::wstring waiting = dir / L"~mvm3.pak.restart";
  const Bytes old = Variant(7, -1);
  const Bytes newer = Variant(7, +1);
  WriteFile(target, old);
  WriteFile(waiting, newer);
  ExtractPayload("testpay", "pak", target, true, ui, ui);  // answered No
  ASSERT_EQ(ui.Questions.size(), 1u);
  EXPECT_NE(ui.Questions[0].Text.find(L"new file version 6164 with an older file version 5908?"), std::wstring::npos);
  EXPECT_EQ(ReadFile(waiting), newer);

  WriteFile(waiting, old);
  ResetUi();
  {
    const UniqueFile holder(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(ExtractPayload("testpay", "pak", target, true, ui, ui), WriteResult::Failed);
  }
  EXPECT_EQ(ReadFile(waiting), old) << "withdrawn by a write that failed";

  ResetUi();
  EXPECT_EQ(ExtractPayload("testpay", "pak", target, true, ui, ui), WriteResult::Written);
  EXPECT_EQ(ReadFile(target), Payload());
  EXPECT_FALSE(Exists(waiting));
}

// Every way of writing the payload, each over an installed copy that it replaces without a
// question (the compared one holds an older version).
struct Writer {
  const char* what;
  const char* file;
  void (*write)(const std::wstring& target, FakeUi& ui);
};
const Writer kWriters[] = {
    {"compared", "mvm3.pak",
     [](const std::wstring& t, FakeUi& ui) { ExtractPayload("testpay", "pak", t, true, ui, ui); }},
    {"no check asked", "data.pak",
     [](const std::wstring& t, FakeUi& ui) { ExtractPayload("testpay", "pak", t, false, ui, ui); }},
    {"kind without a version", "data.txt",
     [](const std::wstring& t, FakeUi& ui) { ExtractPayload("testpay", "txt", t, true, ui, ui); }},
    {"split", "mvq.pak", [](const std::wstring& t, FakeUi& ui) { ExtractSplitPayload("tsplit", "pak", t, ui, ui); }},
};

// A copy the product holds open cannot be replaced: the message, the installed copy as it
// was, and the complete new data under the temporary name. No path writes over the copy in
// place, where a failure halfway would lose it.
TEST_F(ExtractTest, LockedCopyIsReportedAndKept) {
  const Bytes old = Variant(7, -1);
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.what);
    const std::wstring target = dir / Wide(w.file);
    WriteFile(target, old);
    ResetUi();
    {
      UniqueFile holder(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holder);
      w.write(target, ui);
    }
    ASSERT_EQ(ui.Errors.size(), 1u);
    EXPECT_EQ(ui.Errors[0], L"Can't install file " + target);
    EXPECT_EQ(ReadFile(target), old);
    EXPECT_EQ(ReadFile(dir / (L"~" + Wide(w.file))), Payload());
    EXPECT_TRUE(ui.Progress.empty());
    const std::wstring failed = ui.Logged(L"Writing failed with Windows error ");
    EXPECT_TRUE(failed.ends_with(L" 5") || failed.ends_with(L" 32"))
        << "not the held copy's error: " << testing::Utf8(failed);
    EXPECT_EQ(ui.Logged(L"In use"), L"") << "logged as replaced at the next restart";
  }
}

TEST_F(ExtractTest, LeftoverTemporaryFile) {
  const Bytes old = Variant(7, -1);
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.what);
    const std::wstring target = dir / Wide(w.file);
    const std::wstring temp = dir / (L"~" + Wide(w.file));
    WriteFile(target, old);
    // Longer than the payload (it must not stay behind it), and named in capitals: the file
    // system takes it for the temporary file, and so must the writer.
    std::wstring capitals = temp;
    for (wchar_t& c : capitals) c = static_cast<wchar_t>(std::towupper(c));
    WriteFile(capitals, Payload().size() * 3);
    ResetUi();
    w.write(target, ui);
    EXPECT_TRUE(ui.Errors.empty());
    EXPECT_EQ(ReadFile(target), Payload());
    EXPECT_FALSE(Exists(temp));

    // A read-only one is either replaced (Wine lets root delete it) or reported; never anything
    // in between.
    WriteFile(target, old);
    WriteFile(temp, 10, FILE_ATTRIBUTE_READONLY);
    w.write(target, ui);
    if (ui.Errors.empty()) {
      EXPECT_EQ(ReadFile(target), Payload());
      EXPECT_FALSE(Exists(temp));
    } else {
      EXPECT_EQ(ui.Errors.size(), 1u);
      EXPECT_EQ(ReadFile(target), old);
      EXPECT_EQ(ReadFile(temp).size(), 10u);
    }
    ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(temp.c_str());
  }
}

TEST_F(ExtractTest, SplitPayloadIsJoined) {
  const std::wstring target = dir / L"mvq.pak";
  WriteFile(target, 100000);
  ExtractSplitPayload("tsplit", "pak", target, ui, ui);
  EXPECT_TRUE(ui.Errors.empty());
  EXPECT_EQ(ReadFile(target), Payload());
  ExpectNoTemp(target);
}

TEST_F(ExtractTest, MissingResourceTouchesNothing) {
  const std::wstring target = dir / L"mvm3.pak";
  WriteFile(target, 123);
  ExtractPayload("nosuch", "pak", target, true, ui, ui);
  ExtractPayload("testpay", "bin", target, false, ui, ui);
  ExtractSplitPayload("testpay", "pak", target, ui, ui);  // no parts 1 and 2
  ExtractSplitPayload("tsplit", "cok", target, ui, ui);
  ASSERT_EQ(ui.Errors.size(), 4u);
  for (const auto& error : ui.Errors) EXPECT_EQ(error, L"Can't install file " + target);
  EXPECT_EQ(ui.Events, Events(4, "error")) << "nothing to commit";
  EXPECT_EQ(ReadFile(target).size(), 123u);
  const std::wstring fresh = dir / L"fresh.pak";
  ExtractPayload("nosuch", "pak", fresh, true, ui, ui);
  EXPECT_FALSE(Exists(fresh));
}

TEST_F(ExtractTest, UnwritableDestinationLeavesNoFile) {
  const std::wstring target = dir / L"missing-folder\\mvm3.pak";
  ExtractPayload("testpay", "pak", target, true, ui, ui);
  ExtractSplitPayload("tsplit", "pak", target, ui, ui);
  EXPECT_EQ(ui.Errors.size(), 2u);
}

TEST(VersionReaders, FixedOffsets) {
  TempDir dir;
  const std::wstring file = dir / L"data";
  auto bytes = [](std::initializer_list<std::uint8_t> b) { return Bytes(b); };
  WriteFile(file, bytes({0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(ReadPakVersion(file), 0x0706);
  EXPECT_EQ(Read3bsVersion(file), 6);
  EXPECT_EQ(ReadCokVersion(file), 0x0605);
  WriteFile(file, bytes({0, 1, 2, 3, 4, 5, 0xFE}));  // one byte short of a "pak" version
  EXPECT_EQ(ReadPakVersion(file), 0);
  EXPECT_EQ(Read3bsVersion(file), 0xFE);
  EXPECT_EQ(ReadCokVersion(file), 0xFE05);
  WriteFile(file, bytes({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(Read3bsVersion(file), 0);
  EXPECT_EQ(ReadCokVersion(file), 0);
  EXPECT_EQ(ReadPakVersion(dir / L"missing"), 0);
  EXPECT_EQ(ReadPakVersion(dir.wide()), std::nullopt) << "a folder has no version anybody knows";
}

// The product, or a scanner, holding a copy open for reading does not hide its version; a
// writer does; one that holds the file exclusively for a moment is waited for (here it lets go
// at the opener's first pause, so the open after it is the one that must succeed).
TEST(VersionReaders, OthersReadingDoNotHideTheVersion) {
  TempDir dir;
  const std::wstring file = dir / L"data";
  WriteFile(file, Bytes{0, 1, 2, 3, 4, 5, 6, 7});
  auto open = [&](DWORD access, DWORD share) {
    return UniqueFile(::CreateFileW(file.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr));
  };
  {
    const UniqueFile reader = open(GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(reader);
    EXPECT_EQ(ReadPakVersion(file), 0x0706);
    EXPECT_EQ(Read3bsVersion(file), 6);
  }
  {
    const UniqueFile writer = open(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(writer);
    EXPECT_EQ(ReadCokVersion(file), std::nullopt);
  }
  UniqueFile scanner = open(GENERIC_READ, 0);
  ASSERT_TRUE(scanner);
  int pauses = 0;
  EXPECT_TRUE(OpenForReadingWithPauses(file.c_str(), FILE_SHARE_READ, 10, [&] {
    ++pauses;
    scanner.reset();
    return true;
  }));
  EXPECT_EQ(pauses, 1);
}

TEST(VersionReaders, LanguageFileThatCannotBeReadIsReported) {
  TempDir dir;
  FakeUi ui;
  EXPECT_EQ(ReadLngVersion(dir / L"missing.lng", ui), 0);
  EXPECT_TRUE(ui.Errors.empty()) << "a missing file is no error";

  const std::wstring file = dir / L"held.lng";
  WriteFile(file, Bytes{'7'});
  EXPECT_EQ(ReadLngVersion(file, ui), 7);
  UniqueFile holder(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(ReadLngVersion(file, ui), std::nullopt);
  ASSERT_EQ(ui.Errors.size(), 1u);
  EXPECT_EQ(ui.Errors[0], L"Can't handle the language support file " + file);
}

TEST(VersionReaders, FileVersionStringOfExecutablesOnly) {
  const std::wstring build = Wide(MV_TEST_BUILD_DIR);
  EXPECT_EQ(ReadFileVersionString(build + L"/versioned_1_0_0_0.exe"), L"1.0.0.0");
  EXPECT_EQ(ReadFileVersionString(build + L"/versioned_2_0_0_0.exe"), L"2.0.0.0");
  EXPECT_EQ(ReadFileVersionString(build + L"/win_tests.exe"), L"") << "no version information";
  EXPECT_EQ(ReadFileVersionString(Wide(MV_TEST_SOURCE_DIR) + L"/data/payload.bin"), L"") << "no executable";
  EXPECT_EQ(ReadFileVersionString(build + L"/missing.exe"), L"");
}

}  // namespace
}  // namespace mv
