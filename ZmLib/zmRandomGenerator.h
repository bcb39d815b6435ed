#pragma once
// A small reproducible pseudo-random source: a 32-bit linear congruential
// generator (x := x * 1664525 + 1013904223 mod 2^32) that gives the same
// sequence for a seed on every machine. Transitions rely on that: a seed must
// give the same picture every time. The process-wide generator of zmRandom is
// a different source and is only used here to make seeds.
#include <cstdint>

#include "ZmLib/Win32/SysObj2.h"

namespace zm {

class TRandomGenerator : public TRefObject {
public:
  void Dispose() override;
  // NextRaw mod N (unsigned), in [0, N); 0 without drawing when N < 1.
  virtual std::int32_t Random(std::int32_t N);
  // The next 32-bit value; here round(NextFloat * 4294967295.0).
  virtual std::uint32_t NextRaw();
  // [0, 1) from the low 23 bits of NextRaw.
  virtual float NextFloat();
  // Seeds from the process-wide generator, which is itself seeded once per
  // process the first time any generator randomizes.
  virtual void Randomize();
  virtual void SetSeed(std::uint32_t Seed) = 0;

private:
  // NextRaw and NextFloat are defined through each other; a class that
  // overrides neither would recurse without end.
  bool inBaseStep_ = false;
};

class TKhnutLewisRandom : public TRandomGenerator {
public:
  std::uint32_t NextRaw() override;  // State := State * 1664525 + 1013904223
  void SetSeed(std::uint32_t Seed) override { State = Seed; }

  std::uint32_t State = 0;
};

// The low 23 bits of Raw as the mantissa of a float in [1, 2), minus 1.
float RawToUnitFloat(std::uint32_t Raw);
// One step of the generator.
constexpr std::uint32_t KhnutLewisStep(std::uint32_t State) {
  return State * 1664525u + 1013904223u;
}

// A TKhnutLewisRandom with state 0, randomized when asked.
TRef<TRandomGenerator> CreateRandom(bool DoRandomize);
using TCreateRandomFunc = TRef<TRandomGenerator> (*)(bool DoRandomize);
// Holds CreateRandom from the start.
extern TCreateRandomFunc CreateRandomHook;

// The unit-level generator: one global state without a lock, meant for the
// drawing thread only (other threads see no torn values, but steps may be
// lost). 0 until seeded.
void SetGlobalSeed(std::uint32_t Seed);
std::uint32_t NextGlobal();
float NextGlobalFloat();

}  // namespace zm
