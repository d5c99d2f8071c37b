#include "install/extract_win.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>

#include "base/strings.h"
#include "install/safe_write.h"
#include "install/safe_write_win.h"
#include "install/versions.h"
#include "install/versions_win.h"
#include "win/files_win.h"

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
  Bytes Content() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

// The Windows error of the step that failed goes into the log before the message.
WriteResult ReportFailure(const std::wstring& destination, SetupUi& ui, DWORD error) {
  ui.Log("Writing failed with Windows error ", DecimalText(static_cast<std::int32_t>(error)));
  ui.ShowBilingualError(text::kCannotInstallFile, destination);
  return WriteResult::Failed;
}

// What a write that went ahead did; a failure is logged where it is reported.
WriteResult Logged(WriteResult result, const std::wstring& destination, SetupUi& ui) {
  if (result != WriteResult::Failed)
    ui.Log(result == WriteResult::Written ? "Written: " : "In use: replaced at the next restart: ", destination);
  return result;
}

struct Comparison {
  bool PayloadIsOlder = false;
  std::wstring Payload;  // the two version texts, for the question
  std::wstring Installed;
};

template <typename Reader>
Comparison CompareNumbers(Reader read, const std::wstring& temp, const std::wstring& destination) {
  // The payload's version is read first, then the installed copy's.
  const std::int32_t payload = read(temp);
  const std::int32_t installed = read(destination);
  return {installed > payload, DecimalText(payload), DecimalText(installed)};
}

Comparison CompareVersions(VersionKind kind, const std::wstring& temp, const std::wstring& destination, SetupUi& ui) {
  switch (kind) {
    case VersionKind::Pak:
      return CompareNumbers(ReadPakVersion, temp, destination);
    case VersionKind::Cok:
      return CompareNumbers(ReadCokVersion, temp, destination);
    case VersionKind::Bs3:
      return CompareNumbers(Read3bsVersion, temp, destination);
    case VersionKind::Lng:
      // A "!" anywhere in the destination skips the comparison.
      if (destination.find(L'!') != std::wstring::npos) return {};
      return CompareNumbers([&](const std::wstring& path) { return ReadLngVersion(path, ui); }, temp, destination);
    case VersionKind::Exe: {
      Comparison c;
      c.Payload = ReadFileVersionString(temp);
      c.Installed = ReadFileVersionString(destination);
      c.PayloadIsOlder = ExecutablePayloadIsOlder(c.Payload, c.Installed);
      return c;
    }
    case VersionKind::None:
      break;
  }
  return {};
}

// The steps after the payload is in memory; Failed on a failure that the caller reports, with
// GetLastError telling why.
WriteResult InstallPayload(Bytes payload, std::string_view kind, const std::wstring& destination, bool checkExisting,
                           SetupUi& ui, BeforeCommit& beforeCommit) {
  const VersionKind versionKind = VersionKindOf(kind);
  if (!checkExisting || versionKind == VersionKind::None || !FileExists(destination))
    return Logged(WriteOrReplace(payload, destination, beforeCommit, ui.Unattended()), destination, ui);

  const std::wstring temp = MakeTempName(destination);
  if (!WriteTempFile(temp, payload)) return WriteResult::Failed;

  const Comparison versions = CompareVersions(versionKind, temp, destination, ui);
  ui.Log("Version of the installed copy: ", versions.Installed);
  ui.Log("Version of this add-on: ", versions.Payload);
  if (versions.PayloadIsOlder) {
    ui.HideProgress();
    const bool russian = ui.RussianMessages();
    const Question question = OlderPayloadQuestion(destination, versions.Installed, versions.Payload, russian);
    if (!ui.Ask(question, russian, "Question: replace the newer installed copy with this older one?")) {
      ::DeleteFileW(temp.c_str());
      ui.Log("Kept the newer installed copy");
      // A window thread that cannot be started fails the step like a failed write.
      if (!ui.ShowProgress("", "")) return WriteResult::Failed;
      return WriteResult::KeptNewer;
    }
  }
  const WriteResult result = Commit(temp, destination, true, beforeCommit, ui.Unattended());
  if (result == WriteResult::Failed) return result;
  if (versions.PayloadIsOlder && !ui.ShowProgress("", "")) return WriteResult::Failed;
  return Logged(result, destination, ui);
}

}  // namespace

WriteResult ExtractPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                           bool checkExisting, SetupUi& ui, BeforeCommit& beforeCommit) {
  const Bytes resource = FindPayloadResource(std::string(name), kind);
  // Without its resource there is nothing to write: never create, truncate or replace.
  // Otherwise it is written straight from the mapped resource: a copy would only double the
  // memory the payload takes, and each file is still written in one call.
  if (resource.empty()) return ReportFailure(destination, ui, ERROR_RESOURCE_NAME_NOT_FOUND);
  const WriteResult result = InstallPayload(resource, kind, destination, checkExisting, ui, beforeCommit);
  return result == WriteResult::Failed ? ReportFailure(destination, ui, ::GetLastError()) : result;
}

WriteResult ExtractSplitPayload(std::string_view name, std::string_view kind, const std::wstring& destination,
                                SetupUi& ui, BeforeCommit& beforeCommit) {
  const Bytes first = FindPayloadResource(std::string(name) + "1", kind);
  const Bytes second = FindPayloadResource(std::string(name) + "2", kind);
  if (first.empty() || second.empty()) return ReportFailure(destination, ui, ERROR_RESOURCE_NAME_NOT_FOUND);
  const PayloadBuffer buffer{first, second};
  if (!buffer) return ReportFailure(destination, ui, ERROR_NOT_ENOUGH_MEMORY);
  const WriteResult result = WriteOrReplace(buffer.Content(), destination, beforeCommit, ui.Unattended());
  return result == WriteResult::Failed ? ReportFailure(destination, ui, ::GetLastError())
                                       : Logged(result, destination, ui);
}

}  // namespace mv
