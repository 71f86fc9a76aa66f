// The forms in which an INI file's text is stored on disk, and the conversion of a file
// between bytes and UTF-16 text, whole or piece by piece: the one codec both readers use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace iniplugin::text {

// The forms a file's text is stored in on disk. All but ANSI start with a byte-order mark,
// told apart here, from the file's first bytes, and nowhere else.
enum class Form {
  Ansi,            // the system's ANSI code page, no mark
  Utf16,           // UTF-16 little-endian after the mark FF FE
  Utf16BigEndian,  // UTF-16 big-endian after the mark FE FF: read, never written back
  Utf8,            // UTF-8 after the mark EF BB BF
};

// Why a file's text cannot be written back without loss.
enum class Refusal {
  None,
  BigEndian,       // the mark FE FF
  NulWithoutMark,  // NUL bytes without a mark: typically UTF-16 without one
  OddLength,       // a UTF-16 body of odd length
  InvalidUtf8,     // a UTF-8-marked body that is not valid UTF-8
};

// The form whose mark `start` (a file's first bytes, or as many as it has) begins with.
Form FormAt(std::string_view start);
// The mark a form starts with (empty for the ANSI form).
std::string_view MarkOf(Form form);

// What a file's first bytes and its size tell of it, before the rest is read.
struct FileStart {
  Form form = Form::Ansi;  // its mark is MarkOf(form)
  // What already shows that the text cannot be written back: the big-endian mark, an odd
  // size after the UTF-16 mark, a NUL among `start`'s bytes without a mark.
  Refusal refusal = Refusal::None;
};
FileStart TellForm(std::string_view start, std::uint64_t size);

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

// What a decoder does with a file that could not be written back without loss.
enum class Losses {
  Refuse,  // refuses it: the document holds only text it can save as it read it
  Read,    // reads it as the system's profile reader does, noting the first refusal: the
           // big-endian form decoded, an odd last byte left out, NUL bytes kept, each
           // broken UTF-8 sequence one U+FFFD
};

struct DecodedText {
  Form form = Form::Ansi;
  // The text after the mark. In a marked form an empty file still has one (empty) line:
  // the mark itself stood on it.
  std::u16string text;
  bool marked = false;
  Refusal refusal = Refusal::None;  // under Losses::Read, what a write must not damage
};

// Decodes a file fed in pieces of any size, appending the text to a string the caller
// owns, so that a large file is never held as bytes and as text at once. The form is
// chosen by the mark at the start. What could not be written back without loss (see
// Refusal) is refused or read, as `losses` says. Throws std::bad_alloc only.
class Decoder {
 public:
  explicit Decoder(std::u16string& text, Losses losses = Losses::Refuse)
      : m_text(text), m_losses(losses) {}
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Decodes the next bytes. False when the file is refused; the decoder is then spent.
  bool Feed(std::string_view bytes);
  // Decodes what was held back. False when the file is refused.
  bool Finish();

  // Known once the first three bytes (or the whole file, if shorter) were fed.
  text::Form Form() const { return m_form; }
  bool Marked() const { return m_form != text::Form::Ansi; }

  // Why the file was refused (or, under Losses::Read, cannot be written back), and for
  // invalid UTF-8 the offset in the file of the first byte that is not part of a valid
  // character.
  text::Refusal Refusal() const { return m_refusal; }
  std::uint64_t RefusedAt() const { return m_refusedAt; }

 private:
  enum class State { Start, Body, Refused };
  bool DecodeBody(std::string_view bytes);
  bool ChooseForm();
  bool Refuse(text::Refusal why);

  std::u16string& m_text;
  const Losses m_losses;
  State m_state = State::Start;
  text::Form m_form = text::Form::Ansi;
  // Bytes not decoded yet: the start until the form is known; then a line not yet ended
  // (ANSI and UTF-8 text is decoded up to line ends, where a multi-byte character never
  // is cut) or the odd byte of a UTF-16 unit.
  std::string m_held;
  // Bytes of the file decoded so far, the mark included.
  std::uint64_t m_decoded = 0;
  text::Refusal m_refusal = text::Refusal::None;
  std::uint64_t m_refusedAt = 0;
};

// Encodes text handed in pieces into a form (without its mark), appending to a byte string
// the caller owns: no whole copy of the text is ever made. Throws std::bad_alloc only.
class Encoder {
 public:
  Encoder(Form form, std::string& bytes) : m_form(form), m_bytes(bytes) {}
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  void Add(std::u16string_view text);
  // Encodes what is still staged. Call once, after the last piece.
  void Finish();

 private:
  void Flush(bool last);
  void Convert(std::u16string_view block);

  Form m_form;
  std::string& m_bytes;
  // Code page conversions are made a block at a time: one call per piece would cost more
  // than the conversion itself.
  std::u16string m_staged;
};

// Decodes a whole file (see Decoder); nullopt when it is refused.
std::optional<DecodedText> DecodeFile(std::string_view bytes, Losses losses = Losses::Refuse);

// Encodes text in a form, without a mark. Throws std::bad_alloc only.
std::string EncodeText(Form form, std::u16string_view text);
// The same after the form's mark: a whole file's bytes.
std::string EncodeFile(Form form, std::u16string_view text);

}  // namespace iniplugin::text
