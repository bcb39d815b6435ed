#pragma once
// Animation curves: a parametric curve is split once into straight pieces
// within a tolerance, and each evaluation only looks the piece up. The
// calculator function "QSplineGraph" maps a time fraction through a cubic
// Bezier timing curve from (0,0) to (1,1).
//
// Threads: a separator belongs to one thread (Evaluate remembers the piece
// it used last); the calculator functions keep their lookup state per call
// and may be shared.
#include <cstdint>
#include <string>

#include "OruLib2/OruClasses/OruCalc.h"
#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/zmLists.h"

namespace oru {

using zm::TFloatPoint;

// A point of a curve as computed.
struct TCurvePoint {
  double X = 0, Y = 0;
};

// One straight piece: y = (x - StartX) * Slope + StartY.
class TKusochek : public zm::TRefObject {
public:
  TKusochek(double startX, double endX, double slope, double startY)
      : StartX(startX), EndX(endX), Slope(slope), StartY(startY) {}
  double StartX, EndX, Slope, StartY;
  double ValueAt(double x) const { return (x - StartX) * Slope + StartY; }
};

class TCurveSeparator : public zm::TRefObject {
public:
  // Bounds the splitting of a curve that never meets the tolerance (huge or
  // non-finite control points): at most 2^kMaxDepth pieces.
  static constexpr std::int32_t kMaxDepth = 14;

  TCurveSeparator();
  void Dispose() override;  // frees the pieces

  // The curve's point at parameter u.
  virtual TCurvePoint Point(double u) const = 0;

  // Empties the piece list and refills it for the parameter range From..To.
  void Separate(double tolerance, double from, double to);
  // y at x, starting from the piece used last and remembering the one found.
  // An empty piece list fails an assertion.
  double Evaluate(double x);
  // The same lookup from index (in: where to start, clamped; out: the piece
  // found), without touching the separator: callers on several threads each
  // keep their own index.
  double EvaluateFrom(double x, std::int32_t& index) const;
  // The piece to start a lookup of x from: found by bisection, for callers
  // that keep no index between calls.
  std::int32_t StartIndex(double x) const;

  std::int32_t PieceCount() const { return pieces_->Count(); }
  const TKusochek* Piece(std::int32_t i) const;  // nil out of range
  std::int32_t LastIndex() const { return last_; }

  // Linear interpolation A + (B - A) * t per coordinate.
  static TCurvePoint Lerp(const TCurvePoint& a, const TCurvePoint& b, double t);

private:
  void SplitRange(double tolerance, double u0, const TCurvePoint& a, double u1, const TCurvePoint& b,
                  std::int32_t depth);
  void AddPiece(const TCurvePoint& a, const TCurvePoint& b);

  TRef<zm::TList> pieces_;  // of TKusochek, owned
  std::int32_t last_ = 0;
};

class TCubicBezier : public TCurveSeparator {
public:
  TCubicBezier(TFloatPoint p0, TFloatPoint p1, TFloatPoint p2, TFloatPoint p3);
  TCurvePoint Point(double u) const override;
  TFloatPoint P0, P1, P2, P3;
};

// "QSplineGraph"(T, X1, Y1, X2, Y2): the y of the timing curve with
// P1 = (X1, Y1), P2 = (X2, Y2) at x = T. Each call builds its own curve.
class TQSplineGraph : public TMathFunc {
public:
  static constexpr double kTolerance = 0.000001;
  TQSplineGraph();
  double Calc(const double* args) const override;
  // Constant control points: the curve is split once and the call replaced
  // by a TQSplineGraph_opt of one argument.
  bool Optimize(const TCalcCallInfo& call, TRef<TCalcFunc>& replacement) const override;
};

// The compiled form with fixed control points.
class TQSplineGraph_opt : public TMathFunc {
public:
  TQSplineGraph_opt(TFloatPoint p1, TFloatPoint p2);
  double Calc(const double* args) const override;
  // "QSplineGraph-opt(x1:y1;x2:y2)" with 5 significant digits.
  std::string Text() const override;
  const TCubicBezier& Curve() const { return *curve_; }

private:
  TRef<TCubicBezier> curve_;
};

// The timing curve's y at t, as "QSplineGraph" computes it.
double QSplineGraph(double t, double x1, double y1, double x2, double y2);

// Module start: registers "QSplineGraph" with the calculator.
void InitCurves();
void FiniCurves();

}  // namespace oru
