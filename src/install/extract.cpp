#include "install/extract.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <utility>

#include "env/files.h"
#include "env/message_boxes.h"
#include "env/rules.h"
#include "env/win_handle.h"
#include "install/version_readers.h"
#include "install/versions.h"

namespace mv {

namespace {

using Bytes = std::span<const std::uint8_t>;

// The bytes of one resource of this module; empty when it is missing.
Bytes FindPayloadResource(const std::string& name, std::string_view kind) {
  const std::string type(kind);
  HRSRC info = ::FindResourceA(nullptr, name.c_str(), type.c_str());
  if (info == nullptr) return {};
  HGLOBAL loaded = ::LoadResource(nullptr, info);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr) return {};
  return {static_cast<const std::uint8_t*>(bytes), ::SizeofResource(nullptr, info)};
}

// One buffer, sized once to the joined payload's exact size and filled from its parts in order.
// Empty when the memory is not there: a failure to report, not one that ends the process.
class PayloadBuffer {
 public:
  explicit PayloadBuffer(std::initializer_list<Bytes> parts) {
    std::size_t size = 0;
    for (const Bytes& part : parts) size += part.size();
    data_.reset(new (std::nothrow) std::uint8_t[size]);
    if (!data_) return;
    size_ = size;
    std::size_t at = 0;
    for (const Bytes& part : parts) {
      std::memcpy(data_.get() + at, part.data(), part.size());
      at += part.size();
    }
  }
  explicit operator bool() const { return data_ != nullptr; }
  Bytes bytes() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

UniqueFile OpenForWriting(const std::string& path, DWORD disposition) {
  return UniqueFile(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Writes all bytes in one write. False unless every byte was written, flushed to the disk when
// asked, and the file closed cleanly.
bool WriteAndClose(UniqueFile file, Bytes bytes, bool flush) {
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    return false;
  if (flush && !::FlushFileBuffers(file.get())) return false;
  return ::CloseHandle(file.release()) != FALSE;
}

// Writes the whole file or leaves none: a file that could not be written whole (a full disk)
// is of no use to anyone and is removed.
bool WriteWholeOrRemove(const std::string& path, Bytes bytes, DWORD disposition, bool flush) {
  UniqueFile file = OpenForWriting(path, disposition);
  if (!file) return false;
  if (WriteAndClose(std::move(file), bytes, flush)) return true;
  ::DeleteFileA(path.c_str());
  return false;
}

// No partial data file is left under the name the product reads. CREATE_NEW makes sure that
// the file removed is the one this write created: a copy that turned up meanwhile is refused,
// never truncated.
bool WriteNewFile(const std::string& path, Bytes bytes) { return WriteWholeOrRemove(path, bytes, CREATE_NEW, false); }

// The new data, complete and on the disk, beside the installed copy. A leftover temporary
// file is truncated and reused.
bool WriteTempFile(const std::string& temp, Bytes bytes) { return WriteWholeOrRemove(temp, bytes, CREATE_ALWAYS, true); }

void ReportFailure(const std::string& destination, MessageSink& messages) {
  messages.ShowBilingualError(text::kCannotInstallFile, AnsiToWide(destination));
}

struct Comparison {
  bool payloadIsOlder = false;
  std::string payload;    // the two version texts, for the question
  std::string installed;
};

template <typename Reader>
Comparison CompareNumbers(Reader read, const std::string& temp, const std::string& destination) {
  // The payload's version is read first, then the installed copy's.
  const std::int32_t payload = read(temp);
  const std::int32_t installed = read(destination);
  return {installed > payload, DecimalText(payload), DecimalText(installed)};
}

Comparison CompareVersions(VersionKind kind, const std::string& temp, const std::string& destination,
                           MessageSink& messages) {
  switch (kind) {
    case VersionKind::Pak:
      return CompareNumbers(ReadPakVersion, temp, destination);
    case VersionKind::Cok:
      return CompareNumbers(ReadCokVersion, temp, destination);
    case VersionKind::Bs3:
      return CompareNumbers(Read3bsVersion, temp, destination);
    case VersionKind::Lng:
      // A "!" anywhere in the destination skips the comparison.
      if (destination.find('!') != std::string::npos) return {};
      return CompareNumbers([&](const std::string& path) { return ReadLngVersion(path, messages); }, temp,
                            destination);
    case VersionKind::Exe: {
      Comparison c;
      c.payload = ReadFileVersionString(temp);
      c.installed = ReadFileVersionString(destination);
      c.payloadIsOlder = ExecutablePayloadIsOlder(c.payload, c.installed);
      return c;
    }
    case VersionKind::None:
      break;
  }
  return {};
}

// Replaces the installed copy with the complete temporary file in one step: after a failure
// the installed copy is the old one, untouched, and the new data lies under the temporary
// name.
bool ReplaceInstalledCopy(const std::string& temp, const std::string& destination) {
  return ::MoveFileExA(temp.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
         FALSE;
}

// Writes the payload without any comparison. An installed copy is never written over in place,
// where a failure halfway (a full disk) would leave neither the old nor the new data: it is
// replaced only by a complete temporary file, in one step.
bool WritePayload(Bytes payload, const std::string& destination) {
  if (!FileExists(destination)) return WriteNewFile(destination, payload);
  const std::string temp = MakeTempName(destination);
  return WriteTempFile(temp, payload) && ReplaceInstalledCopy(temp, destination);
}

// The steps after the payload is in memory; false on a failure that the caller reports.
bool InstallPayload(Bytes payload, std::string_view kind, const std::string& destination, bool checkExisting,
                    ExtractUi& ui) {
  const VersionKind versionKind = VersionKindOf(kind);
  if (!checkExisting || versionKind == VersionKind::None || !FileExists(destination))
    return WritePayload(payload, destination);

  const std::string temp = MakeTempName(destination);
  if (!WriteTempFile(temp, payload)) return false;

  const Comparison versions = CompareVersions(versionKind, temp, destination, ui);
  if (versions.payloadIsOlder) {
    ui.HideProgress();
    const bool russian = ui.RussianMessages();
    const Question question = OlderPayloadQuestion(AnsiToWide(destination), AnsiToWide(versions.installed),
                                                   AnsiToWide(versions.payload), russian);
    if (!ui.Ask(question.text, question.caption, russian)) {
      ::DeleteFileA(temp.c_str());
      // A window thread that cannot be started fails the step like a failed write.
      return ui.ShowProgress("", "");
    }
  }
  if (!ReplaceInstalledCopy(temp, destination)) return false;
  return !versions.payloadIsOlder || ui.ShowProgress("", "");
}

}  // namespace

void ExtractPayload(std::string_view name, std::string_view kind, const std::string& destination,
                    bool checkExisting, ExtractUi& ui) {
  const Bytes resource = FindPayloadResource(std::string(name), kind);
  // Without its resource there is nothing to write: never create, truncate or replace.
  if (resource.empty()) return ReportFailure(destination, ui);
  // Written straight from the mapped resource: a copy would only double the memory the payload
  // takes, and each file is still written in one call.
  if (!InstallPayload(resource, kind, destination, checkExisting, ui)) ReportFailure(destination, ui);
}

void ExtractSplitPayload(std::string_view name, std::string_view kind, const std::string& destination,
                         MessageSink& messages) {
  const Bytes first = FindPayloadResource(std::string(name) + "1", kind);
  const Bytes second = FindPayloadResource(std::string(name) + "2", kind);
  if (first.empty() || second.empty()) return ReportFailure(destination, messages);
  const PayloadBuffer buffer{first, second};
  if (!buffer || !WritePayload(buffer.bytes(), destination))
    ReportFailure(destination, messages);
}

}  // namespace mv
