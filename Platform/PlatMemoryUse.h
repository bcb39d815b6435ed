#pragma once
// What the process holds of memory, for the budget a slide is built under.
#include <cstdint>

namespace plat {

// The bytes the process holds now: its private pages in memory (heap,
// pictures, stacks; not the pages of the program's and libraries' files).
// Under a sanitiser, whose own pages would count many times over, the bytes
// its allocator hands out. -1 when it cannot be told.
std::int64_t HeldMemoryBytes();

// Gives back what is kept for reuse: the picture blocks kept when given
// back, and the allocator's free pages.
void GiveBackFreeMemory();

}  // namespace plat
