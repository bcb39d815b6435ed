#pragma once
// What the objects above one on a slide paint over whole, to tell which of
// the objects below cannot show: a bitmap of target pixels, one bit a
// pixel in rows of 64-bit words.
#include <array>
#include <cstdint>
#include <vector>

#include "ZmLib/zmTypes.h"

namespace oru {

class TCoverMap {
public:
  // Only pixels inside Bounds are ever covered.
  explicit TCoverMap(const zm::TRect& bounds);
  void Mark(const zm::TRect& rect);
  // Whether every pixel of Rect is covered (an empty rectangle is).
  bool Covers(const zm::TRect& rect);
  // Nothing covered.
  void Clear();

private:
  bool Scan(const zm::TRect& rect) const;
  zm::TRect bounds_;
  std::int32_t words_ = 0;  // a row
  std::vector<std::uint64_t> bits_;
  std::int32_t rowsFrom_ = 0, rowsTo_ = 0;  // rows marked since the last clear
  // The last answers, for as long as nothing new is marked: the objects of
  // a slide repeat the same rectangles.
  struct TMemo {
    zm::TRect rect;
    std::uint64_t version = 0;
    bool covers = false;
  };
  std::array<TMemo, 64> memo_{};
  std::uint64_t version_ = 1;
};

}  // namespace oru
