#include "ZmLib/VectorGraphics/zmRasterizer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace zm {

namespace {

constexpr std::int64_t kMaxFixed = 2147483647;

// Round half to even, as the FPU does by default.
inline double RoundEven(double v) {
  constexpr double kMagic = 6755399441055744.0;  // 1.5 * 2^52
  if (std::fabs(v) < 2251799813685248.0) return (v + kMagic) - kMagic;
  return std::nearbyint(v);
}

std::int32_t ToFixed16(float v) {
  if (std::isnan(v)) return 0;
  const double d = RoundEven(double(v) * 16.0);
  if (d < -double(kMaxFixed)) return -std::int32_t(kMaxFixed);
  if (d > double(kMaxFixed)) return std::int32_t(kMaxFixed);
  return std::int32_t(d);
}

}  // namespace

TPoint PointToFixed16(const TFloatPoint& p) { return {ToFixed16(p.X), ToFixed16(p.Y)}; }

// ---- TOutline ------------------------------------------------------------------------

TOutline::TOutline() { edges_.reserve(16); }

void TOutline::Dispose() {
  OnSpan = nullptr;
  edges_.clear();
  sorted_.clear();
  TRefObject::Dispose();
}

void TOutline::Reset() {
  edges_.clear();
  sorted_.clear();
  closed_ = true;
  maxX_ = -2147483647;
  minX_ = minY_ = 2147483647;
  maxY_ = -2147483647;
}

void TOutline::AddEdge(const TPoint& p) {
  const TPoint c = current_;
  current_ = p;
  if (p.Y == c.Y) return;
  TOutlineEdge e;
  if (p.Y >= c.Y) {
    e.X = c.X;
    e.Y = c.Y;
    e.Height = std::int64_t(p.Y) - c.Y;
    e.Step = float(double(std::int64_t(p.X) - c.X) / double(e.Height));
  } else {
    e.X = p.X;
    e.Y = p.Y;
    e.Height = std::int64_t(p.Y) - c.Y;
    e.Step = float(double(std::int64_t(c.X) - p.X) / double(std::int64_t(c.Y) - p.Y));
  }
  maxX_ = std::max({maxX_, c.X, p.X});
  minX_ = std::min({minX_, c.X, p.X});
  minY_ = std::min({minY_, c.Y, p.Y});
  maxY_ = std::max({maxY_, c.Y, p.Y});
  if (edges_.size() == edges_.capacity()) edges_.reserve(edges_.capacity() * 2);
  edges_.push_back(e);
}

void TOutline::MoveTo(const TFloatPoint& p) {
  if (!closed_) AddEdge(PointToFixed16(start_));
  closed_ = false;
  start_ = p;
  current_ = PointToFixed16(p);
}

void TOutline::AddPoint(const TFloatPoint& p) {
  if (closed_) ZM_FAIL("TOutline.AddPoint Error: No Start Point or Closed Outline");
  AddEdge(PointToFixed16(p));
}

void TOutline::Finish() {
  if (!closed_) {
    AddEdge(PointToFixed16(start_));
    closed_ = true;
  }
  sorted_.resize(edges_.size());
  for (std::size_t i = 0; i < sorted_.size(); ++i) sorted_[i] = std::int32_t(i);
  std::sort(sorted_.begin(), sorted_.end(), [this](std::int32_t a, std::int32_t b) {
    const std::int32_t ya = edges_[std::size_t(a)].Y, yb = edges_[std::size_t(b)].Y;
    return ya != yb ? ya < yb : a < b;
  });
}

// ---- The runs of outlines met before ----------------------------------------------------

// One run of a kept scan: its row and first column from the outline's
// whole-pixel corner, and its coverage.
struct TKeptRun {
  std::int32_t Row, First;
  std::vector<std::uint16_t> Cells;
};

// A scan kept: the outline's edges from its corner, its rule, its runs.
struct TKeptScan {
  std::vector<TOutlineEdge> Edges;
  bool EvenOdd = false;
  std::vector<TKeptRun> Runs;
  std::size_t Bytes = 0;
};

struct TRasterizer::TRecording {
  std::int32_t Left = 0, Top = 0;  // the corner, pixels
  std::shared_ptr<TKeptScan> Scan;
};

namespace {

bool SameEdges(const std::vector<TOutlineEdge>& a, const std::vector<TOutlineEdge>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].X != b[i].X || a[i].Y != b[i].Y || a[i].Height != b[i].Height ||
        std::memcmp(&a[i].Step, &b[i].Step, sizeof(float)) != 0)
      return false;
  return true;
}

