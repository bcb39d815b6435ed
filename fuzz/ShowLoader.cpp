// A show description from outside, opened as a container show: its name
// map, rotation table, path of a colour profile and options either work or
// are skipped; every name they mention opens (or not) without harm.
#include <cstddef>
#include <cstdint>

#include "OruLib2/OruClasses/OruClassesModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "fuzz/ShowLoaderFuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), oru::OruClassesModules()});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 16) return 0;
  zmfuzz::CheckShowLoader(data, size);
  return 0;
}
