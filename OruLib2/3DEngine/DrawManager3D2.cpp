#include "OruLib2/3DEngine/DrawManager3D2.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iterator>
#include <utility>

#include "OruLib2/3DEngine/D3DYUV.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/3DEngine/ScreenLevels.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmLog.h"

namespace oru {

using namespace zm;

namespace {

// The grade table's device texture, made when missing; nil for nil.
TBaseTexture* RealizeGradeTable(TCustomColorGradeTexture* table) { return table ? table->Realize() : nullptr; }

// The drawer lock: one for the unit, as device open and close and texture
// creation on the loader thread must never meet, whichever drawer runs them.
TSafeCriticalSection* DrawerLock() {
  static const TRef<TSafeCriticalSection> lock = MakeRef<TSafeCriticalSection>();
  return lock.get();
}

// A level the tiles can copy rows from, converting each row to "A8R8G8B8".
bool TileReadable(TBitmap* bitmap) {
  if (!dynamic_cast<TSysBitmap*>(bitmap) && !dynamic_cast<TDirectBitmap*>(bitmap)) return false;
  TPixelFormat* format = bitmap->PixelFormat();
  return format == pfA8R8G8B8 || (format && PixelConverter(pfA8R8G8B8, format));
}

bool Empty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }
std::int32_t W(const TRect& r) { return r.Right - r.Left; }
std::int32_t H(const TRect& r) { return r.Bottom - r.Top; }

std::uint32_t ScaleAlpha(std::uint32_t c, float opacity) {
  if (opacity >= 100.0f) return c;
  const auto a = static_cast<std::uint32_t>(static_cast<float>(c >> 24) * opacity * 0.01f);
  return (c & 0xFFFFFFu) | std::min<std::uint32_t>(a, 255) << 24;
}

std::uint32_t Average(std::uint32_t a, std::uint32_t b) {
  std::uint32_t r = 0;
  for (int s = 0; s < 32; s += 8) r |= ((((a >> s) & 255) + ((b >> s) & 255)) >> 1) << s;
  return r;
}

std::uint8_t OpacityByte(float percent, bool round) {
  if (!(percent > 0.0f)) return 0;
  const float v = round ? std::nearbyint(percent * 2.55f) : std::trunc(percent * 2.55f);
  return static_cast<std::uint8_t>(std::min(v, 255.0f));
}

// Draws an item through a pass from inside a frame when the item itself is
// drawn at the top level (the pass needs the frame around it).
class TPassItem : public TDrawItem {
public:
  TPassItem(TDrawItem* item, std::function<void()> run) : item_(item), run_(std::move(run)) {}
  void Draw(TDeviceDrawer&) override { run_(); }
  void Reset(TDeviceDrawer& drawer) override { item_->Reset(drawer); }

private:
  TDrawItem* item_;
  std::function<void()> run_;
};

// Smoothed edges fade out over a band one pixel wide outside the quad. Pixel
// centres lie on whole target coordinates, where a quad placed on whole
// pixels has its edges too: the band would be read only at its ends, adding
// nothing on the left and top and a whole opaque pixel on the right and
// bottom. Moved by half a pixel, each band covers half of the pixel beside
// the edge, and the texels meet the pixel centres.
class TPixelCentreScope {
public:
  TPixelCentreScope(T3DScreen* screen, bool on) : screen_(on && screen && screen->CanDraw() ? screen : nullptr) {
    if (!screen_) return;
    saved_ = screen_->SaveView();
    const T3DProjection& p = saved_.Projection;
    if (!(p.VirtualWidth > 0) || !(p.VirtualHeight > 0)) {
      screen_ = nullptr;
      return;
    }
    screen_->SetProjection(p.Left + 0.5f, p.Top + 0.5f, float(p.ScaleX * p.VirtualWidth),
                           float(p.ScaleY * p.VirtualHeight), float(p.VirtualWidth), float(p.VirtualHeight));
  }
  ~TPixelCentreScope() {
    if (screen_) screen_->RestoreView(saved_);
  }
  TPixelCentreScope(const TPixelCentreScope&) = delete;
  TPixelCentreScope& operator=(const TPixelCentreScope&) = delete;

private:
  T3DScreen* screen_;
  T3DViewState saved_;
};

}  // namespace

// ---- Texture store -------------------------------------------------------------------

TTextureStore2::TTextureStore2(TBitmapStore* store) : store_(store) {}

void TTextureStore2::Dispose() {
  // A texture still held elsewhere no longer makes its picture again from
  // the store it leaves.
  for (const TTextureWrapper& w : Textures)
    if (w.Texture) w.Texture->SetRemake(nullptr);
  Textures.clear();
  if (store_ && !(store_->Flags() & kDisposed)) store_->GetCacheList()->Remove(this);
  store_ = nullptr;
  TRefObject::Dispose();
}

std::string TextureStoreKey(const TImageDrawParams& p) {
  const auto b = [](bool v) { return v ? "True" : "False"; };
  return "MultiTexID: " + std::to_string(p.Level) + ":" + std::to_string(p.Columns) + ":" + std::to_string(p.Rows) +
         ":" + b(p.Premultiplied) + ":" + b(p.Tiled);
}

std::vector<TBlurPass> PlanBlurPasses(float r) {
  std::vector<TBlurPass> plan;
  if (!(r == r)) return plan;  // NaN
  if (r >= 0.00001f && r < 1.0f) return plan;
  if (r <= 7.0f) {
    plan.push_back({r > 1.0f ? (r - 1.0f) / 6.0f : 0.0f, 1.0f});
    return plan;
  }
  const double n = std::log2(double(r) / 7.0);
  const int c = static_cast<int>(std::min(n, 30.0));
  const double f = n - c;
  float step = 1;
  const int full = f > 0 ? c + 1 : c;
  for (int i = 0; i < full; ++i, step *= 2) plan.push_back({1.0f, step});
  plan.push_back({f > 0 ? float(f) : 1.0f, step});
  return plan;
}

// ---- T3DDrawer --------------------------------------------------------------------------

T3DDrawer::T3DDrawer() : Screen_(MakeRef<T3DScreen>()) {}

void T3DDrawer::Dispose() {
  TLockScope l(DrawerLock());
  for (T3DYUV* v : VideoImages) v->DetachDrawer();
  VideoImages.clear();
  ShaderStack.clear();
  for (auto& s : Shaders) s = nullptr;
  Effecter = nullptr;
  TRenderTargetTexture::FreeTarget(TrailAccumulator);
  TRenderTargetTexture::FreeTarget(TrailTarget);
  TRenderTargetTexture::FreeTarget(SharpenTarget);
  if (TargetPool) TargetPool->ClearPool();
  if (HalfTargetPool) HalfTargetPool->ClearPool();
  TargetPool = nullptr;
  HalfTargetPool = nullptr;
  FreeTextureStores();
  TextureManager = nullptr;
  BoxAntialiaser = nullptr;
  if (Screen_) Screen_->Close();
  Screen_ = nullptr;
  TDeviceDrawer::Dispose();
}

void T3DDrawer::FreeTextureStores() {
  std::unordered_set<TTextureStore2*> all;
  all.swap(stores_);
  sweptAt_ = 0;
  for (TTextureStore2* s : all) s->Free();
}

void T3DDrawer::FreeUnusedTextureStores(bool always) {
  // Among many, looked for each time the stores have doubled since the last
  // look: a slide of many pictures costs a look per picture of its own, not
  // one over all the others for each of them.
  if (!always && stores_.size() >= kStoresBeforeSweep && stores_.size() < 2 * sweptAt_) return;
  std::vector<TTextureStore2*> unused;
  std::erase_if(stores_, [&](TTextureStore2* s) {
    const bool gone = !s->Store() || s->Store()->RefCount() == 1;
    if (gone) unused.push_back(s);
    return gone;
  });
  sweptAt_ = stores_.size();
  for (TTextureStore2* s : unused) s->Free();
}

TShader* T3DDrawer::ShaderAt(std::int32_t index) const {
  if (index < 0 || index >= kShaderCount) return nullptr;
  return Shaders[std::size_t(index)].get();
}

std::int32_t T3DDrawer::ShaderLevel() const {
  if (!Screen_ || !Screen_->Renderer()) return 0;
  TRef<T3DEngine> engine = Get3DEngine();
  return engine ? engine->GetShaderLevel(Screen_->Adapter()) : 0;
}

float T3DDrawer::PixelScale() const {
  const TFloatPoint vs = GetVirtualSize();
  if (!Empty(FrameRect) && vs.X > 0) return vs.X / float(W(FrameRect));
  return 1.0f;
}

void T3DDrawer::Layout() {
  const TRect win = Screen_->WindowRect();
  const std::int32_t w = std::max(0, W(win)), h = std::max(0, H(win));
  Bounds = {0, 0, w, h};
  Camera = {float(w) * 0.5f, float(h) * 0.5f, -float(h)};
  if (!TargetPool) TargetPool = MakeRef<TRenderTargetManager>(true);
  if (!HalfTargetPool) HalfTargetPool = MakeRef<TRenderTargetManager>(true);
  if (layoutSize_ != TSize{w, h}) {
    // Targets kept across frames go back while they still fit the pool: a
    // new size ends a running trail and starts its accumulation afresh.
    TRenderTargetTexture::FreeTarget(TrailAccumulator);
    TRenderTargetTexture::FreeTarget(TrailTarget);
    if (Effecter) Effecter->ReleasePictures();
    layoutSize_ = {w, h};
  }
  TargetPool->SetPoolSize(w, h);
  HalfTargetPool->SetPoolSize(w / 2, h / 2);
  if (!Effecter) Effecter = MakeRef<TCustomD3DEffecter>(Screen_.get(), TargetPool.get());
  if (Effecter->Area() != Bounds && !Empty(Bounds)) Effecter->SetArea(Bounds);
  Effecter->SetClipRect(GetVisibleRect());
}

void T3DDrawer::BeginFrame() {
  {
    // The loader thread may be making textures on the screen meanwhile.
    TLockScope l(DrawerLock());
    // The pictures of slides gone leave with the frame after them.
    FreeUnusedTextureStores(true);
    Layout();
    Screen_->BeginFrame();
    // The screen takes a new window size only now: lay out again so that
    // this frame already has the surface it draws on.
    const TRect win = Screen_->WindowRect();
    if (TSize{std::max(0, W(win)), std::max(0, H(win))} != TSize{W(Bounds), H(Bounds)}) Layout();
    FramedBounds = Bounds;
  }
  FrameRect = GetVisibleRect();
  if (FixedFrameSizeSet) SetFixedFrameSize(FixedFrameSize);
}

