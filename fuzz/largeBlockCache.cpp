// Keeps large array blocks (the effect's capture buffers) between fuzz runs:
// fresh mappings of several megabytes per run would cost most of the
// fuzzer's time in page faults. A kept block stays poisoned until it is
// handed out again, so a use after free is still reported.
#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kLargeBlock = 1 << 20;
constexpr int kSlots = 8;

struct Block {
  void* memory = nullptr;
  std::size_t size = 0;
};
Block live[kSlots];  // handed out
Block kept[kSlots];  // released, poisoned, ready again

bool put(Block (&slots)[kSlots], void* memory, std::size_t size) {
  for (Block& slot : slots) {
    if (slot.memory == nullptr) {
      slot = {memory, size};
      return true;
    }
  }
  return false;
}

void* allocate(std::size_t size) noexcept {
  if (size < kLargeBlock) return std::malloc(size == 0 ? 1 : size);
  void* memory = nullptr;
  for (Block& slot : kept) {
    if (slot.memory != nullptr && slot.size == size) {
      memory = slot.memory;
      slot = {};
      ASAN_UNPOISON_MEMORY_REGION(memory, size);
      break;
    }
  }
  if (memory == nullptr) memory = std::malloc(size);
  // A block that finds no slot is not kept: release() frees it.
  if (memory != nullptr) put(live, memory, size);
  return memory;
}

void release(void* memory) noexcept {
  if (memory == nullptr) return;
  for (Block& slot : live) {
    if (slot.memory == memory) {
      const Block block = slot;
      slot = {};
      if (put(kept, block.memory, block.size)) {
        ASAN_POISON_MEMORY_REGION(block.memory, block.size);
        return;
      }
      break;
    }
  }
  std::free(memory);
}

}  // namespace

void* operator new[](std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
void operator delete[](void* p) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
