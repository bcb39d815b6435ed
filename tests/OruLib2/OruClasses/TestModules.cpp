#include "OruLib2/OruClasses/OruClassesModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "tests/support/TestMain.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), oru::OruClassesModules()});
}
