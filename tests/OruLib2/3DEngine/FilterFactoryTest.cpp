// The filter base (progress, duration, ease) and the factory that turns a
// transition definition into a filter.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/SimpleFilters.h"
#include "ZmLib/zmHookScope.h"

namespace filterfactorytest {

using namespace zm;
using oru::TFilterClass;
using oru::TFilterRequest;
using oru::TTransitionDef;

TRef<TTransitionDef> Def(std::int32_t kind, std::vector<std::uint8_t> flags = {}, std::vector<std::int32_t> ints = {},
                         std::vector<float> floats = {}) {
  TRef<TTransitionDef> d = MakeRef<TTransitionDef>();
  d->Kind = kind;
  d->Flags = std::move(flags);
  d->Ints = std::move(ints);
  d->Floats = std::move(floats);
  return d;
}

// Flags with only the given indexes set.
std::vector<std::uint8_t> Set(const std::vector<int>& on, std::size_t size = 12) {
  std::vector<std::uint8_t> f(size, 0);
  for (int i : on) f[static_cast<std::size_t>(i)] = 1;
  return f;
}

TFilterRequest Select(const TTransitionDef& d, TSize size = {200, 100}) {
  TFilterRequest r;
  EXPECT_TRUE(oru::SelectTransitionFilter(d, size, r)) << "kind " << d.Kind;
  return r;
}

// ---- The base ----------------------------------------------------------------------------------------

TEST(FilterBase, DurationsThatAreNotPositiveGiveTheStartPictureAtAnyProgress) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (float duration : {0.0f, -2.0f, nan, inf, -inf}) {
    TRef<oru::TAlphaFilter> f = MakeRef<oru::TAlphaFilter>();
    f->Init({0, 0, 10, 10}, 1, duration);
    EXPECT_EQ(f->Duration, 0.0f) << duration;
    EXPECT_EQ(f->InvDuration, 0.0);
    for (float p : {-1.0f, 0.5f, 3.0f, inf}) {
      f->SetProgress(p);
      EXPECT_EQ(f->Progress, 0.0f);
      EXPECT_EQ(f->Value(), 0.0f);
    }
  }
}

