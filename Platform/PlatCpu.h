#pragma once
// The processor's identification (CPUID). Standard types only.
#include <cstdint>

namespace plat {

// The four registers EAX, EBX, ECX, EDX of CPUID for a leaf (sub-leaf 0);
// false, and zeros, where the processor has no CPUID (not x86).
bool CpuId(std::uint32_t leaf, std::uint32_t regs[4]);

}  // namespace plat
