#include "tests/support/TestMain.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::GraphicsModules(), zm::VectorModules()});
}
