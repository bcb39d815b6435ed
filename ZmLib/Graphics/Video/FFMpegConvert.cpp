#include "ZmLib/Graphics/Video/FFMpegConvert.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmBitmap.h"

namespace zm {

namespace {

// libswscale's vector code stores past the end of a row (seen: 25 bytes
// after a 1-pixel row), which would land in the next row or plane already
// written. Its own buffer is laid out for a picture this much wider, and
// it writes into the caller's memory only when every row has that much
// spare after it.
constexpr std::int32_t kScalerOverrun = 64;
constexpr std::int32_t kBufferPad = 2 * kScalerOverrun;  // chroma rows get half of it

// Row access to a plane or bitmap of either memory kind.
struct TTarget {
  explicit TTarget(TBitmap* b) {
    if (!b) return;
    direct = dynamic_cast<TDirectBitmap*>(b);
    if (!direct) sys = dynamic_cast<TSysBitmap*>(b);
    width = b->Width();
    height = b->Height();
    bpp = b->BytesPerPixel();
    if (!direct && !sys) width = height = 0;
  }
  bool Usable(std::int32_t bytesPerPixel) const {
    return (direct || sys) && bpp == bytesPerPixel && width > 0 && height > 0;
  }
  std::uint8_t* Row(std::int32_t y) const { return direct ? direct->ScanLine(y) : sys->ScanLine(y); }
  // The fixed distance from one row to the next, 0 when rows lie anywhere.
  std::int32_t Stride() const {
    if (direct) return direct->RowBytes();
    if (sys && sys->RowStep() > 0 && std::int64_t(sys->Rows().size()) >= height) return sys->RowStep();
    return 0;
  }