bool T3DDrawer::EndFrame() {
  // A trail begun outside any draw takes each whole frame.
  if (TrailTarget && trailDepth_ == 0 && DrawDepth == 1 && CanDraw()) AccumulateTrail();
  return Screen_->EndFrame(!CaptureMode);
}

bool T3DDrawer::CanDraw() {
  // The loader thread asks too, while a frame may make the device anew.
  TLockScope l(DrawerLock());
  return Screen_ && Screen_->CanDraw();
}

bool T3DDrawer::Open(TDrawDevice* device) {
  TLockScope l(DrawerLock());
  if (!device || !Screen_) return false;
  Screen_->Open(device);
  for (std::int32_t i = 0; i < kShaderCount; ++i) {
    auto& s = Shaders[std::size_t(i)];
    if (!s) s = MakeRef<TShader>(Screen_.get(), GetShaderCode(i), std::uint8_t(0));
  }
  Layout();
  return Screen_->Renderer() != nullptr;
}

void T3DDrawer::Close() {
  TLockScope l(DrawerLock());
  LogLine(u"T3DDrawer.Close");
  if (Screen_) Screen_->Close();
}

TTextureStore2* T3DDrawer::FindTextureStore(TImage* image, bool create) {
  TBitmapStore* store = image->Store();
  if (!store) return nullptr;
  TList* cache = store->GetCacheList();
  std::int32_t i = 0;
  if (cache->FindByClass<TTextureStore2>(i)) return static_cast<TTextureStore2*>(cache->Get(i));
  if (!create) return nullptr;
  // Pictures of slides gone must not live as long as the drawer: each new
  // store takes the place of those no image uses.
  FreeUnusedTextureStores();
  TTextureStore2* s = MakeRef<TTextureStore2>(store).Detach();
  cache->Add(s);
  stores_.insert(s);
  return s;
}

TMultiTexture6* T3DDrawer::GetTiledTexture(TImage* image, const TImageDrawParams& params) {
  if (params.Level < 0 || params.Level > kMaxMipLevel) return nullptr;
  if (params.Tiled && (params.Rows < 1 || params.Columns < 1)) return nullptr;
  TTextureStore2* store = FindTextureStore(image, true);
  if (!store) return nullptr;
  const std::string key = TextureStoreKey(params);
  for (const TTextureWrapper& w : store->Textures)
    if (w.Key == key) return w.Texture.get();
  TBitmap* bitmap = nullptr;
  bool opaque = false;
  try {
    // The tiles convert rows as they copy them: a level in a format they can
    // read is taken as it is, rather than as a converted full-size copy.
    bitmap = store->Store()->GetMipLevel(params.Level, nullptr, nullptr);
    // A level without alpha comes out opaque (the conversion fills it in).
    opaque = bitmap && bitmap->PixelFormat() && !bitmap->PixelFormat()->HasAlpha;
    if (bitmap && !TileReadable(bitmap)) bitmap = store->Store()->GetMipLevel(params.Level, pfA8R8G8B8, nullptr);
  } catch (const std::exception&) {
    bitmap = nullptr;  // a store that cannot give the level draws nothing
  }
  if (!bitmap || bitmap->Width() < 1 || bitmap->Height() < 1) return nullptr;
  if (!TextureManager) TextureManager = MakeRef<TTextureManager6>(Screen_.get());
  TRef<TMultiTexture6> t = MakeRef<TMultiTexture6>(TextureManager.get());
  t->SetPicture(bitmap, false, params.Tiled, params.Premultiplied, params.Rows, params.Columns,
                {0, 0, bitmap->Width(), bitmap->Height()});
  if (TBitmapStore* s = store->Store(); s->RemakesLevels()) {
    // The store, which the texture store holds, makes the level again.
    const std::int32_t level = params.Level;
    t->SetRemake([s, level]() -> TRef<TBitmap> {
      TBitmap* b = s->GetMipLevel(level, nullptr, nullptr);
      if (b && !TileReadable(b)) b = s->GetMipLevel(level, pfA8R8G8B8, nullptr);
      return TRef<TBitmap>(b);
    });
  }
  store->Textures.push_back({key, t, opaque});
  return t.get();
}

namespace {
// Set by a TMovedPreparation on its thread (the loader prepares at the same
// time on its own).
thread_local bool tPreparingMoved = false;
}  // namespace

T3DDrawer::TMovedPreparation::TMovedPreparation() : was_(std::exchange(tPreparingMoved, true)) {}
T3DDrawer::TMovedPreparation::~TMovedPreparation() { tPreparingMoved = was_; }

void T3DDrawer::PrepareImage(TImage* image, const TImageDrawParams& params) {
  if (!tPreparingMoved && PrepareScreenLevel(image, params)) return;
  // The loader thread prepares while the engine draws. Tiles join the
  // screen's resources, which frames change too: each step holds the drawing
  // lock as well, so a frame waits for one step, never for the whole picture.
  // The level is decoded before, under the picture store's own lock only
  // (not for a texture made before: a picture shared by many objects, whose
  // level may have been let go).
  bool made = false;
  if (image && image->Store()) {
    TLockScope l(DrawerLock());
    if (TTextureStore2* store = FindTextureStore(image, false)) {
      const std::string key = TextureStoreKey(params);
      for (const TTextureWrapper& w : store->Textures) made = made || w.Key == key;
    }
  }
  if (!made && image && params.Level >= 0 && params.Level <= kMaxMipLevel && image->Store()) {
    try {
      image->Store()->GetMipLevel(params.Level, nullptr, nullptr);
    } catch (const ELoadStopped&) {
      throw;
    } catch (const std::exception&) {
      // GetTiledTexture meets the same failure and makes nothing
    }
  }
  TRef<TMultiTexture6> t;
  {
    TLockScope d(DrawingLock());
    TLockScope l(DrawerLock());
    if (!image || !Screen_) return;
    t = TRef<TMultiTexture6>(GetTiledTexture(image, params));
    if (!t) return;
  }
  PrepareTiles(t.get());
}

void T3DDrawer::PrepareTiles(TMultiTexture6* t) {
  {
    TLockScope d(DrawingLock());
    TLockScope l(DrawerLock());
    if (!Screen_) return;
    t->Filtering = true;
    if (t->TileCount() == 0) t->Layout();
  }
  // A tile at a time, as the texture's Prepare does them.
  for (std::int32_t i = 0;; ++i) {
    CheckLoadStop();
    TLockScope d(DrawingLock());
    TLockScope l(DrawerLock());
    if (!Screen_ || i >= t->TileCount()) break;
    t->PrepareTile(i);
  }
}

namespace {

// The source rectangle in level texels; empty when the parameters give none.
TRectF LevelSource(const TImageDrawParams& p) {
  const TFloatRect& s = p.SourceRect;
  if (!(s.Right > s.Left && s.Bottom > s.Top)) return {};
  const float scale = std::ldexp(1.0f, p.Level);
  return {s.Left / scale, s.Top / scale, s.Right / scale, s.Bottom / scale};
}

bool WantsScreenLevel(const TImageDrawParams& p) {
  return p.Filtering != 0 && !p.Tiled && p.Level >= 0 && p.Level <= kMaxMipLevel && p.SourceRect.Right > p.SourceRect.Left &&
         p.SourceRect.Bottom > p.SourceRect.Top;
}

TPoint2F Along(const TPoint2F& o, const TPoint2F& ax, const TPoint2F& ay, float x, float y) {
  return {o.X + x * ax.X + y * ay.X, o.Y + x * ax.Y + y * ay.Y};
}

// The point of a flat picture's plane at source coordinates (x, y).
TPoint3F OnPlane(const TPoint3F& o, const TPoint3F& ax, const TPoint3F& ay, double x, double y) {
  return {float(o.X + x * ax.X + y * ay.X), float(o.Y + x * ax.Y + y * ay.Y), 0};
}

}  // namespace

