#pragma once
// Owners for what a COM conversation leaves to its caller: the apartment of the thread, interface
// pointers, BSTRs and VARIANTs. Each is released exactly once, on every path, in the reverse order
// of its making, so the interfaces go before the apartment that carries them.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string_view>

#include "win/handles_win.h"

namespace mv {

// The thread's COM apartment, single-threaded, for as long as the owner lives. CoUninitialize
// is called only for a successful CoInitializeEx (S_FALSE included: COM counts every call); a
// thread that is already in another apartment keeps it, and COM works there as it is.
class ComApartment {
 public:
  ComApartment() : entered_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (entered_) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool entered_;
};

namespace detail {
template <typename Interface>
struct ComTraits {
  using Type = Interface*;
  static Type None() { return nullptr; }
  static void Close(Type p) { p->Release(); }
};
struct BstrTraits {
  using Type = BSTR;
  static Type None() { return nullptr; }
  static void Close(Type s) { ::SysFreeString(s); }
};
}  // namespace detail

// An interface pointer; put() is the out-parameter of the call that hands one out (with
// IID_PPV_ARGS for the calls that take an IID).
template <typename Interface>
class UniqueCom : public UniqueResource<detail::ComTraits<Interface>> {
 public:
  Interface* operator->() const { return this->get(); }
};

// A BSTR; null when its allocation failed.
using UniqueBstr = UniqueResource<detail::BstrTraits>;
inline UniqueBstr MakeBstr(std::wstring_view text) {
  return UniqueBstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

// A VARIANT of the kinds a caller builds: empty, a number (VT_I4) or a text (VT_BSTR, which it
// owns). Holding nothing else, it frees its text itself, which is all VariantClear would do. For
// a call that takes a VARIANT by value, get() lends the value; the callee copies what it keeps.
class UniqueVariant {
 public:
  UniqueVariant() = default;
  explicit UniqueVariant(LONG number) {
    value_.vt = VT_I4;
    value_.lVal = number;
  }
  explicit UniqueVariant(std::wstring_view text) {
    value_.vt = VT_BSTR;
    value_.bstrVal = MakeBstr(text).release();
  }
  ~UniqueVariant() {
    if (value_.vt == VT_BSTR) ::SysFreeString(value_.bstrVal);
  }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* get() { return &value_; }
  // False for a text whose allocation failed.
  bool Holds() const { return value_.vt != VT_BSTR || value_.bstrVal != nullptr; }

 private:
  VARIANT value_{};  // VT_EMPTY
};

}  // namespace mv
