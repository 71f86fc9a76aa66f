#include "plugin/ProfileMode.h"

#include <atomic>

namespace iniplugin {

namespace {
// Concurrent first decisions compute the same value from the same answer, so no lock is
// needed; the atomic only keeps the unsynchronised access well-defined.
std::atomic<int> g_profileMode{ProfileMode::kUndecided};
}  // namespace

int ProfileMode::FromVersion(const platform::OsVersion& version) {
  return version.platformId == 2 && version.major == 4 ? 1 : 0;
}

int ProfileMode::Current() { return g_profileMode.load(std::memory_order_relaxed); }

int ProfileMode::DecideOnce() {
  int mode = Current();
  if (mode == kUndecided) {
    mode = FromVersion(platform::QueryOsVersion());
    g_profileMode.store(mode, std::memory_order_relaxed);
  }
  return mode;
}

void ProfileMode::ResetForTesting(int value) {
  g_profileMode.store(value, std::memory_order_relaxed);
}

}  // namespace iniplugin
