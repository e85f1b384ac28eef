// Replaces the global operator new of the test runner so that a test can
// count the heap allocations made while it processes audio.
#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> counting{false};
std::atomic<int> counted{0};
std::atomic<int> failingFrom{0};

void* allocate(std::size_t size) noexcept {
  if (counting.load(std::memory_order_relaxed)) {
    const int n = ++counted;
    const int fail = failingFrom.load(std::memory_order_relaxed);
    if (fail > 0 && n >= fail) return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

void startCountingAllocations() {
  counted = 0;
  counting = true;
}

int stopCountingAllocations() {
  counting = false;
  failingFrom = 0;
  return counted.load();
}

void failAllocationsFrom(int n) { failingFrom = n; }

void* operator new(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
