#include "ZmLib/zmTempFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/PlatFiles.h"
#include "Platform/PlatLock.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmLog.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/FileAPISwap.h"
#include "tests/support/TempDir.h"

using namespace zm;
using zmtest::TFileAPISwap;
namespace fs = std::filesystem;

namespace {

// Points the temporary folder at a fresh test folder and leaves the
// manager without state before and after.
class TempFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    env_.Set("TMPDIR", dir_.Path().string());
    env_.Set("XDG_RUNTIME_DIR", dir_.Path().string());
    Cleanup();
  }
  void TearDown() override {
    Cleanup();
    plat::SetProcessUserIdForTest(-1);
  }
  fs::path Root() const { return dir_.Path() / "TAVREL_TEMP_ROOT"; }
  static fs::path Native(const WideString& p) { return fs::path(plat::NativePath(p)); }
  // True when some open holds the lock file's lock.
  static bool LockHeld(const fs::path& lockFile) {
    plat::TFileHandle h = plat::OpenFile(plat::FromNativePath(lockFile.string()), plat::kGenericRead,
                                         plat::kOpenExisting);
    if (h == plat::kInvalidFileHandle) return false;
    bool held = !plat::LockFile(h, true, false);
    plat::CloseFile(h);
    return held;
  }
  zmtest::TTempDir dir_;
  zmtest::TEnvGuard env_;
};

// The log's lines while it lives.
class TLogCapture {
public:
  TLogCapture() {
    log_->AddRef();  // the reference the installed log holds
    SetLog(log_.get());
  }
  ~TLogCapture() { SetLog(nullptr); }
  bool Has(const std::string& fragment) { return log_->Has(fragment); }

private:
  class TLines : public TLog {
  public:
    void WriteText(const WideString& line) override {
      std::lock_guard<std::mutex> g(m_);
      lines_.push_back(plat::ToUtf8(line));
    }
    bool Has(const std::string& fragment) {
      std::lock_guard<std::mutex> g(m_);
      for (const std::string& l : lines_)
        if (l.find(fragment) != std::string::npos) return true;
      return false;
    }

  private:
    std::mutex m_;
    std::vector<std::string> lines_;
  };
  TRef<TLines> log_ = MakeRef<TLines>();
};

// A file API whose folder calls fail for names holding a marker.
class TRefusingFileAPI : public TFileAPI {
public:
  WideString RefuseRemove;  // RemoveDir fails for names containing it
  bool RefuseCreate = false;
  bool RemoveDir(const WideString& name) override {
    if (!RefuseRemove.empty() && name.find(RefuseRemove) != WideString::npos) return false;
    return TFileAPI::RemoveDir(name);
  }
  bool CreateDir(const WideString& name, const void* security) override {
    if (RefuseCreate) return false;
    return TFileAPI::CreateDir(name, security);
  }
};

}  // namespace

TEST_F(TempFilesTest, FoldersOfThisProcessAreLockedAndRemovedAtTheEnd) {
  WideString root = GetTempRoot();
  EXPECT_EQ(root, dir_.Wide("TAVREL_TEMP_ROOT\\"));
  WideString a = CreateTempFolder(true);
  WideString b = CreateTempFolder(false);
  EXPECT_EQ(a.compare(0, root.size(), root), 0);
  EXPECT_NE(ExcludeTrailingBackslash(a), b);
  for (const WideString& f : {ExcludeTrailingBackslash(a), b}) {
    EXPECT_TRUE(fs::is_directory(Native(f)));
    EXPECT_TRUE(LockHeld(Native(f + u".lock")));
  }
  dir_.Write(plat::NativePath(b.substr(dir_.Wide().size() + 1)) + "/sub/lib.so", "bytes");
  Cleanup();
  EXPECT_TRUE(fs::is_empty(Root()));
  // the manager starts afresh
  EXPECT_TRUE(fs::is_directory(Native(CreateTempFolder(false))));
}

