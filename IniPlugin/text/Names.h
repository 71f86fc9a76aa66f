// How the readers compare and hash names: A to Z without regard to case, as the C
// runtime's lower-case mapping in the C locale does, with hashes seeded per process.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace iniplugin::text {

// The C runtime's lower-case mapping in the C locale, which the module never leaves:
// only A to Z change.
inline char16_t FoldCase(char16_t c) {
  return static_cast<char16_t>(c - u'A') < 26 ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

inline bool EqualsFolded(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// Where every FoldedHash of this process starts: drawn from a random source on first use.
// With a fixed start a file's names could be chosen to share one hash, and loading it
// would turn every lookup into a walk over all of them.
std::uint32_t DrawHashSeed();
inline std::uint32_t HashSeed() {
  static const std::uint32_t seed = DrawHashSeed();
  return seed;
}

// FNV-1a over case-folded UTF-16 units from this process's seed, fed piece by piece so
// that "[" + name + "]" hashes without being assembled. Hashes are never stored beyond
// the process.
class FoldedHash {
 public:
  FoldedHash() : m_value(2166136261u ^ HashSeed()) {}

  FoldedHash& Add(std::u16string_view text) {
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    if constexpr (std::endian::native == std::endian::little) {
      // Four units are folded at once, then fed one by one: the same value as a unit at a
      // time, for a third of the work on the names a large file is indexed by.
      for (; end - p >= 4; p += 4) {
        std::uint64_t units;
        std::memcpy(&units, p, sizeof units);
        units = FoldFour(units);
        for (int k = 0; k < 4; ++k) Step(static_cast<char16_t>(units >> (16 * k)));
      }
    }
    for (; p < end; ++p) Add(*p);
    return *this;
  }
  FoldedHash& Add(char16_t c) {
    m_value = (m_value ^ FoldCase(c)) * 16777619u;
    return *this;
  }
  // FNV's low bits depend only on the low bits of the text: names that differ in a digit
  // would crowd into neighbouring slots. A final mix spreads every bit over the low ones.
  std::uint32_t Value() const {
    std::uint32_t x = m_value;
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    return x ^ (x >> 16);
  }

  // FoldCase of four units side by side. Each lane's top bit is set aside, so that the
  // range tests below never carry into the next lane.
  static std::uint64_t FoldFour(std::uint64_t units) {
    constexpr std::uint64_t kLow15 = 0x7FFF7FFF7FFF7FFFull;
    constexpr std::uint64_t kTops = 0x8000800080008000ull;
    const std::uint64_t low = units & kLow15;
    const std::uint64_t atLeastA = low + 0x7FBF7FBF7FBF7FBFull;  // top bit: low >= 'A'
    const std::uint64_t pastZ = low + 0x7FA57FA57FA57FA5ull;     // top bit: low > 'Z'
    const std::uint64_t upper = atLeastA & ~pastZ & ~units & kTops;
    return units + (upper >> 10);  // 0x8000 >> 10 is the 0x20 between cases
  }

 private:
  void Step(char16_t folded) { m_value = (m_value ^ folded) * 16777619u; }

  std::uint32_t m_value;
};

namespace hash_detail {

// SplitMix64's finalizer: spreads every bit of a 64-bit value over all of them.
constexpr std::uint64_t Mix64(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace hash_detail

// The random words NameHash combines a name with, drawn from HashSeed().
struct NameHashKeys {
  std::uint64_t start = 0;
  std::uint32_t words[8] = {};
};

inline const NameHashKeys& NameKeys() {
  static const NameHashKeys keys = [] {
    NameHashKeys drawn;
    std::uint64_t state = HashSeed();
    state = hash_detail::Mix64(state + 0x9E3779B97F4A7C15ull);
    drawn.start = state;
    for (std::uint32_t& word : drawn.words) {
      state = hash_detail::Mix64(state + 0x9E3779B97F4A7C15ull);
      word = static_cast<std::uint32_t>(state >> 32);
    }
    return drawn;
  }();
  return keys;
}

// The case-folded hash of a whole name, for the entries of a section. Every name of a
// large file is hashed as it loads, and a hash of one unit at a time is a chain of a
// multiply a unit; here four units are folded at once and each pair of units is added to
// a random word and multiplied with the next pair (as the NH hash does): for random words
// two different names of one length agree with chance about 2^-32, whatever the names.
// Long names are mixed down every sixteen units. Never fed piece by piece: a name's hash
// is not FoldedHash's.
inline std::uint32_t NameHash(std::u16string_view name, const NameHashKeys& keys) {
  const auto pairProduct = [](std::uint64_t units, std::uint32_t k0, std::uint32_t k1) {
    const std::uint32_t low = static_cast<std::uint32_t>(units) + k0;
    const std::uint32_t high = static_cast<std::uint32_t>(units >> 32) + k1;
    return std::uint64_t{low} * high;
  };
  const auto fourAt = [](const char16_t* at) {
    std::uint64_t units;
    std::memcpy(&units, at, sizeof units);
    return FoldedHash::FoldFour(units);
  };
  const char16_t* p = name.data();
  const std::size_t size = name.size();
  const char16_t* const end = p + size;
  std::uint64_t total = keys.start ^ size;
  std::uint64_t sum = 0;
  if (size >= 4) {
    std::size_t k = 0;
    for (; end - p > 4; p += 4) {
      sum += pairProduct(fourAt(p), keys.words[k], keys.words[k + 1]);
      k += 2;
      if (k == 8) {
        total = hash_detail::Mix64(total + sum);
        sum = 0;
        k = 0;
      }
    }
    // The last four units, whatever the step before took of them: every unit is in some
    // step, so names of one length that differ give steps that differ.
    sum += pairProduct(fourAt(end - 4), keys.words[k], keys.words[k + 1]);
  } else if (size > 0) {
    // The first, middle and last units: each of up to three is among them.
    const std::uint64_t units = p[0] | std::uint64_t{p[size / 2]} << 16 |
                                std::uint64_t{p[size - 1]} << 32;
    sum = pairProduct(FoldedHash::FoldFour(units), keys.words[0], keys.words[1]);
  }
  // The high half of a product depends on every bit of the low one: the index takes its
  // slot from the low bits of the hash.
  std::uint64_t x = total + sum;
  x ^= x >> 32;
  x *= 0x9E3779B97F4A7C15ull;
  return static_cast<std::uint32_t>(x >> 32);
}

inline std::uint32_t NameHash(std::u16string_view name) { return NameHash(name, NameKeys()); }

}  // namespace iniplugin::text
