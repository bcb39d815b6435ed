#include "Platform/PlatPictureMemory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define ZM_PICTURE_MEMORY_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZM_PICTURE_MEMORY_POISON 1
#endif
#endif
#ifdef ZM_PICTURE_MEMORY_POISON
#include <sanitizer/asan_interface.h>
#else
#include <sys/mman.h>
#endif

namespace plat {
namespace {

// A kept block is out of bounds to the address checker until it is handed
// out again, so a picture used after it was given back is still caught.
void Poison(std::uint8_t* data, std::size_t bytes) {
#ifdef ZM_PICTURE_MEMORY_POISON
  ASAN_POISON_MEMORY_REGION(data, bytes);
#else
  (void)data;
  (void)bytes;
#endif
}

void Unpoison(std::uint8_t* data, std::size_t bytes) {
#ifdef ZM_PICTURE_MEMORY_POISON
  ASAN_UNPOISON_MEMORY_REGION(data, bytes);
#else
  (void)data;
  (void)bytes;
#endif
}

// Blocks from this size on have their pages made at once: what the process
// holds (its resident pages) counts a picture as soon as it is made, not as
// it is first written.
constexpr std::size_t kMadeAtOnceFrom = std::size_t{64} << 10;

std::uint8_t* Allocate(std::size_t bytes) {
  // Fresh pages come cleared from the system: calloc does not clear them again.
  auto* data = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
#ifndef ZM_PICTURE_MEMORY_POISON
  if (data && bytes >= kMadeAtOnceFrom) {
    const std::uintptr_t page = 4096;
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(page - 1);
    if (to > from && ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE) != 0)
      for (std::uintptr_t p = from; p < to; p += page) *reinterpret_cast<volatile std::uint8_t*>(p) = 0;
  }
#endif
  return data;
}

void Deallocate(std::uint8_t* data, std::size_t) { std::free(data); }

struct KeptBlock {
  std::uint8_t* Data;
  std::size_t Size;
};

// Bytes of the blocks handed out and not given back, and of those kept.
std::atomic<std::int64_t> gHeld{0};
std::atomic<PictureMemoryGate> gGate{nullptr};

// Oldest first.
struct Keeper {
  std::mutex Lock;
  std::vector<KeptBlock> Blocks;
  std::size_t Bytes = 0;
  std::uint64_t Reused = 0;
};

// Never destroyed: pictures may be given back while the program ends.
Keeper& TheKeeper() {
  static Keeper* keeper = new Keeper;
  return *keeper;
}

std::uint8_t* TakeKept(std::size_t bytes) {
  Keeper& k = TheKeeper();
  std::lock_guard<std::mutex> l(k.Lock);
  // The most recently given back: its pages are the likeliest to be warm.
  for (std::size_t i = k.Blocks.size(); i-- > 0;)
    if (k.Blocks[i].Size == bytes) {
      std::uint8_t* data = k.Blocks[i].Data;
      k.Blocks.erase(k.Blocks.begin() + std::ptrdiff_t(i));
      k.Bytes -= bytes;
      ++k.Reused;
      Unpoison(data, bytes);
      return data;
    }
  return nullptr;
}

// False when the block is not kept (the caller frees it).
bool Keep(std::uint8_t* data, std::size_t bytes) {
  if (bytes < kPictureMemoryKeptFrom || bytes > kPictureMemoryKeptBytes) return false;
  std::vector<KeptBlock> dropped;
  std::int64_t droppedBytes = 0;
  {
    Keeper& k = TheKeeper();
    std::lock_guard<std::mutex> l(k.Lock);
    std::size_t drop = 0;
    while (drop < k.Blocks.size() && k.Bytes + bytes > kPictureMemoryKeptBytes) {
      k.Bytes -= k.Blocks[drop].Size;
      Unpoison(k.Blocks[drop].Data, k.Blocks[drop].Size);
      dropped.push_back(k.Blocks[drop]);
      droppedBytes += static_cast<std::int64_t>(k.Blocks[drop].Size);
      ++drop;
    }
    k.Blocks.erase(k.Blocks.begin(), k.Blocks.begin() + std::ptrdiff_t(drop));
    try {
      k.Blocks.push_back({data, bytes});
    } catch (const std::bad_alloc&) {
      dropped.push_back({data, bytes});
      droppedBytes += static_cast<std::int64_t>(bytes);
      data = nullptr;
    }
    if (data) {
      k.Bytes += bytes;
      Poison(data, bytes);
    }
  }
  // Freed outside the lock: giving pages back to the system takes a while.
  for (const KeptBlock& b : dropped) Deallocate(b.Data, b.Size);
  gHeld.fetch_sub(droppedBytes, std::memory_order_relaxed);
  return true;
}

}  // namespace

PictureMemory::PictureMemory(std::size_t bytes) {
  if (!bytes) return;
  std::uint8_t* data = bytes >= kPictureMemoryKeptFrom ? TakeKept(bytes) : nullptr;
  const bool taken = data != nullptr;  // counted while it was kept
  if (data) {
    std::memset(data, 0, bytes);
  } else {
    if (PictureMemoryGate gate = gGate.load(); gate && bytes >= kPictureMemoryGateFrom) gate(bytes);
    data = Allocate(bytes);
    if (!data) throw std::bad_alloc();
  }
  data_ = data;
  size_ = bytes;
  if (!taken) gHeld.fetch_add(static_cast<std::int64_t>(bytes), std::memory_order_relaxed);
}

PictureMemory& PictureMemory::operator=(PictureMemory&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

void PictureMemory::Release() {
  if (data_ && !Keep(data_, size_)) {
    Deallocate(data_, size_);
    gHeld.fetch_sub(static_cast<std::int64_t>(size_), std::memory_order_relaxed);
  }
  data_ = nullptr;
  size_ = 0;
}

PictureMemoryStats GetPictureMemoryStats() {
  Keeper& k = TheKeeper();
  std::lock_guard<std::mutex> l(k.Lock);
  return {k.Bytes, k.Blocks.size(), k.Reused};
}

void TrimPictureMemory() {
  std::vector<KeptBlock> blocks;
  {
    Keeper& k = TheKeeper();
    std::lock_guard<std::mutex> l(k.Lock);
    blocks.swap(k.Blocks);
    k.Bytes = 0;
  }
  for (const KeptBlock& b : blocks) {
    Unpoison(b.Data, b.Size);
    Deallocate(b.Data, b.Size);
    gHeld.fetch_sub(static_cast<std::int64_t>(b.Size), std::memory_order_relaxed);
  }
}

std::int64_t PictureMemoryBytes() { return gHeld.load(std::memory_order_relaxed); }

void SetPictureMemoryGate(PictureMemoryGate gate) { gGate.store(gate); }

}  // namespace plat
