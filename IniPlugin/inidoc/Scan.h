// Searching UTF-16 text for line ends and separators a machine word at a time: the
// readers spend most of their time looking for the next line end, and a value of thirty
// characters takes a handful of word steps instead of thirty compares.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace iniplugin::inidoc {

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

}  // namespace iniplugin::inidoc
