#include <algorithm>
#include <cstring>
#include <vector>

#include "Platform/Gfx/GfxPixels.h"
#include "Platform/Gfx/GfxPresent.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "Platform/User/PlatUser.h"

namespace plat::gfx {

std::uint32_t ReadPixelArgb(const FrameView& f, std::uint32_t x, std::uint32_t y) {
  if (!f.bits || x >= f.width || y >= f.height) return 0;
  return DecodePixel(f.format, f.bits + static_cast<std::ptrdiff_t>(y) * f.pitch + x * BytesPerPixel(f.format));
}

namespace {

// Copies src of the frame into a 32-bit BGRA destination at dst.
void CopyFrame(const FrameView& frame, const Rect& src, std::uint32_t* dstBits, int dstStride, int dstX, int dstY) {
  const int w = src.right - src.left, h = src.bottom - src.top;
  const bool fast = frame.format == Format::A8R8G8B8 || frame.format == Format::X8R8G8B8;
  const auto rows = [&](int from, int to) {
    for (int row = from; row < to; ++row) {
      std::uint32_t* out = dstBits + static_cast<std::ptrdiff_t>(dstY + row) * dstStride + dstX;
      const std::uint32_t sy = static_cast<std::uint32_t>(src.top + row);
      if (fast) {
        const std::uint8_t* in =
            frame.bits + static_cast<std::ptrdiff_t>(sy) * frame.pitch + static_cast<std::ptrdiff_t>(src.left) * 4;
        // One pass, X8 made opaque on the way; the frame is not read back
        // here, so its stores skip the caches.
        StreamRow(out, in, static_cast<std::size_t>(w), frame.format == Format::X8R8G8B8 ? 0xFF000000u : 0);
      } else {
        for (int i = 0; i < w; ++i) out[i] = ReadPixelArgb(frame, static_cast<std::uint32_t>(src.left + i), sy);
      }
    }
    StreamFence();
  };
  // Whole frames are shared out over the workers in bands of rows.
  constexpr int kBand = 32;
  if (static_cast<std::int64_t>(w) * h < (std::int64_t{1} << 18)) {
    rows(0, h);
    return;
  }
  GfxWorkers::Instance().Run(static_cast<std::uint32_t>((h + kBand - 1) / kBand), [&](std::uint32_t i) {
    const int from = static_cast<int>(i) * kBand;
    rows(from, std::min(from + kBand, h));
  });
}

// Writes src stretched over dst (nearest texel at each pixel centre), only
// the part of dst inside clip, into 32-bit BGRA pixels where out is the
// pixel of clip's top left.
void ScaleFrame(const FrameView& frame, const Rect& src, const Rect& dst, const Rect& clip, std::uint32_t* out,
                int outStride) {
  const std::int64_t sw = src.right - src.left, sh = src.bottom - src.top;
  const std::int64_t tw = dst.right - dst.left, th = dst.bottom - dst.top;
  if (clip.right <= clip.left || clip.bottom <= clip.top || sw <= 0 || sh <= 0 || tw <= 0 || th <= 0) return;
  std::vector<std::uint32_t> columns(static_cast<std::size_t>(clip.right - clip.left));
  for (int x = clip.left; x < clip.right; ++x)
    columns[static_cast<std::size_t>(x - clip.left)] =
        static_cast<std::uint32_t>(src.left + ((x - dst.left) * std::int64_t{2} + 1) * sw / (2 * tw));
  const bool fast = frame.format == Format::A8R8G8B8 || frame.format == Format::X8R8G8B8;
  const std::uint32_t opaque = frame.format == Format::X8R8G8B8 ? 0xFF000000u : 0;
  for (int y = clip.top; y < clip.bottom; ++y) {
    const auto sy = static_cast<std::uint32_t>(src.top + ((y - dst.top) * std::int64_t{2} + 1) * sh / (2 * th));
    std::uint32_t* row = out + static_cast<std::ptrdiff_t>(y - clip.top) * outStride;
    const int n = clip.right - clip.left;
    if (fast) {
      const auto* in =
          reinterpret_cast<const std::uint32_t*>(frame.bits + static_cast<std::ptrdiff_t>(sy) * frame.pitch);
      for (int i = 0; i < n; ++i) row[i] = in[columns[static_cast<std::size_t>(i)]] | opaque;
    } else {
      for (int i = 0; i < n; ++i) row[i] = ReadPixelArgb(frame, columns[static_cast<std::size_t>(i)], sy);
    }
  }
}

class WindowSink : public PresentSink {
public:
  bool Present(WindowId window, const FrameView& frame, const Rect& src, const Rect& dst) override {
    TWindowPixels px;
    if (!window || !LockWindowPixels(window, px)) return false;
    // Clip dst to the part of the client area that has pixels, moving src
    // along; Bits is the pixel of client point Client.
    Rect s = src, d = dst;
    const int dx0 = std::max(0, px.Client.x - d.left), dy0 = std::max(0, px.Client.y - d.top);
    s.left += dx0, s.top += dy0, d.left += dx0, d.top += dy0;
    const int dx1 = std::max(0, d.right - (px.Client.x + px.Width));
    const int dy1 = std::max(0, d.bottom - (px.Client.y + px.Height));
    s.right -= dx1, s.bottom -= dy1, d.right -= dx1, d.bottom -= dy1;
    RECT dirty{};
    if (s.right > s.left && s.bottom > s.top) {
      CopyFrame(frame, s, px.Bits, px.Stride, d.left - px.Client.x, d.top - px.Client.y);
      dirty = RECT{d.left, d.top, d.right, d.bottom};
    }
    UnlockWindowPixels(window, &dirty);
    return true;
  }