std::uint64_t HashEdges(const std::vector<TOutlineEdge>& edges, bool evenOdd) {
  std::uint64_t h = 1469598103934665603ull ^ (evenOdd ? 1 : 0);
  const auto mix = [&h](std::uint64_t v) {
    h ^= v;
    h *= 1099511628211ull;
  };
  for (const TOutlineEdge& e : edges) {
    std::uint32_t step;
    std::memcpy(&step, &e.Step, sizeof step);
    mix(std::uint32_t(e.X));
    mix(std::uint32_t(e.Y));
    mix(std::uint64_t(e.Height));
    mix(step);
  }
  return h;
}

// The scans kept, the oldest going first past kCoverageCacheBytes. Any
// thread; never destroyed (a text may be drawn while the program ends).
class TScanKeeper {
public:
  std::shared_ptr<const TKeptScan> Find(std::uint64_t hash, const std::vector<TOutlineEdge>& edges, bool evenOdd) {
    std::lock_guard<std::mutex> g(lock_);
    const auto [from, to] = scans_.equal_range(hash);
    for (auto it = from; it != to; ++it)
      if (it->second->EvenOdd == evenOdd && SameEdges(it->second->Edges, edges)) return it->second;
    return nullptr;
  }
  void Keep(std::uint64_t hash, std::shared_ptr<TKeptScan> scan) {
    std::lock_guard<std::mutex> g(lock_);
    if (scan->Bytes > TRasterizer::kCoverageCacheBytes / 16) return;
    while (bytes_ + scan->Bytes > TRasterizer::kCoverageCacheBytes && !order_.empty()) {
      const auto [h, old] = order_.front();
      order_.pop_front();
      const auto [from, to] = scans_.equal_range(h);
      for (auto it = from; it != to; ++it)
        if (it->second.get() == old) {
          bytes_ -= it->second->Bytes;
          scans_.erase(it);
          break;
        }
    }
    bytes_ += scan->Bytes;
    order_.push_back({hash, scan.get()});
    scans_.emplace(hash, std::move(scan));
  }

private:
  std::mutex lock_;
  std::unordered_multimap<std::uint64_t, std::shared_ptr<const TKeptScan>> scans_;
  std::deque<std::pair<std::uint64_t, const TKeptScan*>> order_;
  std::size_t bytes_ = 0;
};

TScanKeeper& Keeper() {
  static TScanKeeper* keeper = new TScanKeeper;
  return *keeper;
}

std::atomic<std::uint64_t> gKeptScanHits{0};

// Outlines larger than this are scanned each time.
constexpr std::size_t kMostKeptEdges = 4096;
constexpr std::int32_t kMostKeptRows = 1024;

}  // namespace

std::uint64_t TRasterizer::CoverageCacheHits() { return gKeptScanHits.load(); }

// ---- TRasterizer ----------------------------------------------------------------------

TRasterizer::TRasterizer() { active_.reserve(16); }

void TRasterizer::Dispose() {
  active_.clear();
  cells_.clear();
  fill_.clear();
  TRefObject::Dispose();
}

std::int32_t TRasterizer::EdgeXAtY(const TOutlineEdge& edge, std::int64_t y) {
  const std::int64_t d = y - edge.Y;
  const std::int64_t h = edge.Height < 0 ? -edge.Height : edge.Height;
  if (d < 0 || d >= h) return kNoCrossing;
  const double x = double(edge.X) + RoundEven((double(d) + 0.5) * double(edge.Step));
  if (x < -double(kMaxFixed)) return -std::int32_t(kMaxFixed);
  if (x > double(kMaxFixed)) return std::int32_t(kMaxFixed);
  return std::int32_t(x);
}

bool TRasterizer::AddCrossing(std::int32_t x, std::int32_t direction) {
  const std::int32_t xc = std::int32_t(std::min<std::int64_t>(x, rightLimit_));
  if (winding_ == 0) regionDir_ = direction;
  if (xc > prevX_) {
    if (((regionDir_ * winding_) & mask_) > 0) {
      const std::int32_t c0 = prevX_ >> 4, s0 = prevX_ & 15;
      const std::int32_t c1 = (xc - 1) >> 4, s1 = (xc - 1) & 15;
      if (c0 == c1) {
        cells_[std::size_t(c0)] = std::uint16_t(cells_[std::size_t(c0)] + (s1 - s0 + 1));
      } else {
        cells_[std::size_t(c0)] = std::uint16_t(cells_[std::size_t(c0)] + (16 - s0));
        cells_[std::size_t(c1)] = std::uint16_t(cells_[std::size_t(c1)] + (s1 + 1));
        if (c1 > c0 + 1) {
          fill_[std::size_t(c0 + 1)] += 16;
          fill_[std::size_t(c1)] -= 16;
        }
      }
      touchedLo_ = std::min(touchedLo_, c0);
      touchedHi_ = std::max(touchedHi_, c1);
    }
    prevX_ = xc;
  }
  winding_ += direction;
  return x < rightLimit_;
}

