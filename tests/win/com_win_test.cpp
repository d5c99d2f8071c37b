// The COM owners: the apartment left as it was found whatever the thread was in, interfaces
// released exactly once, texts handed to COM with their whole length.
#include "win/com_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string_view>
#include <thread>

namespace mv {
namespace {

using namespace std::string_view_literals;

// What CoInitializeEx says on this thread now, undone again: S_OK when the thread was in no
// apartment, S_FALSE when in one of that kind, RPC_E_CHANGED_MODE when in the other kind.
HRESULT ApartmentProbe(DWORD kind) {
  const HRESULT result = ::CoInitializeEx(nullptr, kind);
  if (SUCCEEDED(result)) ::CoUninitialize();
  return result;
}

// Runs `body` on a thread of its own, which starts in no apartment.
template <typename Body>
void OnFreshThread(Body body) {
  std::thread(body).join();
}

TEST(ComApartment, LeavesTheThreadAsItFoundIt) {
  OnFreshThread([] {
    {
      const ComApartment apartment;
      EXPECT_EQ(ApartmentProbe(COINIT_APARTMENTTHREADED), S_FALSE) << "no apartment entered";
    }
    EXPECT_EQ(ApartmentProbe(COINIT_APARTMENTTHREADED), S_OK) << "the apartment was not left";
  });
  // A caller's own single-threaded apartment: entered once more and left once, so it stays.
  OnFreshThread([] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    { const ComApartment apartment; }
    EXPECT_EQ(ApartmentProbe(COINIT_APARTMENTTHREADED), S_FALSE) << "the caller's apartment was left";
    ::CoUninitialize();
  });
  // A caller's multithreaded apartment: not entered, so not left either.
  OnFreshThread([] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    { const ComApartment apartment; }
    EXPECT_EQ(ApartmentProbe(COINIT_MULTITHREADED), S_FALSE) << "the caller's apartment was left";
    ::CoUninitialize();
  });
}

// An object that counts its references.
struct Counted : IUnknown {
  ULONG references = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

TEST(UniqueCom, ReleasesWhatItHoldsExactlyOnce) {
  Counted first, second;
  {
    UniqueCom<IUnknown> held;
    *held.put() = &first;  // as a call hands one out
    EXPECT_EQ(first.references, 1u);
    *held.put() = &second;  // the slot of the next call: the first is let go
    EXPECT_EQ(first.references, 0u);
    UniqueCom<IUnknown> moved(std::move(held));
    EXPECT_FALSE(held);
    EXPECT_EQ(second.references, 1u);
  }
  EXPECT_EQ(second.references, 0u);
}

// COM copies a BSTR by the length in front of it, not up to a NUL.
TEST(UniqueVariant, TextsKeepTheirWholeLength) {
  const std::wstring_view path = L"C:\\Мирвейн 中文\\Mirvane.exe\0tail"sv.substr(0, 26);
  const UniqueBstr bstr = MakeBstr(path);
  ASSERT_TRUE(bstr);
  EXPECT_EQ(std::wstring_view(bstr.get(), ::SysStringLen(bstr.get())), path);

  UniqueVariant text(path);
  ASSERT_TRUE(text.Holds());
  EXPECT_EQ(text.get()->vt, VT_BSTR);
  EXPECT_EQ(std::wstring_view(text.get()->bstrVal, ::SysStringLen(text.get()->bstrVal)), path);
  UniqueVariant number(LONG{SW_SHOWNORMAL});
  EXPECT_EQ(number.get()->vt, VT_I4);
  EXPECT_EQ(number.get()->lVal, SW_SHOWNORMAL);
  EXPECT_EQ(UniqueVariant().get()->vt, VT_EMPTY);
}

}  // namespace
}  // namespace mv
