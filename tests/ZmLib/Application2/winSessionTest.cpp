#include "ZmLib/Application2/winSession.h"

#include <gtest/gtest.h>

#include "tests/ZmLib/Application2/AppTestSupport.h"

using namespace zm;

namespace {

class WinSession : public apptest::AppTest {
protected:
  void TearDown() override {
    FreeSessionManager();
    apptest::AppTest::TearDown();
  }
};

TEST_F(WinSession, LockNotificationsReachTheFlag) {
  EXPECT_FALSE(IsSessionLocked());
  plat::headless::SetSessionLocked(true);
  EXPECT_TRUE(IsSessionLocked());
  plat::headless::SetSessionLocked(false);
  EXPECT_FALSE(IsSessionLocked());
  // Without the system's functions the session is never locked.
  FreeSessionManager();
  plat::headless::SetSessionApiAvailable(false);
  plat::headless::SetSessionLocked(true);
  EXPECT_FALSE(IsSessionLocked());
}

TEST(WinSessionNoApp, AssertsWithoutAnApplication) {
  plat::headless::ResetForTests();
  EXPECT_THROW(IsSessionLocked(), EAbort);
  FreeSessionManager();
}

}  // namespace