void TRasterizer::FlushRow(std::int32_t row) {
  const std::int32_t lo = touchedLo_, hi = touchedHi_;
  touchedLo_ = 2147483647;
  touchedHi_ = 0;
  if (lo > hi) return;
  std::uint16_t* cells = cells_.data();
  std::int32_t* fill = fill_.data();
  std::int32_t running = 0;
  for (std::int32_t c = lo; c <= hi; ++c) {
    running += fill[c];
    fill[c] = 0;
    cells[c] = std::uint16_t(cells[c] + running);
  }
  std::int32_t c = lo;
  while (c <= hi) {
    if (cells[c] == 0) {
      ++c;
      continue;
    }
    const std::int32_t first = c;
    while (c <= hi && cells[c] != 0) ++c;
    if (recording_) {
      recording_->Scan->Runs.push_back({row - recording_->Top, first - recording_->Left,
                                        std::vector<std::uint16_t>(cells + first, cells + c)});
      recording_->Scan->Bytes += sizeof(TKeptRun) + std::size_t(c - first) * sizeof(std::uint16_t);
    }
    outline_->OnSpan(row, cells, first, c - 1);
    std::fill(cells + first, cells + c, std::uint16_t(0));
  }
}

void TRasterizer::SortCrossings(std::int32_t count, std::int32_t outOfOrder) {
  auto byX = [](const TCrossing& a, const TCrossing& b) { return a.X < b.X; };
  if (outOfOrder > 4) {
    std::sort(active_.begin(), active_.begin() + count, byX);
    return;
  }
  // Nearly sorted: a few steps of insertion put the stragglers in place.
  for (std::int32_t i = 1; i < count; ++i) {
    const TCrossing v = active_[std::size_t(i)];
    std::int32_t j = i;
    while (j > 0 && active_[std::size_t(j - 1)].X > v.X) {
      active_[std::size_t(j)] = active_[std::size_t(j - 1)];
      --j;
    }
    active_[std::size_t(j)] = v;
  }
}

void TRasterizer::Rasterize(TOutline* outline, std::int32_t width, std::int32_t height) {
  if (!outline) return;
  outline->Finish();
  const std::int32_t edgeCount = outline->EdgeCount();
  if (edgeCount == 0 || !outline->OnSpan || width < 1 || height < 1) return;
  // Wholly inside the area (nothing cut at its sides), the runs depend on
  // the edges alone: moved by whole pixels, they move as far.
  const bool inside = outline->MinX() >= 0 && outline->MinY() >= 0 && std::int64_t(outline->MaxX()) < std::int64_t(width) * 16 &&
                      std::int64_t(outline->MaxY()) < std::int64_t(height) * 16 &&
                      std::size_t(edgeCount) <= kMostKeptEdges && outline->MaxY() - outline->MinY() < kMostKeptRows * 16;
  if (!inside) {
    Scan(outline, width, height);
    return;
  }
  TRecording recording;
  recording.Left = outline->MinX() >> 4;
  recording.Top = outline->MinY() >> 4;
  std::vector<TOutlineEdge> edges(static_cast<std::size_t>(edgeCount));
  for (std::int32_t i = 0; i < edgeCount; ++i) {
    TOutlineEdge e = outline->Edge(i);
    e.X -= recording.Left * 16;
    e.Y -= recording.Top * 16;
    edges[std::size_t(i)] = e;
  }
  const std::uint64_t hash = HashEdges(edges, outline->FillEvenOdd);
  if (std::shared_ptr<const TKeptScan> kept = Keeper().Find(hash, edges, outline->FillEvenOdd)) {
    ++gKeptScanHits;
    std::vector<std::uint16_t> cells;
    for (const TKeptRun& run : kept->Runs) {
      const std::int32_t first = run.First + recording.Left;
      const std::int32_t last = first + std::int32_t(run.Cells.size()) - 1;
      if (cells.size() < std::size_t(last) + 1) cells.resize(std::size_t(last) + 1);
      std::copy(run.Cells.begin(), run.Cells.end(), cells.begin() + first);
      outline->OnSpan(run.Row + recording.Top, cells.data(), first, last);
    }
    return;
  }
  recording.Scan = std::make_shared<TKeptScan>();
  recording.Scan->EvenOdd = outline->FillEvenOdd;
  recording.Scan->Bytes = sizeof(TKeptScan) + edges.size() * sizeof(TOutlineEdge);
  recording.Scan->Edges = std::move(edges);
  recording_ = &recording;
  try {
    Scan(outline, width, height);
  } catch (...) {
    recording_ = nullptr;
    throw;
  }
  recording_ = nullptr;
  Keeper().Keep(hash, std::move(recording.Scan));
}

