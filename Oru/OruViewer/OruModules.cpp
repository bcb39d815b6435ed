#include "Oru/OruViewer/OruModules.h"

#include "OruLib2/OruClasses/OruClassesModules.h"
#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"

namespace oru {

std::vector<zm::TModule> ProgramModules() {
  return zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), zm::VectorModules(),
                          OruClassesModules(), zm::AppModules()});
}

}  // namespace oru
