#include "Platform/PlatLock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

TEST(PlatLock, BadHandles) {
  EXPECT_FALSE(plat::LockFile(plat::kInvalidFileHandle, true, false));
  EXPECT_FALSE(plat::LockFile(std::intptr_t(1) << 40, true, true));
  EXPECT_FALSE(plat::UnlockFile(-5));
  EXPECT_FALSE(plat::IsFileAt(-1, u"\\tmp"));
}

namespace {

std::filesystem::perms Mode(const std::filesystem::path& p) {
  return std::filesystem::symlink_status(p).permissions() & std::filesystem::perms::mask;
}

// Pretends to be another user for the checks while it lives.
struct TOtherUser {
  TOtherUser() { plat::SetProcessUserIdForTest(plat::ProcessUserId() + 1); }
  ~TOtherUser() { plat::SetProcessUserIdForTest(-1); }
};

}  // namespace

TEST(PlatLock, PrivateFoldersAreTheUsersOwnAndClosedToOthers) {
  namespace fs = std::filesystem;
  using plat::TPrivateFolder;
  zmtest::TTempDir dir;
  const fs::path own = dir.Path() / "own";
  EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("own\\")), TPrivateFolder::Ok);
  EXPECT_EQ(Mode(own), fs::perms::owner_all);  // whatever the umask
  EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("own")), TPrivateFolder::Ok);  // there already
  fs::permissions(own, fs::perms::group_read | fs::perms::others_exec, fs::perm_options::add);
  EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("own")), TPrivateFolder::Ok);  // others may look, not write
  EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("none\\own")), TPrivateFolder::Failed);
  EXPECT_EQ(plat::MakePrivateDirectory(u""), TPrivateFolder::Failed);

  // Folders in the way: writable by others, another user's, a file, a link
  // to a folder of ours.
  for (fs::perms open : {fs::perms::group_write, fs::perms::others_write}) {
    fs::create_directory(dir.Path() / "open");
    fs::permissions(dir.Path() / "open", fs::perms::owner_all | open);
    EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("open")), TPrivateFolder::OpenToOthers);
    fs::remove(dir.Path() / "open");
  }
  {
    TOtherUser other;
    EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("own")), TPrivateFolder::NotOwn);
  }
  if (plat::ProcessUserId() == 0) {
    // The administrator can really give one away.
    fs::create_directory(dir.Path() / "given");
    ASSERT_EQ(std::system(("chown 65534:65534 '" + (dir.Path() / "given").string() + "'").c_str()), 0);
    EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("given")), TPrivateFolder::NotOwn);
  }
  dir.Write("file", "x");
  EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("file")), TPrivateFolder::NotAFolder);
  fs::create_directory_symlink(own, dir.Path() / "link");
  EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("link")), TPrivateFolder::NotAFolder);

  // Where others may write, only a sticky folder keeps them from moving ours.
  const fs::path shared = dir.Path() / "shared";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all);
  EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("shared\\mine")), TPrivateFolder::ParentOpen);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  EXPECT_EQ(plat::MakePrivateDirectory(dir.Wide("shared\\mine")), TPrivateFolder::Ok);
  EXPECT_STREQ(plat::PrivateFolderProblem(TPrivateFolder::NotOwn), "owned by another user");
}

TEST(PlatLock, LockFilesAreMadeAnewAndNeverOpenedThroughALink) {
  namespace fs = std::filesystem;
  zmtest::TTempDir dir;
  plat::TFileHandle made = plat::OpenLockFile(dir.Wide("a.lock"), true);
  ASSERT_NE(made, plat::kInvalidFileHandle);
  EXPECT_EQ(Mode(dir.Path() / "a.lock"), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(plat::OpenLockFile(dir.Wide("a.lock"), true), plat::kInvalidFileHandle);  // there already
  plat::TFileHandle opened = plat::OpenLockFile(dir.Wide("a.lock"), false);
  ASSERT_NE(opened, plat::kInvalidFileHandle);
  EXPECT_TRUE(plat::LockFile(made, true, false));
  EXPECT_FALSE(plat::LockFile(opened, true, false));
  plat::CloseFile(opened);
  plat::CloseFile(made);

  const std::string target = dir.Write("precious", "keep");
  fs::create_symlink(target, dir.Path() / "b.lock");
  EXPECT_EQ(plat::OpenLockFile(dir.Wide("b.lock"), true), plat::kInvalidFileHandle);
  EXPECT_EQ(plat::OpenLockFile(dir.Wide("b.lock"), false), plat::kInvalidFileHandle);
  fs::create_symlink(dir.Path() / "gone", dir.Path() / "c.lock");  // a dangling one is not made through either
  EXPECT_EQ(plat::OpenLockFile(dir.Wide("c.lock"), true), plat::kInvalidFileHandle);
  EXPECT_FALSE(fs::exists(dir.Path() / "gone"));
  EXPECT_EQ(dir.Read("precious"), "keep");
  // Neither a folder nor a pipe without a writer (which must not hang).
  fs::create_directory(dir.Path() / "d.lock");
  EXPECT_EQ(plat::OpenLockFile(dir.Wide("d.lock"), false), plat::kInvalidFileHandle);
  ASSERT_EQ(std::system(("mkfifo '" + (dir.Path() / "e.lock").string() + "'").c_str()), 0);
  EXPECT_EQ(plat::OpenLockFile(dir.Wide("e.lock"), false), plat::kInvalidFileHandle);
  EXPECT_EQ(plat::OpenLockFile(u"", true), plat::kInvalidFileHandle);
}
