#pragma once
// Memory for many small objects made together and given back one by one (the
// items of a long parsed document): blocks of kBulkBlockBytes, aligned to
// their size (an object finds its block from its own address), mapped
// without advice: their pages are zeroed one by one as they are first
// written, so a block filled in part costs only that part. The objects take
// no room in the allocator's heaps.
#include <cstddef>

namespace plat {

constexpr std::size_t kBulkBlockBytes = std::size_t(2) << 20;

// A block; nullptr when the memory cannot be had. Its contents are
// unspecified until written.
void* AllocBulkBlock();
// Gives back a block of AllocBulkBlock; nullptr does nothing.
void FreeBulkBlock(void* block);
// The blocks handed out and not given back (tests).
std::size_t BulkBlocksInUse();

// For the address checker: bytes of a block not handed out, or given back,
// are out of bounds until they are handed out again. Nothing in other builds.
void PoisonBulkMemory(const void* p, std::size_t bytes);
void UnpoisonBulkMemory(const void* p, std::size_t bytes);

}  // namespace plat
