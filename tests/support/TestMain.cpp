#include "tests/support/TestMain.h"

#include <gtest/gtest.h>

#include "Platform/Gdi/PlatFontInternal.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  plat::gdi::UseTestFontsWhenStarted();  // the same fonts on every machine
  zm::TModuleRunner modules(TestModuleTable());
  return RUN_ALL_TESTS();
}

namespace zmtest {
std::string SourcePath(const std::string& relative) { return std::string(ZM_SOURCE_DIR) + "/" + relative; }
}  // namespace zmtest