bool T3DDrawer::PrepareScreenLevel(TImage* image, const TImageDrawParams& params) {
  if (!ScreenSizedPictures || !params.Still || !image || !image->Store() || !WantsScreenLevel(params)) return false;
  const TRectF src = LevelSource(params);
  const float scale = std::ldexp(1.0f, params.Level);
  TScreenPlacement place;
  bool settledSurface = false;
  {
    // Where the frame puts virtual points (SetFrameProjection), read under
    // the locks that the frame's layout holds (frames read the image's
    // cache list under the drawing lock too).
    TLockScope d(DrawingLock());
    TLockScope l(DrawerLock());
    std::int32_t ci = 0;
    if (!Screen_ || image->GetCacheList()->FindByClass<TCustomTexture>(ci)) return false;  // drawn as that texture
    settledSurface = FramedBounds == Bounds && !Empty(Bounds);
    const TFloatRect v = GetViewRectF();
    const TFloatPoint vs = GetVirtualSize();
    if (!(vs.X > 0) || !(vs.Y > 0)) return false;
    const float sx = (v.Right - v.Left) / vs.X, sy = (v.Bottom - v.Top) / vs.Y;
    const auto map = [&](const TPoint2F& p) { return TPoint2F{p.X * sx + v.Left, p.Y * sy + v.Top}; };
    const TPoint2F o{params.StillOrigin.X, params.StillOrigin.Y};
    const TPoint2F ax{params.StillAxisX.X * scale, params.StillAxisX.Y * scale};
    const TPoint2F ay{params.StillAxisY.X * scale, params.StillAxisY.Y * scale};
    if (!PlaceOnScreen(map(Along(o, ax, ay, src.X0, src.Y0)), map(Along(o, ax, ay, src.X1, src.Y0)),
                       map(Along(o, ax, ay, src.X0, src.Y1)), params.Antialiased, place))
      return false;
  }
  // Drawn 1:1 from the level already; or no frame has been drawn at this
  // size yet (a window still being laid out, the show's first slides): the
  // level, as the first frame wants it soon, and this texture when the
  // slide is prepared again.
  if (ReadsOneToOne(src, place) || !settledSurface) return false;
  const std::string key = ScreenLevelKey(params.Level, place, src);
  // Made before (a slide prepared again): its tiles only.
  TRef<TMultiTexture6> t;
  {
    TLockScope d(DrawingLock());
    TLockScope l(DrawerLock());
    if (TTextureStore2* store = Screen_ ? FindTextureStore(image, false) : nullptr)
      for (const TTextureWrapper& w : store->Textures)
        if (w.Key == key) t = w.Texture;
  }
  if (t) {
    PrepareTiles(t.get());
    return true;
  }
  TRef<TSysBitmap> texels;
  bool opaque = false;
  try {
    // Decoded and resampled under the picture store's own lock only.
    TBitmap* level = image->Store()->GetMipLevel(params.Level, nullptr, nullptr);
    if (level && src.X0 >= 0 && src.Y0 >= 0 && src.X1 <= float(level->Width()) && src.Y1 <= float(level->Height()))
      texels = MakeScreenLevel(level, src, place);
    // A level without alpha comes out opaque (the conversion fills it in).
    opaque = level && level->PixelFormat() && !level->PixelFormat()->HasAlpha;
  } catch (const ELoadStopped&) {
    throw;
  } catch (const std::exception&) {
    texels = nullptr;
  }
  if (!texels) return false;
  {
    TLockScope d(DrawingLock());
    TLockScope l(DrawerLock());
    if (!Screen_) return true;
    TTextureStore2* store = FindTextureStore(image, true);
    if (!store) return false;
    for (const TTextureWrapper& w : store->Textures)
      if (w.Key == key) t = w.Texture;
    if (!t) {
      if (!TextureManager) TextureManager = MakeRef<TTextureManager6>(Screen_.get());
      t = MakeRef<TMultiTexture6>(TextureManager.get());
      t->SetPicture(texels.get(), false, false, params.Premultiplied, 1, 1, {0, 0, texels->Width(), texels->Height()});
      if (TBitmapStore* s = store->Store(); s->RemakesLevels()) {
        const std::int32_t level = params.Level;
        t->SetRemake([s, level, src, place]() -> TRef<TBitmap> {
          TBitmap* l = s->GetMipLevel(level, nullptr, nullptr);
          return l ? TRef<TBitmap>(MakeScreenLevel(l, src, place)) : nullptr;
        });
      }
      store->Textures.push_back({key, t, opaque});
    }
  }
  PrepareTiles(t.get());
  return true;
}

TMultiTexture6* T3DDrawer::FindScreenLevel(TImage* image, const TImageDrawParams& params, TPoint3F& origin,
                                           TPoint3F& axisX, TPoint3F& axisY, TRectF& source,
                                           TScreenLevelFound* found) {
  if (!ScreenSizedPictures || !WantsScreenLevel(params)) return nullptr;
  // Only a picture lying flat on the slide lands on whole screen pixels.
  if (origin.Z != 0 || axisX.Z != 0 || axisY.Z != 0) return nullptr;
  TTextureStore2* store = FindTextureStore(image, false);
  if (!store || store->Textures.empty()) return nullptr;
  TScreenLevelFound on;
  if (!PlaceLevelSource(params, origin, axisX, axisY, on)) return nullptr;
  const TRectF src = LevelSource(params);
  const TScreenPlacement& place = on.Place;
  const TPoint2F &tl = on.TopLeft, &tr = on.TopRight, &bl = on.BottomLeft;
  const std::string key = ScreenLevelKey(params.Level, place, src);
  for (const TTextureWrapper& w : store->Textures) {
    if (w.Key != key) continue;
    // One texel per surface pixel, texel centres on pixel centres: texture
    // coordinate U lies at device coordinate X - 0.5 + U. The source's own
    // coordinates give the virtual points of surface ones.
    const double kx = (double(src.X1) - src.X0) / (double(tr.X) - tl.X);
    const double ky = (double(src.Y1) - src.Y0) / (double(bl.Y) - tl.Y);
    const double pc = PixelCentre(place.Smoothed);
    const double x0 = place.X - 0.5 + pc, y0 = place.Y - 0.5 + pc;  // surface point of texture (0, 0)
    const TPoint3F o = OnPlane(origin, axisX, axisY, src.X0 + (x0 - tl.X) * kx, src.Y0 + (y0 - tl.Y) * ky);
    axisX = {float(axisX.X * kx), float(axisX.Y * kx), 0};
    axisY = {float(axisY.X * ky), float(axisY.Y * ky), 0};
    origin = o;
    const double u0 = place.X - 0.5, v0 = place.Y - 0.5;
    source = {float(place.Left - u0), float(place.Top - v0), float(place.Right - u0), float(place.Bottom - v0)};
    if (found) *found = {place, tl, tr, bl, w.Opaque};
    return w.Texture.get();
  }
  return nullptr;
}

bool T3DDrawer::FindLevelPlacement(TImage* image, const TImageDrawParams& params, const TPoint3F& origin,
                                   const TPoint3F& axisX, const TPoint3F& axisY, TScreenLevelFound& found) {
  // Drawn from the level's own tiles (a picture read 1:1 already, or one not
  // readied at its size): where its source lands on the surface.
  if (!WantsScreenLevel(params) || origin.Z != 0 || axisX.Z != 0 || axisY.Z != 0) return false;
  TTextureStore2* store = FindTextureStore(image, false);
  if (!store) return false;
  const std::string key = TextureStoreKey(params);
  const TTextureWrapper* level = nullptr;
  for (const TTextureWrapper& w : store->Textures)
    if (w.Key == key) level = &w;
  if (!level || !PlaceLevelSource(params, origin, axisX, axisY, found)) return false;
  found.Opaque = level->Opaque;
  return true;
}

bool T3DDrawer::PlaceLevelSource(const TImageDrawParams& params, const TPoint3F& origin, const TPoint3F& axisX,
                                 const TPoint3F& axisY, TScreenLevelFound& found) {
  const TRectF src = LevelSource(params);
  // Surface pixels, whatever target the frame draws into.
  const TPoint off = Screen_->TargetOffset();
  const auto surface = [&](double x, double y) {
    const TPoint2F s = Screen_->ProjectToTarget(OnPlane(origin, axisX, axisY, x, y));
    return TPoint2F{s.X + float(off.X), s.Y + float(off.Y)};
  };
  found.TopLeft = surface(src.X0, src.Y0);
  found.TopRight = surface(src.X1, src.Y0);
  found.BottomLeft = surface(src.X0, src.Y1);
  return PlaceOnScreen(found.TopLeft, found.TopRight, found.BottomLeft, params.Antialiased, found.Place);
}

bool T3DDrawer::OpaqueImageRect(TImage* image, const TFloatPoint& origin, const TImageDrawParams& params,
                                const TFloatPoint& axisX, const TFloatPoint& axisY, TFloatRect& rect) {
  // Drawn as DrawImage draws it: opaque texels at full opacity (a tint or
  // a grading keeps the alpha), straight onto the target.
  if (!image || (image->Flags() & kDisposed) || !CanDraw() || OpacityByte(params.Opacity, true) != 255) return false;
  std::int32_t ci = 0;
  if (image->GetCacheList()->FindByClass<TCustomTexture>(ci)) return false;
  TLockScope l(DrawerLock());
  const float scale = std::ldexp(1.0f, params.Level);
  TPoint3F o = Place(origin);
  TPoint3F ax{axisX.X * scale, axisX.Y * scale, 0}, ay{axisY.X * scale, axisY.Y * scale, 0};
  const float axisU = ax.X, axisV = ay.Y;
  TRectF src;
  TScreenLevelFound found;
  if (!FindScreenLevel(image, params, o, ax, ay, src, &found) && !FindLevelPlacement(image, params, o, ax, ay, found))
    return false;
  if (!found.Opaque) return false;
  // The pixels inside the picture's edges (the texture's ring lies outside
  // them), less one all round; device pixel i spans i - 0.5 .. i + 0.5.
  const TScreenPlacement& place = found.Place;
  const double l0 = place.X + 1.5, t0 = place.Y + 1.5;
  const double l1 = place.X + place.Width - 2.5, t1 = place.Y + place.Height - 2.5;
  if (!(l1 > l0) || !(t1 > t0)) return false;
  // Back to virtual points along the picture's own axes: a fill's pixel
  // centres lie on whole surface coordinates, so device coordinate d is
  // surface d there, the source point u(d) of the picture, at Origin + u AxisX.
  const TRectF s = LevelSource(params);
  const TPoint2F tl = found.TopLeft, tr = found.TopRight, bl = found.BottomLeft;
  const double ku = (double(s.X1) - s.X0) / (double(tr.X) - tl.X), kv = (double(s.Y1) - s.Y0) / (double(bl.Y) - tl.Y);
  const auto u = [&](double d) { return s.X0 + (d - tl.X) * ku; };
  const auto v = [&](double d) { return s.Y0 + (d - tl.Y) * kv; };
  rect = {float(origin.X + u(l0) * double(axisU)), float(origin.Y + v(t0) * double(axisV)),
          float(origin.X + u(l1) * double(axisU)), float(origin.Y + v(t1) * double(axisV))};
  return rect.Right > rect.Left && rect.Bottom > rect.Top;
}

bool T3DDrawer::CanLeaveOutHidden() {
  return LeaveOutHiddenObjects && CanDraw() && !fadeProbe_ && !Blurring && !SharpenTarget && !TrailTarget && MaskDepth == 0 &&
         ContentDepth == 0 && !Redirected && ShaderStack.empty();
}