  // Straight into the window's pixels: no stretched copy in between.
  bool PresentScaled(WindowId window, const FrameView& frame, const Rect& src, const Rect& dst) override {
    TWindowPixels px;
    if (!window || !LockWindowPixels(window, px)) return false;
    const Rect clip{std::max(dst.left, px.Client.x), std::max(dst.top, px.Client.y),
                    std::min(dst.right, px.Client.x + px.Width), std::min(dst.bottom, px.Client.y + px.Height)};
    RECT dirty{};
    if (clip.right > clip.left && clip.bottom > clip.top) {
      ScaleFrame(frame, src, dst, clip,
                 px.Bits + static_cast<std::ptrdiff_t>(clip.top - px.Client.y) * px.Stride + (clip.left - px.Client.x),
                 px.Stride);
      dirty = RECT{clip.left, clip.top, clip.right, clip.bottom};
    }
    UnlockWindowPixels(window, &dirty);
    return true;
  }
};

}  // namespace

bool PresentSink::PresentScaled(WindowId window, const FrameView& frame, const Rect& src, const Rect& dst) {
  const int tw = dst.right - dst.left, th = dst.bottom - dst.top;
  if (tw <= 0 || th <= 0) return false;
  std::vector<std::uint32_t> scaled(static_cast<std::size_t>(tw) * static_cast<std::size_t>(th));
  ScaleFrame(frame, src, Rect{0, 0, tw, th}, Rect{0, 0, tw, th}, scaled.data(), tw);
  const FrameView view{reinterpret_cast<const std::uint8_t*>(scaled.data()), tw * 4, static_cast<std::uint32_t>(tw),
                       static_cast<std::uint32_t>(th), Format::A8R8G8B8};
  return Present(window, view, Rect{0, 0, tw, th}, dst);
}

PresentSink& WindowPresentSink() {
  static WindowSink sink;
  return sink;
}

bool MemorySink::Present(WindowId window, const FrameView& frame, const Rect& src, const Rect& dst) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (refuse_) return false;
  if (dst.left < 0 || dst.top < 0 || dst.right - dst.left != src.right - src.left ||
      dst.bottom - dst.top != src.bottom - src.top)
    return false;
  Frame& f = frames_[window];
  const auto needW = static_cast<std::uint32_t>(dst.right), needH = static_cast<std::uint32_t>(dst.bottom);
  if (needW > f.width || needH > f.height) {
    Frame grown;
    grown.width = std::max(f.width, needW);
    grown.height = std::max(f.height, needH);
    grown.pixels.assign(static_cast<std::size_t>(grown.width) * grown.height, 0);
    for (std::uint32_t y = 0; y < f.height; ++y)
      std::copy_n(f.pixels.begin() + static_cast<std::ptrdiff_t>(y) * f.width, f.width,
                  grown.pixels.begin() + static_cast<std::ptrdiff_t>(y) * grown.width);
    grown.presents = f.presents;
    f = std::move(grown);
  }
  CopyFrame(frame, src, f.pixels.data(), static_cast<int>(f.width), dst.left, dst.top);
  ++f.presents;
  ++total_;
  return true;
}

MemorySink::Frame MemorySink::LastFrame(WindowId window) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = frames_.find(window);
  return it == frames_.end() ? Frame{} : it->second;
}

std::uint64_t MemorySink::TotalPresents() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return total_;
}

void MemorySink::SetRefuse(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_ = refuse;
}

}  // namespace plat::gfx
