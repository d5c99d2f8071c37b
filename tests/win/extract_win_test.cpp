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
  // Stages the payload and commits it, as a run that has nothing to ask does.
  WriteResult Write(const char* name, const char* kind, const std::wstring& target, bool checkExisting = true,
                    int parts = 1, InUsePolicy policy = InUsePolicy::Fail) {
    staged = StagedPayload();
    StagePayload(name, kind, target, checkExisting, parts, staged);
    return staged.Ready ? CommitPayload(staged, ui, policy) : WriteResult::Failed;
  }
  void ExpectNoTemp(const std::wstring& target) {
    const std::wstring temp = dir / (L"~" + target.substr(target.rfind(L'\\') + 1));
    EXPECT_FALSE(Exists(temp)) << testing::Utf8(temp);
  }

  TempDir dir;
  FakeUi ui;  // the run's step before the commit ("commit")
  StagedPayload staged;
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
  EXPECT_EQ(Write("testpay", "pak", target), WriteResult::Written);  // nothing there yet
  EXPECT_EQ(ReadFile(target), Payload());

  // Written over, newer or not: no check asked for, or a kind without a version ("PAK" in capitals
  // is not "pak").
  const struct {
    const char* kind;
    bool checkExisting;
  } cases[] = {{"pak", false}, {"PAK", true}, {"txt", true}};
  for (const auto& c : cases) {
    const std::wstring file = dir / (L"data." + Wide(c.kind));
    WriteFile(file, Variant(7, +1));
    EXPECT_EQ(Write("TESTPAY", c.kind, file, c.checkExisting), WriteResult::Written) << c.kind;
    EXPECT_FALSE(staged.Installed.Compared) << c.kind;
    EXPECT_EQ(ReadFile(file), Payload()) << c.kind;
    ExpectNoTemp(file);
  }
}

TEST_F(ExtractTest, AnEqualOlderOrVersionlessCopyDoesNotMakeThePayloadOlder) {
  for (const KindCase& k : kKinds) {
    const std::wstring target = dir / (L"data." + Wide(k.kind));
    const Bytes installed[] = {Variant(k.highByte, -1), Variant(Payload().size() - 1, 1), Bytes(5, 0xFF)};
    for (const Bytes& copy : installed) {
      WriteFile(target, copy);
      EXPECT_EQ(Write("testpay", k.kind, target), WriteResult::Written) << k.kind;
      EXPECT_FALSE(staged.PayloadIsOlder) << k.kind;
      EXPECT_FALSE(staged.VersionUnknown) << k.kind;
      EXPECT_TRUE(staged.Installed.Compared && !staged.Waiting.Compared) << k.kind;
      EXPECT_EQ(ReadFile(target), Payload()) << k.kind;
      ExpectNoTemp(target);
    }
  }
}

// A newer installed copy makes the payload older, with the two versions the question names; what
// was staged is committed after a Yes, or discarded after a No with the copy as it was.
TEST_F(ExtractTest, ANewerCopyMakesThePayloadOlder) {
  for (const KindCase& k : kKinds) {
    const std::wstring target = dir / (L"data." + Wide(k.kind));
    const Bytes newer = Variant(k.highByte, +1);
    for (const bool yes : {false, true}) {
      SCOPED_TRACE(std::string(k.kind) + (yes ? " yes" : " no"));
      WriteFile(target, newer);
      ui.Clear();
      staged = StagedPayload();
      StagePayload("testpay", k.kind, target, true, 1, staged);
      ASSERT_TRUE(staged.Ready);
      EXPECT_TRUE(staged.PayloadIsOlder);
      EXPECT_EQ(staged.NewerText, Wide(k.newerVersion));
      EXPECT_EQ(staged.Payload.Text, Wide(k.payloadVersion));
      EXPECT_EQ(staged.Installed.Text, Wide(k.newerVersion));
      EXPECT_FALSE(staged.Waiting.Compared);
      if (yes) {
        EXPECT_EQ(CommitPayload(staged, ui, InUsePolicy::Fail), WriteResult::Written);
      } else {
        DiscardPayload(staged);
      }
      EXPECT_EQ(ReadFile(target), yes ? Payload() : newer);
      ExpectNoTemp(target);
      // The run's step before the commit comes only when the write goes ahead.
      EXPECT_EQ(ui.Events, yes ? Events{"commit"} : Events{});
    }
  }
}

