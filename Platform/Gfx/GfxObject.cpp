#include "Platform/Gfx/GfxObject.h"

namespace plat::gfx {

namespace {
constexpr std::uint64_t kInternalOne = std::uint64_t{1} << 32;
constexpr std::uint64_t kExternalMask = 0xFFFFFFFFu;
}  // namespace

std::uint32_t Object::AddRef() {
  const std::uint64_t before = counts_.fetch_add(1, std::memory_order_relaxed);
  if ((before & kExternalMask) == 0) OnRevive();
  return static_cast<std::uint32_t>((before & kExternalMask) + 1);
}

std::uint32_t Object::Release() {
  std::uint64_t v = counts_.load(std::memory_order_relaxed);
  for (;;) {
    const std::uint64_t ext = v & kExternalMask;
    if (ext == 0) return 0;  // an extra Release: answered, not obeyed
    if (ext == 1) {
      // The last caller reference becomes an internal one for the time of
      // OnFinalRelease, so a binding dropped meanwhile cannot delete us.
      if (counts_.compare_exchange_weak(v, v - 1 + kInternalOne, std::memory_order_acq_rel)) {
        OnFinalRelease();
        ReleaseInternalRef();
        return 0;
      }
    } else if (counts_.compare_exchange_weak(v, v - 1, std::memory_order_acq_rel)) {
      return static_cast<std::uint32_t>(ext - 1);
    }
  }
}

std::uint32_t Object::RefCount() const {
  return static_cast<std::uint32_t>(counts_.load(std::memory_order_relaxed) & kExternalMask);
}

void Object::AddInternalRef() { counts_.fetch_add(kInternalOne, std::memory_order_relaxed); }

void Object::ReleaseInternalRef() {
  if (counts_.fetch_sub(kInternalOne, std::memory_order_acq_rel) == kInternalOne) delete this;
}

}  // namespace plat::gfx
