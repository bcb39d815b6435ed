// Buttons of two slides built at once on one host: the skin is loaded once
// and both get their faces.
#include <atomic>
#include <thread>
#include <vector>

#include "tests/OruLib2/OruClasses/OruButtonTestKit.h"

namespace {

using namespace oru_button_test;

class ButtonThreads : public ::testing::Test, public ButtonFixture {};

TEST_F(ButtonThreads, TwoSlidesLoadOneSkinAtOnce) {
  for (int round = 0; round < 4; ++round) {
    // A new host each round: the skin is not loaded yet when both threads ask.
    host = zm::MakeRef<TOruSlideHost>(accessor.get(), callbacks, u"pre\\", false);
    std::atomic<int> ready{0};
    std::atomic<int> faces{0};
    const auto build = [&] {
      ++ready;
      while (ready.load() < 2) std::this_thread::yield();
      TTestTree t = Build("Theme=btn\r\n");
      auto* b = dynamic_cast<TOruButton*>(t.Find("B"));
      if (!b) return;
      t.Layout(0);
      if (b->Picture && b->PictureWidth == 26 && b->PictureHeight == 6) ++faces;
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) threads.emplace_back(build);
    for (auto& th : threads) th.join();
    EXPECT_EQ(faces.load(), 2) << round;
    EXPECT_EQ(host->ButtonHost()->ProducerCount(), 1) << round;
  }
}

}  // namespace
