#pragma once
// Region arithmetic shared by the drawing layer (HRGN objects, DC clips) and
// the window layer (update areas). A region is a canonical list of
// rectangles: sorted in y-x bands, not overlapping, vertically equal
// neighbouring bands merged; so two regions with the same area compare equal.
#include <cstddef>
#include <vector>

#include "Platform/User/PlatUserTypes.h"

namespace plat::gdi {

class TRegion {
public:
  TRegion() = default;
  explicit TRegion(const RECT& r);
  // The union of any rectangles (empty ones ignored).
  static TRegion FromRects(const RECT* rects, std::size_t count);
  // mode: RGN_AND, RGN_OR, RGN_XOR, RGN_DIFF (a op b).
  static TRegion Combine(const TRegion& a, const TRegion& b, int mode);

  const std::vector<RECT>& Rects() const { return rects_; }
  bool Empty() const { return rects_.empty(); }
  RECT Box() const;
  int Type() const;  // NULLREGION, SIMPLEREGION or COMPLEXREGION
  // False (and unchanged) when a coordinate would leave the int range.
  bool Offset(int dx, int dy);
  bool Contains(int x, int y) const;
  bool Intersects(const RECT& r) const;
  TRegion Intersect(const RECT& r) const { return Combine(*this, TRegion(r), 1); }
  friend bool operator==(const TRegion&, const TRegion&) = default;

private:
  std::vector<RECT> rects_;
};

}  // namespace plat::gdi
