#pragma once
// JPEG pictures: the holder of the compressed bytes (TJPEGData), the decoder
// object over libjpeg (TJpegImage), the bitmap store that decodes on demand
// (TJpegBitmapStore), and the loaders registered for ".jpg", ".jpeg", ".jpe"
// and ".jfif" (pictures and embedded colour profiles).
//
// Levels 0 to 3 are decoded straight at 1/1, 1/2, 1/4 and 1/8 by libjpeg's
// DCT scaling, so a small view of a large photograph never decodes the full
// picture; deeper levels come from halving level 3. Decoded rows are B, G, R
// ("R8G8B8" DIBs); grey pictures go through libjpeg's colour quantiser (236
// levels) and are expanded through the palette; CMYK and YCCK pictures are
// converted to RGB here.
//
// Bad data: libjpeg errors raise EJPEG ("JPEG error #<code>", the code a
// JERR_ value of jerror.h); damaged or cut data that libjpeg can still read
// gives what it decodes (missing parts grey). The loader answers nil for
// anything it cannot read, and refuses pictures above kMaxJpegPixels before
// any pixel memory is taken; libjpeg's own working memory is bounded by
// kMaxJpegWorkMemory, and a picture of several scans whose coefficients
// alone would not fit in it is refused by the loader as well (no level of it
// could ever be decoded).
#include <cstdint>
#include <functional>

#include "Platform/Gdi/PlatGdi.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmDibBitmap.h"

namespace zm {

// Pictures with more pixels than this are refused (1 gigapixel).
constexpr std::int64_t kMaxJpegPixels = std::int64_t(1) << 30;
// Working memory libjpeg may take for one decode (coefficient buffers of
// progressive pictures); more raises EJPEG instead.
constexpr long kMaxJpegWorkMemory = 1L << 30;
// What a decode takes besides the coefficients, at most (row buffers,
// tables): a picture of several scans needs its coefficients and this.
constexpr long kJpegOtherWorkMemory = 64L << 20;

class EJPEG : public Exception {
public:
  explicit EJPEG(std::int32_t code);
  std::int32_t Code() const { return code_; }

private:
  std::int32_t code_;
};

// Stages of a progress report.
enum class TProgressStage : std::uint8_t { Starting = 0, Running = 1, Ending = 2 };

// Base of pictures that report progress.
class TProgress : public TRefObject {
public:
  using TProgressEvent = std::function<void(TRefObject* sender, TProgressStage stage, std::uint8_t percentDone,
                                            bool redrawNow, const TRect& rect, const WideString& message)>;
  // Calls OnProgress with the same arguments when it is assigned.
  virtual void Progress(TRefObject* sender, TProgressStage stage, std::uint8_t percentDone, bool redrawNow,
                        const TRect& rect, const WideString& message);
  virtual void Changed() {}
  TProgressEvent OnProgress;
};

// The compressed picture: where its bytes are, and the header's facts.
class TJPEGData : public TRefObject {
public:
  TJPEGData();
  void Dispose() override;
  // The picture's bytes are Size bytes of Stream from Start: the loaded
  // stream itself when it was handed over (read in place when it holds them
  // in memory, else read again at every decode), else a copy of them.
  TRef<TStream> Stream;
  std::int64_t Start = 0;
  std::int64_t Size = 0;
  std::int32_t Height = 0;
  std::int32_t Width = 0;
  bool Grayscale = false;  // the header's colour space is grey
  // What a decode of several scans keeps of the whole picture: its DCT
  // coefficients, at full size whatever the scale.
  std::int64_t CoefficientBytes = 0;
};

// PixelFormat values.
constexpr std::uint8_t jf24Bit = 0;
constexpr std::uint8_t jf8Bit = 1;
// Performance values.
constexpr std::uint8_t jpBestQuality = 0;
constexpr std::uint8_t jpBestSpeed = 1;

class TJpegImage : public TProgress {
public:
  TJpegImage();
  void Dispose() override;  // frees Data and the palette

  // Takes the rest of the stream and reads its header. Without KeepStream
  // the bytes are copied (a stream that delivers fewer than it promised
  // raises EStreamReadError); with it the image keeps a reference to the
  // stream and decodes from it later, so nobody else may move or change it
  // meanwhile (a file that changed size since gives EJPEG at the decode).
  // A header libjpeg cannot read raises EJPEG. Zero bytes give empty Data
  // (no header read). The stream is left at its end.
  void LoadFromStream(TStream* stream, bool keepStream = false);
  // (Width, Height) of Data; (0, 0) without Data.
  TPoint GetDimensions() const;
  // A new DIB of the picture at 1 / 2^Scale (Scale 0..3), 24-bit, or 8-bit
  // with the palette in LogPalette for grey pictures and the 8-bit
  // PixelFormat. EJPEG for pictures libjpeg cannot decode and for outputs
  // too large to hold.
  TRef<TFastDIB> Decode(std::uint8_t scale);

  TRef<TJPEGData> Data;
  bool Progressive = false;
  bool ProgressiveDisplay = false;  // decode progressive files in passes (buffered image)
  bool PaletteChanged = false;
  plat::LOGPALETTE LogPalette{};
  plat::HPALETTE Palette = nullptr;
  bool PaletteValid = false;
  std::uint8_t Scale = 0;
  bool Smoothing = false;
  std::uint8_t PixelFormat = jf24Bit;
  std::uint8_t Performance = jpBestQuality;
};

class TJpegBitmapStore : public TSysBitmapStore {
public:
  // Jpeg assigned (assertion); the store owns it (takes over the caller's
  // reference) and routes its progress to Handler.Progress.
  TJpegBitmapStore(const WideString& name, const TImageLoadHandler& handler, TJpegImage* jpeg);
  void Dispose() override;
  // Levels 0 to 3 decoded at that scale (owned), others none.
  void GetSourceLevel(std::int32_t level, TMipLevelResult& result) override;

  TJpegImage* Jpeg() const { return jpeg_.get(); }

private:
  void JpegProgress(std::uint8_t percent);
  TRef<TJpegImage> jpeg_;
};

// How many decoders one decode of a large baseline picture may run at
// once, each on a strip of rows (the caller's thread takes the first; a
// picture read through a stream is copied into memory for them). 0, the default, is the processor count less one; 1 decodes on
// the caller's thread alone. At most 2 are used (a third measured no faster
// on a busy machine), and only while loads may go at full speed (load
// callback mode 0): while a show plays, one.
void SetJpegDecodeThreads(std::int32_t count);
std::int32_t JpegDecodeThreads();

// The loader procedures this unit registers. A stream handed over
// (OwnsStream) is kept by the store rather than copied: pictures in memory
// (memory streams, container windows over them) are decoded in place, others
// are read again at every decode.
TRef<TBitmapStore> LoadJpegBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                       const TImageLoadHandler& handler);
TRef<TColorProfile> LoadJpegColorProfile(TStream* stream, const WideString& name);

// Start and end: registers the loaders.
void InitJpegLoader();
void FiniJpegLoader();

}  // namespace zm
