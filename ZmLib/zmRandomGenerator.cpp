#include "ZmLib/zmRandomGenerator.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <mutex>

#include "ZmLib/zmRandom.h"

namespace zm {

namespace {

// Relaxed atomics only so that a stray second thread is not undefined
// behaviour; the sequence itself is defined for one thread.
std::atomic<std::uint32_t> gGlobalState{0};

std::once_flag gRuntimeSeeded;

// Clears the recursion mark however the step ends.
class TStepGuard {
public:
  explicit TStepGuard(bool& flag) : flag_(flag) {
    if (flag_) ZM_FAIL("TRandomGenerator: neither NextRaw nor NextFloat is implemented");
    flag_ = true;
  }
  ~TStepGuard() { flag_ = false; }
  TStepGuard(const TStepGuard&) = delete;
  TStepGuard& operator=(const TStepGuard&) = delete;

private:
  bool& flag_;
};

}  // namespace

// Constant-initialised: it holds its value before any module starts.
TCreateRandomFunc CreateRandomHook = &CreateRandom;

float RawToUnitFloat(std::uint32_t Raw) {
  return std::bit_cast<float>((Raw & 0x007FFFFFu) | 0x3F800000u) - 1.0f;
}

// ---- TRandomGenerator ----------------------------------------------------------

void TRandomGenerator::Dispose() { TRefObject::Dispose(); }

std::int32_t TRandomGenerator::Random(std::int32_t N) {
  if (N < 1) return 0;
  return static_cast<std::int32_t>(NextRaw() % static_cast<std::uint32_t>(N));
}

std::uint32_t TRandomGenerator::NextRaw() {
  TStepGuard guard(inBaseStep_);
  double f = static_cast<double>(NextFloat());
  // A derived NextFloat outside [0, 1) must not make the conversion undefined.
  if (!(f > 0.0)) return 0;
  if (f >= 1.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(std::nearbyint(f * 4294967295.0));
}

float TRandomGenerator::NextFloat() {
  TStepGuard guard(inBaseStep_);
  return RawToUnitFloat(NextRaw());
}

void TRandomGenerator::Randomize() {
  std::call_once(gRuntimeSeeded, [] { zm::Randomize(); });
  auto r1 = static_cast<std::uint32_t>(zm::Random(2147483647));
  auto r2 = static_cast<std::uint32_t>(zm::Random(2147483647));
  SetSeed((r1 * 2u) ^ r2);
}

// ---- TKhnutLewisRandom ---------------------------------------------------------

std::uint32_t TKhnutLewisRandom::NextRaw() {
  State = KhnutLewisStep(State);
  return State;
}

TRef<TRandomGenerator> CreateRandom(bool DoRandomize) {
  TRef<TRandomGenerator> r = MakeRef<TKhnutLewisRandom>();
  if (DoRandomize) r->Randomize();
  return r;
}

// ---- unit-level generator ------------------------------------------------------

void SetGlobalSeed(std::uint32_t Seed) { gGlobalState.store(Seed, std::memory_order_relaxed); }

std::uint32_t NextGlobal() {
  std::uint32_t s = KhnutLewisStep(gGlobalState.load(std::memory_order_relaxed));
  gGlobalState.store(s, std::memory_order_relaxed);
  return s;
}

float NextGlobalFloat() { return RawToUnitFloat(NextGlobal()); }

}  // namespace zm
