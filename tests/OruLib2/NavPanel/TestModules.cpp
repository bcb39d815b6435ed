#include "OruLib2/NavPanel/NavPanelModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/zmModules.h"
#include "tests/support/TestMain.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::GraphicsModules(), oru::NavPanelModules()});
}
