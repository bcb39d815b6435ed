#pragma once
// GIF 87a/89a reader, image by image. Each image comes out as its own
// "A8R8G8B8" TDirectBitmap of the image's size with transparent pixels at
// alpha 0; placing frames on the logical screen, disposal and timing are the
// callers' business. The reader keeps what those callers need between calls:
// the screen header, each image's descriptor and graphic control, the loop
// count, and the stream standing right behind the last image read or skipped.
//
// Damaged data ends the image (nil bitmap or a failed result, a log line);
// internal limits of the decoder raise assertions ("ClearCode too large",
// "Code too large", "StartIndex too large", "Unknown/Unsupported GIF image
// type"). Images whose pixels could not come from the data that is left, or
// beyond the bitmap size limit, are refused before any memory is taken.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace zm {

enum TFPImgProgressStage : std::uint8_t { psStarting, psRunning, psEnding };

class TFPCustomImageReader;
using TFPImgProgressEvent =
    std::function<void(TFPCustomImageReader* sender, TFPImgProgressStage stage, std::uint8_t percentDone,
                       bool redrawNow, const TRect& rect, const std::string& msg, bool& continueReading)>;

class TFPCustomImageReader : public TRefObject {
public:
  TFPImgProgressEvent OnProgress;

  // Calls OnProgress with this reader as sender when it is assigned.
  virtual void Progress(TFPImgProgressStage stage, std::uint8_t percentDone, bool redrawNow, const TRect& rect,
                        const std::string& msg, bool& continueReading);
  // Reads the first picture of Stream; Bitmap is nil when it cannot be read.
  virtual void InternalRead(TStream* stream, TRef<TDirectBitmap>& bitmap) = 0;
  // Whether Stream holds this format; never raises, the position is kept.
  virtual bool InternalCheck(TStream* stream) = 0;
};

// A list of A8R8G8B8 colours.
class TFPPalette : public TRefObject {
public:
  std::vector<std::uint32_t> Colors;  // its size is the capacity
  std::int32_t Count = 0;

  void Dispose() override;
  virtual void Clear();
  // The new entry's index.
  virtual std::int32_t Add(std::uint32_t color);
  // Negative counts as 0; growing fills the new entries with 0.
  void SetCount(std::int32_t n);
  // Entry Index, 0 (transparent black) outside the list.
  std::uint32_t Color(std::int32_t index) const {
    return index >= 0 && index < Count ? Colors[std::size_t(index)] : 0;
  }
};

#pragma pack(push, 1)
struct TGifScreenHeader {
  char Signature[3];
  char Version[3];
  std::uint16_t ScreenWidth;
  std::uint16_t ScreenHeight;
  std::uint8_t ScreenFlags;
  std::uint8_t BackgroundIndex;
  std::uint8_t AspectRatio;
};
struct TGifImageDescriptor {
  std::uint16_t Left;
  std::uint16_t Top;
  std::uint16_t ImageWidth;
  std::uint16_t ImageHeight;
  std::uint8_t ImageFlags;
};
struct TGifGraphicControl {
  std::uint8_t BlockSize;
  std::uint8_t ControlFlags;
  std::uint16_t DelayTime;  // hundredths of a second
  std::uint8_t TransparentColorIndex;
  std::uint8_t BlockTerminator;
};
#pragma pack(pop)
static_assert(sizeof(TGifScreenHeader) == 13 && sizeof(TGifImageDescriptor) == 9 && sizeof(TGifGraphicControl) == 6);

// What ReadNextImage met: the trailer (or the end of the data), an image
// that was written, or an image that could not be read.
enum class TGifNext : std::uint8_t { Failed, Image, End };

class TFPReaderGif : public TFPCustomImageReader {
public:
  TFPReaderGif();
  void Dispose() override;

  void InternalRead(TStream* stream, TRef<TDirectBitmap>& bitmap) override;
  bool InternalCheck(TStream* stream) override;

