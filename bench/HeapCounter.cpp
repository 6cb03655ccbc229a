#include "bench/HeapCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_inUse{0};
std::atomic<size_t> g_peak{0};
}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  const size_t now = g_inUse += malloc_usable_size(p);
  for (size_t peak = g_peak; now > peak && !g_peak.compare_exchange_weak(peak, now);) {
  }
  return p;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  g_inUse -= malloc_usable_size(p);
  std::free(p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace jxrestart {
namespace bench {

size_t HeapInUse() { return g_inUse; }
size_t PeakInUse() { return g_peak; }
void ResetPeak() { g_peak = g_inUse.load(); }

}  // namespace bench
}  // namespace jxrestart

void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
