#include "Oru/OruViewer/OruModules.h"

#include "Oru/OruViewer/OruMainForm.h"
#include "Oru/OruViewer/OruStartup.h"
#include "OruLib2/3DEngine/OruShaders.h"
#include "OruLib2/NavPanel/NavPanelModules.h"
#include "OruLib2/OruClasses/OruClassesModules.h"
#include "OruLib2/OruViewer/OruMusicComposite.h"
#include "OruLib2/RealSlide/OruRealSlideFilter.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Composite/zmCompositeModules.h"
#include "ZmLib/Graphics/Video/zmVideoModules.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Music/zmMusicModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"

namespace oru {

namespace {
const zm::TModule kPlayerModules[] = {
    {"OruRealSlideFilter", &InitRealSlideFilter, &FiniRealSlideFilter},
    {"OruMusicComposite", &InitMusicComposite, &FiniMusicComposite},
    {"OruMainForm", &InitOruMainForm, &FiniOruMainForm},
    {"OruStartup", &InitOruStartup, &FiniOruStartup},
};
}  // namespace

std::span<const zm::TModule> PlayerModules() { return kPlayerModules; }

std::vector<zm::TModule> ProgramModules() {
  return zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), zm::VideoModules(),
                          zm::VectorModules(), zm::WinFontModules(), zm::Basics3DModules(), OruClassesModules(),
                          zm::AppModules(), zm::CompositeModules(), zm::Dev3D9Modules(), Engine3DModules(),
                          zm::MusicModules(), NavPanelModules(), PlayerModules()});
}

}  // namespace oru
