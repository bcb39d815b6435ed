#pragma once
// Pictures larger than one device texture, or that would waste much of a
// power-of-two texture, drawn as a set of tiles of a few fixed sizes laid
// side by side. Each tile holds one piece of the picture plus a one-pixel
// border copied from the neighbouring pixels, so linear filtering at a seam
// reads the same colours as inside one texture; the border is never shown.
//
// The texture manager keeps one tile manager per tile size; a tile manager
// keeps the tiles it made and hands out free ones again. A picture that one
// tile holds whole takes a tile of its own size instead, which its
// multi-texture frees: a small picture takes the memory of its pixels, not
// of the power of two above them. A multi-texture
// lays its picture out over tiles, fills them on the preparing thread
// (polling the load callback) and draws them through the 3D screen.
#include <cstdint>
#include <functional>

#include "ZmLib/3DBasics/CustomTexture.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/zmLists.h"

namespace zm {

class TBitmap;
class TTextureManager6;
class TTileManager;
class TMultiTexture6;

// One tile: a managed colour texture of its manager's size.
class TTextureTile : public TCustomTexture {
 public:
  TTextureTile(TTileManager* manager, T3DScreen* screen, std::int32_t width, std::int32_t height);

  // Copies the used rectangle of the multi-texture's source from the tile's
  // position, extends the edges of what lies inside the source over the
  // rest of the tile, and clears NeedsFill and Prepared. Stops, leaving
  // NeedsFill set, when the load callback answers false.
  void FillLevel(TSysBitmap* data) override;
  // Realize, fill when needed, then once: pre-load on the device, a 1 ms
  // pause, the prepared mark and a poll of the load callback.
  void Prepare() override;
  // Realize, then Upload when NeedsFill is still set.
  void RealizeAndFill();

  TTileManager* Manager() const { return manager_; }
  TMultiTexture6* Owner() const { return owner_; }
  // The picture position of the tile's pixel (0, 0): one left of and above
  // the first content pixel.
  TPoint Position() const { return position_; }
  // The requested size cut to the tile's size; content is Used - 2.
  TSize Used() const { return used_; }
  bool NeedsFill() const { return needsFill_; }
  bool Prepared() const { return prepared_; }

  // Handed over by the multi-texture before every draw.
  std::uint8_t DrawMode = 0;

 private:
  friend class TTileManager;
  friend class TTextureManager6;
  friend class TMultiTexture6;

  TTileManager* manager_;            // nil once the manager is gone
  TMultiTexture6* owner_ = nullptr;  // nil while free
  TPoint position_;
  TSize used_;
  bool needsFill_ = true;
  bool prepared_ = false;
};

// Tiles of one size: all it made (one reference each) and the free ones.
class TTileManager : public TRefObject {
 public:
  TTileManager(TTextureManager6* manager, std::int32_t tileWidth, std::int32_t tileHeight);
  // Frees the free tiles; tiles still in use are cut loose and freed by the
  // multi-texture that holds them.
  void Dispose() override;

  // The last free tile, or a new one (NeedsFill on); its used size is the
  // request cut to the tile size. Nil when no tile can be made.
  TTextureTile* GetTile(std::int32_t width, std::int32_t height);
  // A tile of exactly Width x Height (each 1 .. 512), for a picture that one
  // tile holds whole: it takes the memory of what it holds. It belongs to
  // no manager: the multi-texture that takes it frees it. Nil when it
  // cannot be made.
  TTextureTile* GetFittedTile(std::int32_t width, std::int32_t height);
  // Whether a multi-texture lays a picture that one tile holds whole out on
  // a fitted tile; off, on the tiles of the sizes above.
  bool FitsWholePictures = true;
  // Back to the free list, NeedsFill on, Prepared off.
  void PutBack(TTextureTile* tile);

  TTextureManager6* Manager() const { return manager_; }
  std::int32_t TileWidth() const { return tileWidth_; }
  std::int32_t TileHeight() const { return tileHeight_; }
  TList* FreeTiles() const { return free_.get(); }
  TList* Tiles() const { return tiles_.get(); }

 private:
  TTextureManager6* manager_;
  std::int32_t tileWidth_;
  std::int32_t tileHeight_;
  TRef<TList> free_;   // of TTextureTile, not owned
  TRef<TList> tiles_;  // of TTextureTile, owned
};

class TTextureManager6 : public TRefObject {
 public:
  static constexpr std::int32_t kMaxTileManagers = 16;

  // Tile managers of 512x512, 512x256, 256x512, 256x256, 256x128, 128x256,
  // 256x64, 64x256 and 64x64, in this order of preference on ties. The
  // screen may be nil: then no tile can be made.
  explicit TTextureManager6(T3DScreen* screen);
  // Unlinks the multi-textures still registered, frees the tile managers,
  // and then fails "Error: Multi Textures Count = <n>" when n > 0.
  void Dispose() override;

  // The tile that holds most of Width x Height (ties: least waste, then the
  // earlier manager). A manager that cannot hand one out is dropped and the
  // choice made again. Nil when nothing useful remains.
  TTextureTile* GetTile(std::int32_t width, std::int32_t height);
  // A tile of exactly Width x Height (each 1 .. 512), for a picture that one
  // tile holds whole: it takes the memory of what it holds. It belongs to
  // no manager: the multi-texture that takes it frees it. Nil when it
  // cannot be made.
  TTextureTile* GetFittedTile(std::int32_t width, std::int32_t height);
  // Whether a multi-texture lays a picture that one tile holds whole out on
  // a fitted tile; off, on the tiles of the sizes above.
  bool FitsWholePictures = true;

