#include "ZmLib/VectorGraphics/zmSvgUtils.h"

#include <charconv>
#include <cfloat>
#include <algorithm>
#include <cmath>
#include <string>

namespace zm {

namespace {

// ---- Path data ------------------------------------------------------------------

template <class C>
class TPathParser {
public:
  TPathParser(std::basic_string_view<C> text, TPathPoints& points) : text_(text), points_(points) {}

  bool Run() {
    char last = 0;  // the last command, 0 at the start
    bool needMove = true;
    for (;;) {
      SkipBlanks();
      if (pos_ >= text_.size()) return true;
      const std::uint32_t ch = Char(pos_);
      char cmd;
      if (IsCommand(ch)) {
        cmd = char(ch);
        ++pos_;
      } else if ((ch >= '0' && ch <= '9') || ch == '-' || ch == '.') {
        if (last == 0 || last == 'Z' || last == 'z') return false;
        cmd = last == 'M' ? 'L' : last == 'm' ? 'l' : last;
      } else {
        return false;
      }
      if (needMove && cmd != 'M' && cmd != 'm') return false;
      if (!Command(cmd, last)) return false;
      needMove = cmd == 'Z' || cmd == 'z';
      last = cmd;
    }
  }

private:
  static bool IsCommand(std::uint32_t c) {
    switch (c) {
      case 'M': case 'L': case 'H': case 'V': case 'C': case 'S': case 'Q': case 'T': case 'Z':
      case 'm': case 'l': case 'h': case 'v': case 'c': case 's': case 'q': case 't': case 'z':
        return true;
      default:
        return false;
    }
  }
  static bool IsLineOrCurve(char c) {
    switch (c) {
      case 'L': case 'H': case 'V': case 'C': case 'S': case 'Q': case 'T':
      case 'l': case 'h': case 'v': case 'c': case 's': case 'q': case 't':
        return true;
      default:
        return false;
    }
  }
  std::uint32_t Char(std::size_t i) const {
    if constexpr (sizeof(C) == 1) return std::uint8_t(text_[i]);
    else return std::uint32_t(text_[i]);
  }
  void SkipBlanks() {
    while (pos_ < text_.size() && Char(pos_) <= 32) ++pos_;
  }

  // The longest run of "+-.0123456789Ee" as a decimal number, then blanks
  // and one ",".
  bool ReadPathNumber(float& value) {
    SkipBlanks();
    std::string run;
    while (pos_ < text_.size()) {
      const std::uint32_t c = Char(pos_);
      if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'E' || c == 'e')) break;
      run.push_back(char(c));
      ++pos_;
    }
    std::size_t from = 0;
    if (!run.empty() && run[0] == '+') {
      from = 1;
      if (run.size() > 1 && (run[1] == '+' || run[1] == '-')) return false;
    }
    if (from >= run.size()) return false;
    double d = 0;
    const char* b = run.data() + from;
    const char* e = run.data() + run.size();
    const auto r = std::from_chars(b, e, d, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != e || !(std::fabs(d) <= double(FLT_MAX))) return false;
    value = float(d);
    SkipBlanks();
    if (pos_ < text_.size() && Char(pos_) == ',') ++pos_;
    return true;
  }

  bool ReadPair(const TFloatPoint& base, bool relative, TFloatPoint& p) {
    if (!ReadPathNumber(p.X) || !ReadPathNumber(p.Y)) return false;
    if (relative) {
      p.X += base.X;
      p.Y += base.Y;
    }
    return true;
  }

  TFloatPoint Current() const {
    if (points_.empty()) return {};
    return {points_.back().X, points_.back().Y};
  }
  void Add(const TFloatPoint& p, std::int32_t code) { AddPathPoint(points_, p.X, p.Y, code); }

