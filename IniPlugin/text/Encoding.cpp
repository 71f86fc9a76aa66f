#include "text/Encoding.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "platform/unicode.h"
#include "text/Scan.h"

namespace iniplugin::text {

namespace {

constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsUtf16(Form form) { return form == Form::Utf16 || form == Form::Utf16BigEndian; }

// Staged text is converted in blocks of this many units.
constexpr std::size_t kEncodeBlock = 16384;

// Where the first byte of `bytes` lies that starts no valid UTF-8 character. Asked only
// of text the strict decoder refused, so a sequence at a time is fast enough.
std::size_t FirstInvalidUtf8(std::string_view bytes) {
  std::u16string scratch;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    scratch.clear();
    if (at + length > bytes.size() || !platform::AppendUtf8(bytes.substr(at, length), scratch)) {
      return at;
    }
    at += length;
  }
  return at;
}


}  // namespace

std::string_view MarkOf(Form form) {
  switch (form) {
    case Form::Utf16:
      return kUtf16Mark;
    case Form::Utf16BigEndian:
      return kUtf16BigEndianMark;
    case Form::Utf8:
      return kUtf8Mark;
    case Form::Ansi:
      break;
  }
  return {};
}

Form FormAt(std::string_view start) {
  for (const Form form : {Form::Utf16, Form::Utf16BigEndian, Form::Utf8}) {
    if (start.starts_with(MarkOf(form))) return form;
  }
  return Form::Ansi;
}

FileStart TellForm(std::string_view start, std::uint64_t size) {
  FileStart told;
  told.form = FormAt(start);
  if (told.form == Form::Utf16BigEndian) {
    told.refusal = Refusal::BigEndian;
  } else if (told.form == Form::Utf16 && size % 2 != 0) {
    told.refusal = Refusal::OddLength;
  } else if (told.form == Form::Ansi && HasZeroByte(start.data(), start.data() + start.size())) {
    told.refusal = Refusal::NulWithoutMark;
  }
  return told;
}

std::uint64_t MostUnits(std::uint64_t bytes, std::string_view start) {
  return IsUtf16(FormAt(start)) ? bytes / 2 : bytes;
}

std::size_t LargestText() {
  return std::min<std::size_t>(std::numeric_limits<std::uint32_t>::max() / 2,
                               std::u16string().max_size() - 1);
}

bool TextFits(std::uint64_t bytes, std::string_view start) {
  return MostUnits(bytes, start) < LargestText();
}

bool Decoder::Refuse(text::Refusal why) {
  if (m_refusal == text::Refusal::None) m_refusal = why;
  if (m_losses == Losses::Read) return true;
  m_state = State::Refused;
  return false;
}

bool Decoder::ChooseForm() {
  m_form = FormAt(m_held);
  m_decoded = MarkOf(m_form).size();
  m_held.erase(0, m_decoded);
  return m_form != text::Form::Utf16BigEndian || Refuse(text::Refusal::BigEndian);
}

bool Decoder::DecodeBody(std::string_view bytes) {
  const std::uint64_t at = m_decoded;
  m_decoded += bytes.size();
  switch (m_form) {
    case text::Form::Utf16:
    case text::Form::Utf16BigEndian:
      platform::AppendUtf16(bytes,
                            m_form == text::Form::Utf16 ? platform::ByteOrder::Little
                                                        : platform::ByteOrder::Big,
                            m_text);
      return true;
    case text::Form::Utf8: {
      if (m_refusal == text::Refusal::InvalidUtf8) {
        platform::AppendUtf8Leniently(bytes, m_text);
        return true;
      }
      const std::size_t before = m_text.size();
      if (platform::AppendUtf8(bytes, m_text)) return true;
      m_refusedAt = at + FirstInvalidUtf8(bytes);
      if (!Refuse(text::Refusal::InvalidUtf8)) return false;
      // Read as the profile reader reads it: the strict decoder's partial text goes.
      m_text.resize(before);
      platform::AppendUtf8Leniently(bytes, m_text);
      return true;
    }
    case text::Form::Ansi:
      break;
  }
  if (HasZeroByte(bytes.data(), bytes.data() + bytes.size()) &&
      !Refuse(text::Refusal::NulWithoutMark)) {
    return false;
  }
  platform::AppendAnsiAsUtf16(bytes, m_text);
  return true;
}

