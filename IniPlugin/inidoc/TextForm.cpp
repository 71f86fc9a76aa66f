#include "inidoc/TextForm.h"

#include <cstring>

#include "platform/portable.h"
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
    std::optional<std::u16string> text = portable::Utf8ToUtf16(bytes.substr(3));
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
      return portable::Utf16ToUtf8(text);
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
