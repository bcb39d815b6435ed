#include "Platform/User/PlatExecPages.h"

#include <sys/mman.h>

#include <cerrno>

#include "Platform/PlatSystem.h"

namespace plat {

void* AllocExecPages(std::size_t size) {
  if (size == 0 || size % kExecPageSize) {
    SetLastOSError(EINVAL);
    return nullptr;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    SetLastOSError(errno);
    return nullptr;
  }
  return p;
}

bool FreeExecPages(void* base, std::size_t size) {
  if (!base) return false;
  return munmap(base, size) == 0;
}

bool ProtectExecPages(void* base, std::size_t size, bool writable) {
  if (!base) return false;
  int prot = writable ? (PROT_READ | PROT_WRITE) : (PROT_READ | PROT_EXEC);
  if (mprotect(base, size, prot) != 0) {
    SetLastOSError(errno);
    return false;
  }
  // Instruction fetch sees the new bytes after mprotect on x86-64.
  return true;
}

}  // namespace plat
