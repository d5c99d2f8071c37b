#include "install/versions_win.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "install/versions.h"
#include "win/files_win.h"
#include "win/handles_win.h"
#include "win/system_library_win.h"

namespace mv {

namespace {

// The product, or a virus scanner looking at a file just written, holds a data file open for
// reading: sharing reading with them keeps its version readable, where a copy read as version 0
// would be replaced by an older payload without the question. Writers are not shared with, so no
// version is read halfway through a write; a brief exclusive hold is waited for.
UniqueFile OpenForReading(const std::wstring& path) {
  return OpenForReadingAfterBriefHolds(path.c_str(), FILE_SHARE_READ, 10);
}

// True when an open failed because nothing is there: a missing file has no version (0), where
// one that is there but cannot be read has one nobody knows.
bool Missing() {
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

struct FileContent {
  std::unique_ptr<char[]> Bytes;
  DWORD Size = 0;
  std::string_view Text() const { return {Bytes.get(), Size}; }
};

// The whole file; nothing when it cannot be read. A file too big for the memory left is one
// that cannot be read (reported by the caller), not a reason to end the process.
std::optional<FileContent> ReadWholeFile(const std::wstring& path) {
  const UniqueFile file = OpenForReading(path);
  LARGE_INTEGER size;
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return std::nullopt;
  FileContent content;
  content.Bytes.reset(new (std::nothrow) char[static_cast<std::size_t>(size.QuadPart)]);
  if (!content.Bytes ||
      !::ReadFile(file.get(), content.Bytes.get(), static_cast<DWORD>(size.QuadPart), &content.Size, nullptr))
    return std::nullopt;
  return content;
}

}  // namespace

// The file's first bytes, as far as the field needs them.
ReadVersion ReadFieldVersion(const std::wstring& path, const VersionField& field) {
  const UniqueFile file = OpenForReading(path);
  if (!file) return Missing() ? ReadVersion(0) : std::nullopt;
  std::uint8_t start[kVersionFieldsEnd] = {};
  DWORD read = 0;
  if (!::ReadFile(file.get(), start, static_cast<DWORD>(field.Offset + field.Width), &read, nullptr))
    return std::nullopt;
  return FieldValue(field, {start, read});
}

ReadVersion ReadLngVersion(const std::wstring& path, bool& cannotHandle) {
  if (!FileExists(path)) return 0;
  const std::optional<FileContent> content = ReadWholeFile(path);
  const std::optional<std::int32_t> version = content ? LngVersionFromText(content->Text()) : std::nullopt;
  if (version) return *version;
  cannotHandle = true;
  return content ? ReadVersion(0) : std::nullopt;
}

std::optional<std::wstring> ReadFileVersionString(const std::wstring& path) {
  // The shell and the version functions open the file in their own ways; one that cannot be
  // opened for reading would look like a file without a version to them.
  if (FileExists(path) && !OpenForReading(path)) return std::nullopt;
  SHFILEINFOW shellInfo{};
  if (::SHGetFileInfoW(path.c_str(), 0, &shellInfo, sizeof shellInfo, SHGFI_EXETYPE) == 0) return std::wstring();

  // The version functions are needed only for an executable payload, so their DLL is loaded
  // here rather than at start-up.
  const UniqueModule version = LoadSystemLibrary("version.dll");
  const auto infoSize = ProcedureOf<DWORD(WINAPI*)(LPCWSTR, LPDWORD)>(version, "GetFileVersionInfoSizeW");
  const auto info = ProcedureOf<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID)>(version, "GetFileVersionInfoW");
  const auto query = ProcedureOf<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>(version, "VerQueryValueW");
  if (!infoSize || !info || !query) return std::wstring();

  DWORD ignored = 0;
  const DWORD size = infoSize(path.c_str(), &ignored);
  if (size == 0) return std::wstring();
  std::vector<char> block(size);
  if (!info(path.c_str(), 0, size, block.data())) return std::wstring();

  void* found = nullptr;
  UINT length = 0;
  if (!query(block.data(), L"\\VarFileInfo\\Translation", &found, &length) || length < 2 * sizeof(WORD))
    return std::wstring();
  // The language, then the code page, each as four capital hexadecimal digits.
  const auto* translation = static_cast<const WORD*>(found);
  const unsigned both = (unsigned{translation[0]} << 16) | translation[1];
  wchar_t key[] = L"\\StringFileInfo\\########\\FileVersion";
  for (int i = 0; i < 8; ++i) {
    const unsigned digit = (both >> (28 - 4 * i)) & 0xF;
    key[16 + i] = static_cast<wchar_t>(digit < 10 ? L'0' + digit : L'A' + digit - 10);
  }
  // The W query counts the value's length in characters, its terminator included.
  if (!query(block.data(), key, &found, &length) || found == nullptr) return std::wstring();
  const std::wstring_view value(static_cast<const wchar_t*>(found), length);
  return std::wstring(value.substr(0, value.find(L'\0')));
}

}  // namespace mv
