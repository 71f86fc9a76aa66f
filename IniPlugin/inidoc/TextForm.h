// The three forms in which an INI file's text is stored on disk, and the conversion of a
// whole file between bytes and UTF-16 text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace iniplugin::inidoc {

enum class TextForm {
  Ansi,   // the system's ANSI code page, no mark
  Utf16,  // UTF-16 little-endian after the mark FF FE
  Utf8,   // UTF-8 after the mark EF BB BF
};

struct DecodedText {
  TextForm form = TextForm::Ansi;
  // The text after the mark. In a marked form an empty file still has one (empty) line:
  // the mark itself stood on it.
  std::u16string text;
  bool marked = false;
};

// Decodes a whole file. Refuses (nullopt) what could not be written back without loss:
// NUL bytes in the unmarked form (typically UTF-16 without a mark), the big-endian mark
// FE FF, a UTF-16 body of odd length, and a UTF-8-marked body that is not valid UTF-8.
std::optional<DecodedText> DecodeFile(std::string_view bytes);

// Encodes text in a form, without a mark. Throws std::bad_alloc only.
std::string EncodeText(TextForm form, std::u16string_view text);
// The byte-order mark a form starts with (empty for the ANSI form).
std::string_view MarkOf(TextForm form);

}  // namespace iniplugin::inidoc
