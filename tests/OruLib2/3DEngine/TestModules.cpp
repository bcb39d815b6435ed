#include "tests/support/TestMain.h"
#include "OruLib2/3DEngine/OruShaders.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::GraphicsModules(), zm::AppModules(), zm::Basics3DModules(),
                          zm::Dev3D9Modules(), oru::Engine3DModules()});
}
