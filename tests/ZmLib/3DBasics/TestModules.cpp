#include "tests/support/TestMain.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"

std::vector<zm::TModule> TestModuleTable() { return zm::JoinModules({zm::CoreModules(), zm::GraphicsModules()}); }
