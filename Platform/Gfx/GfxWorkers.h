#pragma once
// Persistent workers that run the bands of a draw. The caller takes part and
// waits, so drawing stays synchronous. Each band writes its own rows only,
// which keeps results the same whatever the thread count.
#include <cstdint>
#include <functional>

namespace plat::gfx {

class GfxWorkers {
public:
  // The shared pool; its size comes from ZM_GFX_THREADS (default: the
  // processor count), held to 1..64.
  static GfxWorkers& Instance();

  // Runs body(i) for i in [0, count) on up to ThreadCount() threads and
  // returns when all have finished. Safe to call from several threads at once
  // (the calls take turns); a call from inside a body runs inline.
  void Run(std::uint32_t count, const std::function<void(std::uint32_t)>& body);

  std::uint32_t ThreadCount() const;
  // Changes the number of threads taking part (tests, the benchmark); n is
  // held to 1..64.
  void SetThreadCount(std::uint32_t n);

  GfxWorkers(const GfxWorkers&) = delete;
  GfxWorkers& operator=(const GfxWorkers&) = delete;

private:
  GfxWorkers();
  ~GfxWorkers();
  struct Impl;
  Impl* impl_;
};

// The thread count that ZM_GFX_THREADS asks for (value as text), or the
// processor count when it is missing or not a number in 1..64.
std::uint32_t GfxThreadCountFromEnv(const char* value);

}  // namespace plat::gfx
