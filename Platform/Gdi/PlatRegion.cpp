#include "Platform/Gdi/PlatRegion.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "Platform/Gdi/PlatGdi.h"

namespace plat::gdi {

namespace {

bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

using TSpans = std::vector<std::pair<std::int32_t, std::int32_t>>;  // sorted, disjoint [l, r)

// The x spans of the rectangles that cover the band starting at y.
TSpans SpansAt(const std::vector<const RECT*>& active, std::int32_t y) {
  TSpans s;
  for (const RECT* r : active)
    if (r->top <= y && r->bottom > y) s.emplace_back(r->left, r->right);
  std::sort(s.begin(), s.end());
  TSpans merged;
  for (auto& p : s) {
    if (!merged.empty() && p.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, p.second);
    else
      merged.push_back(p);
  }
  return merged;
}

bool Inside(bool a, bool b, int mode) {
  switch (mode) {
    case RGN_AND: return a && b;
    case RGN_OR: return a || b;
    case RGN_XOR: return a != b;
    case RGN_DIFF: return a && !b;
    default: return false;
  }
}

// The spans where the operation holds, by a sweep over both span edges.
TSpans CombineSpans(const TSpans& a, const TSpans& b, int mode) {
  std::vector<std::int32_t> xs;
  for (auto& p : a) xs.push_back(p.first), xs.push_back(p.second);
  for (auto& p : b) xs.push_back(p.first), xs.push_back(p.second);
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  TSpans out;
  std::size_t ia = 0, ib = 0;
  for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
    const std::int32_t x = xs[i];
    while (ia < a.size() && a[ia].second <= x) ++ia;
    while (ib < b.size() && b[ib].second <= x) ++ib;
    const bool inA = ia < a.size() && a[ia].first <= x;
    const bool inB = ib < b.size() && b[ib].first <= x;
    if (!Inside(inA, inB, mode)) continue;
    if (!out.empty() && out.back().second == x) out.back().second = xs[i + 1];
    else out.emplace_back(x, xs[i + 1]);
  }
  return out;
}

// Sweeps the bands of two rectangle lists and returns the canonical result.
std::vector<RECT> Sweep(const std::vector<RECT>& a, const std::vector<RECT>& b, int mode) {
  std::vector<const RECT*> ra, rb;
  std::vector<std::int32_t> ys;
  for (auto& r : a)
    if (!IsEmpty(r)) ra.push_back(&r), ys.push_back(r.top), ys.push_back(r.bottom);
  for (auto& r : b)
    if (!IsEmpty(r)) rb.push_back(&r), ys.push_back(r.top), ys.push_back(r.bottom);
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  auto byTop = [](const RECT* x, const RECT* y) { return x->top < y->top; };
  std::sort(ra.begin(), ra.end(), byTop);
  std::sort(rb.begin(), rb.end(), byTop);

  std::vector<RECT> out;
  std::vector<const RECT*> activeA, activeB;
  std::size_t na = 0, nb = 0;
  TSpans previous;
  std::size_t previousStart = 0;  // first rectangle of the previous band in out
  std::int32_t previousBottom = INT_MIN;
  bool havePrevious = false;
  for (std::size_t i = 0; i + 1 < ys.size(); ++i) {
    const std::int32_t y0 = ys[i], y1 = ys[i + 1];
    auto advance = [&](std::vector<const RECT*>& active, const std::vector<const RECT*>& all, std::size_t& n) {
      std::erase_if(active, [&](const RECT* r) { return r->bottom <= y0; });
      while (n < all.size() && all[n]->top <= y0) {
        if (all[n]->bottom > y0) active.push_back(all[n]);
        ++n;
      }
    };
    advance(activeA, ra, na);
    advance(activeB, rb, nb);
    TSpans spans = CombineSpans(SpansAt(activeA, y0), SpansAt(activeB, y0), mode);
    if (spans.empty()) {
      havePrevious = false;
      continue;
    }
    if (havePrevious && previousBottom == y0 && spans == previous) {
      for (std::size_t k = previousStart; k < out.size(); ++k) out[k].bottom = y1;
    } else {
      previousStart = out.size();
      for (auto& s : spans) out.push_back(RECT{s.first, y0, s.second, y1});
      previous = std::move(spans);
      havePrevious = true;
    }
    previousBottom = y1;
  }
  return out;
}

}  // namespace

TRegion::TRegion(const RECT& r) {
  RECT n{std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
         std::max(r.top, r.bottom)};
  if (!IsEmpty(n)) rects_.push_back(n);
}

TRegion TRegion::FromRects(const RECT* rects, std::size_t count) {
  TRegion t;
  if (!rects || !count) return t;
  std::vector<RECT> in(rects, rects + count);
  t.rects_ = Sweep(in, {}, RGN_OR);
  return t;
}

TRegion TRegion::Combine(const TRegion& a, const TRegion& b, int mode) {
  TRegion t;
  if (mode == RGN_COPY) return a;
  if (mode < RGN_AND || mode > RGN_DIFF) return t;
  t.rects_ = Sweep(a.rects_, b.rects_, mode);
  return t;
}

RECT TRegion::Box() const {
  if (rects_.empty()) return RECT{};
  RECT b = rects_.front();
  for (auto& r : rects_) {
    b.left = std::min(b.left, r.left);
    b.right = std::max(b.right, r.right);
    b.bottom = std::max(b.bottom, r.bottom);
  }
  return b;
}

int TRegion::Type() const {
  return rects_.empty() ? NULLREGION : rects_.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

bool TRegion::Offset(int dx, int dy) {
  for (auto& r : rects_) {
    const std::int64_t v[4] = {std::int64_t(r.left) + dx, std::int64_t(r.top) + dy, std::int64_t(r.right) + dx,
                               std::int64_t(r.bottom) + dy};
    for (auto x : v)
      if (x < INT_MIN || x > INT_MAX) return false;
  }
  for (auto& r : rects_) r = RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  return true;
}

bool TRegion::Contains(int x, int y) const {
  for (auto& r : rects_)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

bool TRegion::Intersects(const RECT& q) const {
  RECT n{std::min(q.left, q.right), std::min(q.top, q.bottom), std::max(q.left, q.right),
         std::max(q.top, q.bottom)};
  for (auto& r : rects_)
    if (std::max(r.left, n.left) < std::min(r.right, n.right) && std::max(r.top, n.top) < std::min(r.bottom, n.bottom))
      return true;
  return false;
}

}  // namespace plat::gdi
