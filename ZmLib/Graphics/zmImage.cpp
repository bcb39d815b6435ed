#include "ZmLib/Graphics/zmImage.h"

#include <algorithm>
#include <mutex>
#include <string>

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

bool StartsWithPng(TStream* stream) {
  const std::int64_t start = stream->GetPosition();
  std::uint8_t head[8] = {};
  const std::int32_t n = stream->Read(TReadBuffer(head, 8), 8, 0);
  stream->SetPosition(start);
  return n == 8 && std::equal(head, head + 8, kPngSignature);
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

TRef<TBitmapStore> LoadBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                   const TImageLoadHandler& handler) {
  if (!stream) return nullptr;
  // The call's own reference: a loader that takes over the stream may drop
  // the caller's one while we still read.
  TRef<TStream> hold(stream);
  try {
    WideString ext = fileName.empty() ? WideString() : ExtractFileExt(fileName);
    if (ext == u".bmp" && StartsWithPng(stream)) ext = u".png";
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
