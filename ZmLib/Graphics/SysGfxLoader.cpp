#include "ZmLib/Graphics/SysGfxLoader.h"

#include <zlib.h>

#include <array>
#include <vector>

#include "ZmLib/Graphics/SysBilinearSampler.h"
#include "ZmLib/Graphics/zmBmpLoader.h"
#include "ZmLib/wpUnicode.h"

namespace zm {

TGfxReadTransformProc GfxReadTransformHook = nullptr;

namespace {

constexpr std::int32_t kInflateBlock = 32768;

// The largest BMP file of Width x Height: 32-bit rows behind the longest
// info header, a full palette and bit-field masks, with room for slack an
// encoder may leave before the pixels.
std::int64_t MaxBmpBytes(std::int32_t width, std::int32_t height) {
  const std::int64_t stride = (std::int64_t(width) * 32 + 31) / 32 * 4;
  return stride * height + 65536;
}

// Reads a length-prefixed UTF-8 string; false only when the length cannot be
// read or the bytes are not UTF-8. A body cut short leaves the value empty.
bool ReadString(TStream* stream, WideString& value) {
  value.clear();
  std::array<std::uint8_t, 2> len{};
  if (stream->ReadData(len, 2) != 2) return false;
  const std::int32_t n = len[0] | (len[1] << 8);
  if (n == 0) return true;
  TByteString bytes;
  bytes.SetLength(n);
  if (stream->ReadData(TReadBuffer(bytes.MutableData(), std::size_t(n)), n) != n)
    return true;
  try {
    UTF8Decode(bytes, value);
  } catch (const std::exception&) {
    value.clear();
    return false;
  }
  return true;
}

// A BMP of another size than the fields say is drawn over that size: the
// picture is laid out, and its levels are halved, from the fields.
TRef<TBitmap> FitToSize(TRef<TDirectBitmap> bmp, std::int32_t width, std::int32_t height) {
  if (!bmp || (bmp->Width() == width && bmp->Height() == height)) return bmp;
  TPixelFormat* argb = PixelFormatByName(PF_A8R8G8B8);
  TRef<TDirectBitmap> source = bmp;
  if (bmp->PixelFormat() != argb) {
    // A BMP of few bits per pixel may hold more pixels than a 32-bit copy can.
    if (std::int64_t(bmp->Width()) * bmp->Height() > kMaxGfxPixels) throw EGfxImageError();
    source = MakeRef<TDirectBitmap>(bmp->Width(), argb, bmp->Height());
    source->CopyFrom(bmp.get());
  }
  TRef<TDirectBitmap> fitted = MakeRef<TDirectBitmap>(width, argb, height);
  const auto layout = [](TDirectBitmap* b, TPixelLayout& l) {
    l.Width = b->Width();
    l.Height = b->Height();
    l.BitsPerPixel = 32;
    for (std::int32_t y = 0; y < b->Height(); ++y) l.Rows.push_back(b->ScanLine(y));
  };
  TPixelLayout from, to;
  layout(source.get(), from);
  layout(fitted.get(), to);
  BilinearResizeLayout(from, to);
  fitted->SetResolution(bmp->HorzResolution, bmp->VertResolution);
  return fitted;
}

bool ParseDecimal(const WideString& s, std::int32_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  if (i == s.size()) return false;
  std::int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return false;
    v = v * 10 + (s[i] - u'0');
    if (v > std::int64_t(INT32_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  value = std::int32_t(v);
  return true;
}

// Raw deflate (32 KiB window) from Source's position into Dest, refusing
// output beyond Limit bytes.
void InflateRaw(TStream* source, TStream* dest, std::int64_t limit) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) throw EGfxImageError();
  std::vector<std::uint8_t> in(kInflateBlock), out(kInflateBlock);
  std::int64_t total = 0;
  int rc = Z_OK;
  try {
    while (rc != Z_STREAM_END) {
      if (zs.avail_in == 0) {
        const std::int32_t n = source->ReadData(in, kInflateBlock);
        if (n <= 0) throw EGfxImageError();  // the deflate stream is cut short
        zs.next_in = in.data();
        zs.avail_in = uInt(n);
      }
      zs.next_out = out.data();
      zs.avail_out = uInt(kInflateBlock);
      rc = inflate(&zs, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) throw EGfxImageError();
      const std::int32_t produced = kInflateBlock - std::int32_t(zs.avail_out);
      total += produced;
      if (total > limit) throw EGfxImageError();
      if (produced > 0 && dest->WriteData(out, produced) != produced) throw EStreamWriteError();
    }
  } catch (...) {
    inflateEnd(&zs);
    throw;
  }
  inflateEnd(&zs);
}

}  // namespace

bool IsGfxMagic(TStream* stream) {
  std::array<std::uint8_t, 4> m{};
  return stream->ReadData(m, 4) == 4 && m[0] == 'Z' && m[1] == 'M' && m[2] == 'G' && m[3] == 'F';
}

// ============================================================================
// TGfxImage
// ============================================================================

TGfxImage::TGfxImage() : Fields(MakeRef<THashList>(kGfxFieldBuckets)) {}

void TGfxImage::Dispose() {
  if (Fields) Fields->Clear(true);
  Fields = nullptr;
  Bitmap = nullptr;
  Data = nullptr;
  TRefObject::Dispose();
}

bool TGfxImage::GetStringField(const WideString& key, WideString& value) {
  TKeyItem* item = nullptr;
  if (!Fields || !Fields->Find(key, item) || !item || item->Count() == 0) return false;
  value = static_cast<TFieldValue*>(item->First())->Value;
  return true;
}

bool TGfxImage::GetIntegerField(const WideString& key, std::int32_t& value) {
  WideString s;
  return GetStringField(key, s) && ParseDecimal(s, value);
}

bool TGfxImage::ReadFields(TStream* stream, std::uint16_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    WideString key, value;
    if (!ReadString(stream, key) || !ReadString(stream, value)) return false;
    Fields->GetItem(key)->Add(MakeRef<TFieldValue>(value).Detach());
  }
  return GetStringField(u"File", FileName) && GetIntegerField(u"Width", Width) &&
         GetIntegerField(u"Height", Height) && GetIntegerField(u"OriginalSize", OriginalSize);
}

