#include "inidoc/TextForm.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "inidoc/Scan.h"
#include "platform/system.h"

namespace iniplugin::inidoc {

namespace {

constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Staged text is converted in blocks of this many units.
constexpr std::size_t kEncodeBlock = 16384;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// Grows `text` by `count` units and returns where they start.
char16_t* Extend(std::u16string& text, std::size_t count) {
  const std::size_t old = text.size();
  text.resize(old + count);
  return text.data() + old;
}

void AppendUtf16Le(std::string_view bytes, std::u16string& text) {
  const std::size_t count = bytes.size() / 2;
  char16_t* out = Extend(text, count);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, bytes.data(), count * 2);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
  }
}

void AppendAsUtf16Le(std::u16string_view text, std::string& bytes) {
  const std::size_t old = bytes.size();
  bytes.resize(old + text.size() * 2);
  char* out = bytes.data() + old;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, text.data(), text.size() * 2);
  } else {
    for (std::size_t i = 0; i < text.size(); ++i) {
      out[2 * i] = static_cast<char>(text[i] & 0xFF);
      out[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
  }
}

}  // namespace

// Strict UTF-8 (no overlong forms, surrogates, values past U+10FFFF or cut sequences),
// with plain ASCII copied eight bytes at a time. False, with `text` partly extended, on
// anything else.
bool AppendUtf8(std::string_view bytes, std::u16string& text) {
  const std::size_t start = text.size();
  char16_t* const begin = Extend(text, bytes.size());  // never more units than bytes
  char16_t* out = begin;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = in + bytes.size();
  while (in < end) {
    if (end - in >= 8) {
      std::uint64_t word;
      std::memcpy(&word, in, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        for (int k = 0; k < 8; ++k) out[k] = in[k];
        in += 8;
        out += 8;
        continue;
      }
    }
    const unsigned char lead = *in;
    if (lead < 0x80) {
      *out++ = lead;
      ++in;
      continue;
    }
    int extra = 0;
    char32_t c = 0, least = 0;
    if (lead >= 0xC2 && lead < 0xE0) {
      extra = 1, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      extra = 2, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      extra = 3, c = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (end - in <= extra) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((in[k] & 0xC0) != 0x80) return false;
      c = (c << 6) | (in[k] & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
    if (c >= 0x10000) {
      *out++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      *out++ = static_cast<char16_t>(c);
    }
    in += extra + 1;
  }
  text.resize(start + static_cast<std::size_t>(out - begin));
  return true;
}

// UTF-8 of the text; an unpaired surrogate becomes U+FFFD.
void AppendAsUtf8(std::u16string_view text, std::string& bytes) {
  const std::size_t start = bytes.size();
  bytes.resize(start + text.size() * 3);  // three bytes a unit at most
  char* const begin = bytes.data() + start;
  char* out = begin;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    char32_t c = text[i];
    if (c < 0x80) {
      *out++ = static_cast<char>(c);
      continue;
    }
    if (IsHighSurrogate(static_cast<char16_t>(c)) && i + 1 < n && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      *out++ = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *out++ = static_cast<char>(0xE0 | (c >> 12));
      *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      *out++ = static_cast<char>(0xF0 | (c >> 18));
      *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    if (c >= 0x80) *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  bytes.resize(start + static_cast<std::size_t>(out - begin));
}

bool TextDecoder::ChooseForm() {
  const std::string_view start(m_held);
  if (start.substr(0, 2) == kUtf16BigEndianMark) return false;
  if (start.substr(0, 2) == kUtf16Mark) {
    m_form = TextForm::Utf16;
    m_held.erase(0, 2);
  } else if (start.substr(0, 3) == kUtf8Mark) {
    m_form = TextForm::Utf8;
    m_held.erase(0, 3);
  } else {
    m_form = TextForm::Ansi;
  }
  return true;
}

bool TextDecoder::DecodeBody(std::string_view bytes) {
  switch (m_form) {
    case TextForm::Utf16:
      AppendUtf16Le(bytes, m_text);
      return true;
    case TextForm::Utf8:
      return AppendUtf8(bytes, m_text);
    case TextForm::Ansi:
      break;
  }
  if (HasZeroByte(bytes.data(), bytes.data() + bytes.size())) return false;
  platform::AppendAnsiAsUtf16(bytes, m_text);
  return true;
}

bool TextDecoder::Feed(std::string_view bytes) {
  if (m_state == State::Refused) return false;
  if (m_state == State::Start) {
    const std::size_t take = std::min<std::size_t>(bytes.size(), 3 - m_held.size());
    m_held.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (m_held.size() < 3) return true;
    if (!ChooseForm()) {
      m_state = State::Refused;
      return false;
    }
    m_state = State::Body;
    // What was taken to look for the mark is body text, fed again below.
    std::string start;
    start.swap(m_held);
    if (!start.empty() && !Feed(start)) return false;
  }

  // Whole units (UTF-16) or whole lines (ANSI, UTF-8) go now; the rest waits.
  std::size_t cut;
  if (m_form == TextForm::Utf16) {
    const std::size_t whole = (m_held.size() + bytes.size()) / 2 * 2;
    cut = whole > m_held.size() ? whole - m_held.size() : 0;
  } else {
    const std::size_t lineEnd = bytes.rfind('\n');
    cut = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
  }
  bool ok = true;
  if (cut > 0 && m_held.empty()) {
    ok = DecodeBody(bytes.substr(0, cut));
  } else if (cut > 0) {
    m_held.append(bytes.substr(0, cut));
    ok = DecodeBody(m_held);
    m_held.clear();
  }
  if (!ok) {
    m_state = State::Refused;
    return false;
  }
  m_held.append(bytes.substr(cut));
  return true;
}

bool TextDecoder::Finish() {
  if (m_state == State::Refused) return false;
  if (m_state == State::Start) {
    if (!ChooseForm()) return false;
    m_state = State::Body;
  }
  if (m_form == TextForm::Utf16 && m_held.size() % 2 != 0) return false;
  const bool ok = m_held.empty() || DecodeBody(m_held);
  m_held.clear();
  if (!ok) m_state = State::Refused;
  return ok;
}

void TextEncoder::Add(std::u16string_view text) {
  if (m_form == TextForm::Utf16) {
    AppendAsUtf16Le(text, m_bytes);
    return;
  }
  if (m_staged.size() + text.size() < kEncodeBlock) {
    m_staged.append(text);
    return;
  }
  // A long piece is converted where it stands, a block at a time, after what was staged.
  if (!m_staged.empty()) {
    // A surrogate pair is one character: never convert its halves apart.
    if (IsHighSurrogate(m_staged.back()) && IsLowSurrogate(text.front())) {
      m_staged.push_back(text.front());
      text.remove_prefix(1);
    }
    Convert(m_staged);
    m_staged.clear();
  }
  while (!text.empty()) {
    std::size_t take = std::min(text.size(), kEncodeBlock);
    if (take < text.size() && IsHighSurrogate(text[take - 1])) ++take;
    if (take == text.size() && IsHighSurrogate(text.back())) {
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
    AppendAsUtf8(block, m_bytes);
  } else {
    platform::AppendUtf16AsAnsi(block, m_bytes);
  }
}

void TextEncoder::Flush(bool last) {
  std::u16string_view block(m_staged);
  if (!last && !block.empty() && IsHighSurrogate(block.back())) block.remove_suffix(1);
  Convert(block);
  m_staged.erase(0, block.size());
}

std::optional<DecodedText> DecodeFile(std::string_view bytes) {
  DecodedText result;
  result.text.reserve(bytes.substr(0, 2) == kUtf16Mark ? bytes.size() / 2 : bytes.size());
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
      return kUtf16Mark;
    case TextForm::Utf8:
      return kUtf8Mark;
    case TextForm::Ansi:
      break;
  }
  return {};
}

}  // namespace iniplugin::inidoc
