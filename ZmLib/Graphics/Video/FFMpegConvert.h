#pragma once
// Decoded FFmpeg frames into the pictures the rest of the program uses: the
// planes of a TYUVImage (what the drawer uploads) or a 24-bit bitmap. Common
// layouts are copied as they are; everything else goes through libswscale.
// Nothing here reads or writes outside the frame or the target: sizes that
// disagree are cut to what both have.
#include <array>
#include <cstdint>

#include "ZmLib/Graphics/FrameSource.h"
#include "ZmLib/Graphics/Video/FFMpegApi.h"
#include "ZmLib/Win32/SysObj2.h"

namespace zm {

// One libswscale context and, unless the caller lends its own memory, one
// destination buffer. The libraries must be loaded before Convert.
class TFFVideoFormatConvertor : public TRefObject {
public:
  // DestPixelFormat: AV_PIX_FMT_YUV420P for YUV planes, AV_PIX_FMT_BGR24 for bitmaps.
  TFFVideoFormatConvertor(std::int32_t destPixelFormat, std::int32_t scaleFlags);
  void Dispose() override;

  // Frees the buffer and forces a new context when the size changed.
  void SetSize(std::int32_t width, std::int32_t height);
  // False for a width or height below 1 (or too large); else makes sure the
  // buffer holds a picture of that size and lays the planes over it.
  bool AllocBuffer(std::int32_t width, std::int32_t height);
  // Points destination plane Index (0..7) at the caller's memory.
  void SetPlane(std::int32_t index, std::uint8_t* data, std::int32_t stride);
  // Scales all rows of Frame into the planes. False for no pixel format, a
  // frame whose size is not the convertor's, no destination or a failure.
  bool Convert(const AVFrame* frame, std::int32_t sourcePixelFormat);

  std::uint8_t* Plane(std::int32_t index) const { return planes_[index & 7]; }
  std::int32_t Stride(std::int32_t index) const { return strides_[index & 7]; }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::int32_t DestPixelFormat() const { return destFormat_; }

private:
  void FreeBuffer();

  std::uint8_t* buffer_ = nullptr;
  std::int64_t bufferSize_ = 0;
  std::int32_t flags_;
  SwsContext* context_ = nullptr;
  std::int32_t contextFormat_ = -1;
  std::int32_t contextWidth_ = 0;
  std::int32_t contextHeight_ = 0;
  std::uint8_t* planes_[8] = {};
  int strides_[8] = {};
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::int32_t destFormat_;
};

// 8-bit luma to the 16-bit 5-6-5 grey of video range (16 to 235); made once.
const std::array<std::uint16_t, 256>& GreyTable();

// Frame (of SourcePixelFormat) into the image's planes. The convertor is
// made on first use and kept by the caller. False when the image refuses a
// plane (the granted ones are given back), the format cannot go into this
// kind of image, or an unlock fails.
bool ConvertToYUVImage(TYUVImage* image, const AVFrame* frame, std::int32_t sourcePixelFormat,
                       TRef<TFFVideoFormatConvertor>& convertor);
// Frame into a bitmap of 3-byte pixels (bytes B, G, R).
bool ConvertToBitmap(TBitmap* bitmap, const AVFrame* frame, std::int32_t sourcePixelFormat,
                     TRef<TFFVideoFormatConvertor>& convertor);

}  // namespace zm
