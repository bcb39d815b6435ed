#pragma once
// Pictures by file name: the image-loader table, the opening functions, the
// abstract bitmap store with its cache of mip levels, and TImage, the
// reference-counted handle to a store that the rest of the system passes
// around.
//
// A loader is registered with the extensions it reads and is tried, in
// registration order, for files whose extension matches (letter case
// ignored). The extension of a name is everything after the last "." that
// follows the last separator, so "a.gif|framesatlas" has the extension
// ".gif|framesatlas". A loader that declines answers nil, leaves the stream
// position unchanged and keeps its hands off the stream; one that accepts
// takes over the stream as its store needs it (with OwnsStream it drops the
// caller's reference once it succeeded).
//
// A store hands out the picture at mip level n (level 0 full size, each
// level half the size of the one above) in any pixel format and bitmap
// class, made on demand and kept until the store goes. Any thread may ask;
// the store's own lock serialises the work.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/zmLists.h"

namespace zm {

class TBitmapStore;
struct TMipLevelResult;

// A procedure that fixes up each level a store takes from its source (turns
// a photograph upright, for one); it may replace the bitmap in the record.
using TLevelFixUpProc = void (*)(TBitmapStore* store, TMipLevelResult& level);

// What the caller of a loader hands down to the store: the progress
// callback of the decoding, and the query that gives the fix-up procedure
// for a picture's name (the show's file source answers with the rotation
// for the picture's stored orientation). Either may be empty.
struct TImageLoadHandler {
  TBitmapProgressEvent Progress;
  std::function<TLevelFixUpProc(const WideString& name)> FixUpFor;
  explicit operator bool() const { return Progress || FixUpFor; }
};

// The picture's description, copied into each image.
struct TImageParams {
  WideString FileName;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  // The format of the picture as decoded; its HasAlpha tells whether the
  // picture has transparency.
  TPixelFormat* PixelFormat = nullptr;
};

// One level's bitmap as a store builds it: Owned says the store made it
// (kept by the store either way, as a reference of its own).
struct TMipLevelResult {
  TRef<TBitmap> Bitmap;
  bool Owned = false;
  std::int32_t Level = 0;
};

// Levels beyond this are refused: every picture is 1 x 1 long before.
constexpr std::int32_t kMaxMipLevel = 31;

class TBitmapStore : public TRefObject {
public:
  TBitmapStore();
  // Frees every bitmap of every level, the cache list, the source and the
  // picture's colour profile.
  void Dispose() override;

  // Makes the bitmap of Level, in Format and BitmapClass when it can (nil:
  // any); called under the store's lock.
  virtual void BuildMipLevel(std::int32_t level, TPixelFormat* format, TMipLevelResult& result,
                             const TBitmapClass* bitmapClass) = 0;
  // Bitmap when Format is nil or its format and BitmapClass is nil or a
  // class Bitmap is of; else nil.
  virtual TBitmap* MatchBitmap(TBitmap* bitmap, const TBitmapClass* bitmapClass, TPixelFormat* format);

  // The bitmap of Level in Format and BitmapClass (nil: any), made on
  // demand; the store keeps it. Assertions for inconsistent stores:
  // '"<class>.GetMipLevel(<n>)" Not Assigned' when nothing was built,
  // "Incorrect MipLevelIndex" for a result of another level (and for levels
  // outside 0..kMaxMipLevel), "Invalid Combination Of Bitmap Parameters"
  // when the conversion gives nothing.
  TBitmap* GetMipLevel(std::int32_t level, TPixelFormat* format, const TBitmapClass* bitmapClass);
  // Objects derived from the picture (textures ...); made on first use. The
  // list does not own them.
  TList* GetCacheList();

  TImageParams Params;
  // The picture's own colour profile, nil for sRGB pictures.
  TRef<TColorProfile> ColorProfile;
  // Passed to the bitmaps the store makes.
  TBitmapProgressEvent ProgressHandler;
  // What the store reads its picture from; released by Dispose.
  TRef<TRefObject> Source;
  // Markers attached when the picture is made (the tile layout of an
  // animation strip, ...); released by Dispose.
  std::vector<TRef<TRefObject>> Tags;
  // The first tag of class T, or nil.
  template <class T>
  T* FindTag() const {
    for (const TRef<TRefObject>& tag : Tags)
      if (auto* found = dynamic_cast<T*>(tag.get())) return found;
    return nullptr;
  }

  // Bitmaps held by a level (tests, diagnostics).
  std::int32_t LevelBitmapCount(std::int32_t level);

