#include "OruLib2/OruClasses/OruCoverMap.h"

#include <algorithm>

namespace oru {

namespace {

zm::TRect CoverMeet(const zm::TRect& a, const zm::TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

bool CoverEmpty(const zm::TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

// Bits [from, to) of a 64-bit word.
std::uint64_t CoverBits(std::int32_t from, std::int32_t to) {
  const std::uint64_t high = to >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << to) - 1;
  return high & ~((std::uint64_t{1} << from) - 1);
}

}  // namespace

TCoverMap::TCoverMap(const zm::TRect& bounds) : bounds_(bounds) {
  if (CoverEmpty(bounds_)) {
    bounds_ = {};
    return;
  }
  const std::int64_t width = std::int64_t{bounds_.Right} - bounds_.Left;
  words_ = static_cast<std::int32_t>((width + 63) / 64);
  bits_.assign(static_cast<std::size_t>(words_) * static_cast<std::size_t>(bounds_.Bottom - bounds_.Top), 0);
  rowsFrom_ = rowsTo_ = bounds_.Top;
}

void TCoverMap::Mark(const zm::TRect& rect) {
  const zm::TRect r = CoverMeet(rect, bounds_);
  if (CoverEmpty(r) || Covers(r)) return;
  for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
    std::uint64_t* row = bits_.data() + static_cast<std::size_t>(y - bounds_.Top) * static_cast<std::size_t>(words_);
    const std::int32_t a = r.Left - bounds_.Left, b = r.Right - bounds_.Left;
    for (std::int32_t w = a / 64; w <= (b - 1) / 64; ++w)
      row[w] |= CoverBits(w == a / 64 ? a % 64 : 0, w == (b - 1) / 64 ? (b - 1) % 64 + 1 : 64);
  }
  if (rowsTo_ <= rowsFrom_) {
    rowsFrom_ = r.Top;
    rowsTo_ = r.Bottom;
  } else {
    rowsFrom_ = std::min(rowsFrom_, r.Top);
    rowsTo_ = std::max(rowsTo_, r.Bottom);
  }
  ++version_;
}

bool TCoverMap::Covers(const zm::TRect& rect) {
  if (CoverEmpty(rect)) return true;
  if (!(CoverMeet(rect, bounds_) == rect)) return false;
  TMemo& m = memo_[(static_cast<std::uint32_t>(rect.Left) * 73856093u ^ static_cast<std::uint32_t>(rect.Top) * 19349663u ^
                    static_cast<std::uint32_t>(rect.Right) * 83492791u ^ static_cast<std::uint32_t>(rect.Bottom)) %
                   memo_.size()];
  if (m.version == version_ && m.rect == rect) return m.covers;
  m = {rect, version_, Scan(rect)};
  return m.covers;
}

bool TCoverMap::Scan(const zm::TRect& r) const {
  const std::int32_t a = r.Left - bounds_.Left, b = r.Right - bounds_.Left;
  for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
    const std::uint64_t* row =
        bits_.data() + static_cast<std::size_t>(y - bounds_.Top) * static_cast<std::size_t>(words_);
    for (std::int32_t w = a / 64; w <= (b - 1) / 64; ++w) {
      const std::uint64_t want = CoverBits(w == a / 64 ? a % 64 : 0, w == (b - 1) / 64 ? (b - 1) % 64 + 1 : 64);
      if ((row[w] & want) != want) return false;
    }
  }
  return true;
}

void TCoverMap::Clear() {
  if (rowsTo_ > rowsFrom_)
    std::fill(bits_.begin() + static_cast<std::ptrdiff_t>(rowsFrom_ - bounds_.Top) * words_,
              bits_.begin() + static_cast<std::ptrdiff_t>(rowsTo_ - bounds_.Top) * words_, 0);
  rowsFrom_ = rowsTo_ = bounds_.Top;
  ++version_;
}

}  // namespace oru