  T3DScreen* Screen() const { return screen_.get(); }
  std::int32_t TileManagerCount() const { return managers_->Count(); }
  TTileManager* TileManager(std::int32_t i) const { return static_cast<TTileManager*>(managers_->Get(i)); }
  std::int32_t MultiTextureCount() const { return textures_->Count(); }
  TMultiTexture6* MultiTexture(std::int32_t i) const;

 private:
  friend class TMultiTexture6;
  void AddTileManager(std::int32_t width, std::int32_t height);
  std::int32_t Register(TMultiTexture6* texture);
  void Unregister(TMultiTexture6* texture);

  TRef<T3DScreen> screen_;
  TRef<TList> managers_;  // of TTileManager, owned
  TRef<TList> textures_;  // of TMultiTexture6, not owned
};

class TMultiTexture6 : public TRefObject {
 public:
  // Joins the manager's list (assertion "TMultiTexture6.Create - Manager
  // not Assigned" without one).
  explicit TMultiTexture6(TTextureManager6* manager);
  // Releases the tiles, frees the source and leaves the manager's list.
  void Dispose() override;

  // The picture: Bitmap assigned and Crop non-empty and inside it
  // (assertions, before anything changes; the caller then keeps Bitmap).
  // Owning, the multi-texture takes over the caller's reference. Tiled: the
  // source is a TTileBitmap of Rows x Columns over the whole bitmap;
  // otherwise the Crop rectangle of it. The old tiles and source go.
  void SetPicture(TBitmap* bitmap, bool owns, bool tiled, bool premultiplied, std::int32_t rows, std::int32_t columns,
                  const TRect& crop);
  // Covers the source with tiles from (0, 0), row by row; a source that one
  // tile holds whole (with its border) takes a tile of its own size.
  void Layout();
  // Lays out when there are no tiles, hands the flags to the tiles, makes
  // and fills them. With PreLoad the tiles' own Prepare runs instead (which
  // also pre-loads each on the device once).
  void Prepare(bool preLoad = false);
  // That for tile Index alone (nothing for an index outside the tiles).
  void PrepareTile(std::int32_t index, bool preLoad = false);
  // Draws the part Visible (picture pixels) of the picture; picture point
  // (x, y) lands at Origin + x * AxisX + y * AxisY.
  void Draw(const TRectF& visible, const TPoint3F& origin, const TPoint3F& axisX, const TPoint3F& axisY);
  // Every tile back to its manager (or freed when it has none).
  void ReleaseTiles();
  // The picture given to SetPicture once more, when it was let go (a store
  // that makes its levels again on demand); nil: the picture is kept.
  using TRemakeProc = std::function<TRef<TBitmap>()>;
  void SetRemake(TRemakeProc remake) { remake_ = std::move(remake); }
  // Lets the picture go once every tile holds its piece, when it can be
  // made again; a tile to be filled again (a device lost) makes it anew.
  // True when it was let go (or already was).
  bool LetSourceGo();

  TTextureManager6* Manager() const { return manager_; }
  std::int32_t Index() const { return index_; }
  TList* Tiles() const { return tiles_.get(); }
  std::int32_t TileCount() const { return tiles_ ? tiles_->Count() : 0; }
  TTextureTile* Tile(std::int32_t i) const { return static_cast<TTextureTile*>(tiles_->Get(i)); }
  // The TTileBitmap or crop view the tiles read; nil before SetPicture, and
  // while a picture that was let go cannot be made again.
  TBitmap* Source();
  bool HoldsSource() const { return source_ != nullptr; }
  TSize PictureSize() const;
  bool Premultiplied() const { return premultiplied_; }
  bool OwnsSource() const { return ownsSource_; }
  TRect CropRect() const { return crop_; }

  std::uint8_t Opacity = 255;  // nothing is drawn at 0
  std::uint8_t DrawMode = 0;   // handed to the tiles
  bool Filtering = true;       // linear; off samples the nearest pixel
  float LodBias = 0;
  bool EdgeSmoothing = false;  // feathers the picture's outer edges (DrawMode 0)
  bool HasTint = false;        // vertex colour Tint instead of white
  std::uint8_t TintRed = 255, TintGreen = 255, TintBlue = 255;
  void SetTint(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    HasTint = true;
    TintRed = red;
    TintGreen = green;
    TintBlue = blue;
  }
  void ClearTint() { HasTint = false; }

 private:
  friend class TTextureManager6;
  void LayoutRow(std::int32_t x, std::int32_t y, std::int32_t height, std::int32_t& rowHeight);
  void DrawTile(TTextureTile* tile, const TRectF& visible, const TPoint3F& origin, const TPoint3F& axisX,
                const TPoint3F& axisY, std::uint32_t colour);

  TTextureManager6* manager_;  // nil once the manager is gone
  std::int32_t index_ = -1;
  TRef<TList> tiles_;  // of TTextureTile, not owned while their manager lives
  bool premultiplied_ = false;
  bool ownsSource_ = false;
  TRect crop_;
  TRef<TBitmap> source_;
  // What SetPicture was given, to make the view again.
  bool hasPicture_ = false;
  bool tiled_ = false;
  std::int32_t rows_ = 1, columns_ = 1;
  TSize pictureSize_;
  TRemakeProc remake_;
};

}  // namespace zm
