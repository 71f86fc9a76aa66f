// Searching UTF-16 text for line ends and separators a machine word at a time: the
// readers spend most of their time looking for the next line end, and a value of thirty
// characters takes a handful of word steps instead of thirty compares.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/cpu.h"

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

namespace scan_detail {

#if INIPLUGIN_SSE2_CODE
// Eight units a step where the processor has the vector registers for it (the 32-bit
// module asks at run time). Each stops at the first match, or with fewer than eight units
// left, for the plain loops to finish.
INIPLUGIN_SSE2_FUNCTION inline const char16_t* FindAnyOf3Wide(const char16_t* p, const char16_t* end,
                                                               char16_t a, char16_t b, char16_t c) {
  const __m128i va = _mm_set1_epi16(static_cast<short>(a));
  const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
  const __m128i vc = _mm_set1_epi16(static_cast<short>(c));
  while (end - p >= 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i match = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi16(units, va), _mm_cmpeq_epi16(units, vb)),
        _mm_cmpeq_epi16(units, vc));
    const int hits = _mm_movemask_epi8(match);
    if (hits) return p + std::countr_zero(static_cast<unsigned>(hits)) / 2;
    p += 8;
  }
  return p;
}

INIPLUGIN_SSE2_FUNCTION inline const char16_t* FindUnitWide(const char16_t* p, const char16_t* end,
                                                            char16_t a) {
  const __m128i va = _mm_set1_epi16(static_cast<short>(a));
  while (end - p >= 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits = _mm_movemask_epi8(_mm_cmpeq_epi16(units, va));
    if (hits) return p + std::countr_zero(static_cast<unsigned>(hits)) / 2;
    p += 8;
  }
  return p;
}

// Sixteen bytes a step, all of them: see HasZeroByte.
INIPLUGIN_SSE2_FUNCTION inline bool HasZeroByteWide(const char*& p, const char* end) {
  const __m128i zero = _mm_setzero_si128();
  __m128i found = zero;
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes, zero));
    p += 16;
  }
  return _mm_movemask_epi8(found) != 0;
}
#endif

}  // namespace scan_detail

// The first unit in [p, end) equal to `a`, `b` or `c`, or `end`.
inline const char16_t* FindAnyOf3(const char16_t* p, const char16_t* end, char16_t a, char16_t b,
                                  char16_t c) {
  using namespace scan_detail;
#if INIPLUGIN_SSE2_CODE
  if (platform::WideInstructions()) {
    p = FindAnyOf3Wide(p, end, a, b, c);
    if (p < end && (*p == a || *p == b || *p == c)) return p;
  }
#endif
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
#if INIPLUGIN_SSE2_CODE
  if (platform::WideInstructions()) {
    p = FindUnitWide(p, end, a);
    if (p < end && *p == a) return p;
  }
#endif
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

// Where two units stand in a block of up to 64 units from `p`: bit i of `marksA` is set
// when p[i] == a, of `marksB` when p[i] == b. A line is a handful of steps through the
// bits instead of a search that stops at every line end and starts again, and the
// search for a line's "=" comes with the search for its end.
struct UnitMarks {
  std::uint64_t a = 0;
  std::uint64_t b = 0;
};
constexpr std::size_t kMarkBlock = 64;

namespace scan_detail {

#if INIPLUGIN_SSE2_CODE
INIPLUGIN_SSE2_FUNCTION inline UnitMarks MarkBlockWide(const char16_t* p, char16_t a, char16_t b) {
  const __m128i va = _mm_set1_epi16(static_cast<short>(a));
  const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
  UnitMarks marks;
  for (std::size_t k = 0; k < kMarkBlock; k += 16) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 8));
    // A lane that matched is all ones, and stays so when narrowed to a byte.
    const auto hitsA = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpeq_epi16(low, va), _mm_cmpeq_epi16(high, va))));
    const auto hitsB = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpeq_epi16(low, vb), _mm_cmpeq_epi16(high, vb))));
    marks.a |= std::uint64_t{hitsA} << k;
    marks.b |= std::uint64_t{hitsB} << k;
  }
  return marks;
}
#endif

}  // namespace scan_detail

// The marks of [p, p + count), count at most kMarkBlock.
inline UnitMarks MarkUnits(const char16_t* p, std::size_t count, char16_t a, char16_t b) {
#if INIPLUGIN_SSE2_CODE
  if (count == kMarkBlock && platform::WideInstructions()) {
    return scan_detail::MarkBlockWide(p, a, b);
  }
#endif
  UnitMarks marks;
  for (std::size_t i = 0; i < count; ++i) {
    marks.a |= std::uint64_t{p[i] == a} << i;
    marks.b |= std::uint64_t{p[i] == b} << i;
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
#if INIPLUGIN_SSE2_CODE
    if (m_wide) {
      for (;;) {
        if (p < m_windowEnd) {
          const std::uint64_t later = m_stops & (~std::uint64_t{0} << (p - m_window));
          if (later != 0) return m_window + std::countr_zero(later);
          p = m_windowEnd;
        }
        if (m_limit - p < kWindow) break;
        m_window = p;
        m_windowEnd = p + kWindow;
        m_stops = StopsWide(p);
      }
    }
#endif
    return FindAnyOf3(p, m_limit, u'\r', u'\n', u'\0');
  }

 private:
  static constexpr std::ptrdiff_t kWindow = 64;

#if INIPLUGIN_SSE2_CODE
  // A bit for each of the kWindow units at `p` that is a CR, an LF or a NUL. Packing to
  // bytes with signed saturation keeps 0 to 127 as they are and turns every other unit
  // into 0x7F or 0x80, so that a byte compare tests eight more units at a time.
  INIPLUGIN_SSE2_FUNCTION static std::uint64_t StopsWide(const char16_t* p) {
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    std::uint64_t stops = 0;
    for (int i = 0; i < kWindow / 16; ++i) {
      const __m128i bytes =
          _mm_packs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i + 8)));
      const __m128i found = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)),
          _mm_cmpeq_epi8(bytes, nul));
      stops |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(found))} << (16 * i);
    }
    return stops;
  }
  const bool m_wide = platform::WideInstructions();
#endif
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
#if INIPLUGIN_SSE2_CODE
  if (platform::WideInstructions() && scan_detail::HasZeroByteWide(p, end)) return true;
#endif
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
