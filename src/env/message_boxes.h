#pragma once
// The installer's message boxes. Texts are UTF-16 so that Russian reads right on every system,
// whatever its ANSI code page.
#include <string>
#include <string_view>

namespace mv {

// An error box in the language of the user's locale (English or Russian text of the pair).
void ShowBilingualError(std::wstring_view en, std::wstring_view ru);

// A Yes/No question; true only for Yes. Russian questions carry the Russian language id.
bool AskQuestion(std::wstring_view text, std::wstring_view caption, bool russian);

// The report of an error that no step caught.
void ShowUnhandledError(std::string_view what);

// Text from the system (paths, registry data) in the ANSI code page, as UTF-16.
std::wstring AnsiToWide(std::string_view text);

}  // namespace mv
