#include "tests/support/TestMain.h"
#include "ZmLib/Application2/zmAppModules.h"

std::vector<zm::TModule> TestModuleTable() { return zm::JoinModules({zm::CoreModules(), zm::AppModules()}); }