bool T3DDrawer::ImagePixels(TImage* image, const TFloatPoint3& origin, const TImageDrawParams& params,
                            const TFloatPoint3& axisX, const TFloatPoint3& axisY, TRect& reach, TRect& inner,
                            TRect& cover) {
  // Drawn as DrawImage3D draws it: flat on the slide, filtered from a
  // rectangle of the picture, its edges smoothed or not.
  if (!image || (image->Flags() & kDisposed) || !CanDraw() || fadeProbe_ || !WantsScreenLevel(params)) return false;
  if (origin.Z != 0 || axisX.Z != 0 || axisY.Z != 0) return false;
  std::int32_t ci = 0;
  if (image->GetCacheList()->FindByClass<TCustomTexture>(ci)) return false;
  TLockScope l(DrawerLock());
  const float scale = std::ldexp(1.0f, params.Level);
  const TPoint3F o = Place3(origin);
  const TPoint3F ax{axisX.X * scale, axisX.Y * scale, 0}, ay{axisY.X * scale, axisY.Y * scale, 0};
  TScreenLevelFound found;
  if (!PlaceLevelSource(params, o, ax, ay, found)) return false;
  // Surface pixels: the pixels it covers and one more all round (what its
  // smoothed edges show), from (X, Y).
  const TScreenPlacement& p = found.Place;
  const TPoint off = Screen_->TargetOffset();
  const std::int32_t x = p.X - off.X, y = p.Y - off.Y;
  reach = {x - 1, y - 1, x + p.Width + 1, y + p.Height + 1};
  // The pixels it covers are those whose centres its edges hold, as the
  // device finds them from its own projection of the corners: the same up
  // to a step of its 1/256 grid. An edge that close to a pixel centre may
  // hold it or not: that row or column is not counted.
  const auto nearCentre = [](double edge) { return std::fabs(edge - std::nearbyint(edge)) < 2.0 / 256.0; };
  inner = {x + 1 + (nearCentre(p.Left) ? 1 : 0), y + 1 + (nearCentre(p.Top) ? 1 : 0),
           x + p.Width - 1 - (nearCentre(p.Right) ? 1 : 0), y + p.Height - 1 - (nearCentre(p.Bottom) ? 1 : 0)};
  if (inner.Right <= inner.Left || inner.Bottom <= inner.Top) inner = {};
  cover = {};
  // Opaque texels at full opacity (a tint or a grading keeps the alpha), from
  // the texture the draw takes: the one readied at this placement, else the
  // level's own tiles; not yet made, not known.
  if (OpacityByte(params.Opacity, true) != 255 || Empty(inner)) return true;
  TPoint3F so = o, sx = ax, sy = ay;
  TRectF src;
  TScreenLevelFound at;
  if (FindScreenLevel(image, params, so, sx, sy, src, &at) || FindLevelPlacement(image, params, o, ax, ay, at))
    if (at.Opaque) cover = inner;
  return true;
}

bool T3DDrawer::LeaveOut(const TRect* rect) {
  if (!CanDraw()) return false;
  TRef<T3DRenderer> r(Screen_->Renderer());
  return r && r->SetExclusion(rect);
}

void T3DDrawer::LetLevelsGo(TImage* image) {
  TBitmapStore* s = image ? image->Store() : nullptr;
  if (!s || !s->RemakesLevels()) return;
  // Under the drawing lock: a frame that reads a level (a texture it makes)
  // never meets it on its way out.
  TLockScope d(DrawingLock());
  TLockScope l(DrawerLock());
  TTextureStore2* store = FindTextureStore(image, false);
  if (!store || store->Textures.empty()) return;
  for (const TTextureWrapper& w : store->Textures)
    if (!w.Texture || !w.Texture->LetSourceGo()) return;
  s->ReleaseLevels();
}

void T3DDrawer::ReleaseImageTextures(TImage* image) {
  TLockScope l(DrawerLock());
  if (!image) return;
  std::vector<TTextureStore2*> found;
  if (TTextureStore2* s = FindTextureStore(image, false)) found.push_back(s);
  TList* own = image->GetCacheList();
  for (std::int32_t i = 0; own->FindByClass<TTextureStore2>(i); ++i) {
    auto* s = static_cast<TTextureStore2*>(own->Get(i));
    if (std::find(found.begin(), found.end(), s) == found.end()) found.push_back(s);
  }
  for (TTextureStore2* s : found) {
    own->Remove(s);
    if (!stores_.erase(s)) continue;  // another drawer's
    s->Free();
  }
}

void T3DDrawer::SetFixedFrameSize(const TSize& size) {
  FixedFrameSizeSet = true;
  FixedFrameSize = size;
  const TRect v = GetVisibleRect();
  if (Empty(v)) return;
  const auto centre = [](std::int64_t a, std::int64_t b, std::int64_t len) {
    return static_cast<std::int32_t>(std::clamp<double>(std::nearbyint(double(a + b - len) / 2.0), -2147483648.0,
                                                        2147483647.0));
  };
  const std::int32_t l = centre(v.Left, v.Right, size.cx), t = centre(v.Top, v.Bottom, size.cy);
  FrameRect = {l, t, static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t(l) + size.cx, INT32_MIN, INT32_MAX)),
               static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t(t) + size.cy, INT32_MIN, INT32_MAX))};
}

void T3DDrawer::RestoreDeviceStates() {
  if (!Screen_) return;
  if (TRef<T3DRenderer> r = TRef<T3DRenderer>(Screen_->Renderer())) r->ResetStates();
}

void T3DDrawer::Clear(TColor32 colour, bool clearDepth) {
  if (ProbeStops(true)) return;
  if (CanDraw()) Screen_->Clear(colour.Value(), clearDepth);
}

void T3DDrawer::FillRect(TColor32 colour, const TRect& rect) {
  if (ProbeStops(true)) return;
  if (CanDraw()) Screen_->FillRect(colour.Value(), rect);
}

void T3DDrawer::SetView(const TFloatRect& viewRect, const TFloatPoint& virtualSize, bool resetViewport,
                        const TFloatPoint3& camera) {
  if (ProbeStops(false)) return;
  TDeviceDrawer::SetView(viewRect, virtualSize, resetViewport, camera);
  if (!CanDraw() || !Screen_->TargetStack() || Screen_->TargetStack()->Count() != 1) return;
  if (resetViewport) Screen_->SetViewport({0, 0, W(Bounds), H(Bounds)}, 0, 1.0f);
  SetFrameProjection();
}

void T3DDrawer::SetFrameProjection() {
  if (!CanDraw()) return;
  const TFloatRect v = GetViewRectF();
  const TFloatPoint vs = GetVirtualSize();
  const TPoint off = Screen_->TargetOffset();
  Screen_->SetProjection(float(off.X) - v.Left, float(off.Y) - v.Top, v.Right - v.Left, v.Bottom - v.Top, vs.X, vs.Y);
}

void T3DDrawer::SetPixelProjection() {
  if (!CanDraw()) return;
  const TRect win = Screen_->WindowRect();
  const TPoint off = Screen_->TargetOffset();
  Screen_->SetProjection(float(off.X), float(off.Y), float(W(win)), float(H(win)), float(W(win)), float(H(win)));
}

TPoint3F T3DDrawer::Place(const TFloatPoint& p) const { return {p.X + DrawOffset.X, p.Y + DrawOffset.Y, 0}; }
TPoint3F T3DDrawer::Place3(const TFloatPoint3& p) const { return {p.X + DrawOffset.X, p.Y + DrawOffset.Y, p.Z}; }

void T3DDrawer::WidenDrawnBounds(const TPoint3F* corners, int count) {
  if (!Blurring || !Screen_) return;
  for (int i = 0; i < count; ++i) {
    const TPoint2F p = Screen_->ProjectToTarget(corners[i]);
    if (!std::isfinite(p.X) || !std::isfinite(p.Y)) continue;
    const auto lo = [](float v) { return static_cast<std::int32_t>(std::clamp<double>(std::floor(v), -2e9, 2e9)); };
    const auto hi = [](float v) { return static_cast<std::int32_t>(std::clamp<double>(std::ceil(v), -2e9, 2e9)); };
    DrawnBounds.Left = std::max(0, std::min(DrawnBounds.Left, lo(p.X)));
    DrawnBounds.Top = std::max(0, std::min(DrawnBounds.Top, lo(p.Y)));
    DrawnBounds.Right = std::min(Bounds.Right, std::max(DrawnBounds.Right, hi(p.X)));
    DrawnBounds.Bottom = std::min(Bounds.Bottom, std::max(DrawnBounds.Bottom, hi(p.Y)));
  }
}

// ---- Shaders --------------------------------------------------------------------------------

void T3DDrawer::PushShader(TShader* shader) {
  if (ProbeStops(false)) return;
  ShaderStack.push_back(shader);
  if (!CanDraw()) return;
  if (shader) shader->Prepare();
  TRef<T3DRenderer> r(Screen_->Renderer());
  r->SetShader(shader ? shader->DeviceShader() : nullptr);
}

void T3DDrawer::PopShader() {
  if (ProbeStops(false)) return;
  if (!ShaderStack.empty()) ShaderStack.pop_back();
  if (!CanDraw()) return;
  TShader* top = ShaderStack.empty() ? nullptr : ShaderStack.back();
  TRef<T3DRenderer> r(Screen_->Renderer());
  r->SetShader(top ? top->DeviceShader() : nullptr);
}

// ---- Draw --------------------------------------------------------------------------------------

bool T3DDrawer::Draw(TDrawItem* item) {
  if (!item || (item->Flags() & kDisposed)) return false;
  if (fadeProbe_) {
    // Looked at, not drawn: a blurred or sharpened item is more than its pictures.
    const float r = item->GetBlurRadius();
    if ((r == r) && !(r >= 0.0f && r < 0.00001f)) return !ProbeStops(false);
    return TDeviceDrawer::Draw(item);
  }
  if (Blurring) return TDeviceDrawer::Draw(item);
  const std::int32_t level = DrawDepth;
  bool result;
  const float r = item->GetBlurRadius();
  if (!(r == r) || (r >= 0.0f && r < 0.00001f) || (r < 0.0f && SharpenTarget)) {
    result = TDeviceDrawer::Draw(item);
  } else {
    const auto run = [this, item, r] {
      Blurring = true;
      struct TClear {
        bool& b;
        ~TClear() { b = false; }
      } clear{Blurring};
      const float s = PixelScale();
      if (r > 0) {
        DrawnBounds = {};
        GaussianBlur(item, (r / 1000.0f) * s);
      } else {
        BeginSharpen();
        TDeviceDrawer::Draw(item);
        EndSharpen((-r / 100.0f) * s);
      }
    };
    if (level == 0) {
      // The pass needs a frame around it.
      TRef<TPassItem> pass = MakeRef<TPassItem>(item, run);
      result = TDeviceDrawer::Draw(pass.get());
    } else if (CanDraw()) {
      run();
      result = true;
    } else {
      result = false;
    }
  }
  // A trail begun inside a draw takes each draw made at its level.
  if (TrailTarget && level > 0 && level == trailDepth_) AccumulateTrail();
  return result;
}

