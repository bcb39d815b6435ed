#include "Platform/PlatPictureMemory.h"

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

struct KeptBlock {
  std::uint8_t* Data;
  std::size_t Size;
};

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
  std::vector<std::uint8_t*> dropped;
  {
    Keeper& k = TheKeeper();
    std::lock_guard<std::mutex> l(k.Lock);
    std::size_t drop = 0;
    while (drop < k.Blocks.size() && k.Bytes + bytes > kPictureMemoryKeptBytes) {
      k.Bytes -= k.Blocks[drop].Size;
      Unpoison(k.Blocks[drop].Data, k.Blocks[drop].Size);
      dropped.push_back(k.Blocks[drop].Data);
      ++drop;
    }
    k.Blocks.erase(k.Blocks.begin(), k.Blocks.begin() + std::ptrdiff_t(drop));
    try {
      k.Blocks.push_back({data, bytes});
    } catch (const std::bad_alloc&) {
      dropped.push_back(data);
      data = nullptr;
    }
    if (data) {
      k.Bytes += bytes;
      Poison(data, bytes);
    }
  }
  // Freed outside the lock: giving pages back to the system takes a while.
  for (std::uint8_t* d : dropped) std::free(d);
  return true;
}

}  // namespace

PictureMemory::PictureMemory(std::size_t bytes) {
  if (!bytes) return;
  std::uint8_t* data = bytes >= kPictureMemoryKeptFrom ? TakeKept(bytes) : nullptr;
  if (data) {
    std::memset(data, 0, bytes);
  } else {
    // Fresh pages come cleared from the system: calloc does not clear them again.
    data = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
    if (!data) throw std::bad_alloc();
  }
  data_ = data;
  size_ = bytes;
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
  if (data_ && !Keep(data_, size_)) std::free(data_);
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
    std::free(b.Data);
  }
}

}  // namespace plat
