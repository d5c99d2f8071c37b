// The run script asks for a locale through LC_ALL; if Wine did not take it, every other test
// would silently check the same language twice.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace e2e {
namespace {

TEST(Locale, IsTheOneTheRunAskedFor) {
  wchar_t wanted[8] = {};
  GetEnvironmentVariableW(L"MV_E2E_LOCALE", wanted, static_cast<DWORD>(std::size(wanted)));
  const LCID lcid = GetUserDefaultLCID();
  if (std::wstring_view(wanted) == L"ru")
    EXPECT_EQ(lcid, 1049u);
  else if (std::wstring_view(wanted) == L"en")
    EXPECT_EQ(lcid, 1033u);
  else
    ADD_FAILURE() << "MV_E2E_LOCALE is neither en nor ru: run the end-to-end tests through tests/e2e/run";
}

}  // namespace
}  // namespace e2e
