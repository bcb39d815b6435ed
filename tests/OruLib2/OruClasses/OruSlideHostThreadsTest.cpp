#include "OruLib2/OruClasses/OruSlideHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ZmLib/Graphics/zmGeneratorKeys.h"

using namespace zm;
using namespace oru;

namespace {

class THostThreadsSource : public TFileSource {
public:
  TStream* OpenFile(const WideString&) override { return nullptr; }
};

TSize HostThreadsBufferSize(void*, TOruSlideHost*) { return {8, 8}; }
TFloatPoint3 HostThreadsCamera(void*, TOruSlideHost*) { return {}; }
TOruSource* HostThreadsShow(void*, TOruSlideHost*) { return nullptr; }

WideString HostThreadsNumber(int n) {
  std::string s = std::to_string(n);
  return WideString(s.begin(), s.end());
}

}  // namespace

// Drawing and loading threads resolve pictures while other hosts come and go.
TEST(SlideHostThreads, ResolvingWhileHostsComeAndGo) {
  TRef<THostThreadsSource> source = MakeRef<THostThreadsSource>();
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  TOruHostCallbacks callbacks;
  callbacks.EffectBufferSize = {&HostThreadsBufferSize, nullptr};
  callbacks.Camera = {&HostThreadsCamera, nullptr};
  callbacks.ShowSource = {&HostThreadsShow, nullptr};
  TRef<TOruSlideHost> host = MakeRef<TOruSlideHost>(accessor.get(), callbacks, u"", false);

  std::atomic<int> missing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        const WideString size = HostThreadsNumber(4 + (i + t) % 7);
        if (!accessor->GetImage(u"TextWithSize:" + size + u", 5")) ++missing;
        TMaskParams mp;
        mp.Width = 4 + i % 5;
        mp.Height = 6;
        // Through the generators' hook: whichever host is newest answers.
        if (!ResolveGeneratedImage(MakeMaskKey(mp))) ++missing;
      }
    });
  for (int i = 0; i < 10; ++i) {
    TRef<TOruSlideHost> other = MakeRef<TOruSlideHost>(accessor.get(), callbacks, u"", false);
    other->ImageTasks()->AddTask(u"k", u"n", false, u"SlideEffectBuffer:1, 1, 1", nullptr, nullptr);
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(missing.load(), 0);
  host.reset();
  EXPECT_FALSE(ResolveGeneratedImage(u"TextWithSize:4, 4"));
}
