#include "tests/support/TestMain.h"
#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Text/zmTextModules.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::AppModules()});
}
