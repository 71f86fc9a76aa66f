// The product's vector code, all of it: SSE2 steps over text, chosen at run time. The
// 32-bit module must run on processors without SSE2, so this code is compiled for that
// instruction set alone and called only where WideInstructions() holds; a 64-bit x86
// processor always has it. Every step stops where plain code must take over (a match, a
// character it does not handle, fewer units left than a step takes) and returns how far
// it got; where no SSE2 is compiled in, each takes nothing and WideInstructions() is false.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define INIPLUGIN_SSE2_CODE 1
#if defined(__SSE2__)
#define INIPLUGIN_SSE2_FUNCTION inline
#else
#define INIPLUGIN_SSE2_FUNCTION inline __attribute__((target("sse2")))
#endif
#else
#define INIPLUGIN_SSE2_CODE 0
#endif

namespace iniplugin::platform {

namespace cpu_detail {
inline bool Detect() {
#if INIPLUGIN_SSE2_CODE && defined(__SSE2__)
  return true;
#elif INIPLUGIN_SSE2_CODE
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
#else
  return false;
#endif
}
// Read at every search: a plain variable set as the module starts, not a function's
// static, whose guard would be tested at each read. Whatever runs before it is set takes
// the plain paths.
inline bool g_wide = Detect();
}  // namespace cpu_detail

// Whether the SSE2 steps may run.
inline bool WideInstructions() { return cpu_detail::g_wide; }

// Tests turn the SSE2 steps off to run the plain ones on the same input; turning them on
// is refused where the processor lacks them.
inline void UseWideInstructions(bool use) { cpu_detail::g_wide = use && cpu_detail::Detect(); }

namespace simd {

// Which of 64 UTF-16 units are one of three stops, and which are a sign: bit i for unit i.
struct WindowMarks {
  std::uint64_t stops = 0;
  std::uint64_t signs = 0;
};
constexpr std::size_t kWindow = 64;

#if INIPLUGIN_SSE2_CODE

// Eight units a step: the first unit in [p, end) equal to `a`, `b` or `c`, or where fewer
// than eight were left.
INIPLUGIN_SSE2_FUNCTION const char16_t* FindAnyOf3(const char16_t* p, const char16_t* end,
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

// Sixteen bytes a step, all of them, `p` left where fewer were left: whether a NUL was
// among them.
INIPLUGIN_SSE2_FUNCTION bool HasZeroByte(const char*& p, const char* end) {
  const __m128i zero = _mm_setzero_si128();
  __m128i found = zero;
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes, zero));
    p += 16;
  }
  return _mm_movemask_epi8(found) != 0;
}

// The marks of the kWindow units at `p`; every stop and the sign must be below 0x7F.
// Packing to bytes with signed saturation keeps 0 to 127 as they are and turns every other
// unit into 0x7F or 0x80..0xFF, so that a byte compare tests sixteen units at once.
INIPLUGIN_SSE2_FUNCTION WindowMarks MarkWindow(const char16_t* p, char a, char b, char c,
                                               char sign) {
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c);
  const __m128i vsign = _mm_set1_epi8(sign);
  WindowMarks marks;
  for (std::size_t k = 0; k < kWindow; k += 16) {
    const __m128i bytes =
        _mm_packs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 8)));
    const __m128i stops = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, va), _mm_cmpeq_epi8(bytes, vb)),
        _mm_cmpeq_epi8(bytes, vc));
    marks.stops |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(stops))} << k;
    marks.signs |=
        std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, vsign)))}
        << k;
  }
  return marks;
}

// Sixteen bytes a step while they are ASCII: widens them to `out` and returns how many it
// took, up to the first byte that is not ASCII or where fewer than sixteen were left. The
// step that stopped it is stored whole: `out` needs room for sixteen more units.
INIPLUGIN_SSE2_FUNCTION std::size_t WidenAscii(const unsigned char* in, std::size_t n,
                                               char16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  std::size_t i = 0;
  for (; n - i >= 16; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(chunk, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(chunk, zero));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(chunk));
    if (high != 0) return i + static_cast<std::size_t>(std::countr_zero(high));
  }
  return i;
}

// The way back: sixteen units a step while they are ASCII, narrowed to `out`, which needs
// room for sixteen more bytes (see WidenAscii).
INIPLUGIN_SSE2_FUNCTION std::size_t NarrowAscii(const char16_t* in, std::size_t n, char* out) {
  const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  std::size_t i = 0;
  for (; n - i >= 16; i += 16) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
    // A byte a unit: set where the unit is ASCII.
    const __m128i ascii = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(low, nonAscii), zero),
                                          _mm_cmpeq_epi16(_mm_and_si128(high, nonAscii), zero));
    const auto others = static_cast<unsigned>(~_mm_movemask_epi8(ascii)) & 0xFFFFu;
    if (others != 0) return i + static_cast<std::size_t>(std::countr_zero(others));
  }
  return i;
}

// Sixteen bytes a step while none of them is 0x80..0x9F, the only bytes the portable ANSI
// code page does not map to their own values: widens them, and returns how many it took
// (a multiple of sixteen).
INIPLUGIN_SSE2_FUNCTION std::size_t WidenLatin1(const unsigned char* in, std::size_t n,
                                                char16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i topThree = _mm_set1_epi8(static_cast<char>(0xE0));
  const __m128i controls = _mm_set1_epi8(static_cast<char>(0x80));
  std::size_t i = 0;
  for (; n - i >= 16; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(chunk, topThree), controls)) != 0) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(chunk, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(chunk, zero));
  }
  return i;
}

// The way back, eight units a step while every unit is a byte outside 0x80..0x9F: returns
// how many it took (a multiple of eight).
INIPLUGIN_SSE2_FUNCTION std::size_t NarrowLatin1(const char16_t* in, std::size_t n, char* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lastByte = _mm_set1_epi16(0xFF);
  const __m128i controls = _mm_set1_epi16(0x80);
  const __m128i controlSpan = _mm_set1_epi16(0x1F);
  std::size_t i = 0;
  for (; n - i >= 8; i += 8) {
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

#else

inline const char16_t* FindAnyOf3(const char16_t* p, const char16_t*, char16_t, char16_t,
                                  char16_t) {
  return p;
}
inline bool HasZeroByte(const char*&, const char*) { return false; }
inline WindowMarks MarkWindow(const char16_t*, char, char, char, char) { return {}; }
inline std::size_t WidenAscii(const unsigned char*, std::size_t, char16_t*) { return 0; }
inline std::size_t NarrowAscii(const char16_t*, std::size_t, char*) { return 0; }
inline std::size_t WidenLatin1(const unsigned char*, std::size_t, char16_t*) { return 0; }
inline std::size_t NarrowLatin1(const char16_t*, std::size_t, char*) { return 0; }

#endif

}  // namespace simd

}  // namespace iniplugin::platform
