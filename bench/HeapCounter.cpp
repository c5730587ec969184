// SPDX-License-Identifier: Apache-2.0
#include "bench/HeapCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int64_t> g_nLive{0};
std::atomic<int64_t> g_nPeak{0};

// Adds the block to the live bytes and moves the peak; p may be null.
void* Count(void* p) {
  if (p == nullptr) return nullptr;
  const int64_t nSize = static_cast<int64_t>(malloc_usable_size(p));
  const int64_t nNow = g_nLive.fetch_add(nSize) + nSize;
  int64_t nPeak = g_nPeak.load(std::memory_order_relaxed);
  while (nNow > nPeak && !g_nPeak.compare_exchange_weak(nPeak, nNow)) {
  }
  return p;
}

void* Take(size_t nSize) { return Count(std::malloc(nSize == 0 ? 1 : nSize)); }

void Give(void* p) {
  if (p == nullptr) return;
  g_nLive.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)));
  std::free(p);
}

void* TakeAligned(size_t nSize, size_t nAlign) {
  void* p = nullptr;
  if (nAlign < sizeof(void*)) nAlign = sizeof(void*);
  if (posix_memalign(&p, nAlign, nSize == 0 ? 1 : nSize) != 0) return nullptr;
  return Count(p);
}

}  // namespace

namespace zkbench {

int64_t HeapLiveBytes() { return g_nLive.load(); }
int64_t HeapPeakBytes() { return g_nPeak.load(); }
void ResetHeapPeak() { g_nPeak.store(g_nLive.load()); }

}  // namespace zkbench

void* operator new(size_t nSize) {
  void* p = Take(nSize);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t nSize) { return operator new(nSize); }
void* operator new(size_t nSize, const std::nothrow_t&) noexcept {
  return Take(nSize);
}
void* operator new[](size_t nSize, const std::nothrow_t&) noexcept {
  return Take(nSize);
}
void* operator new(size_t nSize, std::align_val_t eAlign) {
  void* p = TakeAligned(nSize, static_cast<size_t>(eAlign));
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t nSize, std::align_val_t eAlign) {
  return operator new(nSize, eAlign);
}
void operator delete(void* p) noexcept { Give(p); }
void operator delete[](void* p) noexcept { Give(p); }
void operator delete(void* p, size_t) noexcept { Give(p); }
void operator delete[](void* p, size_t) noexcept { Give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Give(p); }
void operator delete(void* p, std::align_val_t) noexcept { Give(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Give(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { Give(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { Give(p); }
