#include "ZmLib/zmRandom.h"

#include <mutex>
#include <random>

#include "Platform/PlatSystem.h"

namespace zm {

namespace {
std::mutex gLock;
// The first numbers without Randomize are the same in every run.
std::mt19937 gEngine(5489u);
}  // namespace

void Randomize() {
  std::uint32_t seed[4] = {};
  plat::RandomBytes(seed, sizeof seed);
  std::seed_seq seq(std::begin(seed), std::end(seed));
  std::lock_guard<std::mutex> guard(gLock);
  gEngine.seed(seq);
}

void SetRandSeed(std::uint32_t seed) {
  std::lock_guard<std::mutex> guard(gLock);
  gEngine.seed(seed);
}

std::int32_t Random(std::int32_t range) {
  if (range < 1) return 0;
  std::uint32_t r;
  {
    std::lock_guard<std::mutex> guard(gLock);
    r = static_cast<std::uint32_t>(gEngine());
  }
  // Scaling (not a modulo) keeps every value of the range about equally likely.
  return static_cast<std::int32_t>((std::uint64_t(r) * std::uint64_t(range)) >> 32);
}

double RandomFloat() {
  std::uint32_t r;
  {
    std::lock_guard<std::mutex> guard(gLock);
    r = static_cast<std::uint32_t>(gEngine());
  }
  return r / 4294967296.0;
}

}  // namespace zm
