// A case-insensitive hash index over records that keep their own keys.
//
// The index stores only record numbers, four bytes a slot: the key of a record, and its
// hash when the table grows, are read back from the record through caller-supplied
// functions. A loaded document of millions of lines keeps one such slot per entry and no
// copied key strings, and a lookup probes with a key that is never built as a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace iniplugin::inidoc {

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

// FNV-1a over case-folded UTF-16 units, fed piece by piece so that "[" + name + "]"
// hashes without being assembled.
class FoldedHash {
 public:
  FoldedHash& Add(std::u16string_view text) {
    for (char16_t c : text) {
      m_value = (m_value ^ FoldCase(c)) * 16777619u;
    }
    return *this;
  }
  std::uint32_t Value() const { return m_value ^ (m_value >> 15); }

 private:
  std::uint32_t m_value = 2166136261u;
};

class FlatIndex {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  void Clear() {
    m_slots.clear();
    m_count = 0;
  }
  // Sizes the table for `expected` records, so that a bulk insert never grows it.
  template <class HashOf>
  void Reserve(std::size_t expected, HashOf&& hashOf) {
    const std::size_t capacity = CapacityFor(expected);
    if (capacity > m_slots.size()) Rehash(capacity, hashOf);
  }

  // The record whose key matches, or kNone. `matches(id)` tests a candidate's key.
  template <class Matches>
  std::uint32_t Find(std::uint32_t hash, Matches&& matches) const {
    if (m_slots.empty()) return kNone;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint32_t id = m_slots[i];
      if (id == kNone) return kNone;
      if (matches(id)) return id;
    }
  }

  // Points the key's slot at `id`, replacing an earlier record with the same key: the
  // later of two duplicates is the one found. `hashOf(id)` gives a stored record's hash
  // when the table grows.
  template <class Matches, class HashOf>
  void InsertOrReplace(std::uint32_t id, std::uint32_t hash, Matches&& matches,
                       HashOf&& hashOf) {
    if (CapacityFor(m_count + 1) > m_slots.size()) {
      Rehash(m_slots.empty() ? kSmallest : m_slots.size() * 2, hashOf);
    }
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      std::uint32_t& slot = m_slots[i];
      if (slot == kNone) {
        slot = id;
        ++m_count;
        return;
      }
      if (matches(slot)) {
        slot = id;
        return;
      }
    }
  }

  std::size_t Size() const { return m_count; }
  // Bytes held, for the benchmarks' accounting.
  std::size_t Footprint() const { return m_slots.capacity() * sizeof(std::uint32_t); }

 private:
  static constexpr std::size_t kSmallest = 4;

  // At most three slots in four in use: linear probing stays short, and a section of
  // twenty entries takes 32 slots.
  static std::size_t CapacityFor(std::size_t count) {
    std::size_t capacity = kSmallest;
    while (capacity * 3 < count * 4) capacity *= 2;
    return capacity;
  }

  template <class HashOf>
  void Rehash(std::size_t capacity, HashOf& hashOf) {
    std::vector<std::uint32_t> old(capacity, kNone);
    old.swap(m_slots);
    const std::size_t mask = m_slots.size() - 1;
    for (const std::uint32_t id : old) {
      if (id == kNone) continue;
      std::size_t i = hashOf(id) & mask;
      while (m_slots[i] != kNone) i = (i + 1) & mask;
      m_slots[i] = id;
    }
  }

  std::vector<std::uint32_t> m_slots;
  std::size_t m_count = 0;
};

}  // namespace iniplugin::inidoc
