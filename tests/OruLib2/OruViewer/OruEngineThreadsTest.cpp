#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruViewer/OruEngine.h"
#include "ZmLib/zmLog.h"
#include "tests/support/kit/IniText.h"

using namespace zm;
using namespace oru;

namespace {

class TEttList : public TRefObject {
public:
  std::vector<TOruPreparedSlide> Slides;
};

class TEttSlide : public TRefObject {};

// A read that does not return until the test lets it (a stalled network
// mount): the thread in it does not see a request to stop.
struct TEttStall {
  std::mutex lock;
  std::condition_variable cv;
  bool entered = false;
  bool released = false;
  void Enter() {
    std::unique_lock<std::mutex> l(lock);
    entered = true;
    cv.notify_all();
    cv.wait(l, [this] { return released; });
  }
  void WaitEntered() {
    std::unique_lock<std::mutex> l(lock);
    cv.wait(l, [this] { return entered; });
  }
  void Release() {
    std::lock_guard<std::mutex> l(lock);
    released = true;
    cv.notify_all();
  }
};

// Like the player's loader: its own thread hands every list over with a
// send that waits until the engine took it.
class TEttLoader : public TOruEngineLoader {
public:
  TEttLoader(TOruSource* source, TThreadEventList* queue, std::int32_t eventId, std::shared_ptr<TEttStall> stall)
      : source_(source), queue_(queue), eventId_(eventId), stall_(std::move(stall)) {}
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  void Dispose() override {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    TOruEngineLoader::Dispose();
  }
  bool Start() override {
    if (thread_.joinable()) return false;
    finished_.store(false);
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  bool Running() override { return thread_.joinable() && !finished_.load(); }
  void Terminate() override { stop_.store(true); }
  double CurrentTime() override { return current_.load(); }
  void SetCurrentTime(double time) override { current_.store(time); }
  double RequestedTime() override { return requested_.load(); }
  void SetRequestedTime(double time) override { requested_.store(time); }
  std::int32_t Width() override { return 64; }
  std::int32_t Height() override { return 48; }
  std::int32_t WindowKind() override { return 2; }
  void SetSize(std::int32_t, std::int32_t) override {}
  void Layout(bool) override {}
  TRect ViewRect() override { return TRect{0, 0, 64, 48}; }
  std::int32_t Capacity() override { return 3; }
  void SetPreloadCallback(std::function<void(TRefObject*)> callback) override { preload_ = std::move(callback); }
  bool TakeList(TRefObject* data, std::vector<TOruPreparedSlide>& slides) override {
    auto* l = dynamic_cast<TEttList*>(data);
    if (!l) return false;
    slides = l->Slides;
    return true;
  }
  void PrepareSlide(TRefObject*, TDeviceDrawer*) override {}
  void StartSlide(TRefObject*, double) override {}
  void ReleaseSlide(TRefObject*, TDeviceDrawer*) override {}
  bool HitSlide(TRefObject*, const TMouseData&, double, WideString&, TOruActionInfo&) override { return false; }

private:
  void Run() {
    if (stall_) stall_->Enter();
    while (!stop_.load()) {
      TRef<TEttList> list = MakeRef<TEttList>();
      const std::int32_t first = source_->SlideAtTime(current_.load());
      for (std::int32_t i = first; i < first + 3; ++i) {
        TOruPreparedSlide s;
        s.Container = MakeRef<TEttSlide>();
        if (preload_) preload_(s.Container.get());
        s.Index = i;
        source_->GetSlideSpan(i, s.Times);
        list->Slides.push_back(s);
      }
      queue_->SendWait(eventId_, list.get());
    }
    finished_.store(true);
  }

  TOruSource* source_;
  TThreadEventList* queue_;
  std::int32_t eventId_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{true};
  std::atomic<double> current_{0};
  std::atomic<double> requested_{0};
  std::function<void(TRefObject*)> preload_;
  std::shared_ptr<TEttStall> stall_;
};

class TEttRoot : public TOruEngineRoot {
public:
  bool Update(const std::vector<TOruPreparedSlide>&) override { return true; }
  bool Draw(TOruDrawController*, const TRect&, std::uint32_t, double) override { return true; }
  TRefObject* Render(TOruDrawController*, const TRect&, std::uint32_t, double) override { return nullptr; }
};

class TEttParts : public TOruShowParts {
public:
  TRef<TOruEngineLoader> MakeLoader(TOruSource* source, std::int32_t, std::int32_t, std::int32_t,
                                    TThreadEventList* listener, std::int32_t eventId) override {
    loaders.fetch_add(1);
    TRef<TEttLoader> loader = MakeRef<TEttLoader>(source, listener, eventId, stall);
    last = loader;
    return loader;
  }
  TRef<TOruEngineRoot> MakeRoot() override { return MakeRef<TEttRoot>(); }
  std::atomic<int> loaders{0};
  std::shared_ptr<TEttStall> stall;  // given to the loaders made from then on
  TRef<TEttLoader> last;
};

class TEttLog : public TLog {
public:
  void WriteText(const WideString& line) override {
    std::lock_guard<std::mutex> g(lock);
    lines.push_back(line);
  }
  int Count(const WideString& text) {
    std::lock_guard<std::mutex> g(lock);
    return int(std::count_if(lines.begin(), lines.end(), [&](const WideString& l) { return l.find(text) != l.npos; }));
  }
  std::mutex lock;
  std::vector<WideString> lines;
};

// The listener's queue wakes the test thread, which drains it.
class TEttListener : public TThreadEventList {
public:
  void WakeOwner(std::int32_t) override {
    std::lock_guard<std::mutex> g(lock);
    ++wakes;
    cv.notify_all();
  }
  // Drains until Done holds. The time-out only ends a hang: a loaded
  // machine may take long for what the engine does in a few milliseconds.
  template <class F>
  bool DrainUntil(F done, int timeoutMs = 100000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      ProcessEvents();
      if (done()) return true;
      std::unique_lock<std::mutex> l(lock);
      const int seen = wakes;
      if (!cv.wait_until(l, deadline, [&] { return wakes != seen; })) return false;
    }
  }
  std::mutex lock;
  std::condition_variable cv;
  int wakes = 0;
};

std::string Show(const char* repeat) {
  TIniText t;
  t.Section("main").Key("opt_repeat", repeat).Key("opt_pausewheninactive", 0);
  t.Section("Times").Key("opt_slidescount", 3).Key("opt_synchpos1", 400).Key("opt_synchpos2", 800).Key(
      "opt_synchpos3", 1200);
  // Each slide has its section, as in every saved show (the music reads them).
  for (int i = 1; i <= 3; ++i) t.Section("Slide" + std::to_string(i));
  return t.Bytes(false);
}

TRef<TIniFile> Doc(const std::string& text) {
  TRef<TIniFile> f = MakeRef<TIniFile>();
  f->LoadFromText(TByteString(text));
  return f;
}

TRef<TFileAccessor> Accessor() { return MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get()); }