TEST(FilterBase, ProgressIsClampedAndInitStartsOver) {
  TRef<oru::TAlphaFilter> f = MakeRef<oru::TAlphaFilter>();
  f->Init({1, 2, 11, 22}, std::numeric_limits<float>::quiet_NaN(), 2.0f);
  EXPECT_EQ(f->InvDuration, 0.5);
  EXPECT_EQ(f->EdgeWidth, 0.0f);  // softness that is not a number
  f->SetProgress(-1);
  EXPECT_EQ(f->Progress, 0.0f);
  f->SetProgress(3);
  EXPECT_EQ(f->Progress, 2.0f);
  EXPECT_EQ(f->Value(), 1.0f);
  f->SetProgress(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(f->Progress, 0.0f);
  f->SetProgress(1);
  f->Init({0, 0, 5, 5}, 3, 4.0f);
  EXPECT_EQ(f->Progress, 0.0f);
  EXPECT_EQ(f->Rect, (TRect{0, 0, 5, 5}));
  EXPECT_EQ(f->EdgeWidth, 3.0f);
}

TEST(FilterBase, EaseCurvesKeepTheirFixedPointsAndRise) {
  EXPECT_EQ(oru::EaseByte(0), 0.0f);
  EXPECT_EQ(oru::EaseByte(127.5f), 127.5f);
  EXPECT_EQ(oru::EaseByte(255), 255.0f);
  EXPECT_EQ(oru::EaseByte(-10), 0.0f);
  EXPECT_EQ(oru::EaseByte(300), 255.0f);
  EXPECT_EQ(oru::EaseByte(std::nanf("")), 0.0f);
  EXPECT_FLOAT_EQ(oru::EaseByte(63.75f), 31.875f);
  EXPECT_FLOAT_EQ(oru::EaseByte(191.25f), 223.125f);
  EXPECT_EQ(oru::EaseUnit(0), 0.0f);
  EXPECT_EQ(oru::EaseUnit(0.5f), 0.5f);
  EXPECT_EQ(oru::EaseUnit(1), 1.0f);
  EXPECT_FLOAT_EQ(oru::EaseUnit(0.25f), 0.125f);
  EXPECT_FLOAT_EQ(oru::EaseUnit(0.75f), 0.875f);
  float prevB = -1, prevU = -1;
  for (int i = 0; i <= 1000; ++i) {
    const float b = oru::EaseByte(0.255f * float(i)), u = oru::EaseUnit(0.001f * float(i));
    ASSERT_GE(b, prevB);
    ASSERT_GE(u, prevU);
    prevB = b;
    prevU = u;
  }
  const oru::TEaseTable& t = oru::EaseTable();
  ASSERT_EQ(t.size(), 15u);
  EXPECT_EQ(t[0].X, 0.0f);
  EXPECT_EQ(t[0].Y, 0.0f);
  EXPECT_NEAR(t[7].X, 127.5f, 1e-4);
  EXPECT_NEAR(t[7].Y, 127.5f, 1e-4);
  EXPECT_NEAR(t[14].X, 255.0f, 1e-3);
  EXPECT_NEAR(t[14].Y, 255.0f, 1e-3);
  EXPECT_EQ(oru::SafeInv(0), 0.0);
  EXPECT_EQ(oru::SafeInv(4), 0.25);
  EXPECT_EQ(oru::Dist2({1, 2}, {4, 6}), 25.0f);
}

// ---- The factory -------------------------------------------------------------------------------------

TEST(FilterFactory, FlagsSelectTheFilterInTheirOrder) {
  struct Case {
    std::int32_t kind;
    std::vector<int> on;
    TFilterClass cls;
    float cx, cy;
    bool reverse;
    std::int32_t group, direction;
  };
  using C = TFilterClass;
  const Case cases[] = {
      {3, {2}, C::Circle, 0.3f, 0.7f, false, 0, 0},
      {3, {0, 3, 4}, C::Rhomb, 0.3f, 0.7f, true, 0, 0},
      {3, {4}, C::Square, 0.3f, 0.7f, false, 0, 0},
      {4, {0, 1}, C::HLines, 0.5f, 0.5f, true, 0, 0},
      {4, {1}, C::VLines, 0.5f, 0.5f, true, 0, 0},
      {4, {2}, C::DiagLines, 0.5f, 0.5f, false, 8, 1},
      {4, {3}, C::DiagLines, 0.5f, 0.5f, false, 8, 3},
      {4, {4}, C::HLines, 0.5f, 0.5f, false, 0, 0},
      {4, {5}, C::VLines, 0.5f, 0.5f, false, 0, 0},
      {4, {6}, C::DiagLines, 0.5f, 0.5f, false, 8, 2},
      {4, {7}, C::DiagLines, 0.5f, 0.5f, false, 8, 4},
      {5, {0, 7}, C::DiagLines, 0.5f, 0.5f, false, 10, 2},
      {5, {1}, C::VLines, 0, 1, false, 0, 0},
      {5, {2}, C::DiagLines, 0.5f, 0.5f, false, 10, 3},
      {5, {3}, C::HLines, 1, 0, false, 0, 0},
      {5, {4}, C::HLines, 0, 0, false, 0, 0},
      {5, {5}, C::DiagLines, 0.5f, 0.5f, false, 10, 4},
      {5, {6}, C::VLines, 0, 0, false, 0, 0},
      {5, {7}, C::DiagLines, 0.5f, 0.5f, false, 10, 1},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> flags(8, 0);
    for (int i : c.on) flags[std::size_t(i)] = 1;
    const TFilterRequest r = Select(*Def(c.kind, flags, {30, 70}));
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " first flag " << c.on[0]);
    EXPECT_EQ(r.Class, c.cls);
    EXPECT_FLOAT_EQ(r.Centre.X, c.cx);
    EXPECT_FLOAT_EQ(r.Centre.Y, c.cy);
    EXPECT_EQ(r.Reverse, c.reverse);
    if (c.cls == C::DiagLines) {
      EXPECT_EQ(r.Group, c.group);
      EXPECT_EQ(r.Direction, c.direction);
    }
  }
  // The four-way kinds: Flags[0..3] give directions 2, 4, 1, 3.
  const std::int32_t dirs[] = {2, 4, 1, 3};
  for (std::int32_t kind : {7, 8, 10, 11})
    for (int i = 0; i < 4; ++i) {
      const TFilterRequest r = Select(*Def(kind, Set({i, 3}, 6), {}, {2.5f, 1.5f, 45.0f}));
      EXPECT_EQ(r.Direction, dirs[i]) << kind;
      EXPECT_EQ(r.Class, kind == 7 ? C::Push : kind == 8 ? C::Slide : kind == 10 ? C::Overturn : C::TwoSlides);
    }
  const TFilterRequest flip = Select(*Def(10, Set({1, 4, 5}, 6), {}, {0.5f}));
  EXPECT_TRUE(flip.Spin && flip.NonLinear);
  EXPECT_EQ(flip.Depth, 0.5f);
  const TFilterRequest swap = Select(*Def(11, Set({2}, 4), {}, {4, 1, 60}));
  EXPECT_EQ(swap.Depth, 4.0f);
  EXPECT_EQ(swap.Distance, 1.0f);
  EXPECT_EQ(swap.Angle, 60.0f);
}

