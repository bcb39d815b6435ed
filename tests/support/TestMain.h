#pragma once
// The test main initialises the modules of TestModuleTable(), which each
// test binary defines, then runs every test.
#include <string>
#include <vector>

#include "ZmLib/zmModules.h"

std::vector<zm::TModule> TestModuleTable();

namespace zmtest {

std::string SourcePath(const std::string& relative);

}  // namespace zmtest