  // The next image at the stream's position.
  TGifNext ReadNextImage(TStream* stream, TRef<TDirectBitmap>& bitmap);
  // Advances over the next image without decoding it; false at the trailer,
  // at the end of the data or on a damaged descriptor.
  bool SkipNextImage(TStream* stream);
  // The LZW data of the current image into Pixels.
  bool ReadImageData(TStream* stream);
  // Pixels through CurrentPalette into Bitmap (Width x Height, A8R8G8B8).
  bool WriteImage(TDirectBitmap* bitmap);

  // The disposal method of the current image's graphic control.
  std::uint8_t Disposal() const { return std::uint8_t(GraphicControl.ControlFlags >> 2) & 7; }

  bool IsAnimated = false;
  std::int32_t LoopCount = 1;
  bool HasNetscapeExtension = false;
  TGifScreenHeader Header{};
  TGifImageDescriptor Descriptor{};
  TGifGraphicControl GraphicControl{};
  bool Transparent = false;
  bool HasGraphicControl = false;
  std::vector<std::uint8_t> Pixels;
  TFPPalette* LocalPalette = nullptr;   // owned
  TFPPalette* GlobalPalette = nullptr;  // owned
  TFPPalette* CurrentPalette = nullptr;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  bool Interlaced = false;
  std::uint8_t BitsPerPixel = 0;
  std::uint8_t TransparentIndex = 0;
  std::uint32_t SavedTransparentColor = 0;

private:
  // The code reader over the data sub-blocks.
  static constexpr std::int32_t kWindowSize = 280;
  static constexpr std::int32_t kMaxCodes = 4096;

  std::uint8_t NextBlock(TStream* stream);
  bool ReadU8(TStream* stream, std::uint8_t& v);
  bool ReadBytes(TStream* stream, void* p, std::int32_t n);
  void Skip(TStream* stream, std::int64_t n);
  void SkipSubBlocks(TStream* stream);
  bool ReadPalette(TStream* stream, TFPPalette* palette, std::uint8_t flags);
  bool ReadDescriptorAndPalette(TStream* stream);
  bool SetupImage(TStream* stream);
  TRef<TDirectBitmap> DecodeImage(TStream* stream);
  void RestoreTransparentColor();

  std::int32_t GetDataBlock(TStream* stream, std::uint8_t* dest);
  std::int32_t GetCode(TStream* stream);
  void ResetTable();
  std::int32_t ReadLZWByte(TStream* stream, bool init, std::int32_t minCodeSize);

  std::uint8_t window_[kWindowSize] = {};
  std::int32_t curBit_ = 0;
  std::int32_t lastBit_ = 0;
  std::int32_t lastByte_ = 0;
  bool zeroBlockSeen_ = false;
  bool restart_ = true;
  std::vector<std::int32_t> prefix_;
  std::vector<std::int32_t> suffix_;
  std::vector<std::int32_t> stack_;
  std::int32_t stackTop_ = 0;
  std::int32_t minCodeSize_ = 0;
  std::int32_t codeSize_ = 0;
  std::int32_t clearCode_ = 0;
  std::int32_t endCode_ = 0;
  std::int32_t nextCode_ = 0;
  std::int32_t sizeLimit_ = 0;
  std::int32_t firstCode_ = 0;
  std::int32_t oldCode_ = 0;

  TFPPalette* savedPalette_ = nullptr;  // where SavedTransparentColor belongs

  // Skipping through a read cache.
  std::vector<std::uint8_t> cache_;
  std::int64_t cacheStart_ = 0;
  std::int64_t cacheLength_ = 0;
  bool CacheByte(TStream* stream, std::int64_t position, std::uint8_t& v);
};

// Whether a picture of Width x Height in "A8R8G8B8" may be made: both at
// least 1 and the pixels within the bitmap size limit. Callers that compose
// frames on the logical screen check the screen with it before allocating.
bool GifSizeAllowed(std::int32_t width, std::int32_t height);

}  // namespace zm
