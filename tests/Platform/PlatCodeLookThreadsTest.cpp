// The look for code a show carries runs on a worker of its own while the
// window's thread may stop it: looks of one folder at once share what
// packed files held, a stop from another thread ends a look at its next
// step, and what a stopped look did not judge is never kept.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatArchivePeek.h"
#include "Platform/PlatProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/PackedWriter.h"

TEST(CodeLookThreads, LooksAtOnceAndAStopFromAnotherThread) {
  zmtest::TTempDir dir;
  // Packed files of distinct content, each some work to unpack.
  for (int i = 0; i < 8; ++i)
    dir.Write("show/data/" + std::to_string(i) + ".tgz",
              zmtest::Gzipped(zmtest::Tarred({{"zeros.bin", std::string(2 << 20, '\0')}, {"n.txt", std::to_string(i)}})));
  dir.Write("show/Project.oru", "[Main]\n");
  const std::string folder = (dir.Path() / "show").string();

  // A look stopped from another thread while it runs, then looks side by side.
  plat::TLookBudget stopped(60000);
  plat::TCodeLook cut;
  cut.Budget = &stopped;
  std::atomic<bool> started{false};
  plat::TCodeSearch early;
  std::thread first([&] {
    started = true;
    early = plat::FindCodeInFolder(folder, cut);
  });
  while (!started) std::this_thread::yield();
  stopped.Stop();
  first.join();
  // Stopped before it ended, or ended first: either way nothing is wrong.
  if (!early.Found.empty()) {
    EXPECT_TRUE(early.Cut);
    EXPECT_EQ(early.Reason, plat::kLookStopped);
  }

  std::vector<plat::TCodeSearch> found(3);
  std::vector<std::thread> lookers;
  for (std::size_t i = 0; i < found.size(); ++i)
    lookers.emplace_back([&, i] { found[i] = plat::FindCodeInFolder(folder, plat::TCodeLook()); });
  for (std::thread& t : lookers) t.join();
  for (const plat::TCodeSearch& f : found) {
    EXPECT_EQ(f.Found, "");
    EXPECT_TRUE(f.Complete);
  }
  // Each content was unpacked at most once more after those looks: kept.
  const std::uint64_t before = plat::PackedDataUnpacked();
  EXPECT_EQ(plat::FindCodeInFolder(folder, plat::TCodeLook()).Found, "");
  EXPECT_EQ(plat::PackedDataUnpacked(), before);
}
