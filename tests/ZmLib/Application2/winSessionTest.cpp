#include "ZmLib/Application2/winSession.h"

#include <gtest/gtest.h>

#include "tests/support/HeadlessApp.h"

using namespace zm;

namespace {

class WinSession : public zmtest::THeadlessAppTest {
protected:
  void TearDown() override {
    FreeSessionManager();
    zmtest::THeadlessAppTest::TearDown();
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

// What is torn down after the application has finished (the release of a
// full-screen device) asks without an assertion and finds no lock.
TEST_F(WinSession, AnApplicationThatHasFinishedHasNoLockedSession) {
  app->Finalize();
  ASSERT_TRUE(app->Finalized());
  EXPECT_FALSE(IsSessionLocked());
}

TEST(WinSessionNoApp, AssertsWithoutAnApplication) {
  plat::headless::ResetForTests();
  EXPECT_THROW(IsSessionLocked(), EAbort);
  FreeSessionManager();
}

}  // namespace
