#include "install/extract_win.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
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
// A buffer the memory is not there for is a failure to report, not one that ends the process.
class PayloadBuffer {
 public:
  bool Join(std::initializer_list<Bytes> parts) {
    std::size_t size = 0;
    for (const Bytes& part : parts) size += part.size();
    data_.reset(new (std::nothrow) std::uint8_t[size]);
    if (!data_) return false;
    size_ = size;
    std::size_t at = 0;
    for (const Bytes& part : parts) {
      std::memcpy(data_.get() + at, part.data(), part.size());
      at += part.size();
    }
    return true;
  }
  Bytes Content() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

// Reads one version into `read`: its text, and for the kinds that number their versions the
// number. A version that cannot be read counts as 0, or as no version string, as it always has.
std::int32_t ReadOne(VersionKind kind, const std::wstring& path, ComparedVersion& read, StagedPayload& staged) {
  read.Compared = true;
  std::int32_t number = 0;
  if (kind == VersionKind::Exe) {
    std::optional<std::wstring> text = ReadFileVersionString(path);
    read.Known = text.has_value();
    if (text) read.Text = std::move(*text);
  } else {
    const VersionField* field = FixedVersionField(kind);
    const ReadVersion version = field ? ReadFieldVersion(path, *field) : ReadLngVersion(path, read.CannotHandle);
    read.Known = version.has_value();
    number = version.value_or(0);
    read.Text = DecimalText(number);
  }
  if (!read.Known && !staged.VersionUnknown) {
    staged.VersionUnknown = true;
    staged.ReadError = ::GetLastError();
  }
  return number;
}

// The payload's version is read first (from the complete temporary file), then the installed
// copy's and the waiting replacement's; the payload is older than either that is newer, and the
// question names the first that is.
void CompareVersions(VersionKind kind, StagedPayload& staged) {
  // A "!" anywhere in the destination skips the comparison of language files.
  if (kind == VersionKind::Lng && staged.Destination.find(L'!') != std::wstring::npos) return;
  const std::wstring waiting = MakeRestartName(staged.Destination);
  const struct {
    bool There;
    const std::wstring& Path;
    ComparedVersion& Read;
  } held[] = {{staged.Replaces, staged.Destination, staged.Installed}, {FileExists(waiting), waiting, staged.Waiting}};
  // With no copy there, the payload is written as it is, its version never read.
  if (!held[0].There && !held[1].There) return;
  const std::int32_t payload = ReadOne(kind, staged.Temp, staged.Payload, staged);
  bool named = false;
  for (const auto& copy : held) {
    if (!copy.There) continue;
    const std::int32_t number = ReadOne(kind, copy.Path, copy.Read, staged);
    const bool older =
        kind == VersionKind::Exe ? ExecutablePayloadIsOlder(staged.Payload.Text, copy.Read.Text) : number > payload;
    if (!named || (older && !staged.PayloadIsOlder)) staged.NewerText = copy.Read.Text;
    named = true;
    staged.PayloadIsOlder = staged.PayloadIsOlder || older;
  }
}

}  // namespace

void StagePayload(std::string_view name, std::string_view kind, const std::wstring& destination, bool checkExisting,
                  int parts, StagedPayload& staged) {
  staged.Destination = destination;
  staged.Temp = MakeTempName(destination);
  // Without its resource there is nothing to write: never create, truncate or replace. A single
  // payload is written straight from the mapped resource: a copy would only double the memory it
  // takes, and each file is still written in one call.
  const Bytes first = FindPayloadResource(parts == 2 ? std::string(name) + "1" : std::string(name), kind);
  const Bytes second = parts == 2 ? FindPayloadResource(std::string(name) + "2", kind) : Bytes();
  PayloadBuffer joined;
  if (first.empty() || (parts == 2 && second.empty())) {
    staged.Error = ERROR_RESOURCE_NAME_NOT_FOUND;
  } else if (parts == 2 && !joined.Join({first, second})) {
    staged.Error = ERROR_NOT_ENOUGH_MEMORY;
  } else if (!WriteTempFile(staged.Temp, parts == 2 ? joined.Content() : first)) {
    staged.Error = ::GetLastError();
  } else {
    staged.Ready = true;
  }
  if (!staged.Ready) return;
  staged.Replaces = FileExists(destination);
  // The split payload and kinds without a version are never compared.
  const VersionKind versionKind = VersionKindOf(kind);
  if (checkExisting && parts != 2 && versionKind != VersionKind::None) CompareVersions(versionKind, staged);
}

WriteResult CommitPayload(StagedPayload& staged, BeforeCommit& beforeCommit, InUsePolicy policy) {
  const WriteResult result = Commit(staged.Temp, staged.Destination, staged.Replaces, beforeCommit, policy);
  if (result == WriteResult::Failed) staged.Error = ::GetLastError();
  return result;
}

void DiscardPayload(StagedPayload& staged) {
  if (staged.Ready) ::DeleteFileW(staged.Temp.c_str());
  staged.Ready = false;
}

}  // namespace mv