void T3DDrawer::DrawImage(TImage* image, const TFloatPoint& origin, const TImageDrawParams& params,
                          const TFloatPoint& axisX, const TFloatPoint& axisY) {
  if (fadeProbe_) {
    ProbePicture(image, Place(origin), params, {axisX.X, axisX.Y, 0}, {axisY.X, axisY.Y, 0});
    return;
  }
  DrawImageAt(image, Place(origin), params, {axisX.X, axisX.Y, 0}, {axisY.X, axisY.Y, 0});
}

void T3DDrawer::DrawImage3D(TImage* image, const TFloatPoint3& origin, const TImageDrawParams& params,
                            const TFloatPoint3& axisX, const TFloatPoint3& axisY) {
  if (fadeProbe_) {
    ProbePicture(image, Place3(origin), params, {axisX.X, axisX.Y, axisX.Z}, {axisY.X, axisY.Y, axisY.Z});
    return;
  }
  DrawImageAt(image, Place3(origin), params, {axisX.X, axisX.Y, axisX.Z}, {axisY.X, axisY.Y, axisY.Z});
}

void T3DDrawer::DrawImageAt(TImage* image, const TPoint3F& origin, const TImageDrawParams& params,
                            const TPoint3F& axisX, const TPoint3F& axisY) {
  if (!image || (image->Flags() & kDisposed) || !CanDraw()) return;
  std::int32_t ci = 0;
  if (image->GetCacheList()->FindByClass<TCustomTexture>(ci)) {
    DrawCustomTexture(static_cast<TCustomTexture*>(image->GetCacheList()->Get(ci)), image, origin, params, axisX, axisY);
    return;
  }
  TLockScope l(DrawerLock());
  const float scale = std::ldexp(1.0f, params.Level);
  TPoint3F o = origin;
  TPoint3F ax{axisX.X * scale, axisX.Y * scale, axisX.Z * scale}, ay{axisY.X * scale, axisY.Y * scale, axisY.Z * scale};
  TRectF src;
  TMultiTexture6* t = FindScreenLevel(image, params, o, ax, ay, src);
  const bool screenLevel = t != nullptr;
  if (!t) t = GetTiledTexture(image, params);
  if (!t) return;
  t->Opacity = OpacityByte(params.Opacity, true);
  t->DrawMode = params.Filtering == 0 ? 1 : 0;
  t->Filtering = params.Filtering != 0;
  t->LodBias = params.MipLodBias;
  t->EdgeSmoothing = params.Antialiased;
  if (params.Tinted || params.GradeMode != 0)
    t->SetTint(params.TintColour.R, params.TintColour.G, params.TintColour.B);
  else
    t->ClearTint();
  if (!screenLevel) {
    src = LevelSource(params);
    if (!(src.X1 > src.X0 && src.Y1 > src.Y0)) {
      const TSize size = t->PictureSize();
      src = {0, 0, float(size.cx), float(size.cy)};
    }
  }
  if (Blurring) {
    const auto at = [&](float x, float y) {
      return TPoint3F{o.X + x * ax.X + y * ay.X, o.Y + x * ax.Y + y * ay.Y, o.Z + x * ax.Z + y * ay.Z};
    };
    const TPoint3F c[4] = {at(src.X0, src.Y0), at(src.X1, src.Y0), at(src.X0, src.Y1), at(src.X1, src.Y1)};
    WidenDrawnBounds(c, 4);
  }
  const bool graded = params.GradeMode != 0 && ShaderLevel() > 0;
  if (graded) {
    PushShader(ShaderAt(params.GradeMode == 1 ? shColorGrading : shColorGradeLinear));
    TRef<T3DRenderer> r(Screen_->Renderer());
    r->SetTexture(1, RealizeGradeTable(params.GradeTable1));
    r->SetTexture(2, RealizeGradeTable(params.GradeTable2));
    const T3DFloat4 mix{params.GradeMix, 0, 0, 0};
    r->SetShaderConstants(false, 0, std::span<const T3DFloat4>(&mix, 1));
  }
  {
    // Edges are smoothed only when the tiles filter (drawing mode 0).
    const TPixelCentreScope centre(Screen_.get(), params.Antialiased && t->DrawMode == 0);
    t->Draw(src, o, ax, ay);
  }
  if (graded) {
    PopShader();
    if (CanDraw()) {
      TRef<T3DRenderer> r(Screen_->Renderer());
      r->SetTexture(1, nullptr);
      r->SetTexture(2, nullptr);
    }
  }
}

void T3DDrawer::DrawCustomTexture(TCustomTexture* texture, TImage* image, const TPoint3F& o,
                                  const TImageDrawParams& params, const TPoint3F& ax, const TPoint3F& ay) {
  const TFloatRect& s = params.SourceRect;
  TRectF src;
  if (s.Right > s.Left && s.Bottom > s.Top)
    src = {s.Left, s.Top, s.Right, s.Bottom};
  else
    src = {0, 0, float(image->Params.Width), float(image->Params.Height)};
  const std::uint32_t colour = std::uint32_t(OpacityByte(params.Opacity, false)) << 24 | 0xFFFFFFu;
  const bool keepPoint = texture->PointSampling;
  texture->PointSampling = params.Filtering == 0;
  const auto at = [&](float x, float y) {
    return TPoint3F{o.X + x * ax.X + y * ay.X, o.Y + x * ax.Y + y * ay.Y, o.Z + x * ax.Z + y * ay.Z};
  };
  const TPoint3F c[4] = {at(src.X0, src.Y0), at(src.X1, src.Y0), at(src.X0, src.Y1), at(src.X1, src.Y1)};
  WidenDrawnBounds(c, 4);
  TScreenTexture* const list[1] = {texture};
  if (params.Antialiased) {
    const TPixelCentreScope centre(Screen_.get(), true);
    TEdgeMesh mesh;
    Screen_->BuildEdgeMesh(o, {}, ax, ay, src, 15, mesh);
    Screen_->DrawEdgeMesh(list, 1, mesh, colour, colour, colour, colour, 15);
  } else {
    Screen_->DrawTexturedQuad(list, 1, o, {}, ax, ay, std::span<const TRectF>(&src, 1), colour, colour,
                              colour, colour);
  }
  texture->PointSampling = keepPoint;
}

void T3DDrawer::FillGradientQuad(const TFloatPoint& origin, const TFloatPoint& offset, const TGradientFill& fill,
                                 const TFloatPoint& axisX, const TFloatPoint& axisY) {
  if (ProbeStops(true)) return;
  const TPoint3F p1{origin.X + DrawOffset.X - (offset.X * axisX.X + offset.Y * axisY.X),
                    origin.Y + DrawOffset.Y - (offset.X * axisX.Y + offset.Y * axisY.Y), 0};
  FillQuadAt(p1, fill, {axisX.X, axisX.Y, 0}, {axisY.X, axisY.Y, 0});
}

void T3DDrawer::FillGradientQuad3D(const TFloatPoint3& origin, const TGradientFill& fill, const TFloatPoint3& axisX,
                                   const TFloatPoint3& axisY) {
  if (ProbeStops(true)) return;
  FillQuadAt(Place3(origin), fill, {axisX.X, axisX.Y, axisX.Z}, {axisY.X, axisY.Y, axisY.Z});
}

void T3DDrawer::FillQuadAt(const TPoint3F& p1, const TGradientFill& fill, const TPoint3F& axisX,
                           const TPoint3F& axisY) {
  if (!(fill.Opacity > 0.0f)) return;
  ZM_ASSERT(fill.Kind <= 8, "T3DDrawer.FillGradientQuad - bad gradient kind");
  if (!CanDraw()) return;
  const TPoint3F ax{fill.ScaleX * axisX.X, fill.ScaleX * axisX.Y, fill.ScaleX * axisX.Z},
      ay{fill.ScaleY * axisY.X, fill.ScaleY * axisY.Y, fill.ScaleY * axisY.Z};
  const TPoint3F p2{p1.X + ax.X, p1.Y + ax.Y, p1.Z + ax.Z}, p3{p1.X + ay.X, p1.Y + ay.Y, p1.Z + ay.Z},
      p4{p1.X + ax.X + ay.X, p1.Y + ax.Y + ay.Y, p1.Z + ax.Z + ay.Z};
  const TPoint3F corners[4] = {p1, p2, p3, p4};
  WidenDrawnBounds(corners, 4);
  const std::uint32_t a = ScaleAlpha(fill.Colour1.Value(), fill.Opacity);
  const std::uint32_t b = ScaleAlpha(fill.Colour2.Value(), fill.Opacity);
  const std::uint32_t m = Average(a, b);
  // Corners: top left, top right, bottom left, bottom right.
  std::uint32_t c[4];
  switch (fill.Kind) {
    case 0: c[0] = a, c[1] = m, c[2] = m, c[3] = b; break;  // Colour1 top left
    case 1: c[0] = m, c[1] = a, c[2] = b, c[3] = m; break;  // top right
    case 2: c[0] = b, c[1] = m, c[2] = m, c[3] = a; break;  // bottom right
    case 3: c[0] = m, c[1] = b, c[2] = a, c[3] = m; break;  // bottom left
    // The directions of the shadow generator's gradients, so that a box and
    // its shadow fade the same way.
    case 4: c[0] = b, c[1] = b, c[2] = a, c[3] = a; break;  // bottom to top
    case 5: c[0] = a, c[1] = a, c[2] = b, c[3] = b; break;  // top to bottom
    case 6: c[0] = a, c[1] = b, c[2] = a, c[3] = b; break;  // left to right
    case 7: c[0] = b, c[1] = a, c[2] = b, c[3] = a; break;  // right to left
    default: c[0] = c[1] = c[2] = c[3] = a; break;
  }
  std::uint32_t edges = 0;
  for (int i = 0; i < 4; ++i)
    if (fill.Edges[i]) edges |= 1u << i;
  if (edges == 0) {
    Screen_->FillColourQuad(p1, p2, p3, p4, c[0], c[1], c[2], c[3]);
    return;
  }
  if (!BoxAntialiaser) BoxAntialiaser = MakeRef<TBoxAntialiaser>(Screen_.get());
  BoxAntialiaser->DrawBox(Screen_.get(), ax, edges, c[0], c[1], c[2], c[3], ay, p1);
}

