#pragma once
// Memory for many small objects made together and given back one by one (the
// items of a long parsed document): blocks of kBulkBlockBytes, aligned to
// their size, which the system is asked to back with huge pages. A program
// that makes a million objects at once then takes a few dozen page faults
// and no growth of the allocator's heaps for them.
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
