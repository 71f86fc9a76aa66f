#include "inidoc/TextForm.h"

#include <cstring>

#include "platform/system.h"

namespace iniplugin::inidoc {

namespace {

constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::u16string DecodeUtf16Le(std::string_view bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return text;
}

std::string EncodeUtf16Le(std::u16string_view text) {
  std::string bytes(text.size() * 2, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return bytes;
}

}  // namespace

std::optional<std::u16string> DecodeUtf8(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      text.push_back(lead);
      ++p;
      continue;
    }
    int extra;
    char32_t c;
    char32_t min;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, min = 0x10000;
    } else {
      return std::nullopt;
    }
    if (end - p <= extra) return std::nullopt;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return std::nullopt;
    if (c >= 0x10000) {
      c -= 0x10000;
      text.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(c));
    }
    p += extra + 1;
  }
  return text;
}

std::string EncodeUtf8(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      bytes.push_back(static_cast<char>(0xC0 | (c >> 6)));
    } else if (c < 0x10000) {
      bytes.push_back(static_cast<char>(0xE0 | (c >> 12)));
      bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(0xF0 | (c >> 18)));
      bytes.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    }
    bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return bytes;
}

std::optional<DecodedText> DecodeFile(std::string_view bytes) {
  DecodedText result;
  if (bytes.substr(0, 2) == kUtf16Mark) {
    const std::string_view body = bytes.substr(2);
    if (body.size() % 2 != 0) return std::nullopt;
    result.form = TextForm::Utf16;
    result.marked = true;
    result.text = DecodeUtf16Le(body);
    return result;
  }
  if (bytes.substr(0, 2) == kUtf16BigEndianMark) return std::nullopt;
  if (bytes.substr(0, 3) == kUtf8Mark) {
    std::optional<std::u16string> text = DecodeUtf8(bytes.substr(3));
    if (!text) return std::nullopt;
    result.form = TextForm::Utf8;
    result.marked = true;
    result.text = std::move(*text);
    return result;
  }
  if (std::memchr(bytes.data(), 0, bytes.size()) != nullptr) return std::nullopt;
  result.form = TextForm::Ansi;
  result.text = platform::AnsiToUtf16(bytes);
  return result;
}

std::string EncodeText(TextForm form, std::u16string_view text) {
  switch (form) {
    case TextForm::Utf16:
      return EncodeUtf16Le(text);
    case TextForm::Utf8:
      return EncodeUtf8(text);
    case TextForm::Ansi:
      break;
  }
  return platform::Utf16ToAnsi(text);
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
