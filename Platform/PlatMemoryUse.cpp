#include "Platform/PlatMemoryUse.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "Platform/PlatPictureMemory.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZM_MEMORY_USE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define ZM_MEMORY_USE_SANITIZED 1
#endif
#endif
#ifdef ZM_MEMORY_USE_SANITIZED
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

namespace plat {

std::int64_t HeldMemoryBytes() {
#ifdef ZM_MEMORY_USE_SANITIZED
  return static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes());
#else
  // Pages of the whole, in memory, and of files shared with others.
  const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[128];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return -1;
  text[n] = 0;
  long long size = 0, resident = 0, shared = 0;
  if (std::sscanf(text, "%lld %lld %lld", &size, &resident, &shared) != 3) return -1;
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0 || resident < shared) return -1;
  return static_cast<std::int64_t>(resident - shared) * page;
#endif
}

void GiveBackFreeMemory() {
  TrimPictureMemory();
#ifndef ZM_MEMORY_USE_SANITIZED
  ::malloc_trim(0);
#endif
}

}  // namespace plat
