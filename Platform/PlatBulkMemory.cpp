#include "Platform/PlatBulkMemory.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define ZM_BULK_MEMORY_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZM_BULK_MEMORY_CHECKED 1
#endif
#endif
#ifdef ZM_BULK_MEMORY_CHECKED
#include <sanitizer/asan_interface.h>
#endif

namespace plat {

namespace {
std::atomic<std::size_t> gBulkBlocksInUse{0};

void* MapBulkBlock();
void UnmapBulkBlock(void* block);
}  // namespace

void* AllocBulkBlock() {
  void* block = MapBulkBlock();
  if (block) gBulkBlocksInUse.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void FreeBulkBlock(void* block) {
  if (!block) return;
  UnmapBulkBlock(block);
  gBulkBlocksInUse.fetch_sub(1, std::memory_order_relaxed);
}

std::size_t BulkBlocksInUse() { return gBulkBlocksInUse.load(std::memory_order_relaxed); }

#ifdef ZM_BULK_MEMORY_CHECKED

namespace {

// Under the address checker blocks come from the heap, so that a block whose
// objects were never given back is reported as a leak.
void* MapBulkBlock() { return ::operator new(kBulkBlockBytes, std::align_val_t(kBulkBlockBytes), std::nothrow); }

void UnmapBulkBlock(void* block) {
  ASAN_UNPOISON_MEMORY_REGION(block, kBulkBlockBytes);
  ::operator delete(block, std::align_val_t(kBulkBlockBytes));
}

}  // namespace

void PoisonBulkMemory(const void* p, std::size_t bytes) { ASAN_POISON_MEMORY_REGION(p, bytes); }
void UnpoisonBulkMemory(const void* p, std::size_t bytes) { ASAN_UNPOISON_MEMORY_REGION(p, bytes); }

#else

namespace {

void* MapBulkBlock() {
  // Twice the size mapped, the aligned block kept and the rest given back:
  // an item finds its block's start from its own address. Small pages, also
  // where the system backs aligned ranges with huge pages unasked: a huge
  // page is zeroed whole at its first touch, which a machine that hands
  // freed memory back to its host makes dear after a rest; small pages are
  // zeroed as the parse reaches them, and those it never reaches never are.
  const std::size_t span = 2 * kBulkBlockBytes;
  void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t aligned = (start + kBulkBlockBytes - 1) & ~(std::uintptr_t(kBulkBlockBytes) - 1);
  if (aligned > start) munmap(p, aligned - start);
  const std::uintptr_t end = aligned + kBulkBlockBytes;
  if (start + span > end) munmap(reinterpret_cast<void*>(end), start + span - end);
  auto* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_NOHUGEPAGE
  madvise(block, kBulkBlockBytes, MADV_NOHUGEPAGE);
#endif
  return block;
}

void UnmapBulkBlock(void* block) { munmap(block, kBulkBlockBytes); }

}  // namespace

void PoisonBulkMemory(const void*, std::size_t) {}
void UnpoisonBulkMemory(const void*, std::size_t) {}

#endif

}  // namespace plat
