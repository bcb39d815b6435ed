#pragma once
// The process-wide pseudo-random generator behind shuffles, random slide and
// track orders and random transition choices. All functions may be called
// from any thread; each call takes one lock.
#include <cstdint>

namespace zm {

// Reseeds the generator from the system's entropy source.
void Randomize();
// Sets a fixed seed, so that the following numbers repeat (tests).
void SetRandSeed(std::uint32_t seed);
// A number in 0 .. range - 1; 0 for a range below 1.
std::int32_t Random(std::int32_t range);
// A number in [0, 1).
double RandomFloat();

}  // namespace zm
