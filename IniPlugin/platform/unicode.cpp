#include "platform/unicode.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/simd.h"

namespace iniplugin::platform {

void AppendUtf16(std::string_view bytes, ByteOrder order, std::u16string& text) {
  const std::size_t count = bytes.size() / 2;
  if (std::endian::native == std::endian::little && order == ByteOrder::Little &&
      reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(char16_t) == 0) {
    // Copied in one pass: growing the text first would clear the room only to overwrite it.
    text.append(reinterpret_cast<const char16_t*>(bytes.data()), count);
    return;
  }
  AppendWritten(text, count, [&](char16_t* out) {
    if (order == ByteOrder::Big) {
      for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<char16_t>((static_cast<unsigned char>(bytes[2 * i]) << 8) |
                                       static_cast<unsigned char>(bytes[2 * i + 1]));
      }
    } else if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, bytes.data(), count * 2);
    } else {
      for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
      }
    }
    return count;
  });
}

void AppendAsUtf16Le(std::u16string_view text, std::string& bytes) {
  if constexpr (std::endian::native == std::endian::little) {
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  } else {
    AppendWritten(bytes, text.size() * 2, [&](char* out) {
      for (std::size_t i = 0; i < text.size(); ++i) {
        out[2 * i] = static_cast<char>(text[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(text[i] >> 8);
      }
      return text.size() * 2;
    });
  }
}

namespace {

// Decodes the sequence that starts at the lead byte `in[0]` (0x80 or above) into `out`.
// The bytes it took, or 0 when it is not strict UTF-8 (an overlong form, a surrogate, a
// value past U+10FFFF, a cut sequence).
int DecodeSequence(const unsigned char* in, const unsigned char* end, char16_t*& out) {
  const unsigned char lead = *in;
  int extra = 0;
  char32_t c = 0, least = 0;
  if (lead >= 0xC2 && lead < 0xE0) {
    extra = 1, c = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    extra = 2, c = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    extra = 3, c = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (end - in <= extra) return 0;
  for (int k = 1; k <= extra; ++k) {
    if ((in[k] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (in[k] & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return 0;
  if (c >= 0x10000) {
    *out++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    *out++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    *out++ = static_cast<char16_t>(c);
  }
  return extra + 1;
}

}  // namespace

// Strict UTF-8, with plain ASCII copied sixteen (SSE2) or eight bytes at a time. False,
// with `text` partly extended, on anything that is not strict UTF-8.
bool AppendUtf8(std::string_view bytes, std::u16string& text) {
  bool valid = true;
  // Never more units than bytes.
  AppendWritten(text, bytes.size(), [&](char16_t* const begin) {
    char16_t* out = begin;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = in + bytes.size();
    // Sixteen bytes a step while they are ASCII, as most of any file is, with a sequence
    // decoded here where a step stops early.
    while (WideInstructions()) {
      const std::size_t ascii = simd::WidenAscii(in, static_cast<std::size_t>(end - in), out);
      in += ascii;
      out += ascii;
      if (end - in < 16) break;
      const int used = DecodeSequence(in, end, out);
      if (used == 0) {
        valid = false;
        return out - begin;
      }
      in += used;
    }
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
      if (*in < 0x80) {
        *out++ = *in++;
        continue;
      }
      const int used = DecodeSequence(in, end, out);
      if (used == 0) {
        valid = false;
        break;
      }
      in += used;
    }
    return out - begin;
  });
  return valid;
}

namespace {

// Encodes the character at text[i] (U+0080 or above, or a surrogate), moving `i` past it.
void EncodeCharacter(std::u16string_view text, std::size_t& i, char*& out) {
  char32_t c = text[i++];
  if (IsHighSurrogate(static_cast<char16_t>(c)) && i < text.size() && IsLowSurrogate(text[i])) {
    c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
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
  *out++ = static_cast<char>(0x80 | (c & 0x3F));
}

}  // namespace

// UTF-8 of the text, ASCII sixteen (SSE2) or four units at a time; an unpaired surrogate
// becomes U+FFFD.
void AppendAsUtf8(std::u16string_view text, std::string& bytes) {
  // Three bytes a unit at most.
  AppendWritten(bytes, text.size() * 3, [&](char* const begin) {
    char* out = begin;
    std::size_t i = 0;
    // Sixteen units a step while they are ASCII, with a character encoded here where a
    // step stops early; the room is there because the output has three bytes a unit.
    while (WideInstructions()) {
      const std::size_t ascii = simd::NarrowAscii(text.data() + i, text.size() - i, out);
      i += ascii;
      out += ascii;
      if (text.size() - i < 16) break;
      EncodeCharacter(text, i, out);
    }
    const std::size_t n = text.size();
    while (i < n) {
      if constexpr (std::endian::native == std::endian::little) {
        if (n - i >= 4) {
          std::uint64_t word;
          std::memcpy(&word, text.data() + i, sizeof word);
          if ((word & 0xFF80FF80FF80FF80ull) == 0) {
            for (int k = 0; k < 4; ++k) out[k] = static_cast<char>(word >> (16 * k));
            i += 4;
            out += 4;
            continue;
          }
        }
      }
      if (text[i] < 0x80) {
        *out++ = static_cast<char>(text[i++]);
        continue;
      }
      EncodeCharacter(text, i, out);
    }
    return out - begin;
  });
}

// As the system's profile reader decodes UTF-8: a lead byte and the continuation bytes
// that follow it make one character; where the sequence breaks, everything up to the
// break becomes one U+FFFD. A second byte outside its lead's range (an overlong form, a
// surrogate, a character past U+10FFFF) is taken into the broken sequence; any other byte
// that is not a continuation byte starts afresh.
void AppendUtf8Leniently(std::string_view bytes, std::u16string& text) {
  text.reserve(text.size() + bytes.size());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      text.push_back(lead);
      ++i;
      continue;
    }
    int extra = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      text.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    char32_t c = lead & (0x3F >> extra);
    std::size_t j = i + 1;
    bool whole = true;
    for (int k = 0; k < extra; ++k) {
      if (j >= n) {
        whole = false;
        break;
      }
      const auto next = static_cast<unsigned char>(bytes[j]);
      if (next < 0x80 || next > 0xBF) {
        whole = false;
        break;
      }
      ++j;
      if (k == 0 && (next < low || next > high)) {
        whole = false;
        break;
      }
      c = (c << 6) | (next & 0x3F);
    }
    if (!whole) {
      text.push_back(u'\uFFFD');
    } else if (c >= 0x10000) {
      c -= 0x10000;
      text.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(c));
    }
    i = j;
  }
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  AppendAsUtf8(text, out);
  return out;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  if (!AppendUtf8(bytes, out)) return std::nullopt;
  return out;
}

}  // namespace iniplugin::platform
