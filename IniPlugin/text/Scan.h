// Searching UTF-16 text for line ends and separators a vector or a machine word at a time:
// the readers spend most of their time looking for the next line end, and a value of
// thirty characters takes a handful of steps instead of thirty compares. Both readers'
// lines are found here; which units end a line is each reader's rule.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/simd.h"

namespace iniplugin::text {

namespace scan_detail {

using Word = std::size_t;
constexpr std::size_t kLanes = sizeof(Word) / sizeof(char16_t);

constexpr Word Broadcast(char16_t unit) {
  Word word = 0;
  for (std::size_t i = 0; i < kLanes; ++i) word = (word << 16) | unit;
  return word;
}

constexpr Word kOnes = Broadcast(0x0001);
constexpr Word kHighs = Broadcast(0x8000);

// A bit set in the top of every lane that is zero. Lanes above the first zero lane may be
// flagged wrongly (a borrow runs upwards), which is why only the lowest flag is used.
inline Word ZeroLanes(Word word) { return (word - kOnes) & ~word & kHighs; }

inline Word Load(const char16_t* p) {
  Word word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Lanes are in memory order only on little-endian machines; elsewhere the plain loop runs.
constexpr bool kWordSearch = std::endian::native == std::endian::little;

}  // namespace scan_detail

// The first unit in [p, end) equal to `a` or `b`, or `end`.
inline const char16_t* FindEither(const char16_t* p, const char16_t* end, char16_t a, char16_t b) {
  using namespace scan_detail;
  if constexpr (kWordSearch) {
    const Word wa = Broadcast(a), wb = Broadcast(b);
    while (static_cast<std::size_t>(end - p) >= kLanes) {
      const Word word = Load(p);
      const Word hits = ZeroLanes(word ^ wa) | ZeroLanes(word ^ wb);
      if (hits) return p + std::countr_zero(hits) / 16;
      p += kLanes;
    }
  }
  while (p < end && *p != a && *p != b) ++p;
  return p;
}

// The first unit in [p, end) equal to `a`, `b` or `c`, or `end`.
inline const char16_t* FindAnyOf3(const char16_t* p, const char16_t* end, char16_t a, char16_t b,
                                  char16_t c) {
  using namespace scan_detail;
  if (platform::WideInstructions()) {
    p = platform::simd::FindAnyOf3(p, end, a, b, c);
    if (p < end && (*p == a || *p == b || *p == c)) return p;
  }
  if constexpr (kWordSearch) {
    const Word wa = Broadcast(a), wb = Broadcast(b), wc = Broadcast(c);
    while (static_cast<std::size_t>(end - p) >= kLanes) {
      const Word word = Load(p);
      const Word hits = ZeroLanes(word ^ wa) | ZeroLanes(word ^ wb) | ZeroLanes(word ^ wc);
      if (hits) return p + std::countr_zero(hits) / 16;
      p += kLanes;
    }
  }
  while (p < end && *p != a && *p != b && *p != c) ++p;
  return p;
}

// The first unit in [p, end) equal to `a`, or `end`.
inline const char16_t* FindUnit(const char16_t* p, const char16_t* end, char16_t a) {
  using namespace scan_detail;
  if (platform::WideInstructions()) {
    p = platform::simd::FindAnyOf3(p, end, a, a, a);
    if (p < end && *p == a) return p;
  }
  if constexpr (kWordSearch) {
    const Word wa = Broadcast(a);
    while (static_cast<std::size_t>(end - p) >= kLanes) {
      const Word hits = ZeroLanes(Load(p) ^ wa);
      if (hits) return p + std::countr_zero(hits) / 16;
      p += kLanes;
    }
  }
  while (p < end && *p != a) ++p;
  return p;
}

// Where a line's stops and its sign stand in up to 64 units from `p`: bit i of `stops`
// is set when p[i] is `a`, `b` or `c`, of `signs` when it is `sign`. A line is a handful
// of steps through the bits instead of a search that stops at every line end and starts
// again, and the search for a line's "=" comes with the search for its end. Every unit
// looked for is below 0x7F.
using UnitMarks = platform::simd::WindowMarks;
constexpr std::size_t kMarkBlock = platform::simd::kWindow;

// The marks of [p, p + count), count at most kMarkBlock.
inline UnitMarks MarkUnits(const char16_t* p, std::size_t count, char16_t a, char16_t b,
                           char16_t c, char16_t sign) {
  if (count == kMarkBlock && platform::WideInstructions()) {
    return platform::simd::MarkWindow(p, static_cast<char>(a), static_cast<char>(b),
                                      static_cast<char>(c), static_cast<char>(sign));
  }
  UnitMarks marks;
  for (std::size_t i = 0; i < count; ++i) {
    marks.stops |= std::uint64_t{p[i] == a || p[i] == b || p[i] == c} << i;
    marks.signs |= std::uint64_t{p[i] == sign} << i;
  }
  return marks;
}

// Finds where each line's text stops (CR, LF or NUL). With the vector registers it marks
// every stop in sixty-four units at once and hands them out one by one: lines are short,
// and a search per line would spend more on starting up than on searching.
class LineStopFinder {
 public:
  LineStopFinder(const char16_t* start, const char16_t* limit)
      : m_window(start), m_windowEnd(start), m_limit(limit) {}

  // The first stop in [p, limit), or limit. `p` never goes back.
  const char16_t* Next(const char16_t* p) {
    if (m_wide) {
      for (;;) {
        if (p < m_windowEnd) {
          const std::uint64_t later = m_stops & (~std::uint64_t{0} << (p - m_window));
          if (later != 0) return m_window + std::countr_zero(later);
          p = m_windowEnd;
        }
        if (static_cast<std::size_t>(m_limit - p) < kMarkBlock) break;
        m_window = p;
        m_windowEnd = p + kMarkBlock;
        m_stops = MarkUnits(p, kMarkBlock, u'\r', u'\n', u'\0', u'\0').stops;
      }
    }
    return FindAnyOf3(p, m_limit, u'\r', u'\n', u'\0');
  }

 private:
  const bool m_wide = platform::WideInstructions();
  // The stops of [m_window, m_windowEnd); empty until the first search.
  const char16_t* m_window;
  const char16_t* m_windowEnd;
  std::uint64_t m_stops = 0;
  const char16_t* const m_limit;
};

// Whether [p, end) holds a zero byte. Looks at every byte without stopping early: an ANSI
// file is checked whole before it is decoded, and almost never has one. The C library's
// memchr is fast on some systems and a byte loop on others.
inline bool HasZeroByte(const char* p, const char* end) {
  if (platform::WideInstructions() && platform::simd::HasZeroByte(p, end)) return true;
  using Word = std::size_t;
  constexpr Word kByteOnes = ~Word{0} / 0xFF;  // 0x0101...
  constexpr Word kByteHighs = kByteOnes * 0x80;
  Word found8 = 0;
  while (static_cast<std::size_t>(end - p) >= sizeof(Word)) {
    Word word;
    std::memcpy(&word, p, sizeof word);
    found8 |= (word - kByteOnes) & ~word & kByteHighs;
    p += sizeof(Word);
  }
  if (found8 != 0) return true;
  for (; p < end; ++p) {
    if (*p == '\0') return true;
  }
  return false;
}

}  // namespace iniplugin::text
