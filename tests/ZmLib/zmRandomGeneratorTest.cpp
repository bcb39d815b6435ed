#include "ZmLib/zmRandomGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ZmLib/zmRandom.h"

using namespace zm;

namespace {

// The step written out in 64 bits, apart from the code under test.
std::uint32_t RefStep(std::uint32_t s) {
  return static_cast<std::uint32_t>((std::uint64_t{s} * 1664525u + 1013904223u) & 0xFFFFFFFFu);
}

// Overrides only NextFloat: the base NextRaw rounds its scaled value.
class TFixedFloat : public TRandomGenerator {
public:
  float NextFloat() override { return F; }
  void SetSeed(std::uint32_t) override {}
  float F = 0;
};

// Overrides neither step.
class TNoStep : public TRandomGenerator {
public:
  void SetSeed(std::uint32_t) override {}
};

}  // namespace

TEST(RandomGenerator, SequencesOfTwoSeeds) {
  SetGlobalSeed(0);
  EXPECT_EQ(NextGlobal(), 1013904223u);
  EXPECT_EQ(NextGlobal(), 1196435762u);
  EXPECT_EQ(NextGlobal(), 3519870697u);

  auto g = MakeRef<TKhnutLewisRandom>();
  g->SetSeed(12345);
  EXPECT_EQ(g->NextRaw(), 87628868u);
  EXPECT_EQ(g->NextRaw(), 71072467u);
  EXPECT_EQ(g->NextRaw(), 2332836374u);

  // Object and unit-level generators walk the same sequence, wrapping mod 2^32.
  std::uint32_t ref = 0xFFFFFFFFu;
  g->SetSeed(ref);
  SetGlobalSeed(ref);
  for (int i = 0; i < 1000; ++i) {
    ref = RefStep(ref);
    ASSERT_EQ(g->NextRaw(), ref);
    ASSERT_EQ(NextGlobal(), ref);
  }
  EXPECT_EQ(g->State, ref);
}

TEST(RandomGenerator, FloatUsesOnlyLow23Bits) {
  EXPECT_EQ(RawToUnitFloat(0), 0.0f);
  EXPECT_EQ(RawToUnitFloat(0xFF800000u), 0.0f);  // high bits alone count for nothing
  EXPECT_EQ(RawToUnitFloat(0x12345678u), RawToUnitFloat(0x12345678u & 0x7FFFFFu));
  EXPECT_EQ(RawToUnitFloat(1), std::ldexp(1.0f, -23));
  EXPECT_EQ(RawToUnitFloat(0xFFFFFFFFu), 1.0f - std::ldexp(1.0f, -23));
  EXPECT_LT(RawToUnitFloat(0xFFFFFFFFu), 1.0f);

  // A seed whose next state is 0x80000000: low 23 bits zero, exactly 0.
  auto g = MakeRef<TKhnutLewisRandom>();
  g->SetSeed(2782269413u);
  EXPECT_EQ(g->NextFloat(), 0.0f);
  EXPECT_EQ(g->State, 0x80000000u);
  SetGlobalSeed(2782269413u);
  EXPECT_EQ(NextGlobalFloat(), 0.0f);
  SetGlobalSeed(0);
  EXPECT_EQ(NextGlobalFloat(), RawToUnitFloat(1013904223u));
}

TEST(RandomGenerator, RandomRangeAndBadCounts) {
  auto g = MakeRef<TKhnutLewisRandom>();
  EXPECT_EQ(g->Random(0), 0);
  EXPECT_EQ(g->Random(-5), 0);
  EXPECT_EQ(g->Random(std::numeric_limits<std::int32_t>::min()), 0);
  EXPECT_EQ(g->State, 0u);  // no draw for a bad count
  EXPECT_EQ(g->Random(1000), 223);  // 1013904223 mod 1000
  EXPECT_EQ(g->Random(1), 0);
  // Unsigned modulo: 3519870697 would be negative as a signed value.
  g->SetSeed(1196435762u);
  EXPECT_EQ(g->Random(0x7FFFFFFF), static_cast<std::int32_t>(3519870697u % 0x7FFFFFFFu));
}

TEST(RandomGenerator, BaseStepsAndMissingOverrides) {
  auto f = MakeRef<TFixedFloat>();
  f->F = 0.5f;  // 2147483647.5 rounds to even
  EXPECT_EQ(f->NextRaw(), 2147483648u);
  f->F = 0.0f;
  EXPECT_EQ(f->NextRaw(), 0u);
  f->F = std::nextafter(1.0f, 0.0f);
  EXPECT_LT(f->NextRaw(), 0xFFFFFFFFu);
  // Values a derived class should never give still convert safely.
  f->F = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(f->NextRaw(), 0u);
  f->F = -3.0f;
  EXPECT_EQ(f->NextRaw(), 0u);
  f->F = 7.0f;
  EXPECT_EQ(f->NextRaw(), 0xFFFFFFFFu);
  f->F = 0.25f;
  EXPECT_EQ(f->Random(10), static_cast<std::int32_t>(1073741824u % 10));

  auto n = MakeRef<TNoStep>();
  EXPECT_THROW(n->NextRaw(), EAbort);
  EXPECT_THROW(n->NextFloat(), EAbort);
  EXPECT_THROW(n->Random(5), EAbort);
  EXPECT_THROW(n->NextRaw(), EAbort);  // the guard is reset after a failure
}

TEST(RandomGenerator, FactoryAndRandomize) {
  EXPECT_EQ(CreateRandomHook, &CreateRandom);
  TRef<TRandomGenerator> g = CreateRandomHook(false);
  auto* k = dynamic_cast<TKhnutLewisRandom*>(g.get());
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->State, 0u);
  EXPECT_EQ(g->NextRaw(), 1013904223u);

  // The first randomize seeds the process-wide source once; later ones draw
  // two numbers from it and mix them.
  TRef<TRandomGenerator> r = CreateRandom(true);
  ASSERT_NE(dynamic_cast<TKhnutLewisRandom*>(r.get()), nullptr);
  zm::SetRandSeed(42);
  auto r1 = static_cast<std::uint32_t>(zm::Random(2147483647));
  auto r2 = static_cast<std::uint32_t>(zm::Random(2147483647));
  zm::SetRandSeed(42);
  k->Randomize();
  EXPECT_EQ(k->State, (r1 * 2u) ^ r2);
  zm::Randomize();
}