  // Whether the store can make its levels again once they were let go: a
  // picture drawn from outlines, a shadow made from its parameters. A
  // picture read from a file is kept.
  virtual bool RemakesLevels() const { return false; }
  // Lets every level go when the store can make them again (the textures
  // made of them hold their pixels); a level asked for later is made anew.
  // Whoever holds a level's bitmap by reference keeps it; a pointer from
  // GetMipLevel does not survive the call.
  void ReleaseLevels();

private:
  struct TLevelCache {
    std::vector<TRef<TBitmap>> Bitmaps;
  };
  TSafeCriticalSection* lock_ = nullptr;
  std::vector<TLevelCache> levels_;
  TRef<TList> cacheList_;
};

// Attached to a picture made of tiles (the frames of an animation side by
// side), telling their layout and timing.
class TTilesTag : public TRefObject {
public:
  std::int32_t TileWidth = 0;
  std::int32_t TileHeight = 0;
  std::int32_t FrameCount = 0;
  std::int32_t ColumnCount = 0;
  std::int32_t RowCount = 0;
  std::int32_t TotalDuration = 0;  // milliseconds
  std::int32_t AverageDelay = 0;   // milliseconds
  WideString DelayText;            // the frame delays, joined by ","
  std::int32_t LoopCount = 0;
};

class TImage : public TRefObject {
public:
  // Store assigned (assertion); keeps a reference and copies the description.
  explicit TImage(TBitmapStore* store);
  void Dispose() override;  // releases the store, clears and frees the cache list
  // A new image over the same store.
  virtual TRef<TImage> CreateCopy();

  // The full-size picture (level 0, any format); the store keeps it.
  TBitmap* GetBitmap();
  TList* GetCacheList();
  TBitmapStore* Store() const { return store_.get(); }

  TImageParams Params;

private:
  TRef<TBitmapStore> store_;
  TRef<TList> cacheList_;
};

// ---- The loader table ------------------------------------------------------------------

using TImageLoaderProc = TRef<TBitmapStore> (*)(TStream* stream, const WideString& fileName, bool ownsStream,
                                                const TImageLoadHandler& handler);

// Leading characters up to code 32 are skipped, then one "*"; "." is put in
// front when missing: "*.jpg", "jpg" and ".jpg" all give ".jpg".
WideString NormalizeExtension(const WideString& extension);
void RegisterImageLoader(TImageLoaderProc loader, std::initializer_list<const char16_t*> extensions);
// Removes every entry of the loader (modules that go before this unit does).
void UnregisterImageLoader(TImageLoaderProc loader);
std::int32_t ImageLoaderCount();

// ---- Opening pictures -------------------------------------------------------------------

// What a picture's first bytes say it is (the stream is left where it was).
struct TPictureFormat {
  WideString Name;                     // "JPEG", "PNG", ..., "WebP"; empty: nothing known
  WideString Extension;                // a format read here: its loaders' extension; empty: not read here
  std::vector<WideString> Extensions;  // every extension whose loaders read it
  // Whether a name with Extension goes to loaders of this format.
  bool ReadAs(const WideString& extension) const;
};
TPictureFormat PictureFormatOf(TStream* stream);

// The first store a loader for the name's extension makes (every loader when
// the name has none); a ".bmp" name whose data begin with the PNG signature
// goes to the ".png" loaders. Nil when none accepts; with OwnsStream the
// stream is then released. Exceptions of loaders pass on (with OwnsStream the
// stream is released first).
TRef<TBitmapStore> LoadBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                   const TImageLoadHandler& handler);
// LoadBitmapStore without handler, the store wrapped in a new image.
TRef<TImage> LoadImageFromStreamEx(TStream* stream, const WideString& fileName, bool ownsStream);
TRef<TImage> LoadImageFromStream(TStream* stream, const WideString& fileName);
// Through the ReadFile hook; nil when the file cannot be opened or read (any
// exception while loading gives nil).
TRef<TImage> LoadImageFromFile(const WideString& fileName);
// Releases the image and clears the variable; true when there was one.
bool FreeImage(TRef<TImage>& image);

// The mip level to draw a picture of ImageSize at Width x Height: the
// deepest level still wider than Width and higher than Height (0 when level 0
// is not). Width and Height at least 1 (assertion).
std::int32_t MipLevelForSize(const TPoint& imageSize, std::int32_t width, std::int32_t height);

void InitImage();
void FiniImage();

}  // namespace zm