void T3DDrawer::DrawGradientFrame(bool quad, const TFloatPoint& origin, bool flag, float opacity, TColor32 colour,
                                  const TFloatPoint& size, const TFloatPoint& border) {
  (void)quad;
  if (ProbeStops(true)) return;
  if (!(border.X > 0) || !(border.Y > 0)) return;
  TGradientFill f;
  f.Colour1 = colour;
  f.Opacity = opacity;
  const float inner = std::max(0.0f, size.Y - 2 * border.Y);
  // Each strip feathers its outer edge and its two ends, never the inner
  // edge that meets the next strip.
  const auto strip = [&](float x, float y, float w, float h, int innerEdge) {
    if (!(w > 0) || !(h > 0)) return;
    TGradientFill s = f;
    for (int i = 0; i < 4; ++i) s.Edges[i] = flag && i != innerEdge;
    s.ScaleX = w;
    s.ScaleY = h;
    FillGradientQuad({origin.X + x, origin.Y + y}, {}, s, {1, 0}, {0, 1});
  };
  const TPixelCentreScope centre(Screen_.get(), flag);
  strip(0, 0, size.X, border.Y, 3);                                // top
  strip(0, size.Y - border.Y, size.X, border.Y, 1);                // bottom
  strip(0, border.Y, border.X, inner, 2);                          // left
  strip(size.X - border.X, border.Y, border.X, inner, 0);          // right
}

// ---- Video ---------------------------------------------------------------------------------

TRef<TYUVImage> T3DDrawer::CreateVideoImage(std::int32_t width, std::int32_t height, bool rgba) {
  if (width < 1 || height < 1 || !Screen_) return nullptr;
  TRef<T3DRenderer> r(Screen_->Renderer());
  const bool planes = ShaderLevel() != 0 && r && r->Luminance8Available() && !rgba;
  TRef<T3DYUV> v = MakeRef<T3DYUV>(this, width, height, planes, rgba);
  TLockScope l(DrawerLock());
  VideoImages.push_back(v.get());
  return v;
}

void T3DDrawer::RemoveVideoImage(T3DYUV* image) {
  TLockScope l(DrawerLock());
  if (T3DDrawer* d = image->Drawer()) {
    image->DetachDrawer();
    std::erase(d->VideoImages, image);
  }
}

void T3DDrawer::DropVideoTextures(std::span<TRef<TVideoTexture>> textures) {
  TLockScope l(DrawerLock());
  for (auto& t : textures) t = nullptr;
}

void T3DDrawer::DrawVideoImage(const TVideoDrawParams& params, const TFloatPoint& origin, const TFloatPoint& axisX,
                               const TFloatPoint& axisY) {
  if (ProbeStops(true)) return;
  if (!params.Image) return;
  auto* v = dynamic_cast<T3DYUV*>(params.Image);
  ZM_ASSERT(v, "DrawVideoImage - not a video image of the drawer");
  const TFloatRect& s = params.SourceRect;
  ZM_ASSERT(s.Right > s.Left && s.Bottom > s.Top, "DrawVideoImage - empty source rectangle");
  ZM_ASSERT(params.Deinterlace >= 0 && params.Deinterlace <= 2, "DrawVideoImage - bad deinterlace mode");
  if (!CanDraw()) return;
  const std::uint32_t colour = std::uint32_t(OpacityByte(params.Opacity, false)) << 24 | 0xFFFFFFu;
  if (colour >> 24 == 0) return;
  const TPoint3F o = Place(origin);
  const TPoint3F ax{axisX.X, axisX.Y, 0}, ay{axisY.X, axisY.Y, 0};
  const TRectF src{s.Left, s.Top, s.Right, s.Bottom};
  const TRectF half{s.Left * 0.5f, s.Top * 0.5f, s.Right * 0.5f, s.Bottom * 0.5f};
  const auto at = [&](float x, float y) { return TPoint3F{o.X + x * ax.X + y * ay.X, o.Y + x * ax.Y + y * ay.Y, 0}; };
  const TPoint3F c[4] = {at(src.X0, src.Y0), at(src.X1, src.Y0), at(src.X0, src.Y1), at(src.X1, src.Y1)};
  WidenDrawnBounds(c, 4);
  TRef<T3DRenderer> r(Screen_->Renderer());
  // One quad of Count stages: the antialiased band (mode 3 samples the
  // chroma planes at half the coordinates) or the plain quad.
  const auto quad = [&](std::span<TScreenTexture* const> list) {
    const std::int32_t n = std::int32_t(list.size());
    if (params.Antialiased) {
      const TPixelCentreScope centre(Screen_.get(), true);
      TEdgeMesh mesh;
      Screen_->BuildEdgeMesh(o, {}, ax, ay, src, 15, mesh);
      Screen_->DrawEdgeMesh(list, n, mesh, colour, colour, colour, colour, 15);
    } else {
      const TRectF rects[3] = {src, half, half};
      Screen_->DrawTexturedQuad(list, n, o, {}, ax, ay, std::span<const TRectF>(rects, std::size_t(n)), colour,
                                colour, colour, colour);
    }
  };
  const bool shaders = ShaderLevel() > 0;
  if (v->ThreePlanes()) {
    // The colour comes only from the two volumes (YUV to graded RGB).
    if (!shaders || !params.GradeTable1 || !params.GradeTable2) return;
    TBaseTexture* t1 = RealizeGradeTable(params.GradeTable1);
    TBaseTexture* t2 = RealizeGradeTable(params.GradeTable2);
    if (!t1 || !t2) return;
    const bool deinterlace = params.Deinterlace != 0;
    const std::int32_t shader = params.ChromaKey ? (deinterlace ? shColorGradeChromaDeinter : shColorGradeChromaKey)
                                                 : (deinterlace ? shColorGradeDeinter : shColorGradeVideo);
    TVideoTexture* y = v->Texture(kPlaneY);
    const float height = float(y->Extent().cy);
    const float off = params.Deinterlace == 2 ? 1.0f : 0.0f;
    const float tol = params.KeyTolerance;
    const T3DFloat4 constants[5] = {{params.GradeMix, 0, 0, 0},
                                    {height, height > 0 ? 1.0f / height : 0.0f, 0, 0},
                                    {off, -off, 0, 0},
                                    {tol, tol > 0 ? 1.0f / tol : 0.0f, 0, 0},
                                    {params.KeyU, params.KeyV, 0, 0}};
    PushShader(ShaderAt(shader));
    r->SetTexture(3, t1);
    r->SetTexture(4, t2);
    r->SetShaderConstants(false, 0, constants);
    TScreenTexture* const list[3] = {y, v->Texture(kPlaneU), v->Texture(kPlaneV)};
    quad(list);
    PopShader();
    if (CanDraw()) {
      r->SetTexture(3, nullptr);
      r->SetTexture(4, nullptr);
    }
    return;
  }
  if (!v->IsRGBA()) {
    TScreenTexture* const list[1] = {v->Texture(kPlaneGray)};
    quad(list);
    return;
  }
  // An RGBA frame: graded through the picture shaders when they exist,
  // otherwise as it is.
  const bool graded = shaders && (params.GradeMode == 1 || params.GradeMode == 2);
  if (graded) {
    PushShader(ShaderAt(params.GradeMode == 1 ? shColorGrading : shColorGradeLinear));
    r->SetTexture(1, RealizeGradeTable(params.GradeTable1));
    r->SetTexture(2, RealizeGradeTable(params.GradeTable2));
    const T3DFloat4 mix{params.GradeMix, 0, 0, 0};
    r->SetShaderConstants(false, 0, std::span<const T3DFloat4>(&mix, 1));
  }
  TScreenTexture* const list[1] = {v->Texture(kPlaneRGBA)};
  quad(list);
  if (graded) {
    PopShader();
    if (CanDraw()) {
      r->SetTexture(1, nullptr);
      r->SetTexture(2, nullptr);
    }
  }
}

void T3DDrawer::FillRectF(const TFloatPoint& topLeft, const TFloatPoint& bottomRight, TColor32 colour) {
  if (ProbeStops(true)) return;
  FillQuad(topLeft, {bottomRight.X, topLeft.Y}, {topLeft.X, bottomRight.Y}, colour);
}

bool T3DDrawer::ReadFrame(TBitmap* bitmap) {
  if (ProbeStops(false)) return false;
  if (!CaptureMode) return true;
  if (!bitmap || !Screen_) return false;
  TRef<T3DRenderer> r(Screen_->Renderer());
  if (!r) return false;
  TRef<T3DSurface> back;
  if (!r->GetBackBuffer(back) || !back) return false;
  return back->CopyToBitmap(bitmap);
}

// ---- Transitions ---------------------------------------------------------------------------------

bool T3DDrawer::SlideCoversArea(TDrawItem* slide) {
  const TRect area = Effecter ? Effecter->Area() : TRect{};
  const TFloatRect v = GetViewRectF();
  const TFloatPoint vs = GetVirtualSize();
  if (!slide || OffsetSet || Empty(area) || !(v.Right > v.Left) || !(v.Bottom > v.Top)) return false;
  const float kx = vs.X / (v.Right - v.Left), ky = vs.Y / (v.Bottom - v.Top);
  const std::int32_t m = TCustomD3DEffecter::kMaxReplication;
  return slide->CoversOpaque({(float(area.Left) - v.Left) * kx, (float(area.Top) - v.Top) * ky,
                              (float(area.Right + m) - v.Left) * kx, (float(area.Bottom + m) - v.Top) * ky});
}

bool T3DDrawer::ProbeStops(bool plain) {
  if (!fadeProbe_) return false;
  if (plain)
    fadeProbe_->Found = false;
  else
    fadeProbe_->Failed = true;
  return true;
}

