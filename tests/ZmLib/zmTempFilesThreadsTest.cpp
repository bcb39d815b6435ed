#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "Platform/PlatFiles.h"
#include "ZmLib/zmTempFiles.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

using namespace zm;

TEST(TempFilesThreads, FoldersMadeByManyThreadsAreDistinctAndAllRemoved) {
  constexpr int kThreads = 6, kEach = 5;
  zmtest::TTempDir dir;
  zmtest::TEnvGuard env("TMPDIR", dir.Path().c_str());
  Cleanup();
  std::mutex m;
  std::set<WideString> made;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        WideString f = CreateTempFolder(false);
        std::lock_guard<std::mutex> g(m);
        made.insert(f);
      }
    });
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(made.size(), std::size_t(kThreads * kEach));
  for (const WideString& f : made) EXPECT_TRUE(std::filesystem::is_directory(plat::NativePath(f)));
  Cleanup();
  for (const WideString& f : made) {
    EXPECT_FALSE(std::filesystem::exists(plat::NativePath(f)));
    EXPECT_FALSE(std::filesystem::exists(plat::NativePath(f + u".lock")));
  }
}
