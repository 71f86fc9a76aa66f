// Memory for the many small arrays of a loaded file (a section's lines, its index), taken
// from large blocks instead of one allocation each. A 10 MB file has some fifteen thousand
// sections: one allocation and one release each is a good part of loading it, and more so
// under heaps slower than the C library's; the blocks also carry no per-array overhead.
//
// Arrays are never freed one by one: an array that grows is taken anew and the old one
// stays until the arena goes. Only types that can be copied byte for byte are held.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/memory.h"

namespace iniplugin::text {

class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // Room for `count` objects, uninitialised. Throws std::bad_alloc.
  template <class T>
  T* Allocate(std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= kAlign);
    if (count > kLargest / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = (count * sizeof(T) + kAlign - 1) & ~(kAlign - 1);
    return reinterpret_cast<T*>(Take(bytes));
  }

  // Bytes held, for the benchmarks' accounting.
  std::size_t Footprint() const { return m_footprint; }

 private:
  static constexpr std::size_t kAlign = 8;
  // Blocks start small, for the many small files, and double up to the largest size as
  // a document grows: a 50 MB file takes a few dozen blocks instead of six hundred, and
  // its large blocks can be backed by huge pages.
  static constexpr std::size_t kFirstBlock = 1 << 16;
  static constexpr std::size_t kLargestBlock = 1 << 22;
  static constexpr std::size_t kLargest = std::size_t{1} << 30;

  std::byte* Take(std::size_t bytes) {
    // A large array gets a block of its own, so that blocks are never left mostly empty.
    if (bytes > kFirstBlock / 4) return NewBlock(bytes);
    if (m_left < bytes) {
      m_next = NewBlock(m_blockSize);
      m_left = m_blockSize;
      m_blockSize = std::min(2 * m_blockSize, kLargestBlock);
    }
    std::byte* taken = m_next;
    m_next += bytes;
    m_left -= bytes;
    return taken;
  }

  std::byte* NewBlock(std::size_t bytes) {
    m_blocks.push_back(std::make_unique_for_overwrite<std::byte[]>(bytes));
    m_footprint += bytes;
    platform::AdviseLargeBuffer(m_blocks.back().get(), bytes);
    return m_blocks.back().get();
  }

  std::vector<std::unique_ptr<std::byte[]>> m_blocks;
  std::byte* m_next = nullptr;
  std::size_t m_left = 0;
  std::size_t m_blockSize = kFirstBlock;
  std::size_t m_footprint = 0;
};

}  // namespace iniplugin::text