bool TGfxImage::Load(TStream* stream, const WideString& name, bool headerOnly) {
  if (!stream) return false;
  const std::int64_t start = stream->GetPosition();
  if (!IsGfxMagic(stream)) {
    stream->SetPosition(start);
    return false;
  }
  std::uint16_t count = 0;
  try {
    count = stream->ReadWord();
  } catch (...) {
    stream->SetPosition(start);
    throw;
  }
  bool ok = false;
  try {
    ok = ReadFields(stream, count);
    // Refused before any pixel memory is taken.
    ok = ok && Width > 0 && Height > 0 && std::int64_t(Width) * Height <= kMaxGfxPixels;
    if (ok && !headerOnly) {
      const std::int64_t size = stream->GetSize(), remaining = size - stream->GetPosition();
      ok = size >= 0 && remaining >= 0 && remaining <= TMemoryStream::kMaxSize;
      if (ok) {
        TRef<TMemoryStream> copy = MakeRef<TMemoryStream>();
        ok = remaining == 0 || copy->CopyFrom(stream, remaining) == remaining;
        if (ok) {
          copy->SetPosition(0);
          TRef<TStream> wrapped = GfxReadTransformHook ? GfxReadTransformHook(stream, copy.get()) : nullptr;
          Data = wrapped ? wrapped : TRef<TStream>(copy);
        }
      }
    }
  } catch (const std::exception&) {
    ok = false;  // a copy that came short
  }
  if (!ok) {
    Data = nullptr;
    stream->SetPosition(start);
    return false;
  }
  PixelFormat = u"A8R8G8B8";
  Name = name;
  return true;
}

TBitmap* TGfxImage::GetBitmap() {
  std::lock_guard<std::mutex> lock(decodeLock_);
  if (Data && !Bitmap) {
    TRef<TStream> data = std::move(Data);  // gone whatever the outcome
    data->SetPosition(0);
    TRef<TMemoryStream> inflated = MakeRef<TMemoryStream>();
    InflateRaw(data.get(), inflated.get(), MaxBmpBytes(Width, Height));
    inflated->SetPosition(0);
    TRef<TStream> wrapper = GfxReadTransformHook ? GfxReadTransformHook(data.get(), inflated.get()) : nullptr;
    TStream* source = wrapper ? wrapper.get() : inflated.get();
    Bitmap = FitToSize(LoadBitmapFromStream(source), Width, Height);
  }
  return Bitmap.get();
}

// ============================================================================
// TGfxBitmapStore
// ============================================================================

namespace {
TGfxImage* NeedImage(TGfxImage* image) {
  ZM_ASSERT(image, "TGfxBitmapStore.Create - Image not Assigned");
  return image;
}
}  // namespace

TGfxBitmapStore::TGfxBitmapStore(const WideString& name, const TImageLoadHandler& handler, TGfxImage* image)
    : TSysBitmapStore(name, handler, TPoint{NeedImage(image)->Width, image->Height},
                      PixelFormatByName(PF_A8R8G8B8)) {
  image_ = TRef<TGfxImage>::Adopt(image);
}

void TGfxBitmapStore::Dispose() {
  image_ = nullptr;
  TSysBitmapStore::Dispose();
}

void TGfxBitmapStore::GetSourceLevel(std::int32_t level, TMipLevelResult& result) {
  if (level != 0) return;
  result.Bitmap = TRef<TBitmap>(image_->GetBitmap());
  result.Owned = false;
  result.Level = 0;
}

// ============================================================================
// Loader
// ============================================================================

TRef<TBitmapStore> LoadGfxBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                      const TImageLoadHandler& handler) {
  if (!stream) return nullptr;
  const std::int64_t start = stream->GetPosition();
  const bool magic = IsGfxMagic(stream);
  stream->SetPosition(start);
  if (!magic) return nullptr;
  TRef<TGfxImage> image = MakeRef<TGfxImage>();
  if (!image->Load(stream, fileName, false)) return nullptr;
  TRef<TGfxBitmapStore> store = MakeRef<TGfxBitmapStore>(fileName, handler, image.Detach());
  if (ownsStream) stream->ReleaseRef();
  return store;
}

void InitSysGfxLoader() {
  RegisterImageLoader(&LoadGfxBitmapStore, {u".zmgfx", u".bmp", u".dib", u".png", u".gif|framesatlas"});
}

void FiniSysGfxLoader() { UnregisterImageLoader(&LoadGfxBitmapStore); }

}  // namespace zm
