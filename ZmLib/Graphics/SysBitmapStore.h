#pragma once
// Bitmap stores over TSysBitmaps: TSysBitmapStore makes a level either from
// what its source supplies or by halving the level above (so the chain of
// levels is built from the top down, each level at most once);
// TWrapperBitmapStore is a store over one bitmap that already exists;
// GetSysBitmapHook turns any bitmap into an image; and the three level
// fix-ups turn a freshly loaded picture upright by its orientation
// (3: half turn, 6: quarter turn clockwise, 8: counter-clockwise).
//
// Levels are worked in "A8R8G8B8" when the picture has alpha, else in
// "R8G8B8".
#include <cstdint>

#include "ZmLib/Graphics/zmImage.h"

namespace zm {

class TSysBitmapStore : public TBitmapStore {
public:
  // Handler.Progress goes to the bitmaps the store makes; Handler.FixUpFor,
  // when set, is asked once with Name and its answer becomes the fix-up.
  TSysBitmapStore(const WideString& name, const TImageLoadHandler& handler, const TPoint& size,
                  TPixelFormat* pixelFormat);

  // Level from the source (resolution set, fix-up run), else by halving
  // level - 1 in the working format. A negative level fails the assertion
  // "TSysBitmapStore.GetMipLevel - Index<0".
  void BuildMipLevel(std::int32_t level, TPixelFormat* format, TMipLevelResult& result,
                     const TBitmapClass* bitmapClass) override;
  // A TSysDirectWrapper asked for as a TDirectBitmap (or a descendant)
  // answers with the direct bitmap it wraps; else as TBitmapStore does.
  TBitmap* MatchBitmap(TBitmap* bitmap, const TBitmapClass* bitmapClass, TPixelFormat* format) override;
  // The bitmap the source supplies for a level, or none (Bitmap nil).
  virtual void GetSourceLevel(std::int32_t level, TMipLevelResult& result) = 0;

  // "A8R8G8B8" when the picture has alpha, else "R8G8B8".
  TPixelFormat* WorkingFormat() const;

  const WideString& Name() const { return name_; }
  TPoint Size() const { return size_; }
  TPixelFormat* PixelFormat() const { return pixelFormat_; }
  // Copied into every level bitmap the store hands out.
  std::int32_t HorzResolution = 0;
  std::int32_t VertResolution = 0;
  TLevelFixUpProc FixUp = nullptr;

private:
  WideString name_;
  TPoint size_;
  TPixelFormat* pixelFormat_;
};

class TWrapperBitmapStore : public TSysBitmapStore {
public:
  // Bitmap assigned (assertion); size and format are the bitmap's. Owns:
  // the store takes over the caller's reference, else it takes one of its own.
  TWrapperBitmapStore(const WideString& name, const TImageLoadHandler& handler, bool owns, TBitmap* bitmap);
  void Dispose() override;
  // Level 0 is the wrapped bitmap itself; other levels come from halving.
  void GetSourceLevel(std::int32_t level, TMipLevelResult& result) override;

  TBitmap* Bitmap() const { return bitmap_.get(); }
  bool OwnsBitmap() const { return ownsBitmap_; }

private:
  TRef<TBitmap> bitmap_;
  bool ownsBitmap_;
};

// A new image over a wrapper store of Bitmap; nil for nil. A TDirectBitmap
// is wrapped in a TSysDirectWrapper first; a bitmap that is neither a
// TDirectBitmap nor a TSysBitmap is copied into a new TSysBitmap (the one
// passed in is released when Owns). Owns: the caller's reference passes on.
using TGetSysBitmapProc = TRef<TImage> (*)(TBitmap* bitmap, bool owns, const WideString& name);
extern TGetSysBitmapProc GetSysBitmapHook;
TRef<TImage> SysBitmapToImage(TBitmap* bitmap, bool owns, const WideString& name);

// The level fix-ups, set at start-up.
extern TLevelFixUpProc RotateBitmapProc3;
extern TLevelFixUpProc RotateBitmapProc6;
extern TLevelFixUpProc RotateBitmapProc8;
// The fix-up for an orientation (3, 6 or 8); nil for any other.
TLevelFixUpProc RotateBitmapProcFor(std::int32_t orientation);

void InitSysBitmapStore();
void FiniSysBitmapStore();

}  // namespace zm
