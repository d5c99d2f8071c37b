#pragma once
// The rules that decide whether a payload is older than the installed copy, without any
// Windows call: where each kind of data file keeps its version, the integer conversion of
// version texts, the language file's version line and dotted executable versions. The builder
// reads a payload's version by these same rules (mvsetup-tool payload-version).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mv {

// How a kind of data file is compared before it replaces an installed copy.
enum class VersionKind { None, Pak, Cok, Bs3, Lng, Exe };
// Kinds are compared case-sensitively: "PAK" is not "pak".
VersionKind VersionKindOf(std::string_view kind);

// A version kept at a fixed place near the start of the file, little-endian.
struct VersionField {
  std::size_t Offset;
  std::size_t Width;  // 1 or 2 bytes
};
inline constexpr VersionField kPakVersionField{6, 2};
inline constexpr VersionField kCokVersionField{5, 2};
inline constexpr VersionField k3bsVersionField{6, 1};
// Enough of a file's start for every fixed field.
inline constexpr std::size_t kVersionFieldsEnd = 8;

// Where a kind keeps its version at a fixed place; null for the kinds that keep it otherwise.
const VersionField* FixedVersionField(VersionKind kind);

// The field's value in the file's first bytes; 0 when the file is too short to hold it.
std::int32_t FieldValue(const VersionField& field, std::span<const std::uint8_t> content);

// A signed 32-bit integer written as text: leading spaces (not tabs), an optional sign, then
// decimal digits, or hexadecimal digits after "$", "x" or "0x" (either case), running to the
// end of the text. Nothing for an empty text, any other character or a value beyond 32 bits.
std::optional<std::int32_t> TextToInteger(std::string_view text);

// The version line of a language support file's content: the line after the first
// "[langver]" header, or the last line when there is none. Nothing when it is no integer.
std::optional<std::int32_t> LngVersionFromText(std::string_view content);

// Whether the payload's dotted "FileVersion" is older than the installed copy's.
bool IsOlderVersionString(std::string_view payload, std::string_view installed);
// The executable rule as a whole, on the "FileVersion" strings as the version resource holds
// them (UTF-16): an installed copy without a version string, or with the payload's own, is never
// newer.
bool ExecutablePayloadIsOlder(std::wstring_view payload, std::wstring_view installed);

// The version the installer would read from a file of `kind` with this content: a fixed field
// (0 when the file is too short), or the language file's version line (0 when it is no
// integer). Nothing for a kind without a version number ("exe" versions are strings).
std::optional<std::int32_t> PayloadVersion(std::string_view kind, std::span<const std::uint8_t> content);

}  // namespace mv
