#include "ZmLib/Graphics/FrameSource.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zm {

TCreateFrameSourceProc CreateFrameSourceHook = nullptr;
TAcceptFrameSourceProc AcceptFrameSourceHook = nullptr;

std::int32_t PlayedFrameCount(const TFrameSourceInfo& info) {
  const std::int32_t frames = std::max(info.FrameCount, 0);
  if (info.LoopCount <= 1 || info.Duration <= 0 || !(info.FrameRate > 0) || !std::isfinite(info.FrameRate))
    return frames;
  // Rounded up, so that the last frame of the last pass has a number.
  const double played = double(info.Duration) * double(info.LoopCount) * info.FrameRate / 1000.0;
  const double whole = std::ceil(played - played * 1e-12);
  if (!(whole < double(INT32_MAX))) return INT32_MAX;
  return std::max(frames, std::int32_t(whole));
}

// ---- TYUVImage ------------------------------------------------------------------------

TYUVImage::TYUVImage(std::int32_t width, std::int32_t height)
    : width_(width < 0 ? 0 : width), height_(height < 0 ? 0 : height) {}

std::int32_t TYUVImage::PackedPlane() const {
  if (rgba_) return 4;
  if (grayScale_) return 3;
  return -1;
}

bool TYUVImage::HasPlane(std::int32_t index) const {
  const std::int32_t packed = PackedPlane();
  return packed < 0 ? index >= 0 && index <= 2 : index == packed;
}

TPoint TYUVImage::PlaneSize(std::int32_t index) const {
  if (!HasPlane(index)) return {};
  if (index == 1 || index == 2) return {width_ / 2 + width_ % 2, height_ / 2 + height_ % 2};
  return {width_, height_};
}

// ---- TFrameSource -----------------------------------------------------------------------

TFrameSource::TFrameSource() : list_(MakeRef<TList>()) {}

void TFrameSource::Dispose() {
  list_ = nullptr;
  TRefObject::Dispose();
}

bool TFrameSource::UsesHardware() { return false; }

// ---- Factory --------------------------------------------------------------------------

TRef<TFrameSource> CreateFrameSource(TStream* stream, bool ownsStream, const WideString& fileName, bool multiThread,
                                     bool useHardware) {
  // An owned stream goes with every nil answer made here, so that the
  // caller never has to guess whether it still holds it.
  bool accepted = CreateFrameSourceHook != nullptr;
  try {
    if (accepted && AcceptFrameSourceHook) accepted = AcceptFrameSourceHook(fileName);
  } catch (...) {
    if (ownsStream) FreeObject(stream);
    throw;
  }
  if (!accepted) {
    if (ownsStream) FreeObject(stream);
    return nullptr;
  }
  return CreateFrameSourceHook(stream, ownsStream, fileName, multiThread, useHardware);
}

}  // namespace zm
