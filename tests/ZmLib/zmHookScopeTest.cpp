#include "ZmLib/zmHookScope.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>

namespace {

using TProc = int (*)();
int One() { return 1; }
int Two() { return 2; }
int Three() { return 3; }

TProc gHook = &One;
std::atomic<TProc> gAtomicHook{&One};

struct THookPair {
  TProc First = nullptr;
  TProc Second = nullptr;
};
THookPair gPair;

void SetAndFail() {
  zm::THookScope scope(gHook, &Two);
  ASSERT_EQ(gHook(), 1) << "fails on purpose";
}

}  // namespace

TEST(HookScope, RestoresWhenTheBlockEndsEvenByAnExceptionOrAFailedAssertion) {
  {
    zm::THookScope scope(gHook, &Two);
    EXPECT_EQ(gHook(), 2);
    EXPECT_EQ(scope.Saved(), &One);
    {
      zm::THookScope inner(gHook, [] { return 4; });
      EXPECT_EQ(gHook(), 4);
      EXPECT_EQ(inner.Saved(), &Two);
    }
    EXPECT_EQ(gHook(), 2);
    scope.Set(&Three);
    EXPECT_EQ(gHook(), 3);
    EXPECT_EQ(scope.Saved(), &One);
  }
  EXPECT_EQ(gHook, &One);
  {
    zm::THookScope scope(gHook, &Two);
    scope.Restore();
    EXPECT_EQ(gHook, &One);
    gHook = &Three;  // after Restore the scope leaves the hook alone
  }
  EXPECT_EQ(gHook, &Three);
  gHook = &One;

  EXPECT_THROW(
      {
        zm::THookScope scope(gHook, nullptr);
        throw std::runtime_error("left early");
      },
      std::runtime_error);
  EXPECT_EQ(gHook, &One);

  EXPECT_FATAL_FAILURE(SetAndFail(), "fails on purpose");
  EXPECT_EQ(gHook, &One);
}

TEST(HookScope, KeepsOnlyAtomicsMembersAndFunctionObjects) {
  {
    zm::THookScope keep(gHook);
    gHook = &Three;
  }
  EXPECT_EQ(gHook, &One);

  {
    zm::THookScope scope(gAtomicHook, &Two);
    EXPECT_EQ(gAtomicHook.load()(), 2);
    EXPECT_EQ(scope.Saved(), &One);
  }
  EXPECT_EQ(gAtomicHook.load(), &One);

  {
    zm::THookScope scope(gPair.Second, &Two);
    EXPECT_EQ(gPair.First, nullptr);
    EXPECT_EQ(gPair.Second, &Two);
  }
  EXPECT_EQ(gPair.Second, nullptr);

  std::function<int()> f = [] { return 5; };
  {
    zm::THookScope scope(f, [] { return 6; });
    EXPECT_EQ(f(), 6);
    EXPECT_EQ(scope.Saved()(), 5);
  }
  EXPECT_EQ(f(), 5);
}

TEST(HookInstall, InstallsOnceNeverChainsToItselfAndRestores) {
  static zm::THookInstall<TProc> install;
  EXPECT_FALSE(install.Installed());
  install.Restore();  // not installed: nothing
  EXPECT_EQ(gHook, &One);

  install.Install(gHook, &Two);
  EXPECT_TRUE(install.Installed());
  EXPECT_EQ(gHook, &Two);
  EXPECT_EQ(install.Saved(), &One);
  // Installed again: the value saved first stays, so a chain never calls itself.
  install.Install(gHook, &Three);
  EXPECT_EQ(gHook, &Three);
  EXPECT_EQ(install.Saved(), &One);

  install.Restore();
  EXPECT_EQ(gHook, &One);
  EXPECT_FALSE(install.Installed());
  EXPECT_EQ(install.Saved(), nullptr);
  install.Restore();
  EXPECT_EQ(gHook, &One);

  // A hook that holds the handler already: nothing to chain to.
  gHook = &Two;
  install.Install(gHook, &Two);
  EXPECT_EQ(install.Saved(), nullptr);
  install.Restore();
  EXPECT_EQ(gHook, nullptr);
  gHook = &One;

  // Given back only while it is still set: a later handler stays.
  install.Install(gHook, &Two);
  gHook = &Three;
  install.RestoreIfStillSet();
  EXPECT_EQ(gHook, &Three);
  EXPECT_FALSE(install.Installed());
  gHook = &One;
  install.Install(gHook, &Two);
  install.RestoreIfStillSet();
  EXPECT_EQ(gHook, &One);

  // Kept only, set by the caller's own code.
  install.Keep(gHook);
  gHook = &Three;
  EXPECT_EQ(install.Saved(), &One);
  install.Restore();
  EXPECT_EQ(gHook, &One);

  static zm::THookInstall<std::atomic<TProc>> atomicInstall;
  atomicInstall.Install(gAtomicHook, &Two);
  EXPECT_EQ(gAtomicHook.load(), &Two);
  atomicInstall.Restore();
  EXPECT_EQ(gAtomicHook.load(), &One);
}