TEST_F(TempFilesTest, StaleFoldersGoLiveOnesStay) {
  fs::create_directories(Root());
  // left by a process that was killed: folder, files and lock file
  dir_.Write("TAVREL_TEMP_ROOT/[dead]/a/b.bin", "x");
  dir_.Write("TAVREL_TEMP_ROOT/[dead].lock", "");
  // a lock file whose folder is already gone
  dir_.Write("TAVREL_TEMP_ROOT/[gone].lock", "");
  // a running process: its lock file is open and locked
  dir_.Write("TAVREL_TEMP_ROOT/[live]/in-use.bin", "y");
  dir_.Write("TAVREL_TEMP_ROOT/[live].lock", "");
  plat::TFileHandle live = plat::OpenFile(dir_.Wide("TAVREL_TEMP_ROOT\\[live].lock"),
                                          plat::kGenericRead | plat::kGenericWrite, plat::kOpenExisting);
  ASSERT_NE(live, plat::kInvalidFileHandle);
  ASSERT_TRUE(plat::LockFile(live, true, false));
  // not the manager's: no lock file, or a folder that only looks like one
  dir_.Write("TAVREL_TEMP_ROOT/[nolock]/z", "z");
  fs::create_directories(Root() / "odd.lock");
  GetTempRoot();
  for (const char* gone : {"[dead]", "[dead].lock", "[gone].lock"}) EXPECT_FALSE(fs::exists(Root() / gone)) << gone;
  for (const char* kept : {"[live]/in-use.bin", "[live].lock", "[nolock]/z", "odd.lock"})
    EXPECT_TRUE(fs::exists(Root() / kept)) << kept;
  // once that process has ended, the next one removes its folder
  plat::CloseFile(live);
  RemoveStaleTempFolders(dir_.Wide("TAVREL_TEMP_ROOT"));
  EXPECT_FALSE(fs::exists(Root() / "[live]"));
  EXPECT_FALSE(fs::exists(Root() / "[live].lock"));
  // What the next process does when it starts: its own open of our lock
  // file cannot take the lock, so nothing of ours is touched.
  WideString mine = CreateTempFolder(false);
  RemoveStaleTempFolders(GetTempRoot());
  EXPECT_TRUE(fs::is_directory(Native(mine)));
  EXPECT_TRUE(LockHeld(Native(mine + u".lock")));
}

TEST_F(TempFilesTest, AFolderThatCannotBeRemovedKeepsALockFile) {
  fs::create_directories(Root());
  dir_.Write("TAVREL_TEMP_ROOT/[stuck]/f", "f");
  dir_.Write("TAVREL_TEMP_ROOT/[stuck].lock", "old content");
  auto api = MakeRef<TRefusingFileAPI>();
  api->RefuseRemove = u"[stuck]";
  {
    TFileAPISwap swap(api);
    GetTempRoot();
    EXPECT_TRUE(fs::is_directory(Root() / "[stuck]"));
    // made again, empty, and not held
    EXPECT_EQ(fs::file_size(Root() / "[stuck].lock"), 0u);
    EXPECT_FALSE(LockHeld(Root() / "[stuck].lock"));
    // the same at the end of this process
    WideString own = CreateTempFolder(false);
    api->RefuseRemove = own.substr(own.rfind(u'\\') + 1);
    Cleanup();
    EXPECT_TRUE(fs::is_directory(Native(own)));
    EXPECT_FALSE(LockHeld(Native(own + u".lock")));
  }
  // a later process removes both
  RemoveStaleTempFolders(dir_.Wide("TAVREL_TEMP_ROOT"));
  EXPECT_TRUE(fs::is_empty(Root()));
}

TEST_F(TempFilesTest, RootProblems) {
  // a file where the root should be
  dir_.Write("TAVREL_TEMP_ROOT", "not a folder");
  try {
    GetTempRoot();
    FAIL() << "no assertion";
  } catch (const EAbort& e) {
    EXPECT_NE(e.Message().find("VendorTemp Create Error: " + plat::ToUtf8(dir_.Wide("TAVREL_TEMP_ROOT\\"))),
              std::string::npos);
  }
  EXPECT_THROW(CreateTempFolder(false), EAbort);
  fs::remove(Root());
  EXPECT_EQ(GetTempRoot(), dir_.Wide("TAVREL_TEMP_ROOT\\"));  // made now
  fs::remove_all(Root());                                     // removed while in use: made again
  EXPECT_TRUE(fs::is_directory(Native(CreateTempFolder(false))));
}

