#pragma once
// String rules every concern shares, without any Windows call: only ASCII letters change case,
// numbers are written as the installer has always written them, and a folder path ends with a
// backslash before a name is appended to it. Paths are wide strings (UTF-16 on Windows), so that
// a name outside the ANSI code page is neither lost nor mapped to a lookalike.
#include <cstdint>
#include <string>
#include <string_view>

namespace mv {

// Lower-cases the ASCII letters A-Z only; every other byte stays as it is.
std::string AsciiLower(std::string_view text);

// Decimal text of a signed 32-bit number, wide: it goes into the wide texts of the questions.
std::wstring DecimalText(std::int32_t value);
// Hexadecimal text of an unsigned 32-bit number in capital digits, without leading zeros (as
// printf's "%X" writes it).
std::string HexText(std::uint32_t value);

// Appends one backslash to a non-empty path that does not end with one.
void AddBackslash(std::string& path);
void AddBackslash(std::wstring& path);

// ASCII text (a build-time name, a number) as a wide string, unit for unit.
std::wstring WidenAscii(std::string_view ascii);

}  // namespace mv