  bool Command(char cmd, char last) {
    const bool rel = cmd >= 'a';
    const TFloatPoint base = Current();
    TFloatPoint p, c1, c2;
    switch (cmd) {
      case 'M': case 'm':
        if (!ReadPair(base, rel, p)) return false;
        Add(p, pcMove);
        return true;
      case 'L': case 'l':
        if (!ReadPair(base, rel, p)) return false;
        Add(p, pcLine);
        return true;
      case 'H': case 'h':
        if (!ReadPathNumber(p.X)) return false;
        if (rel) p.X += base.X;
        p.Y = base.Y;
        Add(p, pcLine);
        return true;
      case 'V': case 'v':
        if (!ReadPathNumber(p.Y)) return false;
        if (rel) p.Y += base.Y;
        p.X = base.X;
        Add(p, pcLine);
        return true;
      case 'Q': case 'q':
        if (!ReadPair(base, rel, c1) || !ReadPair(base, rel, p)) return false;
        Add(c1, pcControl2);
        Add(p, pcLine);
        return true;
      case 'C': case 'c':
        if (!ReadPair(base, rel, c1) || !ReadPair(base, rel, c2) || !ReadPair(base, rel, p)) return false;
        Add(c1, pcControl3);
        Add(c2, pcControl2);
        Add(p, pcLine);
        return true;
      case 'T': case 't':
      case 'S': case 's': {
        if (!IsLineOrCurve(last) || points_.size() < 2) return false;
        const TPathPoint& prev = points_[points_.size() - 2];
        const TFloatPoint reflected{2 * base.X - prev.X, 2 * base.Y - prev.Y};
        if (cmd == 'T' || cmd == 't') {
          if (!ReadPair(base, rel, p)) return false;
          Add(reflected, pcControl2);
          Add(p, pcLine);
        } else {
          if (!ReadPair(base, rel, c2) || !ReadPair(base, rel, p)) return false;
          Add(reflected, pcControl3);
          Add(c2, pcControl2);
          Add(p, pcLine);
        }
        return true;
      }
      default:  // Z: the rasteriser closes contours by itself
        return true;
    }
  }

  std::basic_string_view<C> text_;
  TPathPoints& points_;
  std::size_t pos_ = 0;
};

template <class C>
bool ParsePath(std::basic_string_view<C> text, TPathPoints& points) {
  points.clear();
  // Numbers beyond the float range (or relative steps adding up past it)
  // would hand infinities and NaNs to the rasteriser: such a path is refused.
  if (TPathParser<C>(text, points).Run() &&
      std::all_of(points.begin(), points.end(),
                  [](const TPathPoint& p) { return std::isfinite(p.X) && std::isfinite(p.Y); }))
    return true;
  points.clear();
  return false;
}

// ---- Curves -----------------------------------------------------------------------

struct TDPoint {
  double X, Y;
};

TDPoint D(const TFloatPoint& p) { return {p.X, p.Y}; }

// The control points of the piece [u, v] of a curve, from its blossom.
TDPoint QuadBlossom(const TFloatPoint* p, double u, double v) {
  const double a = (1 - u) * (1 - v), b = (1 - u) * v + u * (1 - v), c = u * v;
  return {a * p[0].X + b * p[1].X + c * p[2].X, a * p[0].Y + b * p[1].Y + c * p[2].Y};
}

TDPoint CubicBlossom(const TFloatPoint* p, double u, double v, double w) {
  const double a = (1 - u) * (1 - v) * (1 - w);
  const double b = u * (1 - v) * (1 - w) + (1 - u) * v * (1 - w) + (1 - u) * (1 - v) * w;
  const double c = u * v * (1 - w) + u * (1 - v) * w + (1 - u) * v * w;
  const double d = u * v * w;
  return {a * p[0].X + b * p[1].X + c * p[2].X + d * p[3].X, a * p[0].Y + b * p[1].Y + c * p[2].Y + d * p[3].Y};
}

