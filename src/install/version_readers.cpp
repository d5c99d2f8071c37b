#include "install/version_readers.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "env/files.h"
#include "env/message_boxes.h"
#include "env/system_library.h"
#include "install/versions.h"

namespace mv {

namespace {

// Reads `width` bytes at `offset`, little-endian. The open grants no sharing: a file that the
// product has open counts as having no version.
std::int32_t ReadField(const std::string& path, LONG offset, DWORD width) {
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  if (::SetFilePointer(file.get(), offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 0;
  unsigned char bytes[2] = {};
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes, width, &read, nullptr) || read < width) return 0;
  return width == 2 ? bytes[0] | bytes[1] << 8 : bytes[0];
}

struct FileContent {
  std::unique_ptr<char[]> bytes;
  DWORD size = 0;
  std::string_view Text() const { return {bytes.get(), size}; }
};

// The whole file; nothing when it cannot be read. A file too big for the memory left is one
// that cannot be read (reported by the caller), not a reason to end the process.
std::optional<FileContent> ReadWholeFile(const std::string& path) {
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return std::nullopt;
  FileContent content;
  content.bytes.reset(new (std::nothrow) char[static_cast<std::size_t>(size.QuadPart)]);
  if (!content.bytes ||
      !::ReadFile(file.get(), content.bytes.get(), static_cast<DWORD>(size.QuadPart), &content.size, nullptr))
    return std::nullopt;
  return content;
}

void AppendHex4(std::string& out, unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

}  // namespace

std::int32_t ReadPakVersion(const std::string& path) { return ReadField(path, 6, 2); }
std::int32_t ReadCokVersion(const std::string& path) { return ReadField(path, 5, 2); }
std::int32_t Read3bsVersion(const std::string& path) { return ReadField(path, 6, 1); }

std::int32_t ReadLngVersion(const std::string& path, MessageSink& messages) {
  if (!FileExists(path)) return 0;
  const std::optional<FileContent> content = ReadWholeFile(path);
  const std::optional<std::int32_t> version = content ? LngVersionFromText(content->Text()) : std::nullopt;
  if (version) return *version;
  messages.ShowBilingualError(text::kCannotHandleLanguageFile, AnsiToWide(path));
  return 0;
}

std::string ReadFileVersionString(const std::string& path) {
  SHFILEINFOA shellInfo{};
  if (::SHGetFileInfoA(path.c_str(), 0, &shellInfo, sizeof shellInfo, SHGFI_EXETYPE) == 0) return {};

  // The version functions are needed only for an executable payload, so their DLL is loaded
  // here rather than at start-up.
  const UniqueModule version = LoadSystemLibrary("version.dll");
  const auto infoSize = ProcedureOf<DWORD(WINAPI*)(LPCSTR, LPDWORD)>(version, "GetFileVersionInfoSizeA");
  const auto info = ProcedureOf<BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID)>(version, "GetFileVersionInfoA");
  const auto query = ProcedureOf<BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT)>(version, "VerQueryValueA");
  if (!infoSize || !info || !query) return {};

  DWORD ignored = 0;
  const DWORD size = infoSize(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> block(size);
  if (!info(path.c_str(), 0, size, block.data())) return {};

  void* found = nullptr;
  UINT length = 0;
  if (!query(block.data(), "\\VarFileInfo\\Translation", &found, &length) || length < 2 * sizeof(WORD)) return {};
  const auto* translation = static_cast<const WORD*>(found);
  std::string key = "\\StringFileInfo\\";
  AppendHex4(key, translation[0]);  // language
  AppendHex4(key, translation[1]);  // code page
  key += "\\FileVersion";
  if (!query(block.data(), key.c_str(), &found, &length) || found == nullptr) return {};
  const auto* value = static_cast<const char*>(found);
  return std::string(value, ::strnlen(value, length));
}

}  // namespace mv
