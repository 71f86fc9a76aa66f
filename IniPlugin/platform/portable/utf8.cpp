#include "inidoc/TextForm.h"
#include "platform/portable.h"

namespace iniplugin::portable {

// The document's codec: file names and file text follow the same rules.
std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  inidoc::AppendAsUtf8(text, out);
  return out;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  if (!inidoc::AppendUtf8(bytes, out)) return std::nullopt;
  return out;
}

}  // namespace iniplugin::portable
