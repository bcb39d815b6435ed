#include "ZmLib/Graphics/sysCorrectInvisiblePixels.h"

#include <algorithm>
#include <atomic>


namespace zm {

namespace {

// Shared by every thread that corrects pictures.
std::atomic<std::int32_t> phase{0};

// Sum / N with the fixed reciprocals (so 3 x 255 gives 254, not 255).
std::uint32_t Divide(std::uint32_t sum, std::int32_t n) {
  switch (n) {
    case 1: return sum;
    case 2: return sum >> 1;
    case 3: return std::uint32_t((std::uint64_t(sum) * 21845) >> 16);
    case 4: return sum >> 2;
    case 5: return std::uint32_t((std::uint64_t(sum) * 13107) >> 16);
    case 6: return std::uint32_t((std::uint64_t(sum) * 10923) >> 16);
    case 7: return std::uint32_t((std::uint64_t(sum) * 149797) >> 20);
    case 8: return sum >> 3;
    case 9: return std::uint32_t((std::uint64_t(sum) * 116508) >> 20);
    case 10: return std::uint32_t((std::uint64_t(sum) * 104858) >> 20);
    default: return 0;
  }
}

bool Is32Bit(const TDirectBitmap* b) { return b && !b->IsEmpty() && b->BytesPerPixel() == 4; }

}  // namespace

std::int32_t InvisiblePixelPhase() { return phase.load(); }
void SetInvisiblePixelPhase(std::int32_t p) { phase.store(p & 1); }

TRef<TDirectBitmap> HalveVisible(TDirectBitmap* source) {
  if (!Is32Bit(source)) return {};
  const std::int32_t p = phase.fetch_xor(1) ^ 1;
  const std::int32_t sw = source->Width();
  const std::int32_t sh = source->Height();
  const std::int32_t w = std::max((sw + 1) / 2, 4);
  const std::int32_t h = std::max((sh + 1) / 2, 4);
  TRef<TDirectBitmap> copy = MakeRef<TDirectBitmap>(w, source->PixelFormat(), h);

  for (std::int32_t y = 0; y < h; ++y) {
    std::uint32_t* out = copy->Row32(y);
    const std::int32_t cy = 2 * y + p;
    const bool top = y == 0;
    const bool bottom = y == h - 1;
    for (std::int32_t x = 0; x < w; ++x) {
      const std::int32_t cx = 2 * x + p;
      const bool left = x == 0;
      const bool right = x == w - 1;
      std::uint32_t sum[4] = {0, 0, 0, 0};
      std::int32_t n = 0;
      const auto take = [&](std::int32_t sx, std::int32_t sy, std::int32_t weight) {
        if (sx < 0 || sy < 0 || sx >= sw || sy >= sh) return;
        const std::uint32_t c = source->Row32(sy)[sx];
        if ((c >> 24) == 0) return;
        for (std::int32_t k = 0; k < 4; ++k) sum[k] += ((c >> (8 * k)) & 0xFF) * std::uint32_t(weight);
        n += weight;
      };
      if ((top || bottom) && (left || right)) {
        // Corners: the centre and its neighbours toward the inside.
        const std::int32_t dx = left ? 1 : -1;
        const std::int32_t dy = top ? 1 : -1;
        take(cx, cy, 1);
        take(cx + dx, cy, 1);
        take(cx, cy + dy, 1);
        take(cx + dx, cy + dy, 1);
      } else if (top || bottom) {
        take(cx - 1, cy, 1);
        take(cx, cy, 2);
        take(cx + 1, cy, 1);
      } else if (left || right) {
        take(cx, cy - 1, 1);
        take(cx, cy, 2);
        take(cx, cy + 1, 1);
      } else {
        for (std::int32_t dy = -1; dy <= 1; ++dy)
          for (std::int32_t dx = -1; dx <= 1; ++dx) take(cx + dx, cy + dy, dx == 0 && dy == 0 ? 2 : 1);
      }
      std::uint32_t c = 0;
      for (std::int32_t k = 0; k < 4; ++k) c |= (Divide(sum[k], n) & 0xFF) << (8 * k);
      out[x] = c;
    }
  }
  return copy;
}

void CorrectInvisiblePixels(TDirectBitmap* bitmap) {
  if (!Is32Bit(bitmap)) return;
  TRef<TDirectBitmap> levels[3];
  const auto level = [&](std::int32_t i) -> TDirectBitmap* {
    if (!levels[i]) levels[i] = HalveVisible(i == 0 ? bitmap : levels[i - 1].get());
    return levels[i].get();
  };
  for (std::int32_t y = 0; y < bitmap->Height(); ++y) {
    std::uint32_t* row = bitmap->Row32(y);
    for (std::int32_t x = 0; x < bitmap->Width(); ++x) {
      if ((row[x] >> 24) != 0) continue;
      for (std::int32_t i = 0; i < 3; ++i) {
        const std::uint32_t c = level(i)->Row32(y >> (i + 1))[x >> (i + 1)];
        if ((c >> 24) != 0) {
          row[x] = c & 0x00FFFFFFu;
          break;
        }
      }
    }
  }
}

}  // namespace zm
