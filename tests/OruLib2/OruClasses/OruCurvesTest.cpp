#include "OruLib2/OruClasses/OruCurves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace oru;
using zm::TFloatPoint;
using zm::TRef;

TRef<TCubicBezier> Timing(float x1, float y1, float x2, float y2) {
  return zm::MakeRef<TCubicBezier>(TFloatPoint{0, 0}, TFloatPoint{x1, y1}, TFloatPoint{x2, y2}, TFloatPoint{1, 1});
}

// The exact y of a timing curve whose x runs forward, found by bisection on u.
double ExactY(const TCubicBezier& c, double t) {
  double lo = 0, hi = 1;
  for (int i = 0; i < 200; ++i) {
    const double mid = (lo + hi) / 2;
    (c.Point(mid).X < t ? lo : hi) = mid;
  }
  return c.Point((lo + hi) / 2).Y;
}

TEST(OruCurves, StraightCurveGivesYEqualsXAlsoOutsideZeroToOne) {
  for (float a : {0.0f, 0.3f}) {
    // (0,0),(1,1) and any two control points on the diagonal.
    TRef<TCubicBezier> c = Timing(a, a, 1 - a, 1 - a);
    c->Separate(TQSplineGraph::kTolerance, 0, 1);
    for (double x : {0.0, 0.25, 0.5, 1.0, -0.5, 1.5, -1e6})
      EXPECT_NEAR(c->Evaluate(x), x, 1e-9 * (1 + std::fabs(x))) << x;
  }
  EXPECT_NEAR(QSplineGraph(0.7, 0, 0, 1, 1), 0.7, 1e-12);
  EXPECT_EQ(QSplineGraph(0, 0.42f, 0, 0.58f, 1), 0);
  EXPECT_DOUBLE_EQ(QSplineGraph(1, 0.42f, 0, 0.58f, 1), 1);
}

TEST(OruCurves, EaseCurveWithinToleranceAtEndsAndJoins) {
  TRef<TCubicBezier> c = Timing(0.25f, 0.1f, 0.25f, 1.0f);
  c->Separate(TQSplineGraph::kTolerance, 0, 1);
  const std::int32_t n = c->PieceCount();
  ASSERT_GT(n, 8);
  ASSERT_LT(n, 5000);
  EXPECT_EQ(c->Piece(0)->StartX, 0);
  EXPECT_EQ(c->Piece(n - 1)->EndX, 1);
  EXPECT_EQ(c->Piece(n), nullptr);
  EXPECT_EQ(c->Piece(-1), nullptr);
  for (std::int32_t i = 0; i + 1 < n; ++i) {
    const TKusochek* a = c->Piece(i);
    const TKusochek* b = c->Piece(i + 1);
    // Pieces meet end to start, and the two lines agree at the join.
    ASSERT_EQ(a->EndX, b->StartX) << i;
    ASSERT_NEAR(a->ValueAt(a->EndX), b->StartY, 1e-12) << i;
    ASSERT_LT(a->StartX, a->EndX) << i;
    // Evaluated exactly at the join from either side.
    std::int32_t from = i, back = i + 1;
    ASSERT_NEAR(c->EvaluateFrom(b->StartX, from), b->StartY, 1e-12);
    ASSERT_NEAR(c->EvaluateFrom(b->StartX, back), b->StartY, 1e-12);
  }
  EXPECT_NEAR(c->Evaluate(0), 0, 1e-12);
  EXPECT_NEAR(c->Evaluate(1), 1, 1e-12);
  double worst = 0;
  for (int i = 0; i <= 1000; ++i) {
    const double t = i / 1000.0;
    worst = std::max(worst, std::fabs(c->Evaluate(t) - ExactY(*c, t)));
  }
  EXPECT_LT(worst, 1e-4);
  // Outside 0..1 the first and the last lines go on.
  EXPECT_DOUBLE_EQ(c->Evaluate(-0.5), c->Piece(0)->ValueAt(-0.5));
  EXPECT_DOUBLE_EQ(c->Evaluate(2), c->Piece(n - 1)->ValueAt(2));
  EXPECT_DOUBLE_EQ(QSplineGraph(-0.5, 0.25, 0.1, 0.25, 1), c->Piece(0)->ValueAt(-0.5));
  EXPECT_DOUBLE_EQ(QSplineGraph(2, 0.25, 0.1, 0.25, 1), c->Piece(n - 1)->ValueAt(2));
}

TEST(OruCurves, LookupWalksFromTheLastPieceInBothDirections) {
  TRef<TCubicBezier> c = Timing(0.6f, 0.0f, 0.4f, 1.0f);
  c->Separate(TQSplineGraph::kTolerance, 0, 1);
  const std::int32_t n = c->PieceCount();
  // Increasing times move one piece at a time, and decreasing ones back.
  for (std::int32_t i = 0; i < n; ++i) {
    const TKusochek* p = c->Piece(i);
    const double t = (p->StartX + p->EndX) / 2;
    ASSERT_EQ(c->Evaluate(t), p->ValueAt(t)) << i;
    ASSERT_EQ(c->LastIndex(), i);
  }
  for (std::int32_t i = n - 1; i >= 0; --i) {
    const TKusochek* p = c->Piece(i);
    c->Evaluate((p->StartX + p->EndX) / 2);
    ASSERT_EQ(c->LastIndex(), i);
  }
  // Jumps back and forth land on the piece holding x, as bisection does.
  for (double t : {0.9, 0.1, 0.55, 0.0, 1.0, 0.3, -3.0, 4.0, 0.5}) {
    const double y = c->Evaluate(t);
    std::int32_t k = c->StartIndex(t);
    EXPECT_NEAR(y, c->EvaluateFrom(t, k), 1e-12) << t;
  }
  // A stale index past the end is clamped.
  std::int32_t stale = n + 100;
  EXPECT_NEAR(c->EvaluateFrom(0.5, stale), 0.5, 1e-5);  // symmetric curve
  EXPECT_LT(stale, n);
  stale = -7;
  EXPECT_NEAR(c->EvaluateFrom(0, stale), 0, 1e-12);
  // Separating again refills instead of appending.
  c->Separate(TQSplineGraph::kTolerance, 0, 1);
  EXPECT_EQ(c->PieceCount(), n);
  EXPECT_EQ(c->LastIndex(), 0);
}

