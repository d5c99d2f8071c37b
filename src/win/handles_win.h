#pragma once
// One owner for every Windows handle: the value that means "none" and the way to close it are
// part of the type, so a handle is closed exactly once, on every path, and never the wrong way.
#include <windows.h>

#include <utility>

namespace mv {

// Traits give the handle type, its "none" value (CreateFile, FindFirstFile and
// CreateToolhelp32Snapshot say none with INVALID_HANDLE_VALUE, everything else with null) and how
// it is closed.
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() = default;
  explicit UniqueResource(Type value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  Type get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::None(); }
  Type release() { return std::exchange(value_, Traits::None()); }
  void reset(Type value = Traits::None()) {
    if (value_ != Traits::None()) Traits::Close(value_);
    value_ = value;
  }
  // For out-parameters: closes what is held and hands out the slot.
  Type* put() {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::None();
};

namespace detail {
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type None() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};
struct KeyTraits {
  using Type = HKEY;
  static Type None() { return nullptr; }
  static void Close(Type k) { ::RegCloseKey(k); }
};
struct ModuleTraits {
  using Type = HMODULE;
  static Type None() { return nullptr; }
  static void Close(Type m) { ::FreeLibrary(m); }
};
struct ViewTraits {
  using Type = const void*;
  static Type None() { return nullptr; }
  static void Close(Type p) { ::UnmapViewOfFile(p); }
};
struct SidTraits {
  using Type = PSID;
  static Type None() { return nullptr; }
  static void Close(Type sid) { ::FreeSid(sid); }
};
// A thread that works on its owner's data: waited for before its handle is closed, so that the
// data outlives it whichever way its owner goes.
struct JoinedThreadTraits {
  using Type = HANDLE;
  static Type None() { return nullptr; }
  static void Close(Type h) {
    ::WaitForSingleObject(h, INFINITE);
    ::CloseHandle(h);
  }
};
struct SnapshotTraits {
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct ScreenDcTraits {
  using Type = HDC;
  static Type None() { return nullptr; }
  static void Close(Type dc) { ::ReleaseDC(nullptr, dc); }
};
// Memory the system allocated for the caller with LocalAlloc (a converted security descriptor).
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type None() { return nullptr; }
  static void Close(Type memory) { ::LocalFree(memory); }
};
struct FontTraits {
  using Type = HFONT;
  static Type None() { return nullptr; }
  static void Close(Type font) { ::DeleteObject(font); }
};
}  // namespace detail

using UniqueHandle = UniqueResource<detail::KernelHandleTraits>;
using UniqueFile = UniqueResource<detail::FileHandleTraits>;
using UniqueFind = UniqueResource<detail::FindHandleTraits>;
using UniqueKey = UniqueResource<detail::KeyTraits>;
using UniqueModule = UniqueResource<detail::ModuleTraits>;
using UniqueView = UniqueResource<detail::ViewTraits>;
using UniqueSid = UniqueResource<detail::SidTraits>;            // from AllocateAndInitializeSid
using UniqueSnapshot = UniqueResource<detail::SnapshotTraits>;  // from CreateToolhelp32Snapshot
using UniqueScreenDc = UniqueResource<detail::ScreenDcTraits>;  // from GetDC(nullptr)
using UniqueFont = UniqueResource<detail::FontTraits>;
using UniqueLocalMemory = UniqueResource<detail::LocalMemoryTraits>;
using JoinedThread = UniqueResource<detail::JoinedThreadTraits>;  // from CreateThread

}  // namespace mv
