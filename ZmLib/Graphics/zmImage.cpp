#include "ZmLib/Graphics/zmImage.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>

#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"

namespace zm {

namespace {

struct TLoaderEntry {
  TImageLoaderProc Loader;
  std::vector<WideString> Extensions;
};

// Written at start-up; read by every thread that opens pictures.
std::mutex gLoaderLock;
std::vector<TLoaderEntry> gLoaders;

std::vector<TLoaderEntry> Loaders() {
  std::lock_guard<std::mutex> l(gLoaderLock);
  return gLoaders;
}

constexpr std::uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// The extensions whose loaders read a format, the first the one it is
// loaded by when its name says another.
struct TReadFormat {
  const char16_t* Name;
  std::initializer_list<const char16_t*> Extensions;
};
const TReadFormat kJpeg{u"JPEG", {u".jpg", u".jpeg", u".jpe", u".jfif"}};
const TReadFormat kPng{u"PNG", {u".png"}};
const TReadFormat kGif{u"GIF", {u".gif", u".gif|framesatlas", u".gif_first_frame"}};
const TReadFormat kBmp{u"BMP", {u".bmp", u".dib"}};
// The packed pictures of a show, stored under the names of what they were.
const TReadFormat kPacked{u"packed picture", {u".zmgfx", u".bmp", u".dib", u".png", u".gif|framesatlas"}};

bool Starts(const std::uint8_t* head, std::int32_t n, std::int32_t at, std::string_view bytes) {
  return at + std::int32_t(bytes.size()) <= n &&
         std::equal(bytes.begin(), bytes.end(), head + at, [](char b, std::uint8_t h) { return std::uint8_t(b) == h; });
}

// The format of a picture's first N bytes: one read here, with its loaders'
// extensions; or only its name, for one that is not; or nothing known.
const TReadFormat* FormatOf(const std::uint8_t* head, std::int32_t n, WideString& name) {
  const auto is = [&](std::int32_t at, std::string_view bytes) { return Starts(head, n, at, bytes); };
  if (is(0, "\xFF\xD8\xFF")) return &kJpeg;
  if (n >= 8 && std::equal(head, head + 8, kPngSignature)) return &kPng;
  if (is(0, "GIF87a") || is(0, "GIF89a")) return &kGif;
  if (is(0, "ZMGF")) return &kPacked;
  if (is(0, "BM")) return &kBmp;
  // Formats a camera, a phone or a web page gives that are not read here.
  if (is(0, "RIFF") && is(8, "WEBP")) name = u"WebP";
  else if (is(0, std::string_view("II*\0", 4)) || is(0, std::string_view("MM\0*", 4))) name = u"TIFF";
  else if (is(4, "ftyp") && (is(8, "avif") || is(8, "avis"))) name = u"AVIF";
  else if (is(4, "ftyp") && (is(8, "heic") || is(8, "heix") || is(8, "hevc") || is(8, "heim") || is(8, "heis") ||
                             is(8, "mif1") || is(8, "msf1")))
    name = u"HEIF";
  else if (is(0, "\xFF\x0A") || is(0, std::string_view("\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12))) name = u"JPEG XL";
  else if (is(0, std::string_view("\0\0\0\x0CjP  \x0D\x0A\x87\x0A", 12)) || is(0, "\xFF\x4F\xFF\x51"))
    name = u"JPEG 2000";
  else if (is(0, "8BPS")) name = u"Photoshop";
  else if (is(0, std::string_view("\0\0\1\0", 4))) name = u"ICO";
  else if (is(0, "%PDF")) name = u"PDF";
  return nullptr;
}

}  // namespace

// ============================================================================
// TBitmapStore
// ============================================================================

TBitmapStore::TBitmapStore() : lock_(MakeRef<TSafeCriticalSection>().Detach()) {}

void TBitmapStore::Dispose() {
  levels_.clear();
  if (cacheList_) cacheList_->Clear();
  cacheList_ = nullptr;
  Source = nullptr;
  Tags.clear();
  ColorProfile = nullptr;
  FreeAndNil(lock_);
  TRefObject::Dispose();
}

TBitmap* TBitmapStore::MatchBitmap(TBitmap* bitmap, const TBitmapClass* bitmapClass, TPixelFormat* format) {
  return BitmapMatches(bitmap, format, bitmapClass) ? bitmap : nullptr;
}

TList* TBitmapStore::GetCacheList() {
  TLockScope l(lock_);
  if (!cacheList_) cacheList_ = MakeRef<TList>();
  return cacheList_.get();
}

std::int32_t TBitmapStore::LevelBitmapCount(std::int32_t level) {
  TLockScope l(lock_);
  if (level < 0 || std::size_t(level) >= levels_.size()) return 0;
  return std::int32_t(levels_[std::size_t(level)].Bitmaps.size());
}

void TBitmapStore::ReleaseLevels() {
  if (!RemakesLevels()) return;
  std::vector<TLevelCache> gone;
  {
    TLockScope l(lock_);
    gone.swap(levels_);
  }
}

TBitmap* TBitmapStore::GetMipLevel(std::int32_t level, TPixelFormat* format, const TBitmapClass* bitmapClass) {
  TLockScope l(lock_);
  if (level < 0) {
    // The store's own check speaks first; whatever it builds is refused.
    TMipLevelResult r;
    BuildMipLevel(level, format, r, bitmapClass);
    ZM_FAIL("Incorrect MipLevelIndex");
  }
  ZM_ASSERT(level <= kMaxMipLevel, "Incorrect MipLevelIndex");
  if (levels_.size() <= std::size_t(level)) {
    std::size_t n = std::max<std::size_t>(levels_.size(), 4);
    while (n <= std::size_t(level)) n *= 2;
    levels_.resize(n);
  }
  // Levels may grow while a level is built (the level above is asked for),
  // so the cache is reached by index after every call out.
  for (const TRef<TBitmap>& b : levels_[std::size_t(level)].Bitmaps)
    if (TBitmap* m = MatchBitmap(b.get(), bitmapClass, format)) return m;

  if (levels_[std::size_t(level)].Bitmaps.empty()) {
    TMipLevelResult r;
    BuildMipLevel(level, format, r, bitmapClass);
    ZM_ASSERT(r.Bitmap, "\"" + ClassName() + ".GetMipLevel(" + std::to_string(level) + ")\" Not Assigned");
    ZM_ASSERT(r.Level == level, "Incorrect MipLevelIndex");
    TBitmap* b = r.Bitmap.get();
    levels_[std::size_t(level)].Bitmaps.push_back(std::move(r.Bitmap));
    if (TBitmap* m = MatchBitmap(b, bitmapClass, format)) return m;
  }

  TBitmap* first = levels_[std::size_t(level)].Bitmaps.front().get();
  if (!format) format = first->PixelFormat();
  ZM_ASSERT(format, "zmBitmap.DefBitmapClass Not Assigned");
  TRef<TBitmap> converted = ConvertBitmap(first, format, bitmapClass, ProgressHandler);
  ZM_ASSERT(converted, "Invalid Combination Of Bitmap Parameters");
  TBitmap* b = converted.get();
  levels_[std::size_t(level)].Bitmaps.push_back(std::move(converted));
  return b;
}

// ============================================================================
// TImage
// ============================================================================

TImage::TImage(TBitmapStore* store) {
  ZM_ASSERT(store, "TImage.Create - Store not Assigned");
  store_ = TRef<TBitmapStore>(store);
  Params = store->Params;
}

void TImage::Dispose() {
  store_ = nullptr;
  if (cacheList_) cacheList_->Clear();
  cacheList_ = nullptr;
  TRefObject::Dispose();
}

TRef<TImage> TImage::CreateCopy() { return MakeRef<TImage>(store_.get()); }

TBitmap* TImage::GetBitmap() { return store_->GetMipLevel(0, nullptr, nullptr); }

TList* TImage::GetCacheList() {
  if (!cacheList_) cacheList_ = MakeRef<TList>();
  return cacheList_.get();
}

// ============================================================================
// Loader table
// ============================================================================

WideString NormalizeExtension(const WideString& extension) {
  std::size_t i = 0;
  while (i < extension.size() && extension[i] <= 32) ++i;
  if (i < extension.size() && extension[i] == u'*') ++i;
  WideString rest = extension.substr(i);
  if (rest.empty() || rest[0] != u'.') rest.insert(rest.begin(), u'.');
  return rest;
}

void RegisterImageLoader(TImageLoaderProc loader, std::initializer_list<const char16_t*> extensions) {
  ZM_ASSERT(loader, "RegisterImageLoader - Loader not Assigned");
  TLoaderEntry e{loader, {}};
  for (const char16_t* x : extensions) e.Extensions.push_back(NormalizeExtension(x));
  std::lock_guard<std::mutex> l(gLoaderLock);
  if (gLoaders.empty()) gLoaders.reserve(8);
  gLoaders.push_back(std::move(e));
}

void UnregisterImageLoader(TImageLoaderProc loader) {
  std::lock_guard<std::mutex> l(gLoaderLock);
  std::erase_if(gLoaders, [&](const TLoaderEntry& e) { return e.Loader == loader; });
}

std::int32_t ImageLoaderCount() {
  std::lock_guard<std::mutex> l(gLoaderLock);
  return std::int32_t(gLoaders.size());
}

// ============================================================================
// Opening pictures
// ============================================================================

bool TPictureFormat::ReadAs(const WideString& extension) const {
  return std::any_of(Extensions.begin(), Extensions.end(), [&](const WideString& x) { return SameText(x, extension); });
}

TPictureFormat PictureFormatOf(TStream* stream) {
  TPictureFormat format;
  if (!stream) return format;
  std::uint8_t head[12] = {};
  std::int32_t n = 0;
  try {
    const std::int64_t start = stream->GetPosition();
    n = stream->Read(TReadBuffer(head, sizeof head), sizeof head, 0);
    stream->SetPosition(start);
  } catch (const std::exception&) {
    return format;  // nothing to tell: the loaders meet the same
  }
  if (const TReadFormat* read = FormatOf(head, std::max(n, 0), format.Name)) {
    format.Name = read->Name;
    for (const char16_t* x : read->Extensions) format.Extensions.push_back(x);
    format.Extension = format.Extensions.front();
  }
  return format;
}

TRef<TBitmapStore> LoadBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                   const TImageLoadHandler& handler) {
  if (!stream) return nullptr;
  // The call's own reference: a loader that takes over the stream may drop
  // the caller's one while we still read.
  TRef<TStream> hold(stream);
  try {
    WideString ext = fileName.empty() ? WideString() : ExtractFileExt(fileName);
    // A picture is read by what it holds, whatever its name says.
    const TPictureFormat format = PictureFormatOf(stream);
    if (!format.Extension.empty() && !format.ReadAs(ext)) ext = format.Extension;
    for (const TLoaderEntry& e : Loaders()) {
      if (!ext.empty() &&
          std::none_of(e.Extensions.begin(), e.Extensions.end(), [&](const WideString& x) { return SameText(x, ext); }))
        continue;
      if (TRef<TBitmapStore> store = e.Loader(stream, fileName, ownsStream, handler)) return store;
    }
  } catch (...) {
    if (ownsStream) stream->ReleaseRef();
    throw;
  }
  if (ownsStream) stream->ReleaseRef();
  return nullptr;
}

TRef<TImage> LoadImageFromStreamEx(TStream* stream, const WideString& fileName, bool ownsStream) {
  TRef<TBitmapStore> store = LoadBitmapStore(stream, fileName, ownsStream, {});
  if (!store) return nullptr;
  return MakeRef<TImage>(store.get());
}

TRef<TImage> LoadImageFromStream(TStream* stream, const WideString& fileName) {
  return LoadImageFromStreamEx(stream, fileName, false);
}

TRef<TImage> LoadImageFromFile(const WideString& fileName) {
  try {
    TRef<TStream> stream = ReadFile ? ReadFile(fileName) : nullptr;
    if (!stream) return nullptr;
    return LoadImageFromStreamEx(stream.Detach(), fileName, true);
  } catch (...) {
    return nullptr;
  }
}

bool FreeImage(TRef<TImage>& image) {
  const bool had = bool(image);
  image = nullptr;
  return had;
}

std::int32_t MipLevelForSize(const TPoint& imageSize, std::int32_t width, std::int32_t height) {
  ZM_ASSERT(width >= 1, "MipLevelForSize - Width < 1");
  ZM_ASSERT(height >= 1, "MipLevelForSize - Height < 1");
  std::int64_t w = imageSize.X, h = imageSize.Y;
  std::int32_t level = -1;
  while (width < w && height < h) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
    ++level;
  }
  return std::max(level, 0);
}

void InitImage() {}

void FiniImage() {
  std::lock_guard<std::mutex> l(gLoaderLock);
  gLoaders.clear();
}

}  // namespace zm
