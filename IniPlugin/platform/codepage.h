// Conversions between the system's ANSI code page and UTF-16: the system's own on
// Windows, Windows-1252 (portable.h) elsewhere.
#pragma once

#include <string>
#include <string_view>

namespace iniplugin::platform {

std::u16string AnsiToUtf16(std::string_view bytes);
std::string Utf16ToAnsi(std::u16string_view text);
// The same, appending to a string the caller owns: a large file converted block by block
// never needs a second whole copy.
void AppendAnsiAsUtf16(std::string_view bytes, std::u16string& text);
void AppendUtf16AsAnsi(std::u16string_view text, std::string& bytes);
// Whether the ANSI code page holds every character of `text` as itself: neither the
// default character nor a best-fit look-alike ("L" for "Ł") would stand in for any.
bool AnsiHoldsExactly(std::u16string_view text);

}  // namespace iniplugin::platform
