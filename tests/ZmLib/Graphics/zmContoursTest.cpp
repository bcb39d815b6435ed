#include "ZmLib/Graphics/zmContours.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/kit/StreamBytes.h"

using namespace zm;

namespace contours_test {

// A curve record of the points; Count overrides the count written.
std::vector<std::uint8_t> Record(const std::vector<TCurvePoint>& pts, int count = -1) {
  std::vector<std::uint8_t> out;
  auto be16 = [&](int v) {
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
  };
  be16(count < 0 ? int(pts.size()) : count);
  for (const TCurvePoint& p : pts) {
    be16(p.X);
    be16(p.Y);
  }
  return out;
}

bool IsIdentity(const TCurvesData& c) {
  for (int i = 0; i < 256; ++i)
    if (c.GetValue(i) != i) return false;
  return c.FirstPoint() == TCurvePoint{0, 0} && c.LastPoint() == TCurvePoint{255, 255} && c.Points().empty();
}

}  // namespace contours_test

using namespace contours_test;

TEST(Contours, CreatedStateAndPresetSelection) {
  TCurvesData c;
  EXPECT_EQ(c.PresetIndex(), -4);
  EXPECT_EQ(c.Initialized(), 0);
  EXPECT_TRUE(IsIdentity(c));

  const char* names[] = {"Linear",     "Cone", "Cone - Inverted", "Cove - Deep",   "Cove - Shallow",
                         "Gaussian", "Half Round", "Ring",          "Ring - Double", "Tooth"};
  for (int i = 0; i < kContourPresetCount; ++i) {
    c.SelectPreset(i);
    EXPECT_EQ(c.Name(), TByteString(names[i]));
    EXPECT_EQ(c.PresetIndex(), i);
    EXPECT_NE(c.Initialized(), 0);
    // Every control point sits exactly on the table.
    EXPECT_EQ(c.GetValue(c.FirstPoint().X), c.FirstPoint().Y) << names[i];
    EXPECT_EQ(c.GetValue(c.LastPoint().X), c.LastPoint().Y) << names[i];
    for (const TCurvePoint& p : c.Points()) EXPECT_EQ(c.GetValue(p.X), p.Y) << names[i];
  }
  // Unknown indexes: no preset, no name, no curve.
  for (int bad : {-1, 10, 1 << 30}) {
    c.SelectPreset(3);
    c.SelectPreset(bad);
    EXPECT_EQ(c.PresetIndex(), -1);
    EXPECT_EQ(c.Name(), TByteString());
    EXPECT_EQ(c.Initialized(), 0);
    EXPECT_TRUE(IsIdentity(c));
  }
  EXPECT_EQ(c.GetValue(-5), c.GetValue(0));
  EXPECT_EQ(c.GetValue(999), c.GetValue(255));
}

TEST(Contours, PresetShapes) {
  TCurvesData c;
  c.SelectPreset(0);
  EXPECT_TRUE(IsIdentity(c));

  c.SelectPreset(1);  // Cone
  EXPECT_EQ(c.GetValue(0), 0);
  EXPECT_EQ(c.GetValue(128), 255);
  EXPECT_EQ(c.GetValue(255), 0);
  for (int i = 1; i <= 128; ++i) EXPECT_GE(c.GetValue(i), c.GetValue(i - 1)) << i;
  for (int i = 129; i < 256; ++i) EXPECT_LE(c.GetValue(i), c.GetValue(i - 1)) << i;
  for (int i = 1; i < 256; ++i) EXPECT_LE(std::abs(c.GetValue(i) - c.GetValue(i - 1)), 6) << "smooth at " << i;

  c.SelectPreset(3);  // Cove - Deep: flat before the first point and after the last
  for (int i = 0; i <= 1; ++i) EXPECT_EQ(c.GetValue(i), 63);
  for (int i = 192; i < 256; ++i) EXPECT_EQ(c.GetValue(i), 255);
}

TEST(Contours, BadRecordsResetToIdentity) {
  TCurvesData c;
  std::vector<TCurvePoint> two{{0, 40}, {255, 90}};
  ASSERT_TRUE(c.LoadFromStream(zmtest::MemoryStreamOf(Record(two)).get()));
  EXPECT_EQ(c.GetValue(0), 40);

  std::vector<std::vector<std::uint8_t>> bad = {
      Record({{0, 40}}),                               // one point
      Record(std::vector<TCurvePoint>(256, {1, 1})),  // 256 points
      Record(two, 0),
      Record({{0, 40}, {256, 90}}),   // x beyond 255
      Record({{0, 300}, {255, 90}}),  // y beyond 255
      Record(two, 3),                 // count larger than the data
      {0},                            // count cut short
      {},
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    ASSERT_TRUE(c.LoadFromStream(zmtest::MemoryStreamOf(Record(two)).get()));
    EXPECT_FALSE(c.LoadFromStream(zmtest::MemoryStreamOf(bad[i]).get())) << i;
    EXPECT_TRUE(IsIdentity(c)) << i;
  }
  EXPECT_FALSE(c.LoadFromStream(nullptr));
}

TEST(Contours, SameXKeepsTheFirstPoint) {
  TCurvesData c;
  ASSERT_TRUE(c.LoadFromStream(zmtest::MemoryStreamOf(Record({{0, 0}, {100, 50}, {100, 200}, {255, 255}})).get()));
  EXPECT_EQ(c.GetValue(100), 50);
  // The last point repeating the x before it: its y only reaches the entries after it.
  ASSERT_TRUE(c.LoadFromStream(zmtest::MemoryStreamOf(Record({{0, 0}, {200, 100}, {200, 30}})).get()));
  EXPECT_EQ(c.GetValue(200), 100);
  EXPECT_EQ(c.GetValue(201), 30);
  // Every point at one x: no segment at all, still a full table.
  ASSERT_TRUE(c.LoadFromStream(zmtest::MemoryStreamOf(Record({{7, 9}, {7, 9}, {7, 250}})).get()));
  EXPECT_EQ(c.GetValue(0), 9);
  EXPECT_EQ(c.GetValue(7), 9);
  EXPECT_EQ(c.GetValue(8), 250);
}

TEST(Contours, SizedStrings) {
  TCurvesData c;
  auto le32 = [](std::uint32_t v, std::vector<std::uint8_t> tail) {
    std::vector<std::uint8_t> out{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
  };
  EXPECT_TRUE(c.ReadSizedString(zmtest::MemoryStreamOf(le32(3, {'a', 'b', 'c', 'd'})).get()));
  EXPECT_EQ(c.Name(), TByteString("abc"));
  EXPECT_TRUE(c.ReadSizedString(zmtest::MemoryStreamOf(le32(0, {})).get()));
  EXPECT_EQ(c.Name(), TByteString());
  // Lengths out of range, negative, or beyond the data: refused without a buffer.
  for (std::uint32_t len : {1000000u, 0xFFFFFFFFu, 0x80000000u, 999999u}) {
    EXPECT_FALSE(c.ReadSizedString(zmtest::MemoryStreamOf(le32(len, {'x'})).get())) << len;
    EXPECT_EQ(c.Name(), TByteString());
  }
  EXPECT_FALSE(c.ReadSizedString(zmtest::MemoryStreamOf(std::vector<std::uint8_t>{1, 0}).get()));
  EXPECT_FALSE(c.ReadSizedString(nullptr));
}
