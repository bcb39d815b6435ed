#include "ZmLib/Graphics/zmResample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;

namespace resample_test {

TRef<TSysBitmap> Mask(std::int32_t w, std::int32_t h, const std::vector<std::uint8_t>& bytes = {}) {
  if (bytes.empty()) return CreateSysBitmap(w, h, FindPixelFormat(PF_A8));
  return zmtest::BitmapOf(PF_A8, w, h, bytes);
}

std::uint8_t At(TSysBitmap* b, std::int32_t x, std::int32_t y) { return b->ScanLine(y)[x]; }

void RunFilter(TSysBitmap* s, TSysBitmap* d, const TResampleFilterInfo& f, float scale,
         std::span<const std::uint8_t> lut = {}) {
  Stretch(s, d, f.Filter, nullptr, nullptr, lut, nullptr, scale, f.Support);
}

std::string ExceptionOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EAbort& e) {
    return "assert: " + e.Message();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(none)";
}

}  // namespace resample_test

using namespace resample_test;

TEST(Resample, FilterTableAndKernelsAtTheirEnds) {
  const char* names[] = {"Box", "Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell"};
  for (int i = 0; i < kResampleFilterCount; ++i) {
    const TResampleFilterInfo& f = ResampleFilters[i];
    EXPECT_STREQ(f.Name, names[i]);
    EXPECT_EQ(f.Filter(f.Support + 0.001f), 0.0f) << f.Name;
    EXPECT_EQ(f.Filter(-f.Support - 0.001f), 0.0f) << f.Name;
    EXPECT_GT(f.Filter(0.0f), 0.5f) << f.Name;
  }
  // Box is open on the left and closed on the right; Lanczos3 is 1 at 0.
  EXPECT_EQ(BoxFilter(-0.5f), 0.0f);
  EXPECT_EQ(BoxFilter(0.5f), 1.0f);
  EXPECT_EQ(Lanczos3Filter(0.0f), 1.0f);
  EXPECT_NEAR(SplineFilter(0.0f), 2.0f / 3.0f, 1e-6);
  EXPECT_NEAR(MitchellFilter(1.0f), 1.0f / 18.0f, 1e-6);
}

TEST(Resample, WeightsSumToOneAndIndexesStayInside) {
  // Sampled kernels (a box shrinking by 0.3 covers three or four pixels)
  // only sum to one once normalised.
  for (const TResampleFilterInfo& f : ResampleFilters) {
    for (auto [dst, src, scale] : {std::tuple{17, 5, 3.4f}, {13, 6, 2.0f}, {5, 40, 0.125f}, {9, 30, 0.3f},
                                   // kernels far wider than the picture
                                   {8, 2, 4.0f}, {1, 2, 0.05f}, {3, 3, 0.01f}}) {
      auto lists = BuildContributions(dst, src, f.Filter, scale, f.Support);
      ASSERT_EQ(lists.size(), std::size_t(dst));
      for (const auto& l : lists) {
        double sum = 0;
        for (const TContribution& c : l) {
          EXPECT_GE(c.Index, 0);
          EXPECT_LT(c.Index, src);
          EXPECT_NE(c.Weight, 0.0f);
          sum += c.Weight;
        }
        EXPECT_NEAR(sum, 1.0, 1e-5) << f.Name << " " << dst << "<-" << src << " scale " << scale;
      }
    }
  }
}

TEST(Resample, ImpulseSpreadsSymmetricallyAndKeepsItsMass) {
  std::vector<std::uint8_t> px(81, 0);
  px[40] = 255;  // centre of 9 x 9
  for (const TResampleFilterInfo& f : ResampleFilters) {
    TRef<TSysBitmap> s = Mask(9, 9, px);
    TRef<TSysBitmap> d = Mask(9, 9);
    RunFilter(s.get(), d.get(), f, 1.0f);
    int total = 0;
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 9; ++x) {
        total += At(d.get(), x, y);
        EXPECT_EQ(At(d.get(), x, y), At(d.get(), 8 - x, y)) << f.Name;
        EXPECT_EQ(At(d.get(), x, y), At(d.get(), x, 8 - y)) << f.Name;
        EXPECT_LE(At(d.get(), x, y), At(d.get(), 4, 4)) << f.Name;
      }
    EXPECT_NEAR(total, 255, 6) << f.Name;
  }
  // Box and Triangle at scale 1 copy; the cubic B-spline spreads 1/6, 2/3, 1/6.
  TRef<TSysBitmap> s = Mask(9, 9, px), d = Mask(9, 9);
  RunFilter(s.get(), d.get(), ResampleFilters[0], 1.0f);
  EXPECT_EQ(zmtest::BytesOf(*d), px);
  RunFilter(s.get(), d.get(), ResampleFilters[4], 1.0f);
  EXPECT_NEAR(At(d.get(), 4, 4), 255 * 4 / 9, 1);
  EXPECT_NEAR(At(d.get(), 3, 4), 255 / 9, 1);
  EXPECT_EQ(At(d.get(), 2, 4), 0);
}

