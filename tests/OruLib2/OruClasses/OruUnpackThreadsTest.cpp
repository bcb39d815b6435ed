// Several threads read entries of one container at once, each through its
// own file handle and streams: different entries and the same entry.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruUnpack.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using zmtest::TShowContainerWriter;

namespace {

std::string Content(std::size_t n, unsigned seed) {
  std::string s;
  s.reserve(n + 32);
  for (std::size_t i = 0; s.size() < n; ++i) s += std::to_string((i * 2654435761u + seed) % 100003) + ";";
  s.resize(n);
  return s;
}

}  // namespace

TEST(OruUnpackThreads, EntriesReadAtOnceThroughOwnHandles) {
  struct TEntry {
    const char16_t* Name;
    std::string Data;
  };
  const std::vector<TEntry> entries = {
      {u"stored.bin", Content(150000, 1)},
      {u"Project.oru", Content(150000, 2)},
      {u"pics\\[a].jpg", Content(150000, 3)},
      {u"shared.mp3", Content(100000, 4)},
  };
  TShowContainerWriter w;
  w.Prefix = "program bytes";
  w.TrailerForm = 2;
  w.Add("stored.bin", entries[0].Data, zmtest::kStored);
  w.Add("Project.oru", entries[1].Data, zmtest::kDeflated);
  w.Add("pics\\[a].jpg", entries[2].Data, zmtest::kEnciphered);
  w.Add("shared.mp3", entries[3].Data, zmtest::kEnciphered);
  zmtest::TTempDir dir;
  w.WriteFile((dir.Path() / "show.orushow").string());
  TRef<TOruUnpack> unpack = MakeRef<TOruUnpack>(dir.Wide("show.orushow"));
  ASSERT_TRUE(unpack->HasShow());

  constexpr int kThreads = 8;
  constexpr int kRounds = 3;
  std::atomic<int> good{0};
  std::atomic<int> bad{0};
  std::latch start(kThreads);
  auto read = [&](const TEntry& e, std::int32_t piece) {
    std::int64_t pos, size;
    std::uint8_t method;
    if (!unpack->FindEntry(e.Name, pos, method, size)) return false;
    TRef<TStream> s =
        TOruUnpack::OpenEntryStream(unpack->OpenContainerFile().Detach(), method, true, unpack->Key(), pos, size);
    return zmtest::ReadAllBytes(s.get(), piece) == e.Data;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      try {
        for (int r = 0; r < kRounds; ++r) {
          // Its own entry (three threads share each), then the one all read.
          (read(entries[static_cast<std::size_t>(t % 3)], 1000 + 977 * t) ? good : bad)++;
          (read(entries[3], 4096 + 13 * t) ? good : bad)++;
        }
      } catch (const std::exception&) {
        bad++;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(good.load(), kThreads * kRounds * 2);
}
