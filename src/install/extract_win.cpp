#include "install/extract_win.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <utility>

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

// A file of the folder that the payload is compared with: the installed copy, and a replacement
// that an earlier unattended run left for the next restart, which is what the folder holds then.
struct HeldCopy {
  std::string_view What;
  std::wstring Path;
};

struct Comparison {
  bool PayloadIsOlder = false;
  // A version could not be read (a copy held open without sharing): counted as 0, or as no
  // version string, as the readers have always counted it; ReadError says why.
  bool Unknown = false;
  DWORD ReadError = 0;
  std::wstring Payload;  // the two version texts, for the question: the newer held copy's
  std::wstring Installed;
};

// The payload's version is read first (from the complete temporary file), then each held
// copy's; the payload is older than any of them that is newer. The question names the first
// held copy that is newer, else the installed copy.
Comparison CompareVersions(VersionKind kind, const std::wstring& temp, const std::wstring& destination,
                           std::span<const HeldCopy> held, SetupUi& ui) {
  Comparison c;
  // A "!" anywhere in the destination skips the comparison of language files.
  if (kind == VersionKind::Lng && destination.find(L'!') != std::wstring::npos) return c;
  const VersionField* field = FixedVersionField(kind);
  // The version's text, and for the kinds that number their versions the number; nothing when
  // the file cannot be read.
  const auto read = [&](const std::wstring& path, std::int32_t& number) -> std::optional<std::wstring> {
    if (kind == VersionKind::Exe) return ReadFileVersionString(path);
    const ReadVersion version = field ? ReadFieldVersion(path, *field) : ReadLngVersion(path, ui);
    if (!version) return std::nullopt;
    number = *version;
    return DecimalText(number);
  };
  // A version that cannot be read counts as 0, or as no version string, as it always has.
  const auto known = [&c, kind](std::optional<std::wstring> text) {
    if (text) return std::move(*text);
    if (!c.Unknown) c.ReadError = ::GetLastError();
    c.Unknown = true;
    return kind == VersionKind::Exe ? std::wstring() : std::wstring(L"0");
  };
  std::int32_t payload = 0;
  c.Payload = known(read(temp, payload));
  for (std::size_t i = 0; i < held.size(); ++i) {
    std::int32_t number = 0;
    std::optional<std::wstring> text = read(held[i].Path, number);
    ui.Log(held[i].What, text ? *text : std::wstring(L"unknown: it cannot be read"));
    std::wstring version = known(std::move(text));
    const bool older = kind == VersionKind::Exe ? ExecutablePayloadIsOlder(c.Payload, version) : number > payload;
    if (i == 0 || (older && !c.PayloadIsOlder)) c.Installed = std::move(version);
    c.PayloadIsOlder = c.PayloadIsOlder || older;
  }
  return c;
}

// The steps after the payload is in memory; Failed on a failure that the caller reports, with
// GetLastError telling why.
WriteResult InstallPayload(Bytes payload, std::string_view kind, const std::wstring& destination, bool checkExisting,
                           SetupUi& ui, BeforeCommit& beforeCommit) {
  const VersionKind versionKind = VersionKindOf(kind);
  const bool installed = FileExists(destination);
  HeldCopy copies[2];
  std::size_t count = 0;
  if (checkExisting && versionKind != VersionKind::None) {
    if (installed) copies[count++] = {"Version of the installed copy: ", destination};
    std::wstring waiting = MakeRestartName(destination);
    if (FileExists(waiting))
      copies[count++] = {"Version of the copy that replaces it at the next restart: ", std::move(waiting)};
  }
  const std::span<const HeldCopy> held(copies, count);
  if (held.empty()) return Logged(WriteOrReplace(payload, destination, beforeCommit, ui.Unattended()), destination, ui);

  const std::wstring temp = MakeTempName(destination);
  if (!WriteTempFile(temp, payload)) return WriteResult::Failed;

  const Comparison versions = CompareVersions(versionKind, temp, destination, held, ui);
  ui.Log("Version of this add-on: ", versions.Payload);
  // At a desk a version that cannot be read counts as 0, as it always has: the write then
  // replaces the copy once its holder lets go, or fails. An unattended run would leave that write
  // for the next restart, which would then replace a copy of a version nobody knows, a newer one
  // perhaps: the copy is kept, and the run fails.
  if (versions.Unknown && ui.Unattended()) {
    ui.Log("A version cannot be read, so the installed copy is kept");
    ::DeleteFileW(temp.c_str());
    ::SetLastError(versions.ReadError);
    return WriteResult::Failed;
  }
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
  const WriteResult result = Commit(temp, destination, installed, beforeCommit, ui.Unattended());
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