TEST(Resample, StepStaysBoundedAndEdgesAreMirrored) {
  // 8 x 2: columns 0..3 black, 4..7 white, enlarged 2x.
  std::vector<std::uint8_t> px;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8; ++x) px.push_back(x < 4 ? 0 : 255);
  for (const TResampleFilterInfo& f : ResampleFilters) {
    TRef<TSysBitmap> s = Mask(8, 2, px), d = Mask(16, 4);
    RunFilter(s.get(), d.get(), f, 2.0f);
    for (int y = 0; y < 4; ++y) {
      // Mirrored edges repeat the edge values: no darkening or lightening there.
      EXPECT_EQ(At(d.get(), 0, y), 0) << f.Name;
      EXPECT_EQ(At(d.get(), 15, y), 255) << f.Name;
      if (std::string(f.Name) != "Lanczos3") {  // the only kernel with negative lobes that ring
        for (int x = 1; x < 16; ++x) EXPECT_GE(At(d.get(), x, y), At(d.get(), x - 1, y)) << f.Name << " x " << x;
      }
    }
  }
}

TEST(Resample, PartEdgeCases) {
  // 2 x 2 to 1 x 1 with Box at 0.5 averages with the mirrored neighbours.
  TRef<TSysBitmap> s = Mask(2, 2, {10, 30, 50, 70}), d = Mask(1, 1);
  RunFilter(s.get(), d.get(), ResampleFilters[0], 0.5f);
  EXPECT_EQ(At(d.get(), 0, 0), 40);

  // A table mapping i to i * 255 / 4095 changes nothing (within rounding).
  std::vector<std::uint8_t> lut(4096);
  for (int i = 0; i < 4096; ++i) lut[std::size_t(i)] = std::uint8_t(std::lround(i * 255.0 / 4095.0));
  std::vector<std::uint8_t> px(12 * 7);
  for (std::size_t i = 0; i < px.size(); ++i) px[i] = std::uint8_t(i * 37 % 256);
  for (float scale : {0.4f, 1.0f, 2.5f}) {
    TRef<TSysBitmap> a = Mask(12, 7, px);
    TRef<TSysBitmap> d1 = Mask(9, 11), d2 = Mask(9, 11);
    RunFilter(a.get(), d1.get(), ResampleFilters[5], scale);
    RunFilter(a.get(), d2.get(), ResampleFilters[5], scale, lut);
    auto b1 = zmtest::BytesOf(*d1), b2 = zmtest::BytesOf(*d2);
    for (std::size_t i = 0; i < b1.size(); ++i) EXPECT_NEAR(b1[i], b2[i], 1) << i;
  }

  // Enlarging white with the B-spline never wraps above 255.
  TRef<TSysBitmap> w = Mask(3, 3, std::vector<std::uint8_t>(9, 255)), big = Mask(10, 10);
  RunFilter(w.get(), big.get(), ResampleFilters[4], 3.3f);
  for (std::uint8_t v : zmtest::BytesOf(*big)) EXPECT_EQ(v, 255);
}

