#include "ZmLib/Graphics/SysBitmapStore.h"

#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/wpLoadCallBack.h"

namespace zm {

TGetSysBitmapProc GetSysBitmapHook = nullptr;
TLevelFixUpProc RotateBitmapProc3 = nullptr;
TLevelFixUpProc RotateBitmapProc6 = nullptr;
TLevelFixUpProc RotateBitmapProc8 = nullptr;

namespace {

// The level's bitmap as a TSysBitmap in the store's working format.
TSysBitmap* WorkingBitmap(TBitmapStore* store, TMipLevelResult& level) {
  auto* sys = dynamic_cast<TSysBitmapStore*>(store);
  ZM_ASSERT(sys && level.Bitmap, "RotateBitmapProc - Invalid Level");
  TPixelFormat* working = sys->WorkingFormat();
  auto* b = dynamic_cast<TSysBitmap*>(level.Bitmap.get());
  if (b && b->PixelFormat() == working) return b;
  TRef<TBitmap> converted = ConvertBitmap(level.Bitmap.get(), working, TSysBitmap::StaticClass());
  ZM_ASSERT(converted && dynamic_cast<TSysBitmap*>(converted.get()), "RotateBitmapProc - Conversion Failed");
  level.Bitmap = converted;
  level.Owned = true;
  return static_cast<TSysBitmap*>(level.Bitmap.get());
}

void RotateHalfTurn(TBitmapStore* store, TMipLevelResult& level) {
  TSysBitmap* b = WorkingBitmap(store, level);
  if (b->BytesPerPixel() == 4) RotateBitmap180_32(b);
  else RotateBitmap180_24(b);
}

void RotateQuarterTurn(TBitmapStore* store, TMipLevelResult& level, bool clockwise) {
  TSysBitmap* b = WorkingBitmap(store, level);
  auto* sys = static_cast<TSysBitmapStore*>(store);
  TRef<TSysBitmap> turned = CreateSysBitmap(b->Height(), b->Width(), sys->WorkingFormat());
  ZM_ASSERT(turned, "RotateBitmapProc - Bitmap not Created");
  turned->SetResolution(sys->HorzResolution, sys->VertResolution);
  const bool wide = b->BytesPerPixel() == 4;
  if (clockwise) wide ? RotateBitmapCW32(b, turned.get()) : RotateBitmapCW24(b, turned.get());
  else wide ? RotateBitmapCCW32(b, turned.get()) : RotateBitmapCCW24(b, turned.get());
  level.Bitmap = turned;
  level.Owned = true;
}

void RotateClockwise(TBitmapStore* store, TMipLevelResult& level) { RotateQuarterTurn(store, level, true); }
void RotateCounterClockwise(TBitmapStore* store, TMipLevelResult& level) { RotateQuarterTurn(store, level, false); }

}  // namespace

// ============================================================================
// TSysBitmapStore
// ============================================================================

TSysBitmapStore::TSysBitmapStore(const WideString& name, const TImageLoadHandler& handler, const TPoint& size,
                                 TPixelFormat* pixelFormat)
    : TBitmapStore(), name_(name), size_(size), pixelFormat_(pixelFormat) {
  ProgressHandler = handler.Progress;
  Params.FileName = name;
  Params.Width = size.X;
  Params.Height = size.Y;
  Params.PixelFormat = pixelFormat;
  if (handler.FixUpFor) FixUp = handler.FixUpFor(name);
}

TPixelFormat* TSysBitmapStore::WorkingFormat() const {
  return PixelFormatByName(pixelFormat_ && pixelFormat_->HasAlpha && pixelFormat_->ColorModel == cmColorAlpha
                               ? PF_A8R8G8B8
                               : PF_R8G8B8);
}

void TSysBitmapStore::BuildMipLevel(std::int32_t level, TPixelFormat* format, TMipLevelResult& result,
                                    const TBitmapClass* bitmapClass) {
  ZM_ASSERT(level >= 0, "TSysBitmapStore.GetMipLevel - Index<0");
  result = TMipLevelResult{};
  GetSourceLevel(level, result);
  if (result.Bitmap) {
    result.Bitmap->SetResolution(HorzResolution, VertResolution);
    if (FixUp) {
      FixUp(this, result);
      ZM_ASSERT(result.Bitmap, "TSysBitmapStore.GetMipLevel - Fix-up lost the Bitmap");
      result.Bitmap->SetResolution(HorzResolution, VertResolution);
    }
    return;
  }

  TPixelFormat* working = WorkingFormat();
  auto* above = dynamic_cast<TSysBitmap*>(GetMipLevel(level - 1, working, TSysBitmap::StaticClass()));
  // Each level a step of its own: work told to stop ends between them.
  CheckLoadStop();
  ZM_ASSERT(above, "TSysBitmapStore.GetMipLevel - Upper Level not Assigned");
  const std::int32_t w = (above->Width() + 1) / 2, h = (above->Height() + 1) / 2;
  const TBitmapClass* cls = TSysBitmap::StaticClass();
  if (bitmapClass && bitmapClass->InheritsFrom(TSysBitmap::StaticClass()) && (!format || format == working))
    cls = bitmapClass;
  TRef<TSysBitmap> made = RefCast<TSysBitmap>(CreateBitmap(w, h, working, ProgressHandler, nullptr, cls));
  ZM_ASSERT(made, "TSysBitmapStore.GetMipLevel - Bitmap not Created");
  made->SetResolution(HorzResolution, VertResolution);
  switch (made->BytesPerPixel()) {
    case 3: HalveBitmap24(above, made.get()); break;
    case 4: HalveBitmap32(above, made.get()); break;
    default: ZM_FAIL("TSysBitmapStore.GetMipLevel - Invalid Bit Depth");
  }
  result.Bitmap = made;
  result.Owned = true;
  result.Level = level;
}

TBitmap* TSysBitmapStore::MatchBitmap(TBitmap* bitmap, const TBitmapClass* bitmapClass, TPixelFormat* format) {
  if (auto* wrapper = dynamic_cast<TSysDirectWrapper*>(bitmap)) {
    TDirectBitmap* direct = wrapper->Bitmap();
    if (bitmapClass && bitmapClass->InheritsFrom(TDirectBitmap::StaticClass()) && direct &&
        direct->ClassType()->InheritsFrom(bitmapClass) && (!format || format == direct->PixelFormat()))
      return direct;
  }
  return TBitmapStore::MatchBitmap(bitmap, bitmapClass, format);
}

// ============================================================================
// TWrapperBitmapStore
// ============================================================================

namespace {
TBitmap* NeedBitmap(TBitmap* b) {
  ZM_ASSERT(b, "TWrapperBitmapStore.Create - Bitmap not Assigned");
  return b;
}
}  // namespace

TWrapperBitmapStore::TWrapperBitmapStore(const WideString& name, const TImageLoadHandler& handler, bool owns,
                                         TBitmap* bitmap)
    : TSysBitmapStore(name, handler, NeedBitmap(bitmap)->Size(), NeedBitmap(bitmap)->PixelFormat()),
      ownsBitmap_(owns) {
  bitmap_ = owns ? TRef<TBitmap>::Adopt(bitmap) : TRef<TBitmap>(bitmap);
  HorzResolution = bitmap->HorzResolution;
  VertResolution = bitmap->VertResolution;
}

void TWrapperBitmapStore::Dispose() {
  TSysBitmapStore::Dispose();
  bitmap_ = nullptr;
}

void TWrapperBitmapStore::GetSourceLevel(std::int32_t level, TMipLevelResult& result) {
  if (level != 0) return;
  result.Bitmap = bitmap_;
  result.Owned = false;
  result.Level = 0;
}

// ============================================================================
// Images over bitmaps
// ============================================================================

TRef<TImage> SysBitmapToImage(TBitmap* bitmap, bool owns, const WideString& name) {
  if (!bitmap) return nullptr;
  TRef<TBitmap> held = owns ? TRef<TBitmap>::Adopt(bitmap) : TRef<TBitmap>(bitmap);
  TRef<TBitmap> stored;
  if (auto* direct = dynamic_cast<TDirectBitmap*>(bitmap)) {
    stored = MakeRef<TSysDirectWrapper>(direct, false);
  } else if (dynamic_cast<TSysBitmap*>(bitmap)) {
    stored = held;
  } else {
    TRef<TSysBitmap> copy = CreateSysBitmap(bitmap->Width(), bitmap->Height(), bitmap->PixelFormat());
    ZM_ASSERT(copy, "GetSysBitmapHook - Bitmap not Created");
    copy->SetResolution(bitmap->HorzResolution, bitmap->VertResolution);
    copy->CopyFrom(bitmap);
    stored = copy;
  }
  TRef<TWrapperBitmapStore> store = MakeRef<TWrapperBitmapStore>(name, TImageLoadHandler{}, false, stored.get());
  return MakeRef<TImage>(store.get());
}

TLevelFixUpProc RotateBitmapProcFor(std::int32_t orientation) {
  switch (orientation) {
    case 3: return RotateBitmapProc3;
    case 6: return RotateBitmapProc6;
    case 8: return RotateBitmapProc8;
    default: return nullptr;
  }
}

void InitSysBitmapStore() {
  GetSysBitmapHook = &SysBitmapToImage;
  RotateBitmapProc3 = &RotateHalfTurn;
  RotateBitmapProc6 = &RotateClockwise;
  RotateBitmapProc8 = &RotateCounterClockwise;
}

void FiniSysBitmapStore() {
  GetSysBitmapHook = nullptr;
  RotateBitmapProc3 = RotateBitmapProc6 = RotateBitmapProc8 = nullptr;
}

}  // namespace zm
