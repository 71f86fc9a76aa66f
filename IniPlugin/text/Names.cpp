#include "text/Names.h"

#include <chrono>
#include <random>

namespace iniplugin::text {

std::uint32_t DrawHashSeed() {
  try {
    return std::random_device()();
  } catch (...) {
    // No random source: the clock and where this process's stack lies are still not
    // something a file can be written to match.
    int local = 0;
    const auto now = static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const auto where = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&local));
    const std::uint64_t mixed = (now ^ (where << 16)) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::uint32_t>(mixed >> 32);
  }
}

}  // namespace iniplugin::text
