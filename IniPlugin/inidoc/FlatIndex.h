// A case-insensitive hash index over records that keep their own keys.
//
// The index stores only record numbers; the key of a record is read back from the record
// through a caller-supplied function. This keeps a loaded document small (four bytes a
// slot, no copied key strings) and lets a lookup probe with a key that is never built as
// a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace iniplugin::inidoc {

// The C runtime's lower-case mapping in the C locale, which the module never leaves:
// only A to Z change.
inline char16_t FoldCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

inline bool EqualsFolded(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
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
  // Sizes the table for `expected` records, so that a bulk insert never rehashes.
  void Reserve(std::size_t expected) {
    std::size_t capacity = 8;
    while (capacity < expected * 2) capacity *= 2;
    if (capacity > m_slots.size()) Rehash(capacity);
  }

  // The record whose key matches, or kNone. `matches(id)` tests a candidate's key.
  template <class Matches>
  std::uint32_t Find(std::uint32_t hash, Matches&& matches) const {
    if (m_slots.empty()) return kNone;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = m_slots[i];
      if (slot.id == kNone) return kNone;
      if (slot.hash == hash && matches(slot.id)) return slot.id;
    }
  }

  // Points the key's slot at `id`, replacing an earlier record with the same key: the
  // later of two duplicates is the one found.
  template <class Matches>
  void InsertOrReplace(std::uint32_t id, std::uint32_t hash, Matches&& matches) {
    if ((m_count + 1) * 2 > m_slots.size()) Rehash(m_slots.empty() ? 8 : m_slots.size() * 2);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot& slot = m_slots[i];
      if (slot.id == kNone) {
        slot = Slot{id, hash};
        ++m_count;
        return;
      }
      if (slot.hash == hash && matches(slot.id)) {
        slot.id = id;
        return;
      }
    }
  }

  std::size_t Size() const { return m_count; }

 private:
  struct Slot {
    std::uint32_t id = kNone;
    std::uint32_t hash = 0;
  };

  void Rehash(std::size_t capacity) {
    std::vector<Slot> old(capacity);
    old.swap(m_slots);
    const std::size_t mask = m_slots.size() - 1;
    for (const Slot& slot : old) {
      if (slot.id == kNone) continue;
      std::size_t i = slot.hash & mask;
      while (m_slots[i].id != kNone) i = (i + 1) & mask;
      m_slots[i] = slot;
    }
  }

  std::vector<Slot> m_slots;
  std::size_t m_count = 0;
};

}  // namespace iniplugin::inidoc
