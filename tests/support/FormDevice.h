#pragma once
// The headless form-and-device fixture: on a fresh application, a form and
// its draw device, drawn through the software device by the 3D layer, with
// presents that never sleep. TScreenOnDevice adds a 3D screen on it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/HeadlessApp.h"

namespace zmtest {

class TFormDeviceTest : public THeadlessAppTest {
protected:
  // The size of the form, or (ClientSize) of its client area: the form grows
  // by its frame.
  TFormDeviceTest(std::int32_t width, std::int32_t height, bool clientSize = false)
      : width_(width), height_(height), clientSize_(clientSize) {}

  void SetUp() override {
    THeadlessAppTest::SetUp();
    zm::InitDev3DApp2();
    presentSleep_.Set([](std::uint32_t) {});
    form = new zm::TZmForm();
    form->AfterConstruction();
    form->SetBounds({0, 0, width_, height_});
    form->SetVisible(true);
    if (clientSize_) {
      const zm::TRect client = form->GetClientRect();
      form->SetBounds({0, 0, 2 * width_ - (client.Right - client.Left), 2 * height_ - (client.Bottom - client.Top)});
    }
    device = zm::MakeRef<zm::TZmFormDevice>(form);
    device->UpdateFromForm();  // the device follows the form's later changes only
  }
  void TearDown() override {
    device = nullptr;
    if (form) form->Free();
    form = nullptr;
    zm::FiniDev3DApp2();
    presentSleep_.Restore();
    THeadlessAppTest::TearDown();
  }

  zm::TZmForm* form = nullptr;
  zm::TRef<zm::TZmFormDevice> device;

private:
  std::int32_t width_, height_;
  bool clientSize_;
  zm::THookScope<std::atomic<zm::TPresentSleepProc>> presentSleep_{zm::PresentSleepProc};
};

// A 3D screen on the form's device, opened at once when Open.
class TScreenOnDevice : public TFormDeviceTest {
protected:
  TScreenOnDevice(std::int32_t width, std::int32_t height, bool open) : TFormDeviceTest(width, height), open_(open) {}

  void SetUp() override {
    TFormDeviceTest::SetUp();
    screen = zm::MakeRef<zm::T3DScreen>();
    if (open_) screen->Open(device.get());
  }
  void TearDown() override {
    screen = nullptr;
    TFormDeviceTest::TearDown();
  }

  zm::TRef<zm::T3DScreen> screen;

private:
  bool open_;
};

}  // namespace zmtest
