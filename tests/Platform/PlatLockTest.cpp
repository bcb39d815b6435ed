#include "Platform/PlatLock.h"

#include <gtest/gtest.h>

#include "Platform/PlatSystem.h"
#include "tests/support/TempDir.h"

namespace {

plat::TFileHandle OpenRW(const std::u16string& name, std::uint32_t creation) {
  return plat::OpenFile(name, plat::kGenericRead | plat::kGenericWrite, creation);
}

}  // namespace

TEST(PlatLock, TwoOpensOfOneFile) {
  zmtest::TTempDir dir;
  std::u16string name = dir.Wide("x.lock");
  plat::TFileHandle a = OpenRW(name, plat::kCreateNew);
  plat::TFileHandle b = OpenRW(name, plat::kOpenExisting);
  ASSERT_NE(a, plat::kInvalidFileHandle);
  ASSERT_NE(b, plat::kInvalidFileHandle);

  ASSERT_TRUE(plat::LockFile(a, true, false));
  EXPECT_TRUE(plat::LockFile(a, true, false));  // taking it again through the same open is fine
  EXPECT_FALSE(plat::LockFile(b, true, false));
  EXPECT_TRUE(plat::IsLockBusyError(plat::LastOSError()));
  EXPECT_FALSE(plat::LockFile(b, false, false));  // a shared lock conflicts too

  // unlocking, or closing the holder, frees it
  EXPECT_TRUE(plat::UnlockFile(a));
  EXPECT_TRUE(plat::LockFile(b, true, false));
  EXPECT_FALSE(plat::LockFile(a, true, false));
  EXPECT_TRUE(plat::CloseFile(b));
  EXPECT_TRUE(plat::LockFile(a, false, true));
  // shared locks meet; an exclusive one waits for them
  b = OpenRW(name, plat::kOpenExisting);
  EXPECT_TRUE(plat::LockFile(b, false, false));
  EXPECT_FALSE(plat::LockFile(b, true, false));
  plat::CloseFile(b);

  // the file behind a handle: found without letter case, gone once deleted
  // (this system allows it while open), and not the one made anew
  EXPECT_TRUE(plat::IsFileAt(a, name));
  EXPECT_TRUE(plat::IsFileAt(a, dir.Wide("X.LOCK")));
  EXPECT_TRUE(plat::DeleteFile(name));
  EXPECT_FALSE(plat::IsFileAt(a, name));
  plat::TFileHandle again = OpenRW(name, plat::kCreateNew);
  EXPECT_FALSE(plat::IsFileAt(a, name));
  EXPECT_TRUE(plat::IsFileAt(again, name));
  plat::CloseFile(again);
  plat::CloseFile(a);
}

TEST(PlatLock, BadHandlesAndSharedFolders) {
  EXPECT_FALSE(plat::LockFile(plat::kInvalidFileHandle, true, false));
  EXPECT_FALSE(plat::LockFile(std::intptr_t(1) << 40, true, true));
  EXPECT_FALSE(plat::UnlockFile(-5));
  EXPECT_FALSE(plat::IsFileAt(-1, u"\\tmp"));

  zmtest::TTempDir dir;
  std::u16string name = dir.Wide("shared\\");
  ASSERT_TRUE(plat::CreateSharedDirectory(name));
  EXPECT_FALSE(plat::CreateSharedDirectory(name));  // exists already
  EXPECT_FALSE(plat::CreateSharedDirectory(dir.Wide("none\\shared")));
  EXPECT_FALSE(plat::CreateSharedDirectory(u""));
}