TEST(FilterFactory, HourHandTestsTheCentreFirstThenTheEightCells) {
  const TFilterRequest clock = Select(*Def(2, Set({1, 6, 2, 10})));
  EXPECT_EQ(clock.Class, TFilterClass::Clock);
  EXPECT_TRUE(clock.Mirror);
  EXPECT_EQ(clock.Centre, (TFloatPoint{0.5f, 0.5f}));
  const int cells[] = {2, 3, 4, 5, 7, 8, 9, 10};
  const std::int32_t codes[] = {8, 1, 5, 4, 2, 7, 3, 6};
  for (int i = 0; i < 8; ++i) {
    for (bool mirror : {false, true}) {
      std::vector<std::uint8_t> f = Set({cells[i]});
      f[1] = mirror;
      if (i + 1 < 8) f[std::size_t(cells[i + 1])] = 1;  // a later cell loses
      const TFilterRequest r = Select(*Def(2, f, {}, {0.5f}), {300, 100});
      EXPECT_EQ(r.Class, TFilterClass::Broom);
      EXPECT_EQ(r.Direction, codes[i] + (mirror ? 8 : 0));
      EXPECT_FLOAT_EQ(r.Offset, 100.0f);  // (300 + 100) x 0.5 x 0.5
    }
  }
  // A broken offset does not reach the filter as a non-number.
  EXPECT_EQ(Select(*Def(2, Set({3}), {}, {std::nanf("")})).Offset, 0.0f);
}

TEST(FilterFactory, CurlingPicksStyleAndDirection) {
  struct Case {
    std::vector<int> on;
    std::int32_t style, direction;
  };
  const Case cases[] = {
      {{9}, 15, 1},        {{2}, 15, 3},    {{3}, 14, 4},     {{4}, 15, 4},     {{5}, 14, 3}, {{6}, 14, 1},
      {{7}, 15, 2},        {{8}, 14, 2},    {{1, 9}, 15, 5},  {{1, 2}, 15, 7},  {{1, 8}, 14, 6}, {{6, 2}, 15, 3},
  };
  for (const Case& c : cases) {
    const TFilterRequest r = Select(*Def(9, Set(c.on), {1, 0x00332211}, {0.25f, 0.125f}), {200, 100});
    EXPECT_EQ(r.Class, TFilterClass::Roll);
    EXPECT_EQ(r.Style, c.style) << testing::PrintToString(c.on);
    EXPECT_EQ(r.Direction, c.direction) << testing::PrintToString(c.on);
    EXPECT_TRUE(r.Tube);
    EXPECT_EQ(r.Radius, 50);
    EXPECT_EQ(r.Red, 0x11);
    EXPECT_EQ(r.Green, 0x22);
    EXPECT_EQ(r.Blue, 0x33);
    EXPECT_EQ(r.Volume, 0.125f);
  }
  const TFilterRequest r = Select(*Def(9, Set({3, 10, 11}), {2}, {1e30f}), {200, 100});
  EXPECT_FALSE(r.Tube);
  EXPECT_TRUE(r.UseColor && r.UseVolume);
  EXPECT_EQ(r.Radius, 1 << 20);  // a huge radius saturates instead of overflowing
}

TEST(FilterFactory, MosaicSpreadGridAndSeedFromTheDefinition) {
  TFilterRequest r = Select(*Def(6, {}, {4, 3, 99, -7}));
  EXPECT_EQ(r.Class, TFilterClass::Random);
  EXPECT_EQ(r.Cols, 4);
  EXPECT_EQ(r.Rows, 3);
  EXPECT_EQ(r.Spread, 99.0f);
  EXPECT_EQ(r.Seed, 0xFFFFFFF9u);
  EXPECT_EQ(Select(*Def(6, {}, {1, 1, 100})).Spread, 1000.0f);
  EXPECT_EQ(Select(*Def(6, {}, {1, 1, INT_MAX})).Spread, 1000.0f);
  EXPECT_EQ(Select(*Def(6, {}, {1, 1, -5})).Spread, 0.0f);
  // Absurd grids are kept within the limits, so the delay table stays small.
  for (auto [c, rr] : {std::pair{0, 0}, {-5, INT_MIN}, {INT_MAX, INT_MAX}}) {
    TRef<oru::TDrawFilter> f = oru::CreateEffectFilter({0, 0, 64, 48}, Def(6, {}, {c, rr, 50, c}).get(), nullptr,
                                                       false, 0, 1);
    auto* m = dynamic_cast<oru::TRandomFilter*>(f.get());
    ASSERT_NE(m, nullptr);
    EXPECT_GE(m->Cols, 1);
    EXPECT_LE(m->Cols, oru::kMaxMosaicSide);
    EXPECT_GE(m->Rows, 1);
    EXPECT_LE(m->Rows, oru::kMaxMosaicSide);
    EXPECT_EQ(m->Delays.size(), std::size_t(m->Cols) * std::size_t(m->Rows));
  }
}

