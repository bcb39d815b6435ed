#include "ZmLib/Graphics/zmCPUInfo.h"

#include <algorithm>
#include <cstring>

#include "Platform/PlatCpu.h"
#include "Platform/PlatSystem.h"

namespace zm {

namespace {
TProcessorInfo gInfo;

bool Bit(std::uint32_t v, int bit) { return (v >> bit) & 1; }
}  // namespace

const TProcessorInfo& ProcessorInfo() { return gInfo; }

TProcessorInfo ReadProcessorInfo() {
  TProcessorInfo info;
  info.ProcessorCount = std::uint8_t(std::clamp(plat::ProcessorCount(), 1, 255));
  std::uint32_t r[4];
  if (!plat::CpuId(0, r) || r[0] == 0) return info;
  char vendor[12];
  std::memcpy(vendor, &r[1], 4);
  std::memcpy(vendor + 4, &r[3], 4);
  std::memcpy(vendor + 8, &r[2], 4);
  info.Vendor.assign(vendor, 12);
  if (plat::CpuId(1, r)) {
    const std::uint32_t edx = r[3];
    info.Family = std::uint8_t((r[0] >> 8) & 0x0F);
    info.Model = std::uint8_t((r[0] >> 4) & 0x0F);
    if (Bit(edx, 15)) info.Features |= cfCMOV;
    if (Bit(edx, 23)) info.Features |= cfMMX;
    if (Bit(edx, 25)) info.Features |= cfSSE;
    if (Bit(edx, 26)) info.Features |= cfSSE2;
  }
  if (plat::CpuId(0x80000000u, r) && r[0] > 0x80000000u && plat::CpuId(0x80000001u, r)) {
    const std::uint32_t edx = r[3];
    if (Bit(edx, 22)) info.Features |= cfMMXExt;
    if (Bit(edx, 31)) info.Features |= cf3DNow;
    if (Bit(edx, 30)) info.Features |= cf3DNowExt;
  }
  return info;
}

void InitCPUInfo() { gInfo = ReadProcessorInfo(); }
void FiniCPUInfo() { gInfo = TProcessorInfo{}; }

}  // namespace zm
