#include "win/files_win.h"

#include <sddl.h>

#include <vector>

#include "win/system_library_win.h"

namespace mv {

namespace {

// Drops the prefix that lifts the length limit: a path typed by a user has none
// ("\\?\UNC\server" is "\\server").
void DropLongPathPrefix(std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    path.erase(0, 6);
    path[0] = L'\\';
  } else if (path.compare(0, 4, L"\\\\?\\") == 0) {
    path.erase(0, 4);
  }
}

// The text a path function writes, however long: called with the room it has, each says how
// much it needs when that is too little. Without the long-path prefix.
template <typename Call>
std::wstring PathText(Call call) {
  std::wstring text(MAX_PATH, L'\0');
  for (int tries = 0; tries < 3; ++tries) {
    const DWORD room = static_cast<DWORD>(text.size());
    const DWORD length = call(text.data(), room);
    if (length == 0) break;
    text.resize(length);
    if (length < room) {
      DropLongPathPrefix(text);
      return text;
    }
  }
  return {};
}

}  // namespace

std::wstring FinalPathOf(HANDLE handle) {
  using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  const auto finalPath = KernelProcedure<FinalPathFn>("GetFinalPathNameByHandleW");
  if (!finalPath) return {};
  return PathText(
      [&](wchar_t* text, DWORD room) { return finalPath(handle, text, room, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS); });
}

std::wstring FullLongPath(const std::wstring& path) {
  std::wstring full =
      PathText([&](wchar_t* text, DWORD room) { return ::GetFullPathNameW(path.c_str(), room, text, nullptr); });
  // Only for a path that exists: a name still to be created has no short form to expand.
  std::wstring expanded =
      PathText([&](wchar_t* text, DWORD room) { return ::GetLongPathNameW(full.c_str(), text, room); });
  return expanded.empty() ? full : expanded;
}

UniqueLocalMemory AdministratorsOnlySecurity() {
  UniqueLocalMemory descriptor;
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1,
                                                         reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
                                                         nullptr);
  return descriptor;
}

// The path of the running executable, however long: GetModuleFileNameW truncates silently
// (without even a terminator on XP) when the buffer is short, so grow until it fits. An empty
// path when it cannot be had: no file answers to that, and the check counts as impossible.
std::vector<wchar_t> RunningExecutablePath() {
  constexpr DWORD kLongestPath = 32768;
  std::vector<wchar_t> path;
  for (DWORD capacity = MAX_PATH;; capacity *= 2) {
    path.assign(capacity, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), capacity);
    if (length == 0) break;
    if (length < capacity) {
      path.resize(length + 1);
      return path;
    }
    if (capacity >= kLongestPath) break;
  }
  return {L'\0'};
}

bool SamePath(std::wstring_view a, std::wstring_view b) {
  using CompareFn = int(WINAPI*)(LPCWSTR, int, LPCWSTR, int, BOOL);
  const auto compare = KernelProcedure<CompareFn>("CompareStringOrdinal");
  return compare &&
         compare(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace mv
