#pragma once
// One owner for every Windows handle: the value that means "none" and the way to close it are
// part of the type, so a handle is closed exactly once, on every path.
#include <windows.h>

#include <utility>

namespace mv {

template <typename T, T Invalid, auto Close>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Invalid; }
  T release() { return std::exchange(value_, Invalid); }
  void reset(T value = Invalid) {
    if (value_ != Invalid) Close(value_);
    value_ = value;
  }
  // For out-parameters: closes what is held and hands out the slot.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Invalid;
};

namespace detail {
inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
inline void CloseKey(HKEY k) { ::RegCloseKey(k); }
inline void CloseFind(HANDLE h) { ::FindClose(h); }
inline void ReleaseModule(HMODULE m) { ::FreeLibrary(m); }
inline void UnmapView(const void* p) { ::UnmapViewOfFile(p); }
}  // namespace detail

// CreateFile and FindFirstFile say "none" with INVALID_HANDLE_VALUE, everything else with null.
// (A template argument cannot be INVALID_HANDLE_VALUE itself, so files use a wrapper type.)
using UniqueHandle = UniqueResource<HANDLE, nullptr, detail::CloseKernelHandle>;
using UniqueKey = UniqueResource<HKEY, nullptr, detail::CloseKey>;
using UniqueModule = UniqueResource<HMODULE, nullptr, detail::ReleaseModule>;
using UniqueView = UniqueResource<const void*, nullptr, detail::UnmapView>;

// A file or find handle: INVALID_HANDLE_VALUE is "none".
template <void (*Close)(HANDLE)>
class UniqueInvalidable {
 public:
  UniqueInvalidable() = default;
  explicit UniqueInvalidable(HANDLE h) : h_(h) {}
  UniqueInvalidable(const UniqueInvalidable&) = delete;
  UniqueInvalidable& operator=(const UniqueInvalidable&) = delete;
  UniqueInvalidable(UniqueInvalidable&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
  UniqueInvalidable& operator=(UniqueInvalidable&& o) noexcept {
    reset(std::exchange(o.h_, INVALID_HANDLE_VALUE));
    return *this;
  }
  ~UniqueInvalidable() { reset(); }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
  void reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (h_ != INVALID_HANDLE_VALUE && h_ != nullptr) Close(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

using UniqueFile = UniqueInvalidable<detail::CloseKernelHandle>;
using UniqueFind = UniqueInvalidable<detail::CloseFind>;

}  // namespace mv
