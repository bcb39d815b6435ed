// The look for a Java archive's manifest in zip data that any document may
// hold: end records, ZIP64 records and directories as the data gives them,
// read only within the data and within the bounds the look sets itself.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Platform/PlatProcess.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t asked = 0;
  const plat::TReadAt read = [&](std::uint64_t offset, void* buffer, std::size_t n) -> std::size_t {
    Check(buffer != nullptr || n == 0);
    asked += n;
    if (offset >= size) return 0;
    const std::size_t got = std::min<std::uint64_t>(n, size - offset);
    std::memcpy(buffer, data + offset, got);
    return got;
  };
  const bool manifest = plat::ZipListsJarManifest(read, size);
  // The tail, then a few directories of 16 MiB at most, and small records.
  Check(asked <= 65557 + 8 * (2 * (std::uint64_t(16) << 20) + 76));
  // Without an end record there is no directory to list it.
  const std::uint8_t end[] = {'P', 'K', 5, 6};
  if (manifest) Check(std::search(data, data + size, end, end + 4) != data + size);
  return 0;
}
