// A case-insensitive hash index over records that keep their own keys.
//
// The index stores record numbers and their keys' hashes, eight bytes a slot: the key of a
// record is read back from the record through a caller-supplied function only when the
// hashes agree. A loaded document of millions of lines keeps no copied key strings, and a
// lookup probes with a key that is never built as a string.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "platform/memory.h"
#include "text/Arena.h"
#include "text/Names.h"

namespace iniplugin::text {

class FlatIndex {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  // An index whose table lives in its own allocation.
  FlatIndex() = default;
  // An index whose table is taken from `arena`, which must outlive it.
  explicit FlatIndex(Arena* arena) : m_arena(arena) {}
  FlatIndex(FlatIndex&&) noexcept = default;
  FlatIndex& operator=(FlatIndex&&) noexcept = default;

  // Sizes the table for `expected` records, so that a bulk insert never grows it.
  void Reserve(std::size_t expected) {
    const std::size_t capacity = CapacityFor(expected);
    if (capacity > m_capacity) Rehash(capacity);
  }

  // The record whose key matches, or kNone. `matches(id)` tests a candidate's key.
  template <class Matches>
  std::uint32_t Find(std::uint32_t hash, Matches&& matches) const {
    if (m_capacity == 0) return kNone;
    const std::size_t mask = m_capacity - 1;
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
    if (Crowded(m_count + 1, m_capacity)) Rehash(m_capacity == 0 ? kSmallest : m_capacity * 2);
    const std::size_t mask = m_capacity - 1;
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

  // Starts fetching the slot a key of this hash is placed in first, for a caller that
  // places many.
  void Prefetch(std::uint32_t hash) const {
    if (m_capacity != 0) platform::Prefetch(&m_slots[hash & (m_capacity - 1)]);
  }

 private:
  struct Slot {
    std::uint32_t id;
    std::uint32_t hash;
  };

  static constexpr std::size_t kSmallest = 4;

  // At most three slots in four in use: linear probing stays short, and a section of
  // twenty entries takes 32 slots.
  static bool Crowded(std::size_t count, std::size_t capacity) { return capacity * 3 < count * 4; }
  static std::size_t CapacityFor(std::size_t count) {
    std::size_t capacity = kSmallest;
    while (Crowded(count, capacity)) capacity *= 2;
    return capacity;
  }

  void Rehash(std::size_t capacity) {
    if (capacity > kNone / 2) throw std::bad_alloc();
    std::unique_ptr<Slot[]> owned;
    Slot* const slots = m_arena ? m_arena->Allocate<Slot>(capacity)
                                : (owned = std::make_unique_for_overwrite<Slot[]>(capacity)).get();
    std::fill_n(slots, capacity, Slot{kNone, 0});
    const std::size_t mask = capacity - 1;
    for (std::size_t k = 0; k < m_capacity; ++k) {
      const Slot& slot = m_slots[k];
      if (slot.id == kNone) continue;
      std::size_t i = slot.hash & mask;
      while (slots[i].id != kNone) i = (i + 1) & mask;
      slots[i] = slot;
    }
    m_slots = slots;
    m_owned = std::move(owned);
    m_capacity = static_cast<std::uint32_t>(capacity);
  }

  Arena* m_arena = nullptr;
  std::unique_ptr<Slot[]> m_owned;
  Slot* m_slots = nullptr;
  std::uint32_t m_capacity = 0;
  std::uint32_t m_count = 0;
};

}  // namespace iniplugin::text
