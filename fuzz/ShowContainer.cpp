// A show container file from outside: opening it reads the trailer, the
// deflated directory and the integrity section; then every entry the
// directory names is read through its own handle and compared with the
// bytes the file holds (stored, enciphered, or inflated by zlib itself).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/ShowContainerFuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 20) return 0;
  zmfuzz::CheckContainer(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
