// The bitmap of what objects above paint over: against a plain grid, with
// rectangles across its bounds, beyond them, empty and turned, word edges
// anywhere, asked again after more is marked, and cleared.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "OruLib2/OruClasses/OruCoverMap.h"

namespace {

TEST(OruCoverMap, CoversWhatWasMarkedInsideItsBounds) {
  std::mt19937 rng(5);
  const zm::TRect bounds{-37, -5, 150, 70};
  std::uniform_int_distribution<int> x(-60, 170), y(-20, 90);
  for (int round = 0; round < 6; ++round) {
    oru::TCoverMap map(bounds);
    std::vector<char> grid(std::size_t(187 * 75), 0);
    const auto cell = [&](int px, int py) -> char& { return grid[std::size_t((py + 5) * 187 + (px + 37))]; };
    const auto covered = [&](const zm::TRect& r) {
      if (r.Right <= r.Left || r.Bottom <= r.Top) return true;
      if (r.Left < bounds.Left || r.Top < bounds.Top || r.Right > bounds.Right || r.Bottom > bounds.Bottom)
        return false;
      for (int py = r.Top; py < r.Bottom; ++py)
        for (int px = r.Left; px < r.Right; ++px)
          if (!cell(px, py)) return false;
      return true;
    };
    std::vector<zm::TRect> asked;
    for (int step = 0; step < 60; ++step) {
      const zm::TRect m{x(rng), y(rng), x(rng), y(rng)};  // turned ones mark nothing
      map.Mark(m);
      for (int py = std::max(m.Top, bounds.Top); py < std::min(m.Bottom, bounds.Bottom); ++py)
        for (int px = std::max(m.Left, bounds.Left); px < std::min(m.Right, bounds.Right); ++px) cell(px, py) = 1;
      // New rectangles, small ones inside what was marked, and the ones
      // asked before (answered again after the marks).
      for (int q = 0; q < 20; ++q) {
        zm::TRect r{x(rng), y(rng), 0, 0};
        r.Right = r.Left + int(rng() % 70);
        r.Bottom = r.Top + int(rng() % 40);
        if (q % 4 == 0 && m.Right > m.Left && m.Bottom > m.Top)
          r = {m.Left + int(rng() % 3), m.Top + int(rng() % 3), m.Right - int(rng() % 3), m.Bottom - int(rng() % 3)};
        asked.push_back(r);
      }
      for (const zm::TRect& r : asked)
        ASSERT_EQ(map.Covers(r), covered(r)) << "round " << round << " step " << step << ": " << r.Left << ","
                                             << r.Top << "," << r.Right << "," << r.Bottom;
    }
    map.Clear();
    for (const zm::TRect& r : asked)
      EXPECT_EQ(map.Covers(r), r.Right <= r.Left || r.Bottom <= r.Top);
  }
  // Empty bounds cover nothing but the empty rectangle.
  oru::TCoverMap none(zm::TRect{4, 4, 4, 9});
  none.Mark({0, 0, 10, 10});
  EXPECT_FALSE(none.Covers({4, 4, 5, 5}));
  EXPECT_TRUE(none.Covers({4, 4, 4, 4}));
}

}  // namespace