  TDirectBitmap* direct = nullptr;
  TSysBitmap* sys = nullptr;
  std::int32_t width = 0, height = 0, bpp = 0;
};

const std::uint8_t* SourceRow(const std::uint8_t* data, int stride, std::int32_t y) {
  return data + std::ptrdiff_t(y) * stride;
}

// Rows of Bytes bytes into the target, cut to what it holds.
void CopyRows(const std::uint8_t* src, int stride, std::int32_t bytes, std::int32_t rows, const TTarget& t) {
  const std::int32_t n = std::min(bytes, t.width * t.bpp), h = std::min(rows, t.height);
  if (n <= 0) return;
  for (std::int32_t y = 0; y < h; ++y) std::memcpy(t.Row(y), SourceRow(src, stride, y), std::size_t(n));
}

// Luma into a 16-bit grey plane through the table (stored little-endian).
void GreyRows(const std::uint8_t* src, int stride, std::int32_t width, std::int32_t rows, const TTarget& t) {
  const auto& table = GreyTable();
  const std::int32_t w = std::min(width, t.width), h = std::min(rows, t.height);
  for (std::int32_t y = 0; y < h; ++y) {
    const std::uint8_t* s = SourceRow(src, stride, y);
    std::uint8_t* d = t.Row(y);
    for (std::int32_t x = 0; x < w; ++x) {
      const std::uint16_t v = table[s[x]];
      d[2 * x] = std::uint8_t(v);
      d[2 * x + 1] = std::uint8_t(v >> 8);
    }
  }
}

// Chroma of 4:2:0 covers the odd last column and row too: FFmpeg rounds the
// half sizes up, as the image does.
std::int32_t Half(std::int32_t n) { return n / 2 + n % 2; }

// Planar 4:2:0 (three plane pointers and strides) into the locked planes.
bool Put420(std::uint8_t* const* data, const int* stride, std::int32_t w, std::int32_t h, bool grey,
            const TTarget* t) {
  if (!data[0]) return false;
  if (grey) {
    if (!t[0].Usable(2)) return false;
    GreyRows(data[0], stride[0], w, h, t[0]);
    return true;
  }
  if (!data[1] || !data[2] || !t[0].Usable(1) || !t[1].Usable(1) || !t[2].Usable(1)) return false;
  CopyRows(data[0], stride[0], w, h, t[0]);
  CopyRows(data[1], stride[1], Half(w), Half(h), t[1]);
  CopyRows(data[2], stride[2], Half(w), Half(h), t[2]);
  return true;
}

bool PutNV12(const AVFrame* f, bool grey, const TTarget* t) {
  const std::int32_t w = f->width, h = f->height;
  if (!f->data[0]) return false;
  if (grey) {
    if (!t[0].Usable(2)) return false;
    GreyRows(f->data[0], f->linesize[0], w, h, t[0]);
    return true;
  }
  if (!f->data[1] || !t[0].Usable(1) || !t[1].Usable(1) || !t[2].Usable(1)) return false;
  CopyRows(f->data[0], f->linesize[0], w, h, t[0]);
  const std::int32_t cw = std::min({Half(w), t[1].width, t[2].width});
  const std::int32_t ch = std::min({Half(h), t[1].height, t[2].height});
  for (std::int32_t y = 0; y < ch; ++y) {
    const std::uint8_t* s = SourceRow(f->data[1], f->linesize[1], y);
    std::uint8_t* u = t[1].Row(y);
    std::uint8_t* v = t[2].Row(y);
    for (std::int32_t x = 0; x < cw; ++x) {
      u[x] = s[2 * x];
      v[x] = s[2 * x + 1];
    }
  }
  return true;
}

bool PutOther(const AVFrame* f, std::int32_t fmt, bool grey, const TTarget* t, TRef<TFFVideoFormatConvertor>& conv) {
  const std::int32_t w = f->width, h = f->height;
  if (!conv || conv->DestPixelFormat() != AV_PIX_FMT_YUV420P)
    conv = MakeRef<TFFVideoFormatConvertor>(AV_PIX_FMT_YUV420P, SWS_BICUBIC);
  // Straight into the planes when they are plain memory with room for what
  // the scaler writes.
  bool direct = !grey;
  for (int i = 0; direct && i < 3; ++i) {
    const std::int32_t pw = i == 0 ? w : Half(w), ph = i == 0 ? h : Half(h);
    direct = t[i].Usable(1) && t[i].Stride() >= pw + kScalerOverrun && t[i].width >= pw && t[i].height >= ph;
  }
  if (direct) {
    conv->SetSize(w, h);
    for (int i = 0; i < 3; ++i) conv->SetPlane(i, t[i].Row(0), t[i].Stride());
    return conv->Convert(f, fmt);
  }
  if (!conv->AllocBuffer(w, h) || !conv->Convert(f, fmt)) return false;
  std::uint8_t* planes[3] = {conv->Plane(0), conv->Plane(1), conv->Plane(2)};
  const int strides[3] = {conv->Stride(0), conv->Stride(1), conv->Stride(2)};
  return Put420(planes, strides, w, h, grey, t);
}

bool Fill(TYUVImage* image, const AVFrame* f, std::int32_t fmt, const TTarget* t,
          TRef<TFFVideoFormatConvertor>& conv) {
  const bool grey = !image->IsRGBA() && image->IsGrayScale();
  switch (fmt) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
      if (image->IsRGBA()) return false;
      return Put420(f->data, f->linesize, f->width, f->height, grey, t);
    case AV_PIX_FMT_NV12:
      if (image->IsRGBA()) return false;
      return PutNV12(f, grey, t);
    case AV_PIX_FMT_BGRA:
      if (!image->IsRGBA() || !f->data[0] || !t[0].Usable(4)) return false;
      CopyRows(f->data[0], f->linesize[0], f->width * 4, f->height, t[0]);
      return true;
    default:
      if (image->IsRGBA()) return false;
      return PutOther(f, fmt, grey, t, conv);
  }
}

bool FrameUsable(const AVFrame* frame, std::int32_t fmt) {
  return frame && fmt > AV_PIX_FMT_NONE && fmt < AV_PIX_FMT_NB && frame->width > 0 && frame->height > 0 &&
         frame->data[0];
}

}  // namespace

// ---- TFFVideoFormatConvertor -----------------------------------------------------------

TFFVideoFormatConvertor::TFFVideoFormatConvertor(std::int32_t destPixelFormat, std::int32_t scaleFlags)
    : flags_(scaleFlags), destFormat_(destPixelFormat) {}

void TFFVideoFormatConvertor::Dispose() {
  FreeBuffer();
  if (context_) FF().sws_freeContext(context_);
  context_ = nullptr;
  TRefObject::Dispose();
}

void TFFVideoFormatConvertor::FreeBuffer() {
  if (buffer_) FF().av_free(buffer_);
  buffer_ = nullptr;
  bufferSize_ = 0;
  std::fill(std::begin(planes_), std::end(planes_), nullptr);
  std::fill(std::begin(strides_), std::end(strides_), 0);
}

void TFFVideoFormatConvertor::SetSize(std::int32_t width, std::int32_t height) {
  if (width == width_ && height == height_) return;
  FreeBuffer();
  width_ = width;
  height_ = height;
  contextFormat_ = -1;
}

