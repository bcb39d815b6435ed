#include "OruLib2/MultiTexture6.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "OruLib2/TileBitmap.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/wpLoadCallBack.h"

namespace zm {

namespace {

bool PollLoadCallback() { return !LoadCallbackProc || LoadCallbackProc(); }

TPoint3F Along(const TPoint3F& origin, const TPoint3F& axisX, const TPoint3F& axisY, float x, float y) {
  return {origin.X + x * axisX.X + y * axisY.X, origin.Y + x * axisX.Y + y * axisY.Y,
          origin.Z + x * axisX.Z + y * axisY.Z};
}

// Tile sizes, best first on ties.
constexpr TSize kTileSizes[] = {{512, 512}, {512, 256}, {256, 512}, {256, 256}, {256, 128},
                                {128, 256}, {256, 64},  {64, 256},  {64, 64}};

}  // namespace

// ---- TTextureTile -------------------------------------------------------------------

TTextureTile::TTextureTile(TTileManager* manager, T3DScreen* screen, std::int32_t width, std::int32_t height)
    : TCustomTexture(screen, {width, height}, tkColorAlpha, "TTextureTile"), manager_(manager) {}

void TTextureTile::FillLevel(TSysBitmap* data) {
  const std::int32_t w = data->Width(), h = data->Height();
  TBitmap* source = owner_ ? owner_->Source() : nullptr;
  // The valid part: the used rectangle at the tile's position, cut to the
  // source; in tile pixels.
  TRect valid;
  if (source) {
    valid.Left = std::max(0, -position_.X);
    valid.Top = std::max(0, -position_.Y);
    valid.Right = std::int32_t(std::min<std::int64_t>({used_.cx, w, std::int64_t(source->Width()) - position_.X}));
    valid.Bottom = std::int32_t(std::min<std::int64_t>({used_.cy, h, std::int64_t(source->Height()) - position_.Y}));
  }
  const bool readable = source && (source->PixelFormat() == data->PixelFormat() ||
                                   PixelConverter(data->PixelFormat(), source->PixelFormat()));
  if (!readable || valid.Left >= valid.Right || valid.Top >= valid.Bottom) {
    // Nothing of the picture falls on the tile: it shows nothing.
    for (std::int32_t y = 0; y < h; ++y)
      std::memset(data->ScanLine(y), 0, std::size_t(w) * std::size_t(data->BytesPerPixel()));
    needsFill_ = prepared_ = false;
    return;
  }
  data->CopyRect(valid, source, pmNone, {position_.X + valid.Left, position_.Y + valid.Top});

  // Edge extension over the rest of the tile: the rows of the valid part
  // first (left and right), then the rows above and below copy its first and
  // last row. One poll of the load callback per row.
  ZM_ASSERT(data->BytesPerPixel() == 4, "TTextureTile.FillLevel - Invalid Pixel Size");
  for (std::int32_t i = 0; i < h; ++i) {
    if (!PollLoadCallback()) return;
    const std::int32_t validRows = valid.Bottom - valid.Top;
    std::int32_t y;
    if (i < validRows) {
      y = valid.Top + i;
      std::uint32_t* row = data->Row32(y);
      std::fill(row, row + valid.Left, row[valid.Left]);
      std::fill(row + valid.Right, row + w, row[valid.Right - 1]);
      continue;
    }
    // The rows outside: above the valid part from its top down, then below.
    const std::int32_t k = i - validRows;
    if (k < valid.Top) {
      y = valid.Top - 1 - k;
      std::memcpy(data->Row32(y), data->Row32(valid.Top), std::size_t(w) * 4);
    } else {
      y = valid.Bottom + (k - valid.Top);
      std::memcpy(data->Row32(y), data->Row32(valid.Bottom - 1), std::size_t(w) * 4);
    }
  }
  needsFill_ = false;
  prepared_ = false;
}

void TTextureTile::RealizeAndFill() {
  // A texture made here was filled by Realize itself.
  const bool existed = DeviceTexture() != nullptr;
  Realize();
  if (existed && DeviceTexture() && needsFill_) Upload();
}

void TTextureTile::Prepare() {
  RealizeAndFill();
  if (prepared_ || needsFill_ || !DeviceTexture()) return;
  TCustomTexture::Prepare();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  prepared_ = true;
  PollLoadCallback();
}

// ---- TTileManager -------------------------------------------------------------------

TTileManager::TTileManager(TTextureManager6* manager, std::int32_t tileWidth, std::int32_t tileHeight)
    : manager_(manager),
      tileWidth_(tileWidth),
      tileHeight_(tileHeight),
      free_(MakeRef<TList>()),
      tiles_(MakeRef<TList>()) {}

void TTileManager::Dispose() {
  if (tiles_) {
    for (std::int32_t i = 0; i < tiles_->Count(); ++i) {
      auto* tile = static_cast<TTextureTile*>(tiles_->Get(i));
      tile->manager_ = nullptr;
      // A tile in use now belongs to its multi-texture.
      if (!tile->owner_) tile->Free();
    }
    tiles_->Clear();
  }
  if (free_) free_->Clear();
  tiles_ = nullptr;
  free_ = nullptr;
  TRefObject::Dispose();
}

TTextureTile* TTileManager::GetTile(std::int32_t width, std::int32_t height) {
  TTextureTile* tile = nullptr;
  if (free_->Count() > 0) {
    tile = static_cast<TTextureTile*>(free_->ExtractAt(free_->Count() - 1));
  } else {
    try {
      TRef<TTextureTile> made =
          MakeRef<TTextureTile>(this, manager_ ? manager_->Screen() : nullptr, tileWidth_, tileHeight_);
      if (tiles_->Add(made.get()) < 0) return nullptr;
      tile = made.Detach();
    } catch (const std::exception&) {
      return nullptr;
    }
  }
  tile->used_ = {std::min(width, tileWidth_), std::min(height, tileHeight_)};
  tile->position_ = {};
  tile->needsFill_ = true;
  tile->prepared_ = false;
  return tile;
}

void TTileManager::PutBack(TTextureTile* tile) {
  tile->owner_ = nullptr;
  tile->needsFill_ = true;
  tile->prepared_ = false;
  free_->Add(tile);
}

// ---- TTextureManager6 -----------------------------------------------------------------

TTextureManager6::TTextureManager6(T3DScreen* screen)
    : screen_(screen), managers_(MakeRef<TList>()), textures_(MakeRef<TList>()) {
  for (const TSize& s : kTileSizes) AddTileManager(s.cx, s.cy);
}

void TTextureManager6::AddTileManager(std::int32_t width, std::int32_t height) {
  ZM_ASSERT(managers_->Count() < kMaxTileManagers, "TTextureManager6.Create - Too many Tile Managers");
  TRef<TTileManager> m = MakeRef<TTileManager>(this, width, height);
  if (managers_->Add(m.get()) >= 0) m.Detach();
}

void TTextureManager6::Dispose() {
  std::int32_t left = 0;
  if (textures_) {
    left = textures_->Count();
    for (std::int32_t i = 0; i < left; ++i) {
      auto* t = static_cast<TMultiTexture6*>(textures_->Get(i));
      t->manager_ = nullptr;
      t->index_ = -1;
    }
    textures_->Clear();
  }
  if (managers_) managers_->FreeAndClear();
  screen_ = nullptr;
  TRefObject::Dispose();
  if (left > 0) ZM_FAIL("Error: Multi Textures Count = " + std::to_string(left));
}

TMultiTexture6* TTextureManager6::MultiTexture(std::int32_t i) const {
  return static_cast<TMultiTexture6*>(textures_->Get(i));
}

TTextureTile* TTextureManager6::GetTile(std::int32_t width, std::int32_t height) {
  for (;;) {
    std::int32_t best = -1;
    std::int64_t bestUseful = 0, bestWaste = 0;
    for (std::int32_t i = 0; i < managers_->Count(); ++i) {
      const TTileManager* m = TileManager(i);
      const std::int64_t useful =
          std::int64_t(std::max(0, std::min(width, m->TileWidth()))) * std::max(0, std::min(height, m->TileHeight()));
      const std::int64_t waste = std::int64_t(m->TileWidth()) * m->TileHeight() - useful;
      if (best < 0 || useful > bestUseful || (useful == bestUseful && waste < bestWaste)) {
        best = i;
        bestUseful = useful;
        bestWaste = waste;
      }
    }
    if (best < 0 || bestUseful < 1) return nullptr;
    TTileManager* m = TileManager(best);
    if (TTextureTile* tile = m->GetTile(width, height)) return tile;
    // This size cannot be had any more (no screen, no memory): choose again
    // without it.
    managers_->Delete(best);
    m->Free();
  }
}

TTextureTile* TTextureManager6::GetFittedTile(std::int32_t width, std::int32_t height) {
  if (!screen_ || width < 1 || height < 1 || width > kTileSizes[0].cx || height > kTileSizes[0].cy) return nullptr;
  try {
    TRef<TTextureTile> tile = MakeRef<TTextureTile>(nullptr, screen_.get(), width, height);
    tile->SetExactExtent(true);
    tile->used_ = {width, height};
    return tile.Detach();
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::int32_t TTextureManager6::Register(TMultiTexture6* texture) { return textures_->Add(texture); }

void TTextureManager6::Unregister(TMultiTexture6* texture) {
  std::int32_t i = texture->index_;
  if (textures_->Get(i) != texture) i = textures_->IndexOf(texture);
  texture->index_ = -1;
  texture->manager_ = nullptr;
  if (i < 0) return;
  const std::int32_t last = textures_->Count() - 1;
  if (i != last) {
    auto* moved = static_cast<TMultiTexture6*>(textures_->Get(last));
    textures_->Put(i, moved);
    moved->index_ = i;
  }
  textures_->Delete(last);
}

// ---- TMultiTexture6 ----------------------------------------------------------------

TMultiTexture6::TMultiTexture6(TTextureManager6* manager) : manager_(manager), tiles_(MakeRef<TList>()) {
  ZM_ASSERT(manager, "TMultiTexture6.Create - Manager not Assigned");
  index_ = manager->Register(this);
}

void TMultiTexture6::Dispose() {
  ReleaseTiles();
  tiles_ = nullptr;
  source_ = nullptr;
  remake_ = nullptr;
  hasPicture_ = false;
  if (manager_) manager_->Unregister(this);
  TRefObject::Dispose();
}

void TMultiTexture6::ReleaseTiles() {
  if (!tiles_) return;
  for (std::int32_t i = 0; i < tiles_->Count(); ++i) {
    auto* tile = static_cast<TTextureTile*>(tiles_->Get(i));
    tile->owner_ = nullptr;
    if (tile->manager_)
      tile->manager_->PutBack(tile);
    else
      tile->Free();
  }
  tiles_->Clear();
}

namespace {

// The view the tiles read of Bitmap; nil when its rows cannot be read.
TRef<TBitmap> PictureView(TBitmap* bitmap, bool tiled, std::int32_t rows, std::int32_t columns, const TRect& crop) {
  TRef<TBitmap> view;
  if (tiled) {
    view = MakeRef<TTileBitmap>(bitmap, false, rows, columns);
  } else {
    TRef<TSysBitmap> rowsOf;
    if (auto* sys = dynamic_cast<TSysBitmap*>(bitmap))
      rowsOf = TRef<TSysBitmap>(sys);
    else if (auto* direct = dynamic_cast<TDirectBitmap*>(bitmap))
      rowsOf = MakeRef<TSysDirectWrapper>(direct, false);
    else
      rowsOf = RefCast<TSysBitmap>(ConvertBitmap(bitmap, nullptr, TSysBitmap::StaticClass()));
    if (!rowsOf) return nullptr;
    view = MakeRef<TCropBitmap>(crop, false, rowsOf.get());
  }
  return view;
}

}  // namespace

void TMultiTexture6::SetPicture(TBitmap* bitmap, bool owns, bool tiled, bool premultiplied, std::int32_t rows,
                                std::int32_t columns, const TRect& crop) {
  ZM_ASSERT(bitmap, "TMultiTexture6.SetPicture - Bitmap not Assigned");
  ZM_ASSERT(crop.Left >= 0 && crop.Top >= 0 && crop.Left < crop.Right && crop.Top < crop.Bottom &&
                crop.Right <= bitmap->Width() && crop.Bottom <= bitmap->Height(),
            "TMultiTexture6.SetPicture - Invalid Crop Rect");
  // The views take references of their own; the caller's is let go at the
  // end when it was handed over, so a failure leaves it with the caller.
  TRef<TBitmap> view = PictureView(bitmap, tiled, rows, columns, crop);
  ZM_ASSERT(view, "TMultiTexture6.SetPicture - Bitmap not Readable");
  ReleaseTiles();
  source_ = std::move(view);
  crop_ = crop;
  premultiplied_ = premultiplied;
  ownsSource_ = owns;
  hasPicture_ = true;
  tiled_ = tiled;
  rows_ = rows;
  columns_ = columns;
  pictureSize_ = {source_->Width(), source_->Height()};
  remake_ = nullptr;
  if (owns) bitmap->Free();
}

TSize TMultiTexture6::PictureSize() const { return hasPicture_ ? pictureSize_ : TSize{}; }

TBitmap* TMultiTexture6::Source() {
  if (source_ || !hasPicture_ || !remake_) return source_.get();
  TRef<TBitmap> bitmap;
  try {
    bitmap = remake_();
  } catch (const ELoadStopped&) {
    throw;
  } catch (const std::exception&) {
    bitmap = nullptr;  // what cannot be made again shows nothing
  }
  // The picture made again must be the one the tiles were laid out for.
  if (!bitmap || crop_.Right > bitmap->Width() || crop_.Bottom > bitmap->Height()) return nullptr;
  TRef<TBitmap> view = PictureView(bitmap.get(), tiled_, rows_, columns_, crop_);
  if (view && TSize{view->Width(), view->Height()} == pictureSize_) source_ = std::move(view);
  return source_.get();
}

bool TMultiTexture6::LetSourceGo() {
  if (!source_) return true;
  if (!remake_ || TileCount() == 0) return false;
  for (std::int32_t i = 0; i < TileCount(); ++i)
    if (Tile(i)->NeedsFill()) return false;
  source_ = nullptr;
  return true;
}

void TMultiTexture6::Layout() {
  ReleaseTiles();
  if (!hasPicture_) return;
  const std::int32_t width = pictureSize_.cx, height = pictureSize_.cy;
  const bool whole = width <= kTileSizes[0].cx - 2 && height <= kTileSizes[0].cy - 2;
  if (TTextureTile* tile = whole && manager_ && manager_->FitsWholePictures
                               ? manager_->GetFittedTile(width + 2, height + 2)
                               : nullptr) {
    tile->owner_ = this;
    tile->position_ = {-1, -1};
    if (tiles_->Add(tile) >= 0) return;
    tile->owner_ = nullptr;
    tile->Free();
  }
  for (std::int32_t y = 0; y < height;) {
    std::int32_t rowHeight = 0;
    LayoutRow(0, y, height - y, rowHeight);
    y += rowHeight;
  }
}

// One row of tiles from column X: each asks for what is left of the row
// (plus the two border pixels) and the next starts where its content ends.
void TMultiTexture6::LayoutRow(std::int32_t x, std::int32_t y, std::int32_t height, std::int32_t& rowHeight) {
  const std::int32_t width = pictureSize_.cx;
  const std::int32_t askHeight = std::int32_t(std::min<std::int64_t>(std::int64_t(height) + 2, INT32_MAX));
  bool first = true;
  while (true) {
    const std::int32_t remaining = width - x;
    const std::int32_t askWidth = std::int32_t(std::min<std::int64_t>(std::int64_t(remaining) + 2, INT32_MAX));
    TTextureTile* tile = manager_ ? manager_->GetTile(askWidth, askHeight) : nullptr;
    ZM_ASSERT(tile, "TMultiTexture6.Layout - No Tile");
    tile->owner_ = this;
    tile->position_ = {x - 1, y - 1};
    if (tiles_->Add(tile) < 0) {
      tile->owner_ = nullptr;
      if (tile->manager_) tile->manager_->PutBack(tile);
      ZM_FAIL("TMultiTexture6.Layout - No Tile");
    }
    const std::int32_t contentWidth = tile->used_.cx - 2, contentHeight = tile->used_.cy - 2;
    ZM_ASSERT(contentWidth >= 1 && contentHeight >= 1, "TMultiTexture6.Layout - No Tile");
    if (first) rowHeight = contentHeight;
    first = false;
    if (remaining <= contentWidth) break;
    x += contentWidth;
  }
}

void TMultiTexture6::Prepare(bool preLoad) {
  if (!hasPicture_) return;
  if (TileCount() == 0) Layout();
  for (std::int32_t i = 0; i < TileCount(); ++i) PrepareTile(i, preLoad);
}

void TMultiTexture6::PrepareTile(std::int32_t index, bool preLoad) {
  if (!hasPicture_ || index < 0 || index >= TileCount()) return;
  TTextureTile* tile = Tile(index);
  tile->PointSampling = !Filtering;
  tile->LodBias = LodBias;
  tile->SetPremultiplied(premultiplied_);
  if (preLoad)
    tile->Prepare();
  else
    tile->RealizeAndFill();
}

void TMultiTexture6::Draw(const TRectF& visible, const TPoint3F& origin, const TPoint3F& axisX, const TPoint3F& axisY) {
  if (Opacity == 0 || !hasPicture_) return;
  Prepare();
  const std::uint32_t rgb =
      HasTint ? (std::uint32_t(TintRed) << 16) | (std::uint32_t(TintGreen) << 8) | TintBlue : 0xFFFFFFu;
  const std::uint32_t colour = (std::uint32_t(Opacity) << 24) | rgb;
  for (std::int32_t i = 0; i < TileCount(); ++i) {
    TTextureTile* tile = Tile(i);
    tile->DrawMode = DrawMode;
    DrawTile(tile, visible, origin, axisX, axisY, colour);
  }
}

void TMultiTexture6::DrawTile(TTextureTile* tile, const TRectF& visible, const TPoint3F& origin, const TPoint3F& axisX,
                              const TPoint3F& axisY, std::uint32_t colour) {
  T3DScreen* screen = tile->Screen();
  if (!screen) return;
  const float px = float(tile->position_.X), py = float(tile->position_.Y);
  const float usedW = float(tile->used_.cx), usedH = float(tile->used_.cy);
  // The visible part in tile pixels, inside the content area: the border is
  // never shown.
  const TRectF want{visible.X0 - px, visible.Y0 - py, visible.X1 - px, visible.Y1 - py};
  const TRectF part{std::max(want.X0, 1.0f), std::max(want.Y0, 1.0f), std::min(want.X1, usedW - 1),
                    std::min(want.Y1, usedH - 1)};
  if (!(part.X0 < part.X1 && part.Y0 < part.Y1)) return;
  const TPoint3F tileOrigin = Along(origin, axisX, axisY, px, py);
  TScreenTexture* textures[1] = {tile};
  if (EdgeSmoothing && tile->DrawMode == 0) {
    // Feather only the sides that are edges of what is drawn, never a seam
    // between two tiles.
    std::uint32_t edges = 0;
    if (want.X0 >= 1) edges |= ebLeft;
    if (want.Y0 >= 1) edges |= ebTop;
    if (want.X1 <= usedW - 1) edges |= ebRight;
    if (want.Y1 <= usedH - 1) edges |= ebBottom;
    if (edges) {
      const TRectF clamped{std::clamp(part.X0, 0.0f, usedW), std::clamp(part.Y0, 0.0f, usedH),
                           std::clamp(part.X1, 0.0f, usedW), std::clamp(part.Y1, 0.0f, usedH)};
      TEdgeMesh mesh;
      screen->BuildEdgeMesh(tileOrigin, {0, 0}, axisX, axisY, clamped, edges, mesh);
      screen->DrawEdgeMesh(textures, 1, mesh, colour, colour, colour, colour, edges);
      return;
    }
  }
  const TRectF rects[1] = {part};
  screen->DrawTexturedQuad(textures, 1, tileOrigin, {0, 0}, axisX, axisY, rects, colour, colour, colour, colour);
}

}  // namespace zm