TEST_F(TempFilesTest, ALinkInPlaceOfTheRootIsNotFollowedAndRefusedFolders) {
  // someone else's folder that happens to hold a lock file and its folder
  dir_.Write("elsewhere/x/keep.txt", "k");
  dir_.Write("elsewhere/x.lock", "");
  fs::create_directory_symlink(dir_.Path() / "elsewhere", Root());
  EXPECT_THROW(GetTempRoot(), EAbort);
  EXPECT_THROW(CreateTempFolder(false), EAbort);
  EXPECT_TRUE(fs::exists(dir_.Path() / "elsewhere" / "x" / "keep.txt"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path() / "elsewhere"), fs::directory_iterator()), 2);
  fs::remove(Root());
  // No folder can be made at all.
  GetTempRoot();
  auto api = MakeRef<TRefusingFileAPI>();
  api->RefuseCreate = true;
  TFileAPISwap swap(api);
  EXPECT_THROW(CreateTempFolder(false), EFileAccessError);
  EXPECT_TRUE(fs::is_empty(Root()));
}

TEST_F(TempFilesTest, OneRootPerUserClosedToOthersAndNothingLeftAtTheEnd) {
  // Without a runtime folder: the user's own in the temporary folder.
  ::unsetenv("XDG_RUNTIME_DIR");
  const std::string name = "TAVREL_TEMP_ROOT-" + std::to_string(plat::ProcessUserId());
  EXPECT_EQ(GetTempRoot(), dir_.Wide(name + "\\"));
  const fs::path root = dir_.Path() / name;
  EXPECT_EQ(fs::status(root).permissions() & fs::perms::mask, fs::perms::owner_all);
  // A folder removed before the end (as the plug-ins' was) leaves no lock
  // file behind, nor does one still in use.
  WideString gone = CreateTempFolder(false);
  WideString kept = CreateTempFolder(false);
  dir_.Write(plat::NativePath(kept.substr(dir_.Wide().size() + 1)) + "/lib.so", "x");
  ASSERT_TRUE(DeleteDirectory(gone));
  Cleanup();
  EXPECT_TRUE(fs::is_empty(root));
}

TEST_F(TempFilesTest, ARootOthersMayWriteToOrOfAnotherUserIsRefusedAndLeftAlone) {
  TLogCapture log;
  fs::create_directories(Root() / "[theirs]");
  dir_.Write("TAVREL_TEMP_ROOT/[theirs].lock", "");  // not held: it would be removed as stale
  fs::permissions(Root(), fs::perms::all);
  try {
    GetTempRoot();
    FAIL() << "no assertion";
  } catch (const EAbort& e) {
    EXPECT_NE(e.Message().find("VendorTemp Create Error: "), std::string::npos);
  }
  EXPECT_TRUE(log.Has("Temporary folder refused: " + plat::ToUtf8(dir_.Wide("TAVREL_TEMP_ROOT\\")) +
                      " (others may write to it)"));
  EXPECT_THROW(CreateTempFolder(false), EAbort);
  EXPECT_TRUE(fs::exists(Root() / "[theirs].lock"));

  fs::permissions(Root(), fs::perms::owner_all);
  plat::SetProcessUserIdForTest(plat::ProcessUserId() + 1);
  EXPECT_THROW(GetTempRoot(), EAbort);
  EXPECT_TRUE(log.Has("(owned by another user)"));
  EXPECT_TRUE(fs::exists(Root() / "[theirs].lock"));
  plat::SetProcessUserIdForTest(-1);
  // Once it is the user's own and closed, it is used.
  EXPECT_EQ(GetTempRoot(), dir_.Wide("TAVREL_TEMP_ROOT\\"));
  EXPECT_FALSE(fs::exists(Root() / "[theirs].lock"));
}