void T3DDrawer::ProbePicture(TImage* image, const TPoint3F& origin, const TImageDrawParams& params,
                             const TPoint3F& axisX, const TPoint3F& axisY) {
  TSolePicture& p = *fadeProbe_;
  p.Found = false;
  // Drawn as DrawImage draws it: opaque texels at full opacity, no tint,
  // straight onto the target, one texel a pixel.
  if (!image || (image->Flags() & kDisposed) || !CanDraw() || OpacityByte(params.Opacity, true) != 255 ||
      params.Tinted || params.GradeMode != 0 || params.Premultiplied)
    return;
  std::int32_t ci = 0;
  if (image->GetCacheList()->FindByClass<TCustomTexture>(ci)) return;
  TLockScope l(DrawerLock());
  const float scale = std::ldexp(1.0f, params.Level);
  TPoint3F o = origin;
  TPoint3F ax{axisX.X * scale, axisX.Y * scale, axisX.Z * scale}, ay{axisY.X * scale, axisY.Y * scale, axisY.Z * scale};
  TRectF src;
  TScreenLevelFound found;
  TMultiTexture6* t = FindScreenLevel(image, params, o, ax, ay, src, &found);
  TPoint shift{found.Place.X, found.Place.Y};
  if (!t) {
    // The level's own texture, when it is read 1:1 already.
    if (!FindLevelPlacement(image, params, o, ax, ay, found)) return;
    const TRectF s = LevelSource(params);
    if (!ReadsOneToOne(s, found.Place)) return;
    // Device pixel x reads the level at s.X0 + x - Left, a texel centre.
    const double sx = found.Place.Left + 0.5 - s.X0, sy = found.Place.Top + 0.5 - s.Y0;
    if (sx != std::floor(sx) || sy != std::floor(sy) || std::fabs(sx) > 1e8 || std::fabs(sy) > 1e8) return;
    shift = {std::int32_t(sx), std::int32_t(sy)};
    const std::string key = TextureStoreKey(params);
    if (TTextureStore2* store = FindTextureStore(image, false))
      for (const TTextureWrapper& w : store->Textures)
        if (w.Key == key) t = w.Texture.get();
  }
  if (!t || !found.Opaque) return;
  // Inside the picture's edges less one all round (its smoothed edges and
  // the texture's ring lie outside).
  const TScreenPlacement& place = found.Place;
  p.Texture = t;
  p.Shift = shift;
  p.Inside = {place.X + 2, place.Y + 2, place.X + place.Width - 2, place.Y + place.Height - 2};
  p.Found = !Empty(p.Inside);
}

bool T3DDrawer::ProbeSlide(TDrawItem* slide, TSolePicture& found) {
  found = {};
  if (!slide || fadeProbe_) return false;
  fadeProbe_ = &found;
  struct TReset {
    TSolePicture*& p;
    ~TReset() { p = nullptr; }
  } reset{fadeProbe_};
  if (!Draw(slide)) return false;
  return !found.Failed && found.Found;
}

namespace {

TRect FadeMeet(const TRect& a, const TRect& b) {
  const TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                std::min(a.Bottom, b.Bottom)};
  return r.Right > r.Left && r.Bottom > r.Top ? r : TRect{};
}

// The content of a picture's tiles on the target: each tile's texture and
// where it lies (target pixels) with the offset of its texel (0, 0).
struct TFadeTilePlace {
  TTextureTile* Tile;
  TRect Rect;
  TPoint At;
};

bool PlaceFadeTiles(TMultiTexture6* t, const TPoint& shift, const TRect& within, std::vector<TFadeTilePlace>& out) {
  out.clear();
  t->Prepare();
  for (std::int32_t i = 0; i < t->TileCount(); ++i) {
    TTextureTile* tile = t->Tile(i);
    if (!tile) return false;
    const TPoint at{tile->Position().X + shift.X, tile->Position().Y + shift.Y};
    const TSize used = tile->Used();
    // The border column and row round the content are never shown.
    const TRect r = FadeMeet({at.X + 1, at.Y + 1, at.X + used.cx - 1, at.Y + used.cy - 1}, within);
    if (Empty(r)) continue;
    if (tile->NeedsFill() || !tile->Realize()) return false;
    out.push_back({tile, r, at});
  }
  return true;
}

}  // namespace

bool T3DDrawer::PlanFade(TDrawFilter* filter, TDrawItem* back, TDrawItem* front, TFadePlan& plan) {
  plan = {};
  float coverage = 0;
  if (!OnePassFades || !filter || !back || !front || !Effecter || !CanDraw() || DrawDepth < 1 || Blurring ||
      Redirected || OffsetSet || !ShaderStack.empty() || filter->MovesSlides ||
      filter->PassMode() != TFilterPassMode::Plain || !filter->UniformCoverage(coverage))
    return false;
  // Straight onto the frame only.
  if (Screen_->TargetStack()->Count() != 1 || Screen_->TargetOffset().X != 0 || Screen_->TargetOffset().Y != 0)
    return false;
  const TRect frame = Screen_->TargetRect();
  const TRect visible = GetVisibleRect();
  TSolePicture under, over;
  if (!ProbeSlide(back, under) || !ProbeSlide(front, over)) return false;
  const TRect inside = FadeMeet(FadeMeet(frame, visible), FadeMeet(under.Inside, over.Inside));
  if (Empty(inside)) return false;
  std::vector<TFadeTilePlace> a, b;
  if (!PlaceFadeTiles(under.Texture, under.Shift, inside, a) || !PlaceFadeTiles(over.Texture, over.Shift, inside, b))
    return false;
  std::int64_t covered = 0;
  for (const TFadeTilePlace& u : a)
    for (const TFadeTilePlace& v : b) {
      const TRect r = FadeMeet(u.Rect, v.Rect);
      if (Empty(r)) continue;
      plan.Pieces.push_back({u.Tile->Realize(), u.At, v.Tile->Realize(), v.At, r});
      covered += std::int64_t(r.Right - r.Left) * (r.Bottom - r.Top);
    }
  // Tiles that leave a gap: the general way.
  if (covered != std::int64_t(inside.Right - inside.Left) * (inside.Bottom - inside.Top)) return false;
  // As the filter's triangles paint the effecter's premultiplied picture.
  plan.Factor = PremultiplyColour(CoverageColour(coverage));
  // The rest of the frame the general way: above, below, left and right.
  const TRect rest[4] = {{frame.Left, frame.Top, frame.Right, inside.Top},
                         {frame.Left, inside.Bottom, frame.Right, frame.Bottom},
                         {frame.Left, inside.Top, inside.Left, inside.Bottom},
                         {inside.Right, inside.Top, frame.Right, inside.Bottom}};
  for (const TRect& r : rest) {
    if (Empty(r)) continue;
    plan.Rest.Rest.push_back(r);
    plan.Rest.Under.push_back(r);
    const TRect part = FadeMeet({r.Left - 2, r.Top - 2, r.Right + 2, r.Bottom + 2}, frame);
    if (!Empty(part)) plan.Rest.Parts.push_back(part);
  }
  filter->TargetRect = visible;
  // The renderer must have the clip for the rest; asked once, turned off again.
  return plan.Rest.Rest.empty() || Screen_->SetScissor(nullptr);
}

namespace {

// Rows of full-width rectangles that touch are one.
void JoinDirectRows(std::vector<TRect>& rects, std::int32_t left, std::int32_t right) {
  std::vector<TRect> out;
  for (const TRect& r : rects) {
    if (r.Right <= r.Left || r.Bottom <= r.Top) continue;
    if (!out.empty() && r.Left == left && r.Right == right && out.back().Left == left && out.back().Right == right &&
        out.back().Bottom == r.Top) {
      out.back().Bottom = r.Bottom;
      continue;
    }
    out.push_back(r);
  }
  rects = std::move(out);
}

}  // namespace

bool T3DDrawer::PlanDirect(TDrawFilter* filter, TDrawItem* slide, TDirectPlan& plan) {
  plan = {};
  if (!DirectFilterDraws || !filter || !slide || !Effecter || !CanDraw()) return false;
  // Straight onto the frame only: a pass through another target keeps the
  // general way.
  if (Screen_->TargetStack()->Count() != 1 || Screen_->TargetOffset().X != 0 || Screen_->TargetOffset().Y != 0)
    return false;
  // The picture under a slide that leaves any of it open holds grey at alpha
  // 0: only a slide that paints all of it is the same drawn straight.
  if (!SlideCoversArea(slide)) return false;
  filter->TargetRect = GetVisibleRect();
  const TRect frame = Screen_->TargetRect();
  if (Empty(frame)) return false;
  // A filter that moves its slide may draw it past its rectangle, from any
  // part of the picture.
  if (filter->MovesSlides && frame != filter->TargetRect) return false;
  std::vector<TDirectBand> bands;
  if (!filter->DirectBands(bands)) return false;
  const auto cut = [&](TRect r) {
    r = {std::max(r.Left, frame.Left), std::max(r.Top, frame.Top), std::min(r.Right, frame.Right),
         std::min(r.Bottom, frame.Bottom)};
    return r;
  };
  std::int32_t y = frame.Top;
  bool opaque = false;
  const auto fullRows = [&](std::int32_t to) {
    if (to > y) {
      plan.Rest.push_back(cut({frame.Left, y, frame.Right, to}));
      plan.Under.push_back(cut({frame.Left, y, frame.Right, to}));
      plan.Parts.push_back(cut({frame.Left, y - 2, frame.Right, to + 2}));
    }
  };
  for (const TDirectBand& b : bands) {
    if (b.Top < y || b.Bottom <= b.Top) return false;  // not ascending
    fullRows(b.Top);
    y = b.Bottom;
    if (b.WholeLeft < b.WholeRight) {
      plan.Whole.push_back(cut({b.WholeLeft, b.Top, b.WholeRight, b.Bottom}));
      plan.Rest.push_back(cut({frame.Left, b.Top, b.WholeLeft, b.Bottom}));
      plan.Rest.push_back(cut({b.WholeRight, b.Top, frame.Right, b.Bottom}));
    } else {
      plan.Rest.push_back(cut({frame.Left, b.Top, frame.Right, b.Bottom}));
    }
    // The other slide outside what the filter shows whole or paints opaque.
    {
      TRect hide[2] = {{b.WholeLeft, 0, b.WholeRight, 0}, {b.OpaqueLeft, 0, b.OpaqueRight, 0}};
      if (hide[1].Left < hide[1].Right) opaque = true;
      if (hide[1].Left < hide[0].Left) std::swap(hide[0], hide[1]);
      std::int32_t x = frame.Left;
      for (const TRect& k : hide) {
        if (k.Left >= k.Right) continue;
        if (k.Left > x) plan.Under.push_back(cut({x, b.Top, k.Left, b.Bottom}));
        x = std::max(x, k.Right);
      }
      if (frame.Right > x) plan.Under.push_back(cut({x, b.Top, frame.Right, b.Bottom}));
    }
    // The picture is needed outside the intervals (and 2 pixels round).
    std::int32_t x = frame.Left;
    TRect skip[4] = {{b.WholeLeft, 0, b.WholeRight, 0}, {b.ClearLeft, 0, b.ClearRight, 0},
                     {b.Unread[0].Left, 0, b.Unread[0].Right, 0}, {b.Unread[1].Left, 0, b.Unread[1].Right, 0}};
    std::sort(std::begin(skip), std::end(skip), [](const TRect& l, const TRect& r) { return l.Left < r.Left; });
    for (const TRect& k : skip) {
      if (k.Left >= k.Right) continue;
      if (k.Left > x) plan.Parts.push_back(cut({x - 2, b.Top - 2, k.Left + 2, b.Bottom + 2}));
      x = std::max(x, k.Right);
    }
    if (frame.Right > x) plan.Parts.push_back(cut({x - 2, b.Top - 2, frame.Right, b.Bottom + 2}));
  }
  fullRows(frame.Bottom);
  JoinDirectRows(plan.Rest, frame.Left, frame.Right);
  JoinDirectRows(plan.Under, frame.Left, frame.Right);
  std::erase_if(plan.Whole, [](const TRect& r) { return Empty(r); });
  std::erase_if(plan.Parts, [](const TRect& r) { return Empty(r); });
  // Nothing shows whole nor hides the other slide: the general way draws as
  // much for fewer draws.
  if (plan.Whole.empty() && !opaque) return false;
  // The renderer must have the clip; asked once, turned off again.
  return Screen_->SetScissor(nullptr);
}

