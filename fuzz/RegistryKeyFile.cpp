// Saved registry keys read back from a file: any bytes either load as a
// whole key or are refused, and a key that loads saves again to a file that
// loads as the same key (the second and third saves are equal byte for byte).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Platform/PlatFiles.h"
#include "Platform/PlatRegistry.h"
#include "Platform/PlatUtf8.h"
#include "fuzz/FuzzCommon.h"
#include "tests/support/kit/TempFolder.h"

using zmfuzz::Check;

namespace {
zmtest::TTempFolder* gFolder = nullptr;

std::u16string RegFuzzFile(const char* name) { return plat::FromUtf8(gFolder->File(name)); }

// Loads File as HKEY_USERS\Fuzz and saves that key to Out; the load's result.
plat::LSTATUS LoadAndSaveAgain(const std::u16string& file, const std::u16string& out) {
  plat::RegClearAll();
  const plat::LSTATUS r = plat::RegLoadKeyW(plat::HKEY_USERS, u"Fuzz", file);
  if (r != plat::ERROR_SUCCESS) return r;
  plat::HKEY k = 0;
  Check(plat::RegOpenKeyExW(plat::HKEY_USERS, u"Fuzz", plat::KEY_READ, k) == plat::ERROR_SUCCESS);
  plat::DeleteFile(out);
  Check(plat::RegSaveKeyW(k, out) == plat::ERROR_SUCCESS);
  plat::RegCloseKey(k);
  return r;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  gFolder = new zmtest::TTempFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 16) return 0;
  const std::u16string input = RegFuzzFile("input.reg"), second = RegFuzzFile("second.reg"),
                       third = RegFuzzFile("third.reg");
  zmtest::WriteFileBytes(gFolder->File("input.reg"), std::string_view(reinterpret_cast<const char*>(data), size));
  const plat::LSTATUS r = LoadAndSaveAgain(input, second);
  Check(r == plat::ERROR_SUCCESS || r == plat::ERROR_BADDB);
  if (r == plat::ERROR_SUCCESS) {
    Check(LoadAndSaveAgain(second, third) == plat::ERROR_SUCCESS);
    Check(zmtest::ReadFileBytes(gFolder->File("second.reg")) == zmtest::ReadFileBytes(gFolder->File("third.reg")));
  }
  plat::RegClearAll();
  return 0;
}