TEST(FilterFactory, UnknownKindsCrossFadeAndUnselectedKindsGiveNothing) {
  for (std::int32_t kind : {0, -1, 13, INT_MIN, INT_MAX}) {
    TRef<oru::TDrawFilter> f = oru::CreateTransitionFilter({10, 10}, Def(kind).get(), nullptr, false);
    ASSERT_NE(f, nullptr) << kind;
    EXPECT_TRUE(f->IsAlpha);
  }
  for (std::int32_t kind = 2; kind <= 11; ++kind) {
    if (kind == 6) continue;
    EXPECT_EQ(oru::CreateTransitionFilter({10, 10}, Def(kind, std::vector<std::uint8_t>(12, 0)).get(), nullptr, false),
              nullptr)
        << kind;
    EXPECT_EQ(oru::CreateTransitionFilter({10, 10}, Def(kind).get(), nullptr, false), nullptr) << kind;
  }
  // The kinds that need no flag never give nil, whatever their lists hold.
  for (std::int32_t kind : {1, 6, 12})
    EXPECT_NE(oru::CreateTransitionFilter({10, 10}, Def(kind).get(), nullptr, false), nullptr) << kind;
  // Filters that do not exist yet stand in as the cross-fade.
  const oru::TFilterMaker keep = oru::RegisterFilterMaker(TFilterClass::Roll, nullptr);
  TRef<oru::TDrawFilter> roll = oru::CreateTransitionFilter({10, 10}, Def(9, Set({2})).get(), nullptr, false);
  ASSERT_NE(roll, nullptr);
  EXPECT_TRUE(roll->IsAlpha);
  oru::RegisterFilterMaker(TFilterClass::Roll, keep);
  EXPECT_EQ(oru::RegisterFilterMaker(TFilterClass::Count, keep), nullptr);
}

TEST(FilterFactory, MakersAndTheSlideHookGetTheirSettings) {
  static TFilterRequest seen;
  static int hookCalls = 0;
  const oru::TFilterMaker keep = oru::RegisterFilterMaker(TFilterClass::Circle, [](const TFilterRequest& r) {
    seen = r;
    return TRef<oru::TDrawFilter>(MakeRef<oru::TSlideFilter>(1));
  });
  TRef<oru::TDrawFilter> f = oru::CreateTransitionFilter({40, 30}, Def(3, Set({0, 2}), {10, 20}).get(), nullptr, false);
  EXPECT_NE(dynamic_cast<oru::TSlideFilter*>(f.get()), nullptr);
  EXPECT_EQ(seen.Size, (TSize{40, 30}));
  EXPECT_TRUE(seen.Reverse);
  EXPECT_FLOAT_EQ(seen.Centre.X, 0.1f);
  // A maker that gives nothing falls back to the cross-fade.
  oru::RegisterFilterMaker(TFilterClass::Circle, [](const TFilterRequest&) { return TRef<oru::TDrawFilter>(); });
  EXPECT_TRUE(oru::CreateTransitionFilter({40, 30}, Def(3, Set({2})).get(), nullptr, false)->IsAlpha);
  oru::RegisterFilterMaker(TFilterClass::Circle, keep);

  // The slide-based kind: no hook, a hook that gives nil, a hook that gives a filter.
  TRef<TTransitionDef> custom = Def(12);
  custom->CustomObject = MakeRef<TTransitionDef>();
  EXPECT_TRUE(oru::CreateTransitionFilter({4, 4}, custom.get(), nullptr, true)->IsAlpha);
  zm::THookScope slideEffect(oru::SlideEffectHook, [](TDrawItem*, TRefObject*, bool) { return TRef<oru::TDrawFilter>(); });
  EXPECT_TRUE(oru::CreateTransitionFilter({4, 4}, custom.get(), nullptr, true)->IsAlpha);
  static TRefObject* seenObject = nullptr;
  static bool seenFlag = false;
  slideEffect.Set([](TDrawItem*, TRefObject* o, bool flag) {
    ++hookCalls;
    seenObject = o;
    seenFlag = flag;
    return TRef<oru::TDrawFilter>(MakeRef<oru::TPushFilter>(2));
  });
  f = oru::CreateTransitionFilter({4, 4}, custom.get(), nullptr, true);
  slideEffect.Restore();
  EXPECT_NE(dynamic_cast<oru::TPushFilter*>(f.get()), nullptr);
  EXPECT_EQ(hookCalls, 1);
  EXPECT_EQ(seenObject, custom->CustomObject.get());
  EXPECT_TRUE(seenFlag);
}

