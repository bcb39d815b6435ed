#pragma once
// The processor-feature record, filled once at start-up. Processor-specific
// routines are chosen from it once, never per call.
#include <cstdint>
#include <string>

namespace zm {

// Feature bits.
constexpr std::uint8_t cfCMOV = 1;        // leaf 1 EDX bit 15
constexpr std::uint8_t cfMMX = 2;         // leaf 1 EDX bit 23
constexpr std::uint8_t cfMMXExt = 4;      // leaf 0x80000001 EDX bit 22
constexpr std::uint8_t cfSSE = 8;         // leaf 1 EDX bit 25
constexpr std::uint8_t cfSSE2 = 16;       // leaf 1 EDX bit 26
constexpr std::uint8_t cf3DNow = 32;      // leaf 0x80000001 EDX bit 31
constexpr std::uint8_t cf3DNowExt = 64;   // leaf 0x80000001 EDX bit 30

struct TProcessorInfo {
  // The three vendor words of leaf 0 in the order EBX, EDX, ECX (12
  // characters), empty without CPUID.
  std::string Vendor;
  std::uint8_t Features = 0;
  std::uint8_t ProcessorCount = 1;  // at most 255
  std::uint8_t Family = 0;          // leaf 1 EAX bits 8-11
  std::uint8_t Model = 0;           // leaf 1 EAX bits 4-7
};

// The record of this processor, filled by the module's start.
const TProcessorInfo& ProcessorInfo();
// Reads the processor (the extended leaf only when leaf 0x80000000 reports
// more; without CPUID only the processor count).
TProcessorInfo ReadProcessorInfo();

void InitCPUInfo();
void FiniCPUInfo();

}  // namespace zm
