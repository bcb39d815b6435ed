#include "Oru/OruViewer/OruModules.h"

#include "ZmLib/Application2/zmAppModules.h"

namespace oru {

std::vector<zm::TModule> ProgramModules() { return zm::JoinModules({zm::CoreModules(), zm::AppModules()}); }

}  // namespace oru
