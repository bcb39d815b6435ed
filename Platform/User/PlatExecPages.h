#pragma once
// Pages for small generated code stubs: mapped read-write, switched to
// read-execute after each write (never writable and executable at once).
#include <cstddef>

namespace plat {

// size: a multiple of the page size (4096). nullptr on failure.
void* AllocExecPages(std::size_t size);
bool FreeExecPages(void* base, std::size_t size);
// writable: read-write for writing stubs; else read-execute.
bool ProtectExecPages(void* base, std::size_t size, bool writable);
constexpr std::size_t kExecPageSize = 4096;

}  // namespace plat
