#include "tests/support/TestMain.h"
#include "OruLib2/OruClasses/OruClassesModules.h"
#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), zm::VectorModules(),
                          oru::OruClassesModules(), zm::AppModules()});
}