bool TFFVideoFormatConvertor::AllocBuffer(std::int32_t width, std::int32_t height) {
  if (width < 1 || height < 1) return false;
  SetSize(width, height);
  if (width > INT32_MAX - kBufferPad) return false;
  const std::int32_t laid = width + kBufferPad;
  const int need = FF().av_image_get_buffer_size(AVPixelFormat(destFormat_), laid, height, 32);
  if (need <= 0) return false;
  if (!buffer_ || need > bufferSize_) {
    FreeBuffer();
    buffer_ = static_cast<std::uint8_t*>(FF().av_malloc(std::size_t(need)));
    if (!buffer_) return false;
    bufferSize_ = need;
  }
  // Laid again every time: SetPlane may have pointed the planes elsewhere.
  return FF().av_image_fill_arrays(planes_, strides_, buffer_, AVPixelFormat(destFormat_), laid, height, 32) >= 0;
}

void TFFVideoFormatConvertor::SetPlane(std::int32_t index, std::uint8_t* data, std::int32_t stride) {
  if (index < 0 || index > 7) return;
  planes_[index] = data;
  strides_[index] = stride;
}

bool TFFVideoFormatConvertor::Convert(const AVFrame* frame, std::int32_t sourcePixelFormat) {
  if (!FrameUsable(frame, sourcePixelFormat)) return false;
  const std::int32_t w = frame->width, h = frame->height;
  if (w != width_ || h != height_ || !planes_[0]) return false;
  if (!context_ || sourcePixelFormat != contextFormat_ || w != contextWidth_ || h != contextHeight_) {
    context_ = FF().sws_getCachedContext(context_, w, h, AVPixelFormat(sourcePixelFormat), w, h,
                                         AVPixelFormat(destFormat_), flags_, nullptr, nullptr, nullptr);
    contextFormat_ = context_ ? sourcePixelFormat : -1;
    contextWidth_ = w;
    contextHeight_ = h;
    if (!context_) return false;
  }
  return FF().sws_scale(context_, frame->data, frame->linesize, 0, h, planes_, strides_) > 0;
}

// ---- Conversions ----------------------------------------------------------------------

const std::array<std::uint16_t, 256>& GreyTable() {
  static const std::array<std::uint16_t, 256> table = [] {
    std::array<std::uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
      const int v = i * 219 / 255 + 16;
      t[std::size_t(i)] = std::uint16_t(((v >> 3) << 11) | ((v >> 2) << 5) | (v >> 3));
    }
    return t;
  }();
  return table;
}

bool ConvertToYUVImage(TYUVImage* image, const AVFrame* frame, std::int32_t sourcePixelFormat,
                       TRef<TFFVideoFormatConvertor>& convertor) {
  if (!image || !FrameUsable(frame, sourcePixelFormat)) return false;
  const std::int32_t packed = image->PackedPlane();
  const std::int32_t count = packed < 0 ? 3 : 1;
  std::int32_t index[3] = {0, 1, 2};
  if (packed >= 0) index[0] = packed;
  TRef<TBitmap> planes[3];
  std::int32_t locked = 0;
  bool ok = true;
  try {
    for (; locked < count; ++locked) {
      planes[locked] = image->LockPlane(index[locked]);
      if (!planes[locked]) {
        ok = false;
        break;
      }
    }
    if (ok) {
      const TTarget targets[3] = {TTarget(planes[0].get()), TTarget(planes[1].get()), TTarget(planes[2].get())};
      ok = Fill(image, frame, sourcePixelFormat, targets, convertor);
    }
  } catch (const std::exception&) {
    ok = false;  // the planes granted so far still go back
  }
  for (std::int32_t i = 0; i < locked; ++i)
    if (!image->UnlockPlane(index[i], planes[i])) ok = false;
  return ok;
}

bool ConvertToBitmap(TBitmap* bitmap, const AVFrame* frame, std::int32_t sourcePixelFormat,
                     TRef<TFFVideoFormatConvertor>& convertor) {
  if (!bitmap || !FrameUsable(frame, sourcePixelFormat)) return false;
  const TTarget t(bitmap);
  if (!t.Usable(3)) return false;
  const std::int32_t w = frame->width, h = frame->height;
  if (!convertor || convertor->DestPixelFormat() != AV_PIX_FMT_BGR24)
    convertor = MakeRef<TFFVideoFormatConvertor>(AV_PIX_FMT_BGR24, SWS_BICUBIC);
  if (t.Stride() >= w * 3 + kScalerOverrun && t.width >= w && t.height >= h) {
    convertor->SetSize(w, h);
    convertor->SetPlane(0, t.Row(0), t.Stride());
    return convertor->Convert(frame, sourcePixelFormat);
  }
  if (!convertor->AllocBuffer(w, h) || !convertor->Convert(frame, sourcePixelFormat)) return false;
  CopyRows(convertor->Plane(0), convertor->Stride(0), w * 3, h, t);
  return true;
}

}  // namespace zm
