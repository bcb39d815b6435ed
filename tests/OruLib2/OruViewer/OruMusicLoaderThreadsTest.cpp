#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "OruLib2/OruViewer/OruMusicLoader.h"
#include "tests/OruLib2/OruViewer/OruMusicLoaderTestKit.h"

namespace oru {
namespace {

using namespace orutest;
using zm::MakeRef;
using zm::TRef;

bool WaitForLoader(const std::function<bool()>& pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

// The test thread plays the music player's part: it asks for channels,
// cancels some on the way, starts and stops the answered ones and releases
// them all. Every audio channel is made and destroyed on the loader's thread.
TEST(MusicLoaderThreads, ChannelsOpenAndEndOnTheLoaderWhateverThePlayerDoes) {
  auto player = MakeRef<TFakePlayer>();
  auto events = MakeRef<TPlayerEvents>();
  auto op = MakeRef<TChannelOperator>();
  TRef<TFileAccessor> show = MemoryShow({});
  auto loader = MakeRef<TMusicLoader>(show.get(), events.get(), player.get());
  ASSERT_TRUE(loader->Start());

  constexpr int kChannels = 300;
  std::vector<TRef<TOruChannel>> mine;
  for (int i = 0; i < kChannels; ++i) {
    TRef<TOruChannel> c = NewChannel(i, i % 7 == 0 ? u"missing.wav" : u"t.wav", 0, 0, 100000, op.get());
    loader->OpenRequest(c.get());
    if (i % 3 == 0) {
      // Given up at once: the loader may or may not have opened it yet.
      c->Cancel();
      loader->Release(std::move(c));
    } else {
      mine.push_back(std::move(c));
    }
  }
  ASSERT_TRUE(events->WaitForAnswers(kChannels));
  int sounding = 0;
  for (auto& c : events->Answers) {
    c->Loaded = true;
    c->Start();
  }
  op->PlayPending();
  // The player's items keep their own references.
  events->Answers.clear();
  for (auto& c : mine) {
    if (c->Playing && c->AudioChannel) ++sounding;
    c->Stop();
    loader->Release(std::move(c));
  }
  mine.clear();
  EXPECT_GT(sounding, 0);
  // Any answer of a cancelled channel went back to the loader.
  events->ProcessEvents();

  TChannelRecord& r = *player->Record;
  EXPECT_TRUE(WaitForLoader([&] {
    std::lock_guard<std::mutex> g(r.m);
    return r.disposed == r.created;
  }));
  {
    std::lock_guard<std::mutex> g(r.m);
    EXPECT_GE(r.created, sounding);
    EXPECT_EQ(r.plays, sounding);
    EXPECT_EQ(r.stops, sounding);
    EXPECT_EQ(r.disposedOffThread, 0);
  }
  EXPECT_TRUE(loader->Stop());
}

// The loader is stopped with requests and answers still queued both ways:
// nothing hangs and nothing is left behind (the sanitizer checks the leaks).
TEST(MusicLoaderThreads, StoppingWithRequestsInFlight) {
  auto player = MakeRef<TFakePlayer>();
  auto events = MakeRef<TPlayerEvents>();
  TRef<TFileAccessor> show = MemoryShow({});
  auto loader = MakeRef<TMusicLoader>(show.get(), events.get(), player.get());
  ASSERT_TRUE(loader->Start());
  for (int i = 0; i < 200; ++i) {
    TRef<TOruChannel> c = NewChannel(i, u"t.wav");
    loader->OpenRequest(c.get());
    if (i % 2) loader->Release(std::move(c));
  }
  ASSERT_TRUE(events->WaitForAnswers(1));
  EXPECT_TRUE(loader->Stop());
  // Requests after the stop are dropped, not queued for ever.
  TRef<TOruChannel> late = NewChannel(1000, u"t.wav");
  loader->OpenRequest(late.get());
  loader->Release(std::move(late));
  events->Close();
  events->Answers.clear();
  loader = nullptr;
  TChannelRecord& r = *player->Record;
  std::lock_guard<std::mutex> g(r.m);
  EXPECT_EQ(r.disposed, r.created);
}

}  // namespace
}  // namespace oru
