#include <gtest/gtest.h>

#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "ZmLib/Music/zmMpegConverter.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"

using namespace zm;

namespace convthreads_test {

using namespace zmtest;

// Makes its own converter (taking or making the shared decoder), decodes the
// whole file and lets the converter go again.
std::vector<std::uint8_t> DecodeFile(const TMediaDir& dir, const std::string& name) {
  TTestStream s = OpenMediaFile(dir, name);
  if (!s) return {};
  TMediaInfo info{};
  TMpegInfo mp;
  if (!mp.Read(s.get(), info)) return {};
  auto c = MakeRef<TMpegConverter>();
  c->Stream = s.get();
  if (!c->SetInputFormat(info)) return {};
  while (c->ReadInput()) {
    if (!c->Convert(c->Input())) break;
  }
  return std::vector<std::uint8_t>(c->Output().Data(), c->Output().Data() + c->Output().Length());
}

}  // namespace convthreads_test

using namespace convthreads_test;

TEST(ConvertersThreads, MpegConvertersDecodeAtOnce) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  TMediaDir dir;
  const std::string names[] = {"a.mp3", "b.mp3"};
  ASSERT_EQ(RunTool("ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=44100:"
                    "duration=2 -ac 2 -c:a libmp3lame -b:a 128k " +
                    ShellQuote((dir.Path() / names[0]).string())),
            0);
  ASSERT_EQ(RunTool("ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=1000:sample_rate=22050:"
                    "duration=2 -ac 1 -c:a libmp3lame -q:a 5 " +
                    ShellQuote((dir.Path() / names[1]).string())),
            0);
  const std::vector<std::uint8_t> expected[] = {DecodeFile(dir, names[0]), DecodeFile(dir, names[1])};
  ASSERT_GT(expected[0].size(), 100000u);
  ASSERT_GT(expected[1].size(), 50000u);

  constexpr int kThreads = 6;
  for (int round = 0; round < 2; ++round) {
    std::vector<std::vector<std::uint8_t>> got(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        got[std::size_t(t)] = DecodeFile(dir, names[t % 2]);
      });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(got[std::size_t(t)] == expected[t % 2]) << t;
    // Every converter is gone, and the shared decoder with them.
    EXPECT_EQ(TMpg123::Instance(), nullptr);
  }
}