void T3DDrawer::DrawClipped(TDrawItem* slide, const std::vector<TRect>& rects) {
  if (!slide) return;
  try {
    for (const TRect& r : rects) {
      if (!Screen_->SetScissor(&r)) break;
      Draw(slide);
    }
  } catch (...) {
    Screen_->SetScissor(nullptr);
    throw;
  }
  Screen_->SetScissor(nullptr);
}

void T3DDrawer::DrawFilterSlide(TDrawItem* slide, TDrawFilter* filter, const TDirectPlan* plan) {
  if (!Effecter) return;
  // The picture is rendered only where the filter reads it, and not
  // cleared under a slide that paints all of it (with the replicated edge).
  TEffectPass pass;
  filter->TargetRect = GetVisibleRect();
  if (TRect reads; LimitFilterReads && filter->ReadBounds(reads)) pass.Reads = reads;
  pass.Covered = SlideCoversArea(slide);
  if (plan) {
    // Where the filter shows the slide whole it is drawn straight; the
    // picture is rendered for the rest alone.
    DrawClipped(slide, plan->Whole);
    pass.Parts = plan->Parts;
  }
  FilterSlide = slide;
  TEffController* controller = Effecter->RunEffect(
      filter->MovesSlides,
      [this](void*, TCustomD3DEffecter*, const TRect&) {
        SetFrameProjection();
        if (FilterSlide) Draw(FilterSlide);
      },
      nullptr, pass);
  FilterSlide = nullptr;
  SetPixelProjection();
  filter->TargetRect = GetVisibleRect();
  // The filter reaches the controller through the effecter.
  if (plan && controller) {
    try {
      for (const TRect& r : plan->Rest) {
        if (!Screen_->SetScissor(&r)) break;
        filter->Draw(Effecter.get());
      }
    } catch (...) {
      Screen_->SetScissor(nullptr);
      throw;
    }
    Screen_->SetScissor(nullptr);
  } else {
    filter->Draw(controller ? Effecter.get() : nullptr);
  }
  SetFrameProjection();
}

void T3DDrawer::MakeTransitionFilter(TOruFilter& p, TDrawItem* slideA, const TRect& visible) {
  p.FilterMade = true;
  if (CreateEffectFilterHook) p.Filter = CreateEffectFilterHook(FrameRect, p.Effect.get(), slideA, FixedFrameSizeSet);
  if (p.Filter) p.Filter->TargetRect = visible;
}

void T3DDrawer::PrepareTransition(TDrawItem* slideA, TFilterParams* params) {
  auto* p = dynamic_cast<TOruFilter*>(params);
  if (!p || !Screen_ || Empty(FrameRect)) return;
  // The loader thread may be preparing pictures on the same screen.
  TLockScope d(DrawingLock());
  if (!p->FilterMade) {
    MakeTransitionFilter(*p, slideA, GetVisibleRect());
    p->MadeAhead = true;
    p->MadeFor = FrameRect;
    p->MadeOwner = slideA;
  }
  TRef<TDrawFilter> filter = p->Filter;
  if (!filter) return;
  // Pools sized by the last frame: a new size frees these, as any others.
  TLockScope l(DrawerLock());
  if (Effecter)
    Effecter->PrepareTargets(filter->PassMode() == TFilterPassMode::SlideEffect || filter->MovesSlides);
}

bool T3DDrawer::MovesOutgoingSlide(TFilterParams* params) {
  auto* p = dynamic_cast<TOruFilter*>(params);
  return p && p->Filter && p->Filter->PassMode() == TFilterPassMode::Push;
}

void T3DDrawer::DrawTransition(TDrawItem* slideA, TDrawItem* slideB, TFilterParams* params) {
  if (ProbeStops(false)) return;
  auto* p = dynamic_cast<TOruFilter*>(params);
  if (!p) {
    if (slideA) Draw(slideA);
    return;
  }
  const TRect visible = GetVisibleRect();
  if (p->MadeAhead) {
    // Made between frames: kept when this frame is the one it was made for.
    p->MadeAhead = false;
    if (p->MadeFor != FrameRect || p->MadeOwner != slideA) {
      p->FilterMade = false;
      p->Filter = nullptr;
    } else if (p->Filter) {
      p->Filter->TargetRect = visible;
    }
  }
  if (!p->FilterMade) MakeTransitionFilter(*p, slideA, visible);
  TRef<TDrawFilter> filter = p->Filter;
  if (filter) filter->SetProgress(p->Progress);
  if (!filter || !(p->Progress >= 0.0f) || !(p->Progress < filter->EndValue()) || !Effecter || !CanDraw()) {
    if (slideB) Draw(slideB);
    return;
  }
  const TFilterPassMode mode = filter->PassMode();
  if (mode == TFilterPassMode::SlideEffect) {
    const bool flag = filter->SlideFlag();
    if (slideA) slideA->TransitionFlag = flag;
    if (slideB) slideB->TransitionFlag = flag;
    InTransition = true;
    Effecter->ReleasePictures();
    if (Effecter->Current()) Effecter->TogglePicture();
    // A into picture 0, B into picture 1.
    for (TDrawItem* slide : {slideA, slideB}) {
      FilterSlide = slide;
      Effecter->RenderPicture(
          [this](void*, TCustomD3DEffecter*, const TRect&) {
            SetFrameProjection();
            if (FilterSlide) Draw(FilterSlide);
          },
          nullptr);
      Effecter->TogglePicture();
    }
    FilterSlide = nullptr;
    InTransition = false;
    if (slideA) slideA->TransitionFlag = false;
    if (slideB) slideB->TransitionFlag = false;
    filter->SetSlideValue(filter->Value());
    filter->SetSlides(slideA, slideB);
    Screen_->Clear(0xFF000000u, false);
    filter->SetEffecter(Effecter.get());
    const TFloatPoint keep = DrawOffset;
    SetDrawOffset({float(visible.Left), float(visible.Top)});
    if (TDrawItem* own = filter->SlideDrawItem()) Draw(own);
    SetDrawOffset(keep);
    filter->FinishSlideEffect();
    Effecter->ReleasePictures();
    return;
  }
  Effecter->ReleasePictures();
  const float v = filter->Value();
  const auto E = [&](TDrawItem* slide) { DrawFilterSlide(slide, filter.get()); };
  const auto plain = [&](TDrawItem* slide) {
    if (slide) Draw(slide);
  };
  const bool firstHalf = v < 0.5f;
  // The background slide, then the filter's: the direct way where the
  // filter shows its slide whole somewhere.
  const auto PlainThenFilter = [&](TDrawItem* back, TDrawItem* front) {
    TFadePlan fade;
    bool faded = false;
    {
      // The pictures' textures stay while their pieces are drawn.
      TLockScope l(DrawerLock());
      if (back && front && PlanFade(filter.get(), back, front, fade)) {
        TRef<T3DRenderer> r(Screen_->Renderer());
        faded = r && r->BlendOverTextures(fade.Pieces, fade.Factor);
      }
    }
    if (faded) {
      if (!fade.Rest.Rest.empty()) {
        DrawClipped(back, fade.Rest.Under);
        DrawFilterSlide(front, filter.get(), &fade.Rest);
      }
      return;
    }
    TDirectPlan direct;
    if (back && PlanDirect(filter.get(), front, direct)) {
      DrawClipped(back, direct.Under);
      DrawFilterSlide(front, filter.get(), &direct);
      return;
    }
    plain(back);
    E(front);
  };
  if (filter->Reverse) {
    switch (mode) {
      case TFilterPassMode::Overturn: E(firstHalf ? slideB : slideA); break;
      case TFilterPassMode::TwoSlides:
        E(firstHalf ? slideA : slideB);
        E(firstHalf ? slideB : slideA);
        break;
      default:
        PlainThenFilter(slideB, slideA);
        break;
    }
  } else {
    switch (mode) {
      case TFilterPassMode::Overturn: E(firstHalf ? slideA : slideB); break;
      case TFilterPassMode::TwoSlides:
        E(firstHalf ? slideB : slideA);
        E(firstHalf ? slideA : slideB);
        break;
      case TFilterPassMode::Push: {
        const TFloatPoint keep = DrawOffset;
        SetDrawOffset(filter->PushOffset(visible));
        plain(slideA);
        SetDrawOffset(keep);
        E(slideB);
        break;
      }
      default:
        PlainThenFilter(slideA, slideB);
        break;
    }
  }
  // Back to the pool: its size may change before the next frame.
  Effecter->ReleasePictures();
}

}  // namespace oru
