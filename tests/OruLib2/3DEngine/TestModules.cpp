#include "tests/support/TestMain.h"
#include "OruLib2/3DEngine/OruShaders.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::GraphicsModules(), zm::Basics3DModules(), oru::Engine3DModules()});
}
