#include "OruLib2/OruClasses/OruCurves.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace oru {

// ============================================================================
// TCurveSeparator
// ============================================================================

TCurveSeparator::TCurveSeparator() : pieces_(zm::MakeRef<zm::TList>()) {}

void TCurveSeparator::Dispose() {
  if (pieces_) pieces_->FreeAndClear();
  pieces_ = nullptr;
  TRefObject::Dispose();
}

TCurvePoint TCurveSeparator::Lerp(const TCurvePoint& a, const TCurvePoint& b, double t) {
  return {a.X + (b.X - a.X) * t, a.Y + (b.Y - a.Y) * t};
}

const TKusochek* TCurveSeparator::Piece(std::int32_t i) const {
  return static_cast<const TKusochek*>(pieces_->Get(i));
}

void TCurveSeparator::Separate(double tolerance, double from, double to) {
  pieces_->FreeAndClear();
  last_ = 0;
  SplitRange(tolerance, from, Point(from), to, Point(to), 0);
}

void TCurveSeparator::SplitRange(double tolerance, double u0, const TCurvePoint& a, double u1, const TCurvePoint& b,
                                 std::int32_t depth) {
  if (depth < kMaxDepth) {
    for (double f : {0.25, 0.5, 0.75}) {
      const TCurvePoint c = Point(u0 + (u1 - u0) * f);
      const TCurvePoint l = Lerp(a, b, f);
      // A NaN distance (non-finite curve) compares false and ends the split.
      if (std::hypot(c.X - l.X, c.Y - l.Y) > tolerance) {
        const double um = u0 + (u1 - u0) * 0.5;
        const TCurvePoint m = Point(um);
        SplitRange(tolerance, u0, a, um, m, depth + 1);
        SplitRange(tolerance, um, m, u1, b, depth + 1);
        return;
      }
    }
  }
  AddPiece(a, b);
}

void TCurveSeparator::AddPiece(const TCurvePoint& a, const TCurvePoint& b) {
  const double dx = b.X - a.X;
  double slope = dx != 0 ? (b.Y - a.Y) / dx : 0.0;
  // A vertical piece keeps its start y rather than giving infinities.
  if (!std::isfinite(slope)) slope = 0;
  TKusochek* k = zm::MakeRef<TKusochek>(a.X, b.X, slope, a.Y).Detach();
  if (pieces_->Add(k) < 0) k->Free();
}

double TCurveSeparator::EvaluateFrom(double x, std::int32_t& index) const {
  const std::int32_t n = pieces_->Count();
  ZM_ASSERT(n > 0, "TCurveSeparator.Evaluate Empty piece list");
  std::int32_t i = index < 0 ? 0 : index >= n ? n - 1 : index;
  if (x < Piece(i)->StartX) {
    while (i > 0 && !(Piece(i)->StartX <= x)) --i;
  } else if (x > Piece(i)->EndX) {
    while (i < n - 1 && !(Piece(i)->EndX >= x)) ++i;
  }
  index = i;
  return Piece(i)->ValueAt(x);
}

double TCurveSeparator::Evaluate(double x) { return EvaluateFrom(x, last_); }

std::int32_t TCurveSeparator::StartIndex(double x) const {
  // The last piece that starts at or before x, when the pieces run forward.
  std::int32_t lo = 0, hi = pieces_->Count() - 1;
  while (lo < hi) {
    const std::int32_t mid = lo + (hi - lo + 1) / 2;
    if (Piece(mid)->StartX <= x)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

// ============================================================================
// TCubicBezier
// ============================================================================

TCubicBezier::TCubicBezier(TFloatPoint p0, TFloatPoint p1, TFloatPoint p2, TFloatPoint p3)
    : P0(p0), P1(p1), P2(p2), P3(p3) {}

TCurvePoint TCubicBezier::Point(double u) const {
  const double v = 1 - u;
  const double b0 = v * v * v, b1 = 3 * v * v * u, b2 = 3 * v * u * u, b3 = u * u * u;
  return {b0 * P0.X + b1 * P1.X + b2 * P2.X + b3 * P3.X, b0 * P0.Y + b1 * P1.Y + b2 * P2.Y + b3 * P3.Y};
}

// ============================================================================
// "QSplineGraph"
// ============================================================================

namespace {

// Control points are 32-bit; larger values saturate instead of overflowing.
float ToFloat(double v) {
  constexpr double m = std::numeric_limits<float>::max();
  if (v > m) return std::numeric_limits<float>::max();
  if (v < -m) return -std::numeric_limits<float>::max();
  return static_cast<float>(v);
}

TRef<TCubicBezier> MakeTimingCurve(double x1, double y1, double x2, double y2) {
  TRef<TCubicBezier> c = zm::MakeRef<TCubicBezier>(TFloatPoint{0, 0}, TFloatPoint{ToFloat(x1), ToFloat(y1)},
                                                   TFloatPoint{ToFloat(x2), ToFloat(y2)}, TFloatPoint{1, 1});
  c->Separate(TQSplineGraph::kTolerance, 0, 1);
  return c;
}

double EvaluateShared(const TCubicBezier& c, double t) {
  std::int32_t i = c.StartIndex(t);
  return c.EvaluateFrom(t, i);
}

std::string Digits5(double v) {
  char buf[48];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 5);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("?");
}

}  // namespace

double QSplineGraph(double t, double x1, double y1, double x2, double y2) {
  return EvaluateShared(*MakeTimingCurve(x1, y1, x2, y2), t);
}

TQSplineGraph::TQSplineGraph() : TMathFunc("QSplineGraph", 5) {}

double TQSplineGraph::Calc(const double* a) const { return QSplineGraph(a[0], a[1], a[2], a[3], a[4]); }

bool TQSplineGraph::Optimize(const TCalcCallInfo& call, TRef<TCalcFunc>& replacement) const {
  if (call.ArgCount != 5) return false;
  for (std::int32_t i = 1; i < 5; ++i)
    if (!call.Args[i].IsConst) return false;
  replacement = zm::MakeRef<TQSplineGraph_opt>(TFloatPoint{ToFloat(call.Args[1].Value), ToFloat(call.Args[2].Value)},
                                               TFloatPoint{ToFloat(call.Args[3].Value), ToFloat(call.Args[4].Value)});
  return true;
}

TQSplineGraph_opt::TQSplineGraph_opt(TFloatPoint p1, TFloatPoint p2)
    : TMathFunc("QSplineGraph-opt", 1), curve_(MakeTimingCurve(p1.X, p1.Y, p2.X, p2.Y)) {}

double TQSplineGraph_opt::Calc(const double* a) const { return EvaluateShared(*curve_, a[0]); }

std::string TQSplineGraph_opt::Text() const {
  const TCubicBezier& c = *curve_;
  return "QSplineGraph-opt(" + Digits5(c.P1.X) + ":" + Digits5(c.P1.Y) + ";" + Digits5(c.P2.X) + ":" +
         Digits5(c.P2.Y) + ")";
}

void InitCurves() { RegisterCalcFunction(zm::MakeRef<TQSplineGraph>().get()); }

void FiniCurves() {}

}  // namespace oru