void TRasterizer::Scan(TOutline* outline, std::int32_t width, std::int32_t height) {
  const std::int32_t edgeCount = outline->EdgeCount();
  outline_ = outline;
  mask_ = outline->FillEvenOdd ? 1 : -1;
  active_.clear();

  // Columns right of every point are never covered: the cells stop a little
  // past the rightmost point (the margin covers rounding of the steps), so a
  // huge width costs no memory.
  const std::int64_t needed = std::max<std::int64_t>(0, std::int64_t(outline->MaxX()) >> 4) + 64;
  const std::int32_t columns = std::int32_t(std::min<std::int64_t>(width, needed));
  if (cells_.size() < std::size_t(columns)) {
    std::size_t n = std::max<std::size_t>(cells_.size(), 16);
    while (n < std::size_t(columns)) n *= 2;
    cells_.assign(n, 0);
    fill_.assign(n + 1, 0);
  }
  rightLimit_ = std::int64_t(columns) * 16;
  touchedLo_ = 2147483647;
  touchedHi_ = 0;

  const std::vector<std::int32_t>& sorted = outline->SortedIndex();
  const std::int64_t yEnd = std::int64_t(height) * 16;
  std::int32_t next = 0;
  std::int64_t y = std::max<std::int64_t>(outline->Edge(sorted[0]).Y, 0);
  if (y >= yEnd) {
    outline_ = nullptr;
    return;
  }
  for (;;) {
    while (next < edgeCount && outline->Edge(sorted[std::size_t(next)]).Y <= y) {
      active_.push_back({0, sorted[std::size_t(next)]});
      ++next;
    }
    std::int32_t count = 0, outOfOrder = 0;
    std::int32_t largest = -2147483647 - 1;
    for (std::size_t i = 0; i < active_.size(); ++i) {
      const std::int32_t x = EdgeXAtY(outline->Edge(active_[i].Edge), y);
      if (x == kNoCrossing) continue;
      if (x < largest) ++outOfOrder;
      else largest = x;
      active_[std::size_t(count)] = {x, active_[i].Edge};
      ++count;
    }
    active_.resize(std::size_t(count));
    if (count > 0) {
      if (outOfOrder > 0) SortCrossings(count, outOfOrder);
      prevX_ = 0;
      winding_ = 0;
      for (std::int32_t i = 0; i < count; ++i) {
        const TCrossing& c = active_[std::size_t(i)];
        if (!AddCrossing(c.X, EdgeDirection(outline->Edge(c.Edge)))) break;
      }
    } else if (next >= edgeCount) {
      break;
    }
    ++y;
    if ((y & 15) == 0 && touchedLo_ <= touchedHi_) FlushRow(std::int32_t((y - 1) >> 4));
    if (y >= yEnd) {
      outline_ = nullptr;
      return;
    }
    if (count == 0) {
      // Nothing active: go straight to the next edge's top. A row in progress
      // is flushed first when the jump leaves it (stepping would flush it at
      // its end, before anything of a later row).
      const std::int64_t top = outline->Edge(sorted[std::size_t(next)]).Y;
      if (top > y) {
        if ((top >> 4) != (y >> 4) && touchedLo_ <= touchedHi_) FlushRow(std::int32_t(y >> 4));
        y = top;
        if (y >= yEnd) {
          outline_ = nullptr;
          return;
        }
      }
    }
  }
  if (touchedLo_ <= touchedHi_) FlushRow(std::int32_t(y >> 4));
  outline_ = nullptr;
}

std::int32_t SkipCharsInSet(WideStringView text, WideStringView charSet, std::int32_t start) {
  std::int64_t i = std::max<std::int32_t>(start, 1);
  while (i <= std::int64_t(text.size()) && charSet.find(text[std::size_t(i - 1)]) != WideStringView::npos) ++i;
  return std::int32_t(std::min<std::int64_t>(i, std::int64_t(text.size()) + 1));
}

}  // namespace zm
