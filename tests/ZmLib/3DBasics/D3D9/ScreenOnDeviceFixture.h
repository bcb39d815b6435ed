#pragma once
// A 3D screen on a headless form's draw device, drawn through the software
// device, with presents that never sleep.
#include <gtest/gtest.h>

#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmForms.h"

namespace zmtest {

class TScreenOnDeviceFixture : public ::testing::Test {
protected:
  // Form size, and whether the screen is opened on it at once.
  TScreenOnDeviceFixture(std::int32_t width, std::int32_t height, bool open)
      : width_(width), height_(height), open_(open) {}

  void SetUp() override {
    plat::headless::ResetForTests();
    app = new zm::TZmApplication();
    app->AfterConstruction();
    app->Initialize();
    zm::InitDev3DApp2();
    zm::PresentSleepProc = [](std::uint32_t) {};
    form = new zm::TZmForm();
    form->AfterConstruction();
    form->SetBounds({0, 0, width_, height_});
    form->SetVisible(true);
    device = zm::MakeRef<zm::TZmFormDevice>(form);
    device->UpdateFromForm();  // the device follows the form's later changes only
    screen = zm::MakeRef<zm::T3DScreen>();
    if (open_) screen->Open(device.get());
  }
  void TearDown() override {
    screen = nullptr;
    device = nullptr;
    if (form) form->Free();
    zm::FiniDev3DApp2();
    zm::PresentSleepProc = [](std::uint32_t ms) { plat::SleepMs(ms); };
    if (!app->Finalized()) app->Finalize();
    app->Free();
    plat::headless::ResetForTests();
  }

  zm::TZmApplication* app = nullptr;
  zm::TZmForm* form = nullptr;
  zm::TRef<zm::TZmFormDevice> device;
  zm::TRef<zm::T3DScreen> screen;

private:
  std::int32_t width_, height_;
  bool open_;
};

}  // namespace zmtest
