#pragma once
// The public picture suites some decoder tests compare with: ../shared/testdata
// beside the checkout, or the folder given to CMake as ZM_TESTDATA_DIR.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace zmtest {

inline std::filesystem::path TestDataPath(const std::string& sub) {
  return std::filesystem::path(ZM_TESTDATA_DIR) / sub;
}

}  // namespace zmtest

// In a test's body: skips the test, saying why, when the suite is missing.
#define ZM_SKIP_WITHOUT_TESTDATA(sub)                                                                    \
  do {                                                                                                   \
    if (!std::filesystem::is_directory(zmtest::TestDataPath(sub)))                                       \
      GTEST_SKIP() << "test data " << zmtest::TestDataPath(sub).string()                                 \
                   << " is missing: put the public test data in ../shared/testdata beside the checkout " \
                      "or configure with -DZM_TESTDATA_DIR=<folder>";                                    \
  } while (0)
