#include "tools/support/MemoryLimit.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace kestrola::tools {

namespace {

std::atomic<size_t> limit{kDefaultMemoryLimit};
std::atomic<size_t> inUse{0};
std::atomic<bool> reached{false};

// Null when the block would take the program over the limit (or malloc fails). An alignment
// above the standard one is served by aligned_alloc.
void* Allocate(size_t size, size_t alignment = 0) {
  if (size == 0) size = 1;
  void* p;
  if (alignment > alignof(std::max_align_t)) {
    p = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
  } else {
    p = std::malloc(size);
  }
  if (!p) return nullptr;
  size_t block = malloc_usable_size(p);
  if (inUse.fetch_add(block, std::memory_order_relaxed) + block >
      limit.load(std::memory_order_relaxed)) {
    inUse.fetch_sub(block, std::memory_order_relaxed);
    std::free(p);
    reached.store(true, std::memory_order_relaxed);
    return nullptr;
  }
  return p;
}

void Release(void* p) noexcept {
  if (!p) return;
  inUse.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
  std::free(p);
}

}  // namespace

void SetMemoryLimit(size_t bytes) {
  limit.store(bytes, std::memory_order_relaxed);
}

bool MemoryLimitReached() {
  return reached.load(std::memory_order_relaxed);
}

}  // namespace kestrola::tools

// The replaceable allocation functions of the program, the over-aligned forms included (a
// large JsonBag document takes its nodes from aligned chunks).
void* operator new(size_t size) {
  void* p = kestrola::tools::Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) {
  void* p = kestrola::tools::Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return kestrola::tools::Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return kestrola::tools::Allocate(size);
}
void operator delete(void* p) noexcept {
  kestrola::tools::Release(p);
}
void operator delete[](void* p) noexcept {
  kestrola::tools::Release(p);
}
void operator delete(void* p, size_t) noexcept {
  kestrola::tools::Release(p);
}
void operator delete[](void* p, size_t) noexcept {
  kestrola::tools::Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  kestrola::tools::Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  kestrola::tools::Release(p);
}
void* operator new(size_t size, std::align_val_t alignment) {
  void* p = kestrola::tools::Allocate(size, static_cast<size_t>(alignment));
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size, std::align_val_t alignment) {
  return operator new(size, alignment);
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return kestrola::tools::Allocate(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return kestrola::tools::Allocate(size, static_cast<size_t>(alignment));
}
void operator delete(void* p, std::align_val_t) noexcept {
  kestrola::tools::Release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  kestrola::tools::Release(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
  kestrola::tools::Release(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
  kestrola::tools::Release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  kestrola::tools::Release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  kestrola::tools::Release(p);
}
