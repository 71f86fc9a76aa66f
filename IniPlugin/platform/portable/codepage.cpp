#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/cpu.h"
#include "platform/portable.h"
#include "platform/unicode.h"

namespace iniplugin::portable {

namespace {

// Bytes 0x80..0x9F of Windows-1252; the rest of the byte range is Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr char kDefaultChar = '?';

char ToAnsi(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == unit) return static_cast<char>(0x80 + i);
  }
  return kDefaultChar;
}

// Every byte's character, so that decoding is one load per byte with no branch.
constexpr std::array<char16_t, 256> MakeByteTable() {
  std::array<char16_t, 256> table{};
  for (std::size_t byte = 0; byte < 256; ++byte) {
    table[byte] = (byte >= 0x80 && byte < 0xA0) ? kHighControls[byte - 0x80]
                                                : static_cast<char16_t>(byte);
  }
  return table;
}
constexpr std::array<char16_t, 256> kByteTable = MakeByteTable();

#if INIPLUGIN_SSE2_CODE
// Sixteen bytes a step. Only bytes 0x80..0x9F stand for other characters than their own
// values, so a step without them (ASCII, and the accented letters of Latin-1 too) is
// widened as it stands. Stops with fewer than sixteen bytes left.
INIPLUGIN_SSE2_FUNCTION std::size_t WidenAnsiWide(const unsigned char* in, std::size_t n,
                                                  char16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i topThree = _mm_set1_epi8(static_cast<char>(0xE0));
  const __m128i controls = _mm_set1_epi8(static_cast<char>(0x80));
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(chunk, topThree), controls)) != 0) {
      for (std::size_t k = 0; k < 16; ++k) out[i + k] = kByteTable[in[i + k]];
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(chunk, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(chunk, zero));
  }
  return i;
}

// The way back, eight units a step while every unit of a step is a byte standing for its
// own value. Returns how many units it took; the caller takes the step that stopped it.
INIPLUGIN_SSE2_FUNCTION std::size_t NarrowAnsiWide(const char16_t* in, std::size_t n, char* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lastByte = _mm_set1_epi16(0xFF);
  const __m128i controls = _mm_set1_epi16(0x80);
  const __m128i controlSpan = _mm_set1_epi16(0x1F);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    // Saturating subtraction leaves zero exactly where a unit is at most the bound.
    const __m128i byte = _mm_cmpeq_epi16(_mm_subs_epu16(units, lastByte), zero);
    const __m128i control =
        _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(units, controls), controlSpan), zero);
    if (_mm_movemask_epi8(_mm_andnot_si128(control, byte)) != 0xFFFF) break;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(units, units));
  }
  return i;
}
#endif

}  // namespace

void AppendAnsiAsUtf16(std::string_view bytes, std::u16string& text) {
  const std::size_t n = bytes.size();
  platform::AppendWritten(text, n, [&](char16_t* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
#if INIPLUGIN_SSE2_CODE
    if (platform::WideInstructions()) i = WidenAnsiWide(in, n, out);
#endif
    // Plain ASCII, most of any INI file, sixteen bytes at a time.
    for (; i + 16 <= n; i += 16) {
      std::uint64_t low, high;
      std::memcpy(&low, in + i, 8);
      std::memcpy(&high, in + i + 8, 8);
      if (((low | high) & 0x8080808080808080ull) != 0) {
        for (std::size_t k = 0; k < 16; ++k) out[i + k] = kByteTable[in[i + k]];
        continue;
      }
      for (std::size_t k = 0; k < 16; ++k) out[i + k] = in[i + k];
    }
    for (; i < n; ++i) out[i] = kByteTable[in[i]];
    return n;
  });
}

void AppendUtf16AsAnsi(std::u16string_view text, std::string& bytes) {
  // One byte a unit at most.
  platform::AppendWritten(bytes, text.size(), [&](char* const begin) {
    char* out = begin;
    bool wide = false;
#if INIPLUGIN_SSE2_CODE
    wide = platform::WideInstructions();
#endif
    for (std::size_t i = 0; i < text.size();) {
#if INIPLUGIN_SSE2_CODE
      if (wide) {
        const std::size_t taken = NarrowAnsiWide(text.data() + i, text.size() - i, out);
        i += taken;
        out += taken;
      }
#endif
      // The step that stopped the wide path, or everything without it.
      const std::size_t stop = wide ? std::min(text.size(), i + 8) : text.size();
      while (i < stop) {
        const char16_t unit = text[i++];
        if (unit < 0x80) {
          *out++ = static_cast<char>(unit);
          continue;
        }
        // A surrogate pair is one character and so one default character.
        if (unit >= 0xD800 && unit < 0xDC00 && i < text.size() && text[i] >= 0xDC00 &&
            text[i] < 0xE000) {
          ++i;
          *out++ = kDefaultChar;
          continue;
        }
        *out++ = ToAnsi(unit);
      }
    }
    return out - begin;
  });
}

bool AnsiHoldsExactly(std::u16string_view text) {
  for (char16_t unit : text) {
    // '?' is the one character whose stand-in is itself.
    if (unit != kDefaultChar && ToAnsi(unit) == kDefaultChar) return false;
  }
  return true;
}

std::u16string AnsiToUtf16(std::string_view bytes) {
  std::u16string text;
  AppendAnsiAsUtf16(bytes, text);
  return text;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  std::string bytes;
  AppendUtf16AsAnsi(text, bytes);
  return bytes;
}

}  // namespace iniplugin::portable
