#include "tests/support/TestMain.h"
#include "OruLib2/OruClasses/OruClassesModules.h"
#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), oru::OruClassesModules(),
                          zm::AppModules()});
}
