#pragma once
// Conversions between the system's code pages. The installer's own texts and every path are
// UTF-16; the rest of what comes from the system (console output, the names of Windows) is 8-bit
// text in the ANSI or OEM code page of this machine.
#include <string>
#include <string_view>

namespace mv {

// Text in the ANSI code page, as UTF-16.
std::wstring AnsiToWide(std::string_view text);

// Text in the OEM code page (a console's output) converted to the ANSI one, byte for byte:
// the length stays the same.
std::string OemToAnsiText(std::string_view text);

}  // namespace mv
