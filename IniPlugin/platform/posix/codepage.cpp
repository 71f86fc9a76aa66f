#include "platform/codepage.h"

#include "platform/portable.h"

namespace iniplugin::platform {

std::u16string AnsiToUtf16(std::string_view bytes) { return portable::AnsiToUtf16(bytes); }
std::string Utf16ToAnsi(std::u16string_view text) { return portable::Utf16ToAnsi(text); }
void AppendAnsiAsUtf16(std::string_view bytes, std::u16string& text) {
  portable::AppendAnsiAsUtf16(bytes, text);
}
void AppendUtf16AsAnsi(std::u16string_view text, std::string& bytes) {
  portable::AppendUtf16AsAnsi(text, bytes);
}

bool AnsiHoldsExactly(std::u16string_view text) { return portable::AnsiHoldsExactly(text); }

}  // namespace iniplugin::platform
