#include "ZmLib/3DBasics/D3D9/Dev3D9.h"
#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "tests/support/TestMain.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::GraphicsModules(), zm::AppModules(), zm::Dev3D9Modules()});
}
