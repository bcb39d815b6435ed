#pragma once
// TBilinearDrawer: the cell drawer with bilinear filtering and an overall
// opacity, for "R8G8B8" and "A8R8G8B8" sources into 24-bit destinations.
//
// A sample at a 16.16 position (x, y) is inside the source when
// (x + 0x8000) shr 16 < Width and (y + 0x8000) shr 16 < Height as unsigned
// numbers. Its taps are x0 = the integer part held within 0..Width-1 and
// x1 = min(x0 + 1, Width - 1) (likewise y); a position left of the first
// column (or above the first row) takes that column (row) alone. Channels
// are (c00 w00 + c10 w10 + c01 w01 + c11 w11) shr 16 with
// w11 = fx fy shr 16, w10 = fx - w11, w01 = fy - w11,
// w00 = 65536 - fx - fy + w11.
//
// A sample s is laid over a destination byte d with a weight k (0..255) as
// d + (s - d) k / 256; the division rounds toward zero in the edge
// procedure of a 24-bit source and downwards everywhere else.
//   "R8G8B8", opacity 255: copy. Below 255: k = opacity.
//   "A8R8G8B8": with the sampled alpha a, at opacity 255 a above 254 copies
//   and otherwise k = a; below 255, k = opacity when a is above 254, else
//   (a * opacity) shr 8.
#include "ZmLib/Graphics/SysAffineDrawer.h"

namespace zm {

class TBilinearDrawer : public TImageDrawer {
public:
  using TImageDrawer::TImageDrawer;
  // False for an empty source. Sets the inner area (0, 0, W - 1, H - 1),
  // the opaque area (the inner one for "R8G8B8" at opacity 255, else
  // empty) and the span procedures of the three cell kinds.
  bool Prepare() override;
};

}  // namespace zm
