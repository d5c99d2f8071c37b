#include "install/safe_write.h"

#include <gtest/gtest.h>

namespace mv {
namespace {

TEST(MakeTempName, TildeBeforeTheFileName) {
  const struct {
    const wchar_t* path;
    const wchar_t* temp;
  } cases[] = {
      {L"C:\\Apps\\Mirvane\\mvm3.pak", L"C:\\Apps\\Mirvane\\~mvm3.pak"},
      {L"mvm3.pak", L"~mvm3.pak"},
      {L"\\mvm3.pak", L"\\~mvm3.pak"},
      {L"dir\\", L"~dir\\"},  // the final character is never looked at
      {L"a\\b\\", L"a\\~b\\"},
      {L"\\", L"~\\"},
      {L"", L"~"},
      {L"C:\\Уроки\\中文.pak", L"C:\\Уроки\\~中文.pak"},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeTempName(c.path), c.temp) << ::testing::PrintToString(c.path);
}

// A rename over the data file refused because someone holds it without delete sharing, or has it
// mapped (NTFS says "access denied" then, yet the file opens for deletion), leaves the write for
// the next restart; a file that may not be replaced for good stays a failure.
TEST(CountsAsInUse, HeldOrMappedButNotReadOnlyOrForbidden) {
  const struct {
    DeleteProbe probe;
    bool renameAccessDenied;
    bool readOnly;
    bool inUse;
  } cases[] = {
      {DeleteProbe::SharingViolation, false, false, true},  // held open without delete sharing
      {DeleteProbe::SharingViolation, true, false, true},
      {DeleteProbe::Opened, true, false, true},    // mapped
      {DeleteProbe::Opened, true, true, false},    // read-only
      {DeleteProbe::Opened, false, false, false},  // the holder let go meanwhile; another failure
      {DeleteProbe::Refused, true, false, false},  // no right to delete it
  };
  for (const auto& c : cases)
    EXPECT_EQ(CountsAsInUse(c.probe, c.renameAccessDenied, c.readOnly), c.inUse)
        << static_cast<int>(c.probe) << c.renameAccessDenied << c.readOnly;
}

}  // namespace
}  // namespace mv