TEST(OruCurves, UnsplitAndHostileCurves) {
  TRef<TCubicBezier> empty = Timing(0.1f, 0.2f, 0.3f, 0.4f);
  EXPECT_THROW(empty->Evaluate(0.5), zm::EAbort);
  std::int32_t k = 0;
  EXPECT_THROW(empty->EvaluateFrom(0.5, k), zm::EAbort);

  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Huge, infinite and NaN control points: the splitting stops at its bound
  // and evaluation ends.
  for (double big : {1e30, -1e38, 1e300, inf, -inf, nan}) {
    TRef<TCubicBezier> c = Timing(0.5f, 0.5f, 0.5f, 0.5f);
    c->P1 = TFloatPoint{static_cast<float>(big > 1e38 ? 3e38 : big < -1e38 ? -3e38 : big), 0.5f};
    c->Separate(TQSplineGraph::kTolerance, 0, 1);
    EXPECT_GE(c->PieceCount(), 1);
    EXPECT_LE(c->PieceCount(), 1 << TCurveSeparator::kMaxDepth);
    for (double t : {0.0, 0.5, 1.0, nan}) c->Evaluate(t);
    for (double t : {0.5, -1.0, nan}) QSplineGraph(t, big, 0.5, 0.2, big);
  }
  // A curve whose x turns back still answers from one of its pieces.
  TRef<TCubicBezier> loop = Timing(3.0f, 0.2f, -2.0f, 0.8f);
  loop->Separate(TQSplineGraph::kTolerance, 0, 1);
  for (int i = -10; i <= 20; ++i) {
    const double t = i / 10.0;
    const double y = loop->Evaluate(t);
    EXPECT_EQ(y, loop->Piece(loop->LastIndex())->ValueAt(t));
  }
  // A piece of no width keeps its start y.
  TRef<TCubicBezier> vertical =
      zm::MakeRef<TCubicBezier>(TFloatPoint{0, 0}, TFloatPoint{0, 0.3f}, TFloatPoint{0, 0.6f}, TFloatPoint{0, 1});
  vertical->Separate(TQSplineGraph::kTolerance, 0, 1);
  EXPECT_EQ(vertical->Evaluate(0), 0);
  const double y = vertical->Evaluate(5);
  EXPECT_EQ(y, vertical->Piece(vertical->LastIndex())->StartY);
  EXPECT_TRUE(std::isfinite(y));
  EXPECT_EQ(TCurveSeparator::Lerp({1, 2}, {3, -2}, 0.25).X, 1.5);
  EXPECT_EQ(TCurveSeparator::Lerp({1, 2}, {3, -2}, 0.25).Y, 1);
}

TEST(OruCurves, QSplineGraphInTheCalculator) {
  double x = 0;
  TExpressionParser0 p;
  p.Resolver = [&x](std::string_view name) -> TRef<TCalcFunc> {
    if (name == "x") return zm::MakeRef<TCalcVariable>("x", [&x] { return x; });
    if (name == "c") return zm::MakeRef<TCalcVariable>("c", [] { return 0.1; });
    return nullptr;
  };
  TCalcCmdList opt, plain, folded;
  ASSERT_EQ(p.Parse(std::string("QSplineGraph(x, 0.25, 0.1, 0.25, 1)"), opt), kCalcNoError);
  EXPECT_EQ(opt.Text(), "call(0) x; call(1) QSplineGraph-opt(0.25:0.1;0.25:1)");
  ASSERT_EQ(p.Parse(std::string("qsplinegraph(x, 0.25, c, 0.25, 1)"), plain), kCalcNoError);
  EXPECT_EQ(plain.Text(), "call(0) x; load 0.25; call(0) c; load 0.25; load 1; call(5) QSplineGraph");
  for (x = -0.25; x <= 1.25; x += 0.03125) {
    const double expected = QSplineGraph(x, 0.25, 0.1, 0.25, 1);
    EXPECT_EQ(opt.Evaluate(), expected) << x;
    EXPECT_EQ(plain.Evaluate(), expected) << x;
  }
  // All constant: computed once.
  ASSERT_EQ(p.Parse(std::string("QSplineGraph(0.5, 0.25, 0.1, 0.25, 1)"), folded), kCalcNoError);
  EXPECT_EQ(folded.Text().rfind("load ", 0), 0u);
  EXPECT_EQ(folded.Evaluate(), QSplineGraph(0.5, 0.25, 0.1, 0.25, 1));
  EXPECT_EQ(p.Parse(std::string("QSplineGraph(x, 1, 2, 3)"), folded), kCalcCallError);
  // Five significant digits of the 32-bit control points.
  TRef<TQSplineGraph_opt> third = zm::MakeRef<TQSplineGraph_opt>(TFloatPoint{1.0f / 3, -2.5f}, TFloatPoint{1e-7f, 12345678});
  EXPECT_EQ(third->Text(), "QSplineGraph-opt(0.33333:-2.5;1e-07:1.2346e+07)");
  EXPECT_EQ(third->ArgCount(), 1);
}

}  // namespace
