#include "module/Module.h"

#include <atomic>

namespace iniplugin {

namespace {
std::atomic<LONG> g_lockCount{0};
}  // namespace

LONG Module::Lock() { return ++g_lockCount; }
LONG Module::Unlock() { return --g_lockCount; }
LONG Module::LockCount() { return g_lockCount.load(); }

}  // namespace iniplugin
