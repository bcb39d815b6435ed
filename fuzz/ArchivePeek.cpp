// The look into packed data for code (compressed streams, tar and zip,
// within one another): any data gives a finding without reading outside
// itself, within the bounds the look is given, and the same finding read
// anywhere or read in order. The extent of a program's image its header
// tells is read within the header too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Platform/PlatArchivePeek.h"
#include "Platform/PlatProcess.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  plat::TPeekLimits limits;
  limits.MaxBytes = 1 << 20;
  limits.MaxMembers = 1000;
  const plat::TReadAt read = [&](std::uint64_t offset, void* buffer, std::size_t n) -> std::size_t {
    Check(buffer != nullptr || n == 0);
    Check(offset <= size);
    const std::size_t got = std::min<std::uint64_t>(n, size - offset);
    if (got > 0) std::memcpy(buffer, data + offset, got);
    return got;
  };
  const plat::TPeekFinding anywhere = plat::PeekIntoPacked(read, size, "data.bin", limits);
  std::size_t at = 0;
  const plat::TPeekFinding inOrder = plat::PeekIntoPackedStream(
      [&](void* buffer, std::size_t n) -> std::size_t {
        const std::size_t got = std::min(n, size - at);
        if (got > 0) std::memcpy(buffer, data + at, got);
        at += got;
        return got;
      },
      "data.bin", limits);
  Check(anywhere.Why == inOrder.Why && anywhere.Inside == inOrder.Inside);
  // Code at the start is found as it is.
  if (size >= 2 && data[0] == '#' && data[1] == '!')
    Check(anywhere.Why == plat::TPeekFinding::TWhy::Code && anywhere.Inside.empty());
  // Nothing is found in data that is no packed data.
  if (plat::PackedKindOf(std::string_view(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 512))) ==
          plat::TPackedKind::None &&
      !(size >= 4 && std::memcmp(data, "\x7F" "ELF", 4) == 0) && !(size >= 2 && data[0] == '#' && data[1] == '!'))
    Check(!anywhere.Found());
  const std::uint64_t program = plat::ElfLength(std::string_view(reinterpret_cast<const char*>(data), size));
  Check(program == 0 || (size >= 64 && std::memcmp(data, "\x7F" "ELF", 4) == 0));
  return 0;
}
