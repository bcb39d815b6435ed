#pragma once
// The 3D drawer on a headless form whose client area has the asked size,
// with the modules it needs; shared by the drawer's frame benchmarks.
#include <cstdint>
#include <vector>

#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "OruLib2/3DEngine/OruShaders.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"

struct TDrawerStage {
  // What the drawer needs; a bench that draws more (texts, slide objects)
  // names a longer list.
  static std::vector<zm::TModule> DrawerModules() {
    return zm::JoinModules({zm::CoreModules(), zm::GraphicsModules(), zm::AppModules(), zm::Basics3DModules(),
                            zm::Dev3D9Modules(), oru::Engine3DModules()});
  }
  zm::TModuleRunner modules;
  zm::TZmApplication* app = nullptr;
  zm::TZmForm* form = nullptr;
  zm::TRef<zm::TZmFormDevice> device;
  zm::TRef<oru::T3DDrawer> drawer;

  TDrawerStage(std::int32_t width, std::int32_t height, const std::vector<zm::TModule>& moduleList = DrawerModules())
      : modules(moduleList) {
    using namespace zm;
    app = new TZmApplication();
    app->AfterConstruction();
    app->Initialize();
    PresentSleepProc = [](std::uint32_t) {};
    form = new TZmForm();
    form->AfterConstruction();
    form->SetBounds({0, 0, width, height});
    form->SetVisible(true);
    const TRect c = form->GetClientRect();
    form->SetBounds({0, 0, 2 * width - (c.Right - c.Left), 2 * height - (c.Bottom - c.Top)});
    device = MakeRef<TZmFormDevice>(form);
    device->UpdateFromForm();
    drawer = MakeRef<oru::T3DDrawer>();
    drawer->Open(device.get());
  }
  ~TDrawerStage() {
    drawer = nullptr;
    device = nullptr;
    form->Free();
    app->Finalize();
    app->Free();
  }
  TDrawerStage(const TDrawerStage&) = delete;
  TDrawerStage& operator=(const TDrawerStage&) = delete;
};
