#include "support/AllocationFailure.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>

extern "C" void* __real_malloc(std::size_t size);
extern "C" void __real_free(void* block);

namespace iniplugin::test::allocation {

namespace {

std::atomic<std::size_t> g_failAt{0};  // 0: no failure asked for
std::atomic<Source> g_source{Source::Any};
std::atomic<Throw> g_throw{Throw::BadAlloc};
std::atomic<std::size_t> g_counted{0};
std::atomic<bool> g_injected{false};
std::atomic<std::size_t> g_failFromSize{std::numeric_limits<std::size_t>::max()};
std::atomic<std::size_t> g_liveNew{0};

// The blocks malloc handed to the program itself. free also receives blocks that the C
// library allocated inside its own calls (realpath's answer), which were never counted;
// only those found here count as freed. A program holds few such blocks at a time.
class MallocBlocks {
 public:
  void Add(void* block) {
    Lock();
    if (m_count < kCapacity) m_blocks[m_count++] = block;
    Unlock();
  }
  void Remove(void* block) {
    Lock();
    for (std::size_t i = 0; i < m_count; ++i) {
      if (m_blocks[i] == block) {
        m_blocks[i] = m_blocks[--m_count];
        break;
      }
    }
    Unlock();
  }
  std::size_t Count() {
    Lock();
    const std::size_t count = m_count;
    Unlock();
    return count;
  }

 private:
  static constexpr std::size_t kCapacity = 4096;
  void Lock() {
    while (m_busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  void Unlock() { m_busy.clear(std::memory_order_release); }

  std::atomic_flag m_busy = ATOMIC_FLAG_INIT;
  std::size_t m_count = 0;
  void* m_blocks[kCapacity] = {};
};

MallocBlocks& Blocks() {
  static MallocBlocks blocks;  // no constructor runs: constant-initialised
  return blocks;
}

// `from`: Source::New or Source::Malloc.
bool ShouldFail(Source from) {
  if (g_failAt.load() == 0) return false;
  if (g_source.load() != Source::Any && g_source.load() != from) return false;
  if (++g_counted != g_failAt.load()) return false;
  g_injected = true;
  return true;
}

[[noreturn]] void ThrowInjected() {
  switch (g_throw.load()) {
    case Throw::LengthError:
      throw std::length_error("injected");
    case Throw::RuntimeError:
      throw std::runtime_error("injected");
    case Throw::BadAlloc:
      break;
  }
  throw std::bad_alloc();
}

void* AllocateUnfailing(std::size_t size) noexcept {
  void* block = __real_malloc(size ? size : 1);
  if (block) ++g_liveNew;
  return block;
}

void* Allocate(std::size_t size) {
  if (size >= g_failFromSize.load()) throw std::bad_alloc();
  if (ShouldFail(Source::New)) ThrowInjected();
  void* block = AllocateUnfailing(size);
  if (!block) throw std::bad_alloc();
  return block;
}

void Free(void* block) noexcept {
  if (!block) return;
  --g_liveNew;
  __real_free(block);
}

}  // namespace

void FailNth(std::size_t n, Source source, Throw what) {
  g_failAt = 0;
  g_counted = 0;
  g_injected = false;
  g_source = source;
  g_throw = what;
  g_failAt = n;
}

void FailFromSize(std::size_t bytes) { g_failFromSize = bytes; }

void Reset() {
  g_failAt = 0;
  g_failFromSize = std::numeric_limits<std::size_t>::max();
}

std::size_t Counted() { return g_counted.load(); }
bool Injected() { return g_injected.load(); }
std::size_t LiveBlocks() { return g_liveNew.load() + Blocks().Count(); }

}  // namespace iniplugin::test::allocation

using iniplugin::test::allocation::Source;

extern "C" void* __wrap_malloc(std::size_t size) {
  using namespace iniplugin::test::allocation;
  if (ShouldFail(Source::Malloc)) return nullptr;
  void* block = __real_malloc(size);
  if (block) Blocks().Add(block);
  return block;
}

extern "C" void __wrap_free(void* block) {
  if (block) iniplugin::test::allocation::Blocks().Remove(block);
  __real_free(block);
}

// These take their blocks from malloc, so free is the matching release; the compiler
// cannot see that through the replacement.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) { return iniplugin::test::allocation::Allocate(size); }
void* operator new[](std::size_t size) { return iniplugin::test::allocation::Allocate(size); }
// This form can only fail by answering null, which is running out of memory: it is no
// place to throw anything else from.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  using namespace iniplugin::test::allocation;
  if (g_throw.load() != Throw::BadAlloc) return AllocateUnfailing(size);
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block) noexcept { iniplugin::test::allocation::Free(block); }
void operator delete[](void* block) noexcept { iniplugin::test::allocation::Free(block); }
void operator delete(void* block, std::size_t) noexcept {
  iniplugin::test::allocation::Free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  iniplugin::test::allocation::Free(block);
}