TEST_F(ExtractTest, LanguageFiles) {
  const Bytes payload = Data("lang.lng");  // version 42
  auto text = [](const char* content) { return Bytes(content, content + std::strlen(content)); };
  const std::wstring target = dir / L"mvl.lng";

  WriteFile(target, text("[langver]\r\n41\r\n"));
  EXPECT_EQ(Write("testpay", "lng", target), WriteResult::Written);
  EXPECT_FALSE(staged.PayloadIsOlder);
  EXPECT_EQ(ReadFile(target), payload);

  WriteFile(target, text("[langver]\r\n43\r\n"));
  staged = StagedPayload();
  StagePayload("testpay", "lng", target, true, 1, staged);
  EXPECT_TRUE(staged.PayloadIsOlder);
  EXPECT_EQ(staged.NewerText, L"43");
  EXPECT_EQ(staged.Payload.Text, L"42");
  DiscardPayload(staged);

  // A "!" anywhere in the destination: no comparison at all.
  ASSERT_TRUE(::CreateDirectoryW((dir / L"Mir!vane").c_str(), nullptr));
  const std::wstring marked = dir / L"Mir!vane\\mvl.lng";
  WriteFile(marked, text("[langver]\r\n43\r\n"));
  EXPECT_EQ(Write("testpay", "lng", marked), WriteResult::Written);
  EXPECT_FALSE(staged.PayloadIsOlder);
  EXPECT_EQ(ReadFile(marked), payload);

  // An installed copy without a readable version counts as 0, and is to be reported.
  WriteFile(target, text("[langver]\r\nold\r\n"));
  EXPECT_EQ(Write("testpay", "lng", target), WriteResult::Written);
  EXPECT_EQ(ReadFile(target), payload);
  EXPECT_TRUE(staged.Installed.CannotHandle);
  EXPECT_FALSE(staged.Payload.CannotHandle);

  // So does a payload without one (reported under its temporary name); version 1 installed is
  // newer.
  WriteFile(target, text("1"));
  staged = StagedPayload();
  StagePayload("badlang", "lng", target, true, 1, staged);
  EXPECT_TRUE(staged.Payload.CannotHandle);
  EXPECT_FALSE(staged.Installed.CannotHandle);
  EXPECT_TRUE(staged.PayloadIsOlder);
  DiscardPayload(staged);
  EXPECT_EQ(ReadFile(target), text("1"));
  ExpectNoTemp(target);
}

