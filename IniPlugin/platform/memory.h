// Hints to the system about large buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace iniplugin::platform {

// Asks that the pages of a large buffer not yet written be backed by huge pages where
// the system offers them on request. A large file's text is written once, front to back,
// into fresh memory: with 4 KB pages that is one fault per page, and on a virtual machine
// a fault can cost 25 µs, more than decoding the page. Only the whole huge pages inside
// the buffer are named; a hint the system refuses changes nothing.
inline void AdviseLargeBuffer(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (bytes < 2 * kHuge) return;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (start + bytes) & ~(kHuge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

// Starts fetching the cache line at `address` for a caller that will read it soon.
inline void Prefetch(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

}  // namespace iniplugin::platform