// An effect type the engine does not know, with the fields of a definition.
class TForeignEffect : public TRefObject {
public:
  std::int32_t Kind = 6;
  std::vector<std::int32_t> Ints{2, 2, 0, 5};
  std::vector<float> Floats;
  std::vector<std::uint8_t> Flags{1};
  TRef<TRefObject> CustomObject;
  double Smoothline = 0.25;
};

TEST(FilterFactory, EffectFilterInitsWithEdgeAndDurationAndReadsForeignEffects) {
  EXPECT_EQ(oru::CreateEffectFilter({0, 0, 10, 10}, nullptr, nullptr, false, 1, 1), nullptr);
  EXPECT_EQ(oru::CreateDrawerEffectFilter({0, 0, 10, 10}, nullptr, nullptr, false), nullptr);
  TRef<oru::TDrawFilter> f = oru::CreateEffectFilter({10, 20, 110, 70}, Def(1).get(), nullptr, false, 0.2f, 3);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Rect, (TRect{10, 20, 110, 70}));
  EXPECT_FLOAT_EQ(f->EdgeWidth, 20.0f);
  EXPECT_EQ(f->Duration, 3.0f);
  // Inverted or huge rectangles and broken scales give a sane filter.
  f = oru::CreateEffectFilter({100, 0, 0, 10}, Def(1).get(), nullptr, false, std::nanf(""), -1);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->EdgeWidth, 0.0f);
  EXPECT_EQ(f->Duration, 0.0f);
  f = oru::CreateEffectFilter({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, Def(6, {}, {3, 3}).get(), nullptr, false, 1, 1);
  ASSERT_NE(f, nullptr);

  // A foreign effect object: the cross-fade without a reader, its own kind with one.
  TRef<TForeignEffect> foreign = MakeRef<TForeignEffect>();
  f = oru::CreateDrawerEffectFilter({0, 0, 100, 50}, foreign.get(), nullptr, false);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->IsAlpha);
  zm::THookScope reader(oru::ReadTransitionDefHook);
  oru::InstallTransitionDefReader<TForeignEffect>();
  f = oru::CreateDrawerEffectFilter({0, 0, 100, 50}, foreign.get(), nullptr, false);
  EXPECT_TRUE(oru::CreateDrawerEffectFilter({0, 0, 100, 50}, Def(0).get(), nullptr, false)->IsAlpha);
  reader.Restore();
  auto* m = dynamic_cast<oru::TRandomFilter*>(f.get());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Seed, 5u);
  EXPECT_FLOAT_EQ(m->EdgeWidth, 25.0f);
  EXPECT_EQ(m->Duration, 1.0f);
}

TEST(FilterFactory, MosaicsMadeOnSeveralThreadsAtOnceKeepTheirSeedsOrder) {
  // Each thread makes mosaics of its own seed; a shared generator state
  // would mix the draws of two threads.
  const auto delays = [](std::uint32_t seed) {
    TRef<TTransitionDef> d = Def(6, {}, {16, 16, 50, std::int32_t(seed)});
    TRef<oru::TDrawFilter> f = oru::CreateEffectFilter({0, 0, 64, 64}, d.get(), nullptr, false, 0, 1);
    return dynamic_cast<oru::TRandomFilter&>(*f).Delays;
  };
  std::vector<std::vector<std::int32_t>> want;
  for (std::uint32_t s = 0; s < 4; ++s) want.push_back(delays(s * 7919u));
  std::vector<int> bad(4, 0);
  std::vector<std::thread> pool;
  for (std::uint32_t s = 0; s < 4; ++s)
    pool.emplace_back([&, s] {
      for (int i = 0; i < 200; ++i)
        if (delays(s * 7919u) != want[s]) ++bad[s];
    });
  for (auto& t : pool) t.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
  EXPECT_NE(want[0], want[1]);
}

}  // namespace filterfactorytest