bool Decoder::Feed(std::string_view bytes) {
  if (m_state == State::Refused) return false;
  if (m_state == State::Start) {
    const std::size_t take = std::min<std::size_t>(bytes.size(), 3 - m_held.size());
    m_held.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (m_held.size() < 3) return true;
    if (!ChooseForm()) return false;
    m_state = State::Body;
    // What was taken to look for the mark is body text, fed again below.
    std::string start;
    start.swap(m_held);
    if (!start.empty() && !Feed(start)) return false;
  }

  bool ok = true;
  if (!m_held.empty()) {
    // Only what completes the held piece joins it (the odd byte's partner, or the rest of
    // the held line): the block's other lines decode where they stand, not from a copy.
    std::size_t join = 1;
    if (!IsUtf16(m_form)) {
      const std::size_t lineEnd = bytes.find('\n');
      join = lineEnd == std::string_view::npos ? bytes.size() + 1 : lineEnd + 1;
    }
    if (join > bytes.size()) {
      m_held.append(bytes);
      return true;
    }
    m_held.append(bytes.substr(0, join));
    bytes.remove_prefix(join);
    ok = DecodeBody(m_held);
    m_held.clear();
  }

  // Whole units (UTF-16) or whole lines (ANSI, UTF-8) go now; the rest waits.
  std::size_t cut;
  if (IsUtf16(m_form)) {
    cut = bytes.size() / 2 * 2;
  } else {
    const std::size_t lineEnd = bytes.rfind('\n');
    cut = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
  }
  if (ok && cut > 0) ok = DecodeBody(bytes.substr(0, cut));
  if (!ok) {
    m_state = State::Refused;
    return false;
  }
  m_held.assign(bytes.substr(cut));
  return true;
}

bool Decoder::Finish() {
  if (m_state == State::Refused) return false;
  if (m_state == State::Start) {
    if (!ChooseForm()) return false;
    m_state = State::Body;
  }
  // An odd last byte is no unit: read, it is left out.
  if (IsUtf16(m_form) && m_held.size() % 2 != 0) {
    if (!Refuse(text::Refusal::OddLength)) return false;
    m_held.pop_back();
  }
  const bool ok = m_held.empty() || DecodeBody(m_held);
  m_held.clear();
  if (!ok) m_state = State::Refused;
  return ok;
}

void Encoder::Add(std::u16string_view text) {
  if (m_form == Form::Utf16) {
    platform::AppendAsUtf16Le(text, m_bytes);
    return;
  }
  if (m_form == Form::Utf16BigEndian) {
    const std::size_t start = m_bytes.size();
    platform::AppendAsUtf16Le(text, m_bytes);
    for (std::size_t i = start; i + 1 < m_bytes.size(); i += 2) std::swap(m_bytes[i], m_bytes[i + 1]);
    return;
  }
  if (m_staged.size() + text.size() < kEncodeBlock) {
    m_staged.append(text);
    return;
  }
  // A long piece is converted where it stands, a block at a time, after what was staged.
  if (!m_staged.empty()) {
    // A surrogate pair is one character: never convert its halves apart.
    if (platform::IsHighSurrogate(m_staged.back()) && platform::IsLowSurrogate(text.front())) {
      m_staged.push_back(text.front());
      text.remove_prefix(1);
    }
    Convert(m_staged);
    m_staged.clear();
  }
  while (!text.empty()) {
    std::size_t take = std::min(text.size(), kEncodeBlock);
    if (take < text.size() && platform::IsHighSurrogate(text[take - 1])) ++take;
    if (take == text.size() && platform::IsHighSurrogate(text.back())) {
      // The last unit may pair with the next piece's first.
      Convert(text.substr(0, take - 1));
      m_staged.assign(1, text.back());
      return;
    }
    Convert(text.substr(0, take));
    text.remove_prefix(take);
  }
}

void Encoder::Finish() { Flush(true); }

void Encoder::Convert(std::u16string_view block) {
  if (m_form == Form::Utf8) {
    platform::AppendAsUtf8(block, m_bytes);
  } else {
    platform::AppendUtf16AsAnsi(block, m_bytes);
  }
}

void Encoder::Flush(bool last) {
  std::u16string_view block(m_staged);
  if (!last && !block.empty() && platform::IsHighSurrogate(block.back())) block.remove_suffix(1);
  Convert(block);
  m_staged.erase(0, block.size());
}

std::optional<DecodedText> DecodeFile(std::string_view bytes, Losses losses) {
  DecodedText result;
  result.text.reserve(static_cast<std::size_t>(MostUnits(bytes.size(), bytes)));
  Decoder decoder(result.text, losses);
  if (!decoder.Feed(bytes) || !decoder.Finish()) return std::nullopt;
  result.form = decoder.Form();
  result.marked = decoder.Marked();
  result.refusal = decoder.Refusal();
  return result;
}

namespace {

std::string Encoded(Form form, std::u16string_view text, std::string_view mark) {
  std::string bytes(mark);
  Encoder encoder(form, bytes);
  encoder.Add(text);
  encoder.Finish();
  return bytes;
}

}  // namespace

std::string EncodeText(Form form, std::u16string_view text) { return Encoded(form, text, {}); }

std::string EncodeFile(Form form, std::u16string_view text) {
  return Encoded(form, text, MarkOf(form));
}

}  // namespace iniplugin::text