// A copy held open without sharing has a version nobody knows: it counts as 0 (the run decides
// what follows), and the comparison says so, with the error that stood in the way.
TEST_F(ExtractTest, AVersionThatCannotBeReadIsUnknown) {
  const std::wstring target = dir / L"mvm3.pak";
  const Bytes newer = Variant(7, +1);
  WriteFile(target, newer);
  const UniqueFile holder(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  staged = StagedPayload();
  StagePayload("testpay", "pak", target, true, 1, staged);
  ASSERT_TRUE(staged.Ready);
  EXPECT_TRUE(staged.VersionUnknown);
  EXPECT_EQ(staged.ReadError, static_cast<unsigned long>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(staged.Installed.Compared);
  EXPECT_FALSE(staged.Installed.Known);
  EXPECT_FALSE(staged.PayloadIsOlder) << "counted as 0";
  DiscardPayload(staged);
  ExpectNoTemp(target);
}

// A replacement an earlier quiet run left for the next restart is what the folder will hold: its
// version counts in the comparison, and it is withdrawn only once a later write has taken its
// place, never by a write that fails.
TEST_F(ExtractTest, AReplacementWaitingForTheRestartCountsAndOutlivesAFailedWrite) {
  const std::wstring target = dir / L"mvm3.pak";
  const std::wstring waiting = dir / L"~mvm3.pak.restart";
  const Bytes old = Variant(7, -1);
  const Bytes newer = Variant(7, +1);
  WriteFile(target, old);
  WriteFile(waiting, newer);
  staged = StagedPayload();
  StagePayload("testpay", "pak", target, true, 1, staged);
  EXPECT_TRUE(staged.PayloadIsOlder);
  EXPECT_EQ(staged.NewerText, L"6164");
  EXPECT_EQ(staged.Installed.Text, L"5652");
  EXPECT_EQ(staged.Waiting.Text, L"6164");
  DiscardPayload(staged);
  EXPECT_EQ(ReadFile(waiting), newer);

  WriteFile(waiting, old);
  {
    const UniqueFile holder(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(Write("testpay", "pak", target), WriteResult::Failed);
  }
  EXPECT_EQ(ReadFile(waiting), old) << "withdrawn by a write that failed";

  EXPECT_EQ(Write("testpay", "pak", target), WriteResult::Written);
  EXPECT_EQ(ReadFile(target), Payload());
  EXPECT_FALSE(Exists(waiting));
}

// Every way of writing the payload, each over an installed copy that it replaces without a
// question (the compared one holds an older version).
struct Writer {
  const char* what;
  const char* file;
  const char* name;
  const char* kind;
  bool checkExisting;
  int parts;
};
const Writer kWriters[] = {
    {"compared", "mvm3.pak", "testpay", "pak", true, 1},
    {"no check asked", "data.pak", "testpay", "pak", false, 1},
    {"kind without a version", "data.txt", "testpay", "txt", true, 1},
    {"split", "mvq.pak", "tsplit", "pak", true, 2},
};

// A copy the product holds open cannot be replaced: the failure with its error, the installed
// copy as it was, and the complete new data under the temporary name. No path writes over the
// copy in place, where a failure halfway would lose it.
TEST_F(ExtractTest, LockedCopyIsReportedAndKept) {
  const Bytes old = Variant(7, -1);
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.what);
    const std::wstring target = dir / Wide(w.file);
    WriteFile(target, old);
    {
      UniqueFile holder(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holder);
      EXPECT_EQ(Write(w.name, w.kind, target, w.checkExisting, w.parts), WriteResult::Failed);
    }
    EXPECT_TRUE(staged.Error == ERROR_ACCESS_DENIED || staged.Error == ERROR_SHARING_VIOLATION) << staged.Error;
    EXPECT_EQ(ReadFile(target), old);
    EXPECT_EQ(ReadFile(dir / (L"~" + Wide(w.file))), Payload());
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
    EXPECT_EQ(Write(w.name, w.kind, target, w.checkExisting, w.parts), WriteResult::Written);
    EXPECT_EQ(ReadFile(target), Payload());
    EXPECT_FALSE(Exists(temp));

    // A read-only one is either replaced (Wine lets root delete it) or refused; never anything
    // in between.
    WriteFile(target, old);
    WriteFile(temp, 10, FILE_ATTRIBUTE_READONLY);
    if (Write(w.name, w.kind, target, w.checkExisting, w.parts) == WriteResult::Written) {
      EXPECT_EQ(ReadFile(target), Payload());
      EXPECT_FALSE(Exists(temp));
    } else {
      EXPECT_FALSE(staged.Ready);
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
  EXPECT_EQ(Write("tsplit", "pak", target, true, 2), WriteResult::Written);
  EXPECT_EQ(ReadFile(target), Payload());
  ExpectNoTemp(target);
}

// Without its resource there is nothing to write: nothing is created, truncated or replaced.
TEST_F(ExtractTest, MissingResourceTouchesNothing) {
  const std::wstring target = dir / L"mvm3.pak";
  WriteFile(target, 123);
  const struct {
    const char* name;
    const char* kind;
    int parts;
  } missing[] = {{"nosuch", "pak", 1}, {"testpay", "bin", 1}, {"testpay", "pak", 2}, {"tsplit", "cok", 2}};
  for (const auto& m : missing) {
    EXPECT_EQ(Write(m.name, m.kind, target, true, m.parts), WriteResult::Failed) << m.name;
    EXPECT_EQ(staged.Error, static_cast<unsigned long>(ERROR_RESOURCE_NAME_NOT_FOUND)) << m.name;
  }
  EXPECT_EQ(ui.Events, Events{}) << "nothing to commit";
  EXPECT_EQ(ReadFile(target).size(), 123u);
  const std::wstring fresh = dir / L"fresh.pak";
  EXPECT_EQ(Write("nosuch", "pak", fresh), WriteResult::Failed);
  EXPECT_FALSE(Exists(fresh));
}

TEST_F(ExtractTest, UnwritableDestinationLeavesNoFile) {
  const std::wstring target = dir / L"missing-folder\\mvm3.pak";
  EXPECT_EQ(Write("testpay", "pak", target), WriteResult::Failed);
  EXPECT_EQ(Write("tsplit", "pak", target, true, 2), WriteResult::Failed);
  EXPECT_FALSE(Exists(dir / L"missing-folder"));
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
  bool cannotHandle = false;
  EXPECT_EQ(ReadLngVersion(dir / L"missing.lng", cannotHandle), 0);
  EXPECT_FALSE(cannotHandle) << "a missing file is nothing to report";

  const std::wstring file = dir / L"held.lng";
  WriteFile(file, Bytes{'7'});
  EXPECT_EQ(ReadLngVersion(file, cannotHandle), 7);
  EXPECT_FALSE(cannotHandle);
  UniqueFile holder(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(ReadLngVersion(file, cannotHandle), std::nullopt);
  EXPECT_TRUE(cannotHandle);
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
