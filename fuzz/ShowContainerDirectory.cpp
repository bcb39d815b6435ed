// The directory text of a show container from outside, deflated into a
// sound container around four fixed entries: the entry keys ("_ps", "_sz",
// "_pm"), escaped section names and the integrity section ("strucpos",
// "allowmodify") are what varies. The first byte picks the trailer form
// and a program prefix.
#include <cstddef>
#include <cstdint>

#include "fuzz/ShowContainerFuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  zmfuzz::CheckContainer(zmfuzz::ContainerWithDirectory(data, size));
  return 0;
}
