#include "Oru/OruViewer/OruModules.h"

#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Text/zmTextModules.h"

namespace oru {

std::vector<zm::TModule> ProgramModules() {
  return zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::AppModules()});
}

}  // namespace oru