TEST(Resample, BadInputIsRefusedClearly) {
  TRef<TSysBitmap> s = Mask(4, 4), d = Mask(3, 3);
  const TResampleFilterInfo& f = ResampleFilters[4];
  TRef<TSysBitmap> thin = Mask(1, 5), flat = Mask(5, 1);
  EXPECT_EQ(ExceptionOf([&] { RunFilter(thin.get(), d.get(), f, 1); }), "Source bitmap too small");
  EXPECT_EQ(ExceptionOf([&] { RunFilter(flat.get(), d.get(), f, 1); }), "Source bitmap too small");
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (float scale : {0.0f, -1.0f, nan, inf})
    EXPECT_EQ(ExceptionOf([&] { RunFilter(s.get(), d.get(), f, scale); }), "Stretch: Invalid scale") << scale;
  // A window so wide it would take gigabytes of weights.
  EXPECT_EQ(ExceptionOf([&] { RunFilter(s.get(), d.get(), f, 1e-9f); }), "Stretch: Filter too wide");
  // A window of 4000 for each of a million columns: refused before the hours of work.
  EXPECT_EQ(ExceptionOf([&] { BuildContributions(1 << 20, 4, SplineFilter, 0.001f, 2); }),
            "Stretch: Filter too wide");
  EXPECT_EQ(ExceptionOf([&] { Stretch(s.get(), d.get(), SplineFilter, nullptr, nullptr, {}, nullptr, 1, -2); }),
            "Stretch: Invalid support");
  EXPECT_EQ(ExceptionOf([&] { Stretch(s.get(), d.get(), nullptr, nullptr, nullptr, {}, nullptr, 1, 2); }),
            "Stretch: No filter");
  TRef<TSysBitmap> c32 = CreateSysBitmap(4, 4, FindPixelFormat(PF_A8R8G8B8));
  EXPECT_TRUE(zmtest::Contains(ExceptionOf([&] { RunFilter(c32.get(), d.get(), f, 1); }), "8-bit"));
  std::vector<std::uint8_t> shortLut(100);
  EXPECT_TRUE(zmtest::Contains(ExceptionOf([&] { RunFilter(s.get(), d.get(), f, 1, shortLut); }), "4096"));
  // A kernel that answers NaN gives black, not undefined conversions.
  TRef<TSysBitmap> full = Mask(4, 4, std::vector<std::uint8_t>(16, 200));
  Stretch(full.get(), d.get(), [](float) { return std::numeric_limits<float>::quiet_NaN(); }, nullptr, nullptr, {},
          nullptr, 1, 1);
  for (std::uint8_t v : zmtest::BytesOf(*d)) EXPECT_EQ(v, 0);
}

TEST(Resample, CallbackCountsAndCancelLeavesWhatWasWritten) {
  struct TCounter {
    int Calls = 0;
    int CancelAt = -1;
    void* Sender = nullptr;
  };
  auto cb = [](void* data, void* sender, bool& cancel) {
    auto* c = static_cast<TCounter*>(data);
    c->Sender = sender;
    if (++c->Calls == c->CancelAt) cancel = true;
  };
  TRef<TSysBitmap> s = Mask(3, 5, std::vector<std::uint8_t>(15, 90));
  int sender = 0;
  {
    TRef<TSysBitmap> d = Mask(2, 4);
    TCounter c;
    Stretch(s.get(), d.get(), SplineFilter, cb, &c, {}, &sender, 0.7f, 2.0f);
    // dst columns + source rows + dst rows + dst columns
    EXPECT_EQ(c.Calls, 2 + 5 + 4 + 2);
    EXPECT_EQ(c.Sender, &sender);
    EXPECT_NEAR(At(d.get(), 1, 3), 90, 2);
  }
  for (int cancelAt : {1, 4, 11, 12}) {
    TRef<TSysBitmap> d = Mask(2, 4, std::vector<std::uint8_t>(8, 7));
    TCounter c;
    c.CancelAt = cancelAt;
    Stretch(s.get(), d.get(), SplineFilter, cb, &c, {}, nullptr, 0.7f, 2.0f);
    EXPECT_EQ(c.Calls, cancelAt);
    // Only the second pass writes, one column per callback.
    EXPECT_EQ(At(d.get(), 0, 0) != 7, cancelAt >= 12) << cancelAt;
    EXPECT_EQ(At(d.get(), 1, 0), 7) << cancelAt;
  }
}

