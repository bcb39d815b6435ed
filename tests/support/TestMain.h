#pragma once
// The test main initialises the modules of TestModuleTable(), which each
// test binary defines, then runs every test.
#include <string>
#include <vector>

#include "ZmLib/zmModules.h"

std::vector<zm::TModule> TestModuleTable();

namespace zmtest {

// A folder of the shared test data ("testdata/pngsuite" ...).
std::string SharedPath(const std::string& relative);
std::string SourcePath(const std::string& relative);

}  // namespace zmtest
