#include "Oru/OruViewer/OruModules.h"

namespace oru {

std::vector<zm::TModule> ProgramModules() { return zm::JoinModules({zm::CoreModules()}); }

}  // namespace oru
