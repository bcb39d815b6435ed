#pragma once
// Path data and Bezier curves: SVG path data text parsed into path points,
// curve values, and the flattening of curves into lines by halving.
//
// Path data (show descriptions): the commands M, L, H, V, C, S, Q, T and Z
// in either case (lower case: relative to the current point as it was when
// the command began; the current point is the last point added). The first
// command, and the one after Z, must be M; a number where a command is
// expected repeats the last command (M repeats as L). S and T reflect the
// point before the current one about the current one. Any error empties the
// result.
#include <cstdint>
#include <functional>
#include <string_view>

#include "ZmLib/VectorGraphics/zmRasterizerTypes.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// Fills Points from path data; false (and Points empty) on an error.
bool ParseSvgPath(WideStringView text, TPathPoints& points);
// The same over bytes (UTF-8): every command and number is ASCII.
bool ParseSvgPath(std::string_view text, TPathPoints& points);

// (1-t)^2 start + 2t(1-t) control + t^2 end.
TFloatPoint QuadBezierValue(double t, const TFloatPoint& start, const TFloatPoint& control, const TFloatPoint& end);
// (1-t)^3 p0 + 3t(1-t)^2 p1 + 3t^2(1-t) p2 + t^3 p3, in single and in
// extended precision.
TFloatPoint CubicBezierValue(float t, const TFloatPoint& p0, const TFloatPoint& p1, const TFloatPoint& p2,
                             const TFloatPoint& p3);
TFloatPoint CubicBezierValueExt(long double t, const TFloatPoint& p0, const TFloatPoint& p1, const TFloatPoint& p2,
                                const TFloatPoint& p3);

// Both |dx| and |dy| below 2.
bool IsShortChord(const TFloatPoint& a, const TFloatPoint& b);

// A curve being flattened: its points (start, control points, end; P[3] is
// not used by quadratic curves) and the line-to operation that receives the
// end of every line.
struct TBezierContext {
  TFloatPoint P[4];
  std::function<void(const TFloatPoint&)> LineTo;
  // With a cut rectangle, a piece of the curve whose control points all lie
  // beyond one side of it goes to its end as one line. Callers set it to
  // an area whose outside cannot change what is painted.
  bool HasCut = false;
  TFloatRect Cut;
  // When set, every line taken lowers it, and once it is 0 no piece is
  // halved any more: a bound on the work one painting may cause.
  std::int64_t* Budget = nullptr;
};

// Flattens the piece [T0, T1] of the curve, whose ends are Start and End:
// while Depth > 1, T1 > T0 and the chord Start-End is not short, the piece
// is halved at (T0 + T1) / 2, each half with Depth - 1; otherwise End goes
// to LineTo. Whole curves are flattened with Depth 32, T0 = 0 and T1 = 1.
void FlattenQuadBezier(const TBezierContext& context, const TFloatPoint& start, const TFloatPoint& end,
                       std::int32_t depth, double t1, double t0);
void FlattenCubicBezier(const TBezierContext& context, const TFloatPoint& start, const TFloatPoint& end,
                        std::int32_t depth, double t1, double t0);

}  // namespace zm