// All points beyond one side of the cut rectangle.
bool BeyondCut(const TFloatRect& r, std::initializer_list<TDPoint> pts) {
  bool left = true, right = true, above = true, below = true;
  for (const TDPoint& p : pts) {
    left = left && p.X < r.Left;
    right = right && p.X > r.Right;
    above = above && p.Y < r.Top;
    below = below && p.Y > r.Bottom;
  }
  return left || right || above || below;
}

}  // namespace

bool ParseSvgPath(WideStringView text, TPathPoints& points) { return ParsePath<char16_t>(text, points); }

bool ParseSvgPath(std::string_view text, TPathPoints& points) { return ParsePath<char>(text, points); }

TFloatPoint QuadBezierValue(double t, const TFloatPoint& s, const TFloatPoint& c, const TFloatPoint& e) {
  const double a = (1 - t) * (1 - t), b = 2 * t * (1 - t), d = t * t;
  return {float(a * s.X + b * c.X + d * e.X), float(a * s.Y + b * c.Y + d * e.Y)};
}

TFloatPoint CubicBezierValue(float t, const TFloatPoint& p0, const TFloatPoint& p1, const TFloatPoint& p2,
                             const TFloatPoint& p3) {
  const float u = 1 - t;
  const float a = u * u * u, b = 3 * t * u * u, c = 3 * t * t * u, d = t * t * t;
  return {a * p0.X + b * p1.X + c * p2.X + d * p3.X, a * p0.Y + b * p1.Y + c * p2.Y + d * p3.Y};
}

TFloatPoint CubicBezierValueExt(long double t, const TFloatPoint& p0, const TFloatPoint& p1, const TFloatPoint& p2,
                                const TFloatPoint& p3) {
  const long double u = 1 - t;
  const long double a = u * u * u, b = 3 * t * u * u, c = 3 * t * t * u, d = t * t * t;
  return {float(a * p0.X + b * p1.X + c * p2.X + d * p3.X), float(a * p0.Y + b * p1.Y + c * p2.Y + d * p3.Y)};
}

bool IsShortChord(const TFloatPoint& a, const TFloatPoint& b) {
  return std::fabs(b.X - a.X) < 2 && std::fabs(b.Y - a.Y) < 2;
}

void FlattenQuadBezier(const TBezierContext& c, const TFloatPoint& start, const TFloatPoint& end, std::int32_t depth,
                       double t1, double t0) {
  if (depth > 1 && t1 - t0 > 0 && !IsShortChord(start, end) && !(c.Budget && *c.Budget <= 0)) {
    if (!c.HasCut || !BeyondCut(c.Cut, {D(start), QuadBlossom(c.P, t0, t1), D(end)})) {
      const double mid = (t0 + t1) * 0.5;
      const TFloatPoint m = QuadBezierValue(mid, c.P[0], c.P[1], c.P[2]);
      FlattenQuadBezier(c, start, m, depth - 1, mid, t0);
      FlattenQuadBezier(c, m, end, depth - 1, t1, mid);
      return;
    }
  }
  if (c.Budget) --*c.Budget;
  c.LineTo(end);
}

void FlattenCubicBezier(const TBezierContext& c, const TFloatPoint& start, const TFloatPoint& end, std::int32_t depth,
                        double t1, double t0) {
  if (depth > 1 && t1 - t0 > 0 && !IsShortChord(start, end) && !(c.Budget && *c.Budget <= 0)) {
    if (!c.HasCut ||
        !BeyondCut(c.Cut, {D(start), CubicBlossom(c.P, t0, t0, t1), CubicBlossom(c.P, t0, t1, t1), D(end)})) {
      const double mid = (t0 + t1) * 0.5;
      const TFloatPoint m = CubicBezierValueExt(mid, c.P[0], c.P[1], c.P[2], c.P[3]);
      FlattenCubicBezier(c, start, m, depth - 1, mid, t0);
      FlattenCubicBezier(c, m, end, depth - 1, t1, mid);
      return;
    }
  }
  if (c.Budget) --*c.Budget;
  c.LineTo(end);
}

}  // namespace zm
