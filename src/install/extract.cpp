#include "install/extract.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>

#include "env/message_boxes.h"
#include "env/win_handle.h"

namespace mv {

namespace {

// The bytes of one resource of this module; empty when it is missing.
std::span<const std::uint8_t> FindPayloadResource(const std::string& name, std::string_view kind) {
  const std::string type(kind);
  HRSRC info = ::FindResourceA(nullptr, name.c_str(), type.c_str());
  if (info == nullptr) return {};
  HGLOBAL loaded = ::LoadResource(nullptr, info);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr) return {};
  return {static_cast<const std::uint8_t*>(bytes), ::SizeofResource(nullptr, info)};
}

// One buffer, sized once to the payload's exact size.
class PayloadBuffer {
 public:
  explicit PayloadBuffer(std::size_t size) : data_(new std::uint8_t[size]), size_(size) {}
  std::uint8_t* data() { return data_.get(); }
  std::span<const std::uint8_t> bytes() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_;
};

// Creates or truncates `path` and writes all bytes in one write. False unless every byte was
// written and the file closed cleanly.
bool WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    return false;
  return ::CloseHandle(file.release()) != FALSE;
}

void ReportFailure(const std::string& destination, MessageSink& messages) {
  const std::wstring path = AnsiToWide(destination);
  messages.ShowBilingualError(std::wstring(text::kCannotInstallFile.en) + path,
                              std::wstring(text::kCannotInstallFile.ru) + path);
}

// Joins the parts into one buffer and writes it; a missing part must never truncate or replace
// the file that is there.
void InstallParts(std::initializer_list<std::span<const std::uint8_t>> parts, const std::string& destination,
                  MessageSink& messages) {
  std::size_t size = 0;
  for (const auto& part : parts) {
    if (part.empty()) {
      ReportFailure(destination, messages);
      return;
    }
    size += part.size();
  }
  try {
    PayloadBuffer buffer(size);
    std::size_t at = 0;
    for (const auto& part : parts) {
      std::memcpy(buffer.data() + at, part.data(), part.size());
      at += part.size();
    }
    if (!WriteWholeFile(destination, buffer.bytes())) ReportFailure(destination, messages);
  } catch (const std::bad_alloc&) {
    ReportFailure(destination, messages);
  }
}

}  // namespace

void ExtractPayload(std::string_view name, std::string_view kind, const std::string& destination,
                    bool /*checkExisting*/, MessageSink& messages) {
  InstallParts({FindPayloadResource(std::string(name), kind)}, destination, messages);
}

void ExtractSplitPayload(std::string_view name, std::string_view kind, const std::string& destination,
                         MessageSink& messages) {
  InstallParts({FindPayloadResource(std::string(name) + "1", kind), FindPayloadResource(std::string(name) + "2", kind)},
               destination, messages);
}

}  // namespace mv
