// The allocation front with its fault hook, and task memory.
#include "platform/com/memory.h"

#include <atomic>
#include <cstdlib>

namespace vkr::platform {
namespace {
std::atomic<unsigned> g_countdown{0};
std::atomic<unsigned> g_counted{0};
std::atomic<bool> g_sticky{false};

bool ShouldFail() {
  unsigned c = g_countdown.load(std::memory_order_relaxed);
  if (c == 0) return false;
  ++g_counted;
  if (c == 1) {
    if (!g_sticky) g_countdown = 0;
    return true;
  }
  // Another thread may have changed the countdown meanwhile; losing a decrement is harmless.
  g_countdown.compare_exchange_strong(c, c - 1);
  return false;
}
}  // namespace

void* Allocate(std::size_t size) {
  if (ShouldFail()) return nullptr;
  return std::malloc(size ? size : 1);
}

void* Reallocate(void* p, std::size_t size) {
  if (ShouldFail()) return nullptr;
  return std::realloc(p, size ? size : 1);
}

void Free(void* p) { std::free(p); }

void SetAllocationFault(unsigned countdown, bool sticky) {
  g_counted = 0;
  g_sticky = sticky;
  g_countdown = countdown;
}

unsigned AllocationsSinceFaultArmed() { return g_counted.load(); }
}  // namespace vkr::platform

LPVOID CoTaskMemAlloc(SIZE_T size) { return vkr::platform::Allocate(size); }

LPVOID CoTaskMemRealloc(LPVOID p, SIZE_T size) {
  if (!p) return vkr::platform::Allocate(size);
  return vkr::platform::Reallocate(p, size);
}

void CoTaskMemFree(LPVOID p) { vkr::platform::Free(p); }
