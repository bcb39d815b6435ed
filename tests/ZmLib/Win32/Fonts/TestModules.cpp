#include "tests/support/TestMain.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"

std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules(
      {zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), zm::VectorModules(), zm::WinFontModules()});
}