TEST(Resample, ResultsAreThePlainSumsOfTheirTaps) {
  // Each result is its taps summed in their list's order, pass by pass, as
  // a loop over one value at a time makes it: sizes that cut the runs the
  // passes work on short, across and along, shrinking and growing, with
  // and without a table.
  const auto plain = [](TSysBitmap* s, std::int32_t dw, std::int32_t dh, const TResampleFilterInfo& f, float scale,
                        std::span<const std::uint8_t> lut) {
    const std::int32_t sw = s->Width(), sh = s->Height();
    const auto cols = BuildContributions(dw, sw, f.Filter, scale, f.Support);
    const auto rows = BuildContributions(dh, sh, f.Filter, scale, f.Support);
    std::vector<std::uint16_t> work(std::size_t(dw) * std::size_t(sh));
    for (std::int32_t y = 0; y < sh; ++y)
      for (std::int32_t x = 0; x < dw; ++x) {
        float sum = 0.0f;
        for (const TContribution& c : cols[std::size_t(x)]) sum += c.Weight * float(s->ScanLine(y)[c.Index]);
        sum = sum > 0.0f ? std::min(sum, 255.0f) : 0.0f;
        work[std::size_t(x) * std::size_t(sh) + std::size_t(y)] = std::uint16_t(std::nearbyint(sum * 256.96078f));
      }
    std::vector<std::uint8_t> out(std::size_t(dw) * std::size_t(dh));
    for (std::int32_t x = 0; x < dw; ++x)
      for (std::int32_t y = 0; y < dh; ++y) {
        float sum = 0.0f;
        for (const TContribution& c : rows[std::size_t(y)]) sum += c.Weight * float(work[std::size_t(x) * std::size_t(sh) + std::size_t(c.Index)]);
        sum = sum > 0.0f ? std::min(sum, 65535.0f) : 0.0f;
        out[std::size_t(y) * std::size_t(dw) + std::size_t(x)] =
            lut.empty() ? std::uint8_t(std::nearbyint(sum * 255.0f / 65535.0f))
                        : lut[std::size_t(std::nearbyint(sum * 4095.0f / 65535.0f))];
      }
    return out;
  };
  std::vector<std::uint8_t> table(4096);
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = std::uint8_t(255 - i / 16);
  struct TCase {
    std::int32_t Sw, Sh, Dw, Dh;
    float Scale;
  };
  for (const TCase& c : {TCase{150, 141, 67, 63, 0.45f}, TCase{13, 11, 70, 131, 5.4f}, TCase{71, 9, 150, 19, 2.1f}}) {
    std::vector<std::uint8_t> bytes(std::size_t(c.Sw) * std::size_t(c.Sh));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t((i * 37) ^ (i / 7 * 11));
    TRef<TSysBitmap> s = Mask(c.Sw, c.Sh, bytes);
    for (int filter : {0, 5})
      for (bool withTable : {false, true}) {
        const std::span<const std::uint8_t> lut = withTable ? std::span<const std::uint8_t>(table) : std::span<const std::uint8_t>();
        TRef<TSysBitmap> d = Mask(c.Dw, c.Dh);
        RunFilter(s.get(), d.get(), ResampleFilters[filter], c.Scale, lut);
        const std::vector<std::uint8_t> want = plain(s.get(), c.Dw, c.Dh, ResampleFilters[filter], c.Scale, lut);
        int wrong = 0;
        for (std::int32_t y = 0; y < c.Dh; ++y)
          for (std::int32_t x = 0; x < c.Dw; ++x)
            wrong += At(d.get(), x, y) != want[std::size_t(y) * std::size_t(c.Dw) + std::size_t(x)];
        EXPECT_EQ(wrong, 0) << c.Sw << "x" << c.Sh << " filter " << filter << " table " << withTable;
      }
  }
}

TEST(Resample, ListsMetAgainAreTheSameLists) {
  const TResampleFilterInfo& f = ResampleFilters[kDefaultResampleFilter];
  const TSharedContributions first = SharedContributions(37, 90, f.Filter, 0.41f, f.Support);
  EXPECT_EQ(SharedContributions(37, 90, f.Filter, 0.41f, f.Support), first);
  const auto same = [](const std::vector<TContributionList>& a, const std::vector<TContributionList>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].size() != b[i].size()) return false;
      for (std::size_t j = 0; j < a[i].size(); ++j)
        if (a[i][j].Index != b[i][j].Index || a[i][j].Weight != b[i][j].Weight) return false;
    }
    return true;
  };
  EXPECT_TRUE(same(*first, BuildContributions(37, 90, f.Filter, 0.41f, f.Support)));
  // Any argument changed, or halved: lists of their own.
  const TSharedContributions halved = SharedContributions(37, 90, f.Filter, 0.41f, f.Support, true);
  EXPECT_TRUE(same(*halved, HalveContributions(*first)));
  EXPECT_TRUE(same(*SharedContributions(37, 90, f.Filter, 0.42f, f.Support), BuildContributions(37, 90, f.Filter, 0.42f, f.Support)));
  EXPECT_TRUE(same(*SharedContributions(37, 91, f.Filter, 0.41f, f.Support), BuildContributions(37, 91, f.Filter, 0.41f, f.Support)));
  EXPECT_TRUE(same(*SharedContributions(37, 90, BoxFilter, 0.41f, 0.5f), BuildContributions(37, 90, BoxFilter, 0.41f, 0.5f)));
  // Many sizes met since: the lists are made again, the same.
  for (std::int32_t d = 1; d <= 100; ++d) SharedContributions(d, 90, f.Filter, 0.41f, f.Support);
  const TSharedContributions again = SharedContributions(37, 90, f.Filter, 0.41f, f.Support);
  EXPECT_TRUE(same(*again, *first));
  EXPECT_THROW(SharedContributions(5, 5, f.Filter, 0.0f, f.Support), Exception);
}
