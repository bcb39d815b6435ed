#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Composite/zmCompositeModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "tests/support/TestMain.h"

// The units the controls draw text with (font runs, fallback, ink) start as
// they do in the program.
std::vector<zm::TModule> TestModuleTable() {
  return zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), zm::VectorModules(),
                          zm::WinFontModules(), zm::AppModules(), zm::CompositeModules()});
}
