#include "text/Encoding.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include "text/Scan.h"
#include "platform/codepage.h"
#include "platform/unicode.h"

namespace iniplugin::text {

namespace {

constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string_view BytesOf(Mark mark) {
  switch (mark) {
    case Mark::Utf16:
      return kUtf16Mark;
    case Mark::Utf16BigEndian:
      return kUtf16BigEndianMark;
    case Mark::Utf8:
      return kUtf8Mark;
    case Mark::None:
      break;
  }
  return {};
}

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

Mark MarkAt(std::string_view start) {
  for (const Mark mark : {Mark::Utf16, Mark::Utf16BigEndian, Mark::Utf8}) {
    if (start.starts_with(BytesOf(mark))) return mark;
  }
  return Mark::None;
}

std::size_t MarkLength(Mark mark) { return BytesOf(mark).size(); }

std::uint64_t MostUnits(std::uint64_t bytes, std::string_view start) {
  const Mark mark = MarkAt(start);
  return mark == Mark::Utf16 || mark == Mark::Utf16BigEndian ? bytes / 2 : bytes;
}

std::size_t LargestText() {
  return std::min<std::size_t>(std::numeric_limits<std::uint32_t>::max() / 2,
                               std::u16string().max_size() - 1);
}

bool TextFits(std::uint64_t bytes, std::string_view start) {
  return MostUnits(bytes, start) < LargestText();
}

bool TextDecoder::Refuse(TextRefusal why) {
  m_state = State::Refused;
  m_refusal = why;
  return false;
}

bool TextDecoder::ChooseForm() {
  const Mark mark = MarkAt(m_held);
  switch (mark) {
    case Mark::Utf16BigEndian:
      return Refuse(TextRefusal::BigEndian);
    case Mark::Utf16:
      m_form = TextForm::Utf16;
      break;
    case Mark::Utf8:
      m_form = TextForm::Utf8;
      break;
    case Mark::None:
      m_form = TextForm::Ansi;
      break;
  }
  m_decoded = MarkLength(mark);
  m_held.erase(0, m_decoded);
  return true;
}

bool TextDecoder::DecodeBody(std::string_view bytes) {
  switch (m_form) {
    case TextForm::Utf16:
      platform::AppendUtf16(bytes, platform::ByteOrder::Little, m_text);
      m_decoded += bytes.size();
      return true;
    case TextForm::Utf8:
      if (!platform::AppendUtf8(bytes, m_text)) {
        m_refusedAt = m_decoded + FirstInvalidUtf8(bytes);
        return Refuse(TextRefusal::InvalidUtf8);
      }
      m_decoded += bytes.size();
      return true;
    case TextForm::Ansi:
      break;
  }
  if (HasZeroByte(bytes.data(), bytes.data() + bytes.size())) {
    return Refuse(TextRefusal::NulWithoutMark);
  }
  platform::AppendAnsiAsUtf16(bytes, m_text);
  m_decoded += bytes.size();
  return true;
}

bool TextDecoder::Feed(std::string_view bytes) {
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
    if (m_form != TextForm::Utf16) {
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
  if (m_form == TextForm::Utf16) {
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

bool TextDecoder::Finish() {
  if (m_state == State::Refused) return false;
  if (m_state == State::Start) {
    if (!ChooseForm()) return false;
    m_state = State::Body;
  }
  if (m_form == TextForm::Utf16 && m_held.size() % 2 != 0) return Refuse(TextRefusal::OddLength);
  const bool ok = m_held.empty() || DecodeBody(m_held);
  m_held.clear();
  if (!ok) m_state = State::Refused;
  return ok;
}

void TextEncoder::Add(std::u16string_view text) {
  if (m_form == TextForm::Utf16) {
    platform::AppendAsUtf16Le(text, m_bytes);
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

void TextEncoder::Finish() { Flush(true); }

void TextEncoder::Convert(std::u16string_view block) {
  if (m_form == TextForm::Utf8) {
    platform::AppendAsUtf8(block, m_bytes);
  } else {
    platform::AppendUtf16AsAnsi(block, m_bytes);
  }
}

void TextEncoder::Flush(bool last) {
  std::u16string_view block(m_staged);
  if (!last && !block.empty() && platform::IsHighSurrogate(block.back())) block.remove_suffix(1);
  Convert(block);
  m_staged.erase(0, block.size());
}

std::optional<DecodedText> DecodeFile(std::string_view bytes) {
  DecodedText result;
  result.text.reserve(static_cast<std::size_t>(MostUnits(bytes.size(), bytes)));
  TextDecoder decoder(result.text);
  if (!decoder.Feed(bytes) || !decoder.Finish()) return std::nullopt;
  result.form = decoder.Form();
  result.marked = decoder.Marked();
  return result;
}

std::string EncodeText(TextForm form, std::u16string_view text) {
  std::string bytes;
  TextEncoder encoder(form, bytes);
  encoder.Add(text);
  encoder.Finish();
  return bytes;
}

std::string_view MarkOf(TextForm form) {
  switch (form) {
    case TextForm::Utf16:
      return BytesOf(Mark::Utf16);
    case TextForm::Utf8:
      return BytesOf(Mark::Utf8);
    case TextForm::Ansi:
      break;
  }
  return {};
}

}  // namespace iniplugin::text
