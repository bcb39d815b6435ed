#pragma once
// Where presented frames go. By default a device presents into its window's
// frame buffer (the window layer's SDL window or headless buffer); a sink set
// in the system configuration takes the frames instead (tests, demo capture).
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "Platform/Gfx/GfxDefs.h"

namespace plat::gfx {

struct FrameView {
  const std::uint8_t* bits = nullptr;
  std::int32_t pitch = 0;
  std::uint32_t width = 0, height = 0;
  Format format = Format::Unknown;
};

class PresentSink {
public:
  virtual ~PresentSink() = default;
  // src lies inside the back buffer; dst is in the window's client pixels and
  // has the size of src. False when the window cannot take the frame.
  virtual bool Present(WindowId window, const FrameView& backBuffer, const Rect& src, const Rect& dst) = 0;
  // src stretched to dst, the nearest texel at each pixel centre; dst may
  // reach past the window. By default through a stretched copy and Present.
  virtual bool PresentScaled(WindowId window, const FrameView& backBuffer, const Rect& src, const Rect& dst);
};

// Presents into the window's pixels (LockWindowPixels / UnlockWindowPixels).
PresentSink& WindowPresentSink();

// Keeps the last frame per window, as 32-bit B, G, R, A pixels in a buffer
// the size of the largest dst seen so far (rows tight).
class MemorySink : public PresentSink {
public:
  struct Frame {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint64_t presents = 0;
  };
  bool Present(WindowId window, const FrameView& backBuffer, const Rect& src, const Rect& dst) override;
  // An empty frame when the window never got one.
  Frame LastFrame(WindowId window) const;
  std::uint64_t TotalPresents() const;
  // Refuses presents (as a window that went away).
  void SetRefuse(bool refuse);

private:
  mutable std::mutex mutex_;
  std::map<WindowId, Frame> frames_;
  std::uint64_t total_ = 0;
  bool refuse_ = false;
};

// Reads one pixel of a frame as 0xAARRGGBB (X8 formats read alpha 0xFF); 0
// for a format the device does not know or a point outside.
std::uint32_t ReadPixelArgb(const FrameView& frame, std::uint32_t x, std::uint32_t y);

}  // namespace plat::gfx
