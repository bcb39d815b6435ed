#pragma once
// The program's packed image container: "ZMGF", a uint16 count of named
// text fields (each a uint16-length UTF-8 key and value), then the rest of
// the stream is a raw deflate stream of a complete BMP file. TGfxImage
// parses the header and keeps the deflated bytes until the first request for
// the bitmap; TGfxBitmapStore serves that bitmap as level 0. The container
// loader is registered first for ".zmgfx", ".bmp", ".dib", ".png" and
// ".gif|framesatlas" and declines, with the stream unmoved, anything that does
// not begin with the magic.
//
// Bad data: a header that cannot be read fails the load (nil, stream back
// where it was); only a short field count raises EStreamReadError. Pictures
// whose Width x Height is not positive or exceeds kMaxGfxPixels are refused
// before the pixel data is copied, and inflating stops with EGfxImageError as
// soon as the output outgrows what a BMP of that size can need.
#include <cstdint>
#include <mutex>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmStream.h"

namespace zm {

// Bad deflate data.
ZM_COMMON_EXCEPTION(EGfxImageError, EStreamError)

// Four bytes per pixel must fit one bitmap.
constexpr std::int64_t kMaxGfxPixels = kMaxBitmapBytes / 4;
constexpr std::int32_t kGfxFieldBuckets = 251;

// One value of a field.
class TFieldValue : public TRefObject {
public:
  explicit TFieldValue(const WideString& value) : Value(value) {}
  WideString Value;
};

// A new stream over all of Data (taking a reference of its own) that
// carries the read transform of Source (the show container's entry streams
// poll the load callback while read); nil when Source has none. Asked for
// the copied pixel data and for the inflated BMP. The show layer sets it;
// nil: both stay plain memory streams.
using TGfxReadTransformProc = TRef<TStream> (*)(TStream* source, TStream* data);
extern TGfxReadTransformProc GfxReadTransformHook;

class TGfxImage : public TRefObject {
public:
  TGfxImage();
  void Dispose() override;  // frees the fields with their values, Bitmap and Data

  // False, with the stream back at its starting position, for anything but
  // a whole header (and, unless HeaderOnly, all of the rest as Data).
  // EStreamReadError when the field count is cut short.
  bool Load(TStream* stream, const WideString& name, bool headerOnly);
  // The decoded bitmap, made on the first call (any thread; once); nil
  // without Data or when the BMP reader declines. A BMP of another size is
  // resampled to Width x Height. EGfxImageError for bad deflate data.
  TBitmap* GetBitmap();
  // The first value of a key.
  bool GetStringField(const WideString& key, WideString& value);
  // The first value, when all of it is a decimal int32.
  bool GetIntegerField(const WideString& key, std::int32_t& value);

  TRef<THashList> Fields;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  WideString FileName;
  std::int32_t OriginalSize = 0;
  TRef<TStream> Data;
  TRef<TBitmap> Bitmap;
  WideString PixelFormat;
  WideString Name;

private:
  bool ReadFields(TStream* stream, std::uint16_t count);
  std::mutex decodeLock_;
};

class TGfxBitmapStore : public TSysBitmapStore {
public:
  // Image assigned (assertion); the store owns it (takes over the caller's
  // reference).
  TGfxBitmapStore(const WideString& name, const TImageLoadHandler& handler, TGfxImage* image);
  void Dispose() override;
  // Level 0 is the image's bitmap (not owned); others none, so they come
  // from halving.
  void GetSourceLevel(std::int32_t level, TMipLevelResult& result) override;

  TGfxImage* Image() const { return image_.get(); }

private:
  TRef<TGfxImage> image_;
};

// True when 4 bytes could be read and they are "ZMGF" (the position moves).
bool IsGfxMagic(TStream* stream);

TRef<TBitmapStore> LoadGfxBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                      const TImageLoadHandler& handler);

void InitSysGfxLoader();
void FiniSysGfxLoader();

}  // namespace zm
