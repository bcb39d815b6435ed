#pragma once
// A fresh application on the headless window system for each test.
#include <gtest/gtest.h>

#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Application2/winApplication.h"

namespace zmtest {

class THeadlessAppTest : public ::testing::Test {
protected:
  void SetUp() override {
    plat::headless::ResetForTests();
    app = new zm::TZmApplication();
    app->AfterConstruction();
    app->Initialize();
  }
  void TearDown() override {
    if (app) {
      if (!app->Finalized()) app->Finalize();
      app->Free();
      app = nullptr;
    }
    plat::headless::ResetForTests();
  }
  zm::TZmApplication* app = nullptr;
};

}  // namespace zmtest
