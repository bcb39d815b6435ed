#include "ZmLib/zmModules.h"
#include "tests/support/TestMain.h"

std::vector<zm::TModule> TestModuleTable() { return zm::JoinModules({zm::CoreModules()}); }