TEST(OruEngineThreadsTest, OpensAndMovesWhileTheLoaderWaitsInSendsThenStopsWithinTheWait) {
  auto listener = MakeRef<TEttListener>();
  auto parts = MakeRef<TEttParts>();
  auto device = MakeRef<TDrawDevice>(nullptr);
  device->SetBounds(TRect{0, 0, 64, 48}, TPoint{}, false);
  auto engine = MakeRef<TOruEngine>(device.get(), 0, true, false, listener.get(), TRef<TOruShowParts>(parts.get()));
  std::atomic<std::int32_t> lastTime{-1};
  std::atomic<int> ended{0};
  engine->OnPosition = [&](TCustomOruEngine*, std::int32_t time, bool end, std::int32_t) {
    lastTime.store(time);
    if (end) ended.fetch_add(1);
  };
  // The first show opens before the thread runs, as the viewer does it.
  ASSERT_TRUE(engine->OpenShow(Accessor().get(), Doc(Show("repeat")).get(), 0));
  ASSERT_TRUE(engine->Start());
  engine->RequestPause(false);
  ASSERT_TRUE(listener->DrainUntil([&] { return lastTime.load() > 100; }));

  // Opens replace the loader, whose thread is blocked in a send to the
  // engine meanwhile; the last request wins.
  for (int i = 0; i < 5; ++i) engine->RequestOpen(Accessor().get(), Doc(Show("close")).get(), 300, false);
  const std::int32_t g = engine->RequestPosition(1000, false);
  ASSERT_TRUE(listener->DrainUntil([&] { return ended.load() == 1; }));
  EXPECT_EQ(engine->PlayingGeneration(), g);
  EXPECT_GE(parts->loaders.load(), 2);

  // Stopped before the wait is over, however loaded the machine.
  EXPECT_TRUE(engine->Stop(60000));
  EXPECT_EQ(engine->Loader(), nullptr);
  engine = nullptr;
  listener->ProcessEvents();
}

TEST(OruEngineThreadsTest, StopWhileAnOpenIsQueuedAndNeverStarted) {
  auto listener = MakeRef<TEttListener>();
  auto parts = MakeRef<TEttParts>();
  auto engine = MakeRef<TOruEngine>(nullptr, 0, true, false, listener.get(), TRef<TOruShowParts>(parts.get()));
  engine->RequestOpen(Accessor().get(), Doc(Show("repeat")).get(), 0, false);
  EXPECT_TRUE(engine->Stop(1000));  // never started: the queued open goes with the queue
  // A direct open after the stop still leaves nothing behind.
  ASSERT_TRUE(engine->OpenShow(Accessor().get(), Doc(Show("repeat")).get(), 0));
  EXPECT_NE(engine->Loader(), nullptr);
  engine = nullptr;
}

// A loader held in a read that never returns cannot end: stopping the show
// gives up on it after the wait, says so once and leaves it to itself,
// instead of waiting for good.
TEST(OruEngineThreadsTest, StopGivesUpOnALoaderHeldInAReadThatNeverReturns) {
  auto log = MakeRef<TEttLog>();
  log->AddRef();
  SetLog(log.get());
  auto listener = MakeRef<TEttListener>();
  auto parts = MakeRef<TEttParts>();
  parts->stall = std::make_shared<TEttStall>();
  auto engine = MakeRef<TOruEngine>(nullptr, 0, true, false, listener.get(), TRef<TOruShowParts>(parts.get()));
  ASSERT_TRUE(engine->OpenShow(Accessor().get(), Doc(Show("repeat")).get(), 0));
  ASSERT_TRUE(engine->Start());
  parts->stall->WaitEntered();

  EXPECT_TRUE(engine->Stop(60000));
  EXPECT_EQ(engine->Loader(), nullptr);
  EXPECT_EQ(log->Count(u"TOruEngine.StopLoader: the loader did not stop"), 1);
  engine = nullptr;
  listener->ProcessEvents();
  SetLog(nullptr);

  // Left running, it is kept for the program's end, which does not go on
  // while it runs.
  EXPECT_FALSE(zm::LeftRunningEnded(0));
  // The read returns at last: the loader sees the stop and ends, and the
  // program's wait lets it go.
  parts->stall->Release();
  TRef<TEttLoader> loader = std::move(parts->last);
  EXPECT_TRUE(zm::LeftRunningEnded(60000));
  EXPECT_FALSE(loader->Running());
  loader->Join();
}

}  // namespace
