#pragma once
// The rules that decide whether a payload is older than the installed copy, without any
// Windows call: the integer conversion of version texts, the language file's version line,
// dotted executable versions, the temporary name beside the destination and the question.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mv {

// A signed 32-bit integer written as text: leading spaces (not tabs), an optional sign, then
// decimal digits, or hexadecimal digits after "$", "x" or "0x" (either case), running to the
// end of the text. Nothing for an empty text, any other character or a value beyond 32 bits.
std::optional<std::int32_t> TextToInteger(std::string_view text);

// The version line of a language support file's content: the line after the first
// "[langver]" header, or the last line when there is none. Nothing when it is no integer.
std::optional<std::int32_t> LngVersionFromText(std::string_view content);

// Whether the payload's dotted "FileVersion" is older than the installed copy's.
bool IsOlderVersionString(std::string_view payload, std::string_view installed);
// The executable rule as a whole: an installed copy without a version string, or with the
// payload's own, is never newer.
bool ExecutablePayloadIsOlder(std::string_view payload, std::string_view installed);

// How a kind of data file is compared before it replaces an installed copy.
enum class VersionKind { None, Pak, Cok, Bs3, Lng, Exe };
// Kinds are compared case-sensitively: "PAK" is not "pak".
VersionKind VersionKindOf(std::string_view kind);

// The temporary file beside `path`: its file name with "~" in front.
std::string MakeTempName(std::string_view path);

struct Question {
  std::wstring text;
  std::wstring caption;
};
// The question before an older payload replaces a newer installed copy. `installed` and
// `payload` are the two version texts.
Question OlderPayloadQuestion(std::wstring_view destination, std::wstring_view installed,
                              std::wstring_view payload, bool russian);

}  // namespace mv
