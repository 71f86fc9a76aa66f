#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/portable.h"
#include "platform/simd.h"
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

}  // namespace

void AppendAnsiAsUtf16(std::string_view bytes, std::u16string& text) {
  const std::size_t n = bytes.size();
  platform::AppendWritten(text, n, [&](char16_t* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    // Sixteen bytes a step where none stands for another character than its own value
    // (ASCII, and the accented letters of Latin-1 too), the table where one does.
    while (platform::WideInstructions()) {
      i += platform::simd::WidenLatin1(in + i, n - i, out + i);
      if (n - i < 16) break;
      for (std::size_t k = 0; k < 16; ++k) out[i + k] = kByteTable[in[i + k]];
      i += 16;
    }
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
    const bool wide = platform::WideInstructions();
    for (std::size_t i = 0; i < text.size();) {
      if (wide) {
        const std::size_t taken =
            platform::simd::NarrowLatin1(text.data() + i, text.size() - i, out);
        i += taken;
        out += taken;
      }
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
