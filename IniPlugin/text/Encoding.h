// The three forms in which an INI file's text is stored on disk, and the conversion of a
// file between bytes and UTF-16 text, whole or piece by piece.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace iniplugin::text {

enum class TextForm {
  Ansi,   // the system's ANSI code page, no mark
  Utf16,  // UTF-16 little-endian after the mark FF FE
  Utf8,   // UTF-8 after the mark EF BB BF
};

// The byte-order marks a file may start with. Every reader tells them apart here, from the
// file's first bytes, and nowhere else.
enum class Mark {
  None,
  Utf16,           // FF FE
  Utf16BigEndian,  // FE FF
  Utf8,            // EF BB BF
};
// The mark `start` (a file's first bytes, or as many as it has) begins with.
Mark MarkAt(std::string_view start);
std::size_t MarkLength(Mark mark);
// The most UTF-16 units a file of `bytes` bytes that begins with `start` decodes to: half
// as many as bytes in UTF-16 either way round, at most one a byte in any other form.
std::uint64_t MostUnits(std::uint64_t bytes, std::string_view start);

// The most UTF-16 units a file's text may hold here: positions in it are 32-bit with the
// top half kept for markers, and the 32-bit build's strings end at about 2^29 units. A
// longer text would fail part-way through a read that had taken all the memory it could.
std::size_t LargestText();

// Whether a file of `bytes` bytes that starts with `start` (its first bytes, or as many
// as it has) can decode to a text of fewer than LargestText() units, told before the rest
// is read (see MostUnits).
bool TextFits(std::uint64_t bytes, std::string_view start);

// Why a decoder refused a file.
enum class TextRefusal {
  None,
  BigEndian,       // the mark FE FF
  NulWithoutMark,  // NUL bytes without a mark: typically UTF-16 without one
  OddLength,       // a UTF-16 body of odd length
  InvalidUtf8,     // a UTF-8-marked body that is not valid UTF-8
};

struct DecodedText {
  TextForm form = TextForm::Ansi;
  // The text after the mark. In a marked form an empty file still has one (empty) line:
  // the mark itself stood on it.
  std::u16string text;
  bool marked = false;
};

// Decodes a file fed in pieces of any size, appending the text to a string the caller
// owns, so that a large file is never held as bytes and as text at once. The form is
// chosen by the mark at the start. Refuses what could not be written back without loss:
// NUL bytes in the unmarked form (typically UTF-16 without a mark), the big-endian mark
// FE FF, a UTF-16 body of odd length, and a UTF-8-marked body that is not valid UTF-8.
// Throws std::bad_alloc only.
class TextDecoder {
 public:
  explicit TextDecoder(std::u16string& text) : m_text(text) {}
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  // Decodes the next bytes. False when the file is refused; the decoder is then spent.
  bool Feed(std::string_view bytes);
  // Decodes what was held back. False when the file is refused.
  bool Finish();

  // Known once the first three bytes (or the whole file, if shorter) were fed.
  TextForm Form() const { return m_form; }
  bool Marked() const { return m_form != TextForm::Ansi; }

  // Once refused: why, and for invalid UTF-8 the offset in the file of the first byte
  // that is not part of a valid character.
  TextRefusal Refusal() const { return m_refusal; }
  std::uint64_t RefusedAt() const { return m_refusedAt; }

 private:
  enum class State { Start, Body, Refused };
  bool DecodeBody(std::string_view bytes);
  bool ChooseForm();
  bool Refuse(TextRefusal why);

  std::u16string& m_text;
  State m_state = State::Start;
  TextForm m_form = TextForm::Ansi;
  // Bytes not decoded yet: the start until the form is known; then a line not yet ended
  // (ANSI and UTF-8 text is decoded up to line ends, where a multi-byte character never
  // is cut) or the odd byte of a UTF-16 unit.
  std::string m_held;
  // Bytes of the file decoded so far, the mark included.
  std::uint64_t m_decoded = 0;
  TextRefusal m_refusal = TextRefusal::None;
  std::uint64_t m_refusedAt = 0;
};

// Encodes text handed in pieces into a form, appending to a byte string the caller owns:
// no whole copy of the text is ever made. Throws std::bad_alloc only.
class TextEncoder {
 public:
  TextEncoder(TextForm form, std::string& bytes) : m_form(form), m_bytes(bytes) {}
  TextEncoder(const TextEncoder&) = delete;
  TextEncoder& operator=(const TextEncoder&) = delete;

  void Add(std::u16string_view text);
  // Encodes what is still staged. Call once, after the last piece.
  void Finish();

 private:
  void Flush(bool last);
  void Convert(std::u16string_view block);

  TextForm m_form;
  std::string& m_bytes;
  // Code page conversions are made a block at a time: one call per piece would cost more
  // than the conversion itself.
  std::u16string m_staged;
};

// Decodes a whole file (see TextDecoder).
std::optional<DecodedText> DecodeFile(std::string_view bytes);

// Encodes text in a form, without a mark. Throws std::bad_alloc only.
std::string EncodeText(TextForm form, std::u16string_view text);
// The byte-order mark a form starts with (empty for the ANSI form).
std::string_view MarkOf(TextForm form);

}  // namespace iniplugin::text
