#include "OruLib2/3DEngine/D3DEffecter.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace oru {

using namespace zm;

namespace {

// Areas beyond this side get no pictures: a pool of that size would hold
// gigabytes.
constexpr std::int64_t kMaxAreaSide = 8192;

bool Empty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

TRect Intersect(const TRect& a, const TRect& b) {
  const TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                std::min(a.Bottom, b.Bottom)};
  return Empty(r) ? TRect{} : r;
}

std::uint32_t Grey(float level) {
  const float g = std::isnan(level) ? 0.0f : std::clamp(level, 0.0f, 255.0f);
  const std::uint32_t b = std::uint32_t(g);
  return 0xFF000000u | (b << 16) | (b << 8) | b;
}

}  // namespace

// ---- TD3DTriController ---------------------------------------------------------------------------

TRef<TEffTile> TD3DTriController::CreateTile(const TRect& rect, const TPoint& cell) {
  return MakeRef<TD3DTriTile>(this, rect, cell);
}

void TD3DTriController::GetArea(TRect& rect) { rect = Effecter ? Effecter->ClipRect() : TRect{}; }

// ---- TD3DTriTile ---------------------------------------------------------------------------------

TD3DTriTile::TD3DTriTile(TD3DTriController* controller, const TRect& rect, const TPoint& cell)
    : TEffTile(controller, rect, cell), Effecter(controller ? controller->Effecter : nullptr) {}

void TD3DTriTile::Dispose() {
  // A tile freed in the middle of a batch draws nothing of it.
  if (TVertexBuffer* b = std::exchange(Batch, nullptr)) b->ReleaseDeviceObjects();
  open_ = false;
  TEffTile::Dispose();
}

void TD3DTriTile::Begin(std::int32_t mode, bool shaded) {
  ZM_ASSERT(!open_, "TD3DTriTile.Begin - Batch already open");
  open_ = true;
  mode_ = mode == emTextured ? emTextured : emPlain;
  shaded_ = shaded;
  Batch = Effecter ? Effecter->BeginBatch(mode_, shaded) : nullptr;
}

void TD3DTriTile::End() {
  ZM_ASSERT(open_, "TD3DTriTile.End - no Batch");
  open_ = false;
  if (TVertexBuffer* b = std::exchange(Batch, nullptr); b && Effecter) Effecter->EndBatch(b);
}

void TD3DTriTile::Add(const TPoint3F (&pos)[3], const TPoint2F (&src)[3], const std::uint32_t (&col)[3],
                      bool textured) {
  if (!Batch || !Effecter) return;
  for (int k = 0; k < 3; ++k)
    if (!std::isfinite(pos[k].X) || !std::isfinite(pos[k].Y) || !std::isfinite(pos[k].Z) || !std::isfinite(src[k].X) ||
        !std::isfinite(src[k].Y))
      return;
  if (textured && mode_ == emTextured) {
    // Target pixels to texels of picture 0, at their centres. Flat corners
    // land where the device snaps them, on its 1/256 pixel grid: the texture
    // coordinates go with them there, so that every triangle reads the
    // texels at their centres, whatever the corners' fractions.
    const bool flat = pos[0].Z == 0 && pos[1].Z == 0 && pos[2].Z == 0;
    const TRect rr = Effecter->RenderedRect(0);
    TPoint2F uv[3];
    for (int k = 0; k < 3; ++k) {
      double x = src[k].X, y = src[k].Y;
      if (flat) {
        x += std::floor(double(pos[k].X) * 256.0 + 0.5) / 256.0 - double(pos[k].X);
        y += std::floor(double(pos[k].Y) * 256.0 + 0.5) / 256.0 - double(pos[k].Y);
      }
      uv[k] = {float(x - rr.Left + 0.5), float(y - rr.Top + 0.5)};
    }
    Batch->AddTriangle(pos[0], pos[1], pos[2], {&uv[0], 1}, {&uv[1], 1}, {&uv[2], 1}, col[0], col[1], col[2], 1);
    return;
  }
  if (mode_ == emPlain) {
    Batch->AddTriangle(pos[0], pos[1], pos[2], {}, {}, {}, col[0], col[1], col[2], 0);
    return;
  }
  // Untextured in a textured batch: drawn in turn through the plain buffer.
  Effecter->EndBatch(Batch);
  if (TVertexBuffer* plain = Effecter->BeginBatch(emPlain, false)) {
    plain->AddTriangle(pos[0], pos[1], pos[2], {}, {}, {}, col[0], col[1], col[2], 0);
    Effecter->EndBatch(plain);
  }
  Batch = Effecter->BeginBatch(emTextured, shaded_);
}

void TD3DTriTile::AddTriangle(const TEffTriangle& v) {
  if (!Batch || !Effecter) return;
  // Vertices on the area's left or top edge go 2 pixels further out, so
  // that the first column and row are covered whole.
  const TRect area = Effecter->Area();
  TPoint3F pos[3];
  TPoint2F src[3];
  std::uint32_t col[3];
  for (int k = 0; k < 3; ++k) {
    float x = v[std::size_t(k)].X, y = v[std::size_t(k)].Y;
    if (x == float(area.Left)) x -= 2;
    if (y == float(area.Top)) y -= 2;
    pos[k] = {x, y, 0};
    src[k] = {x, y};
    col[k] = CoverageColour(v[std::size_t(k)].C);
  }
  Add(pos, src, col, true);
}

void TD3DTriTile::AddColoredTriangle(const TEffTriangle& v, const TEffColors& colors) {
  TPoint3F pos[3];
  TPoint2F src[3];
  const std::uint32_t col[3] = {colors[0], colors[1], colors[2]};
  for (int k = 0; k < 3; ++k) {
    pos[k] = {v[std::size_t(k)].X, v[std::size_t(k)].Y, 0};
    src[k] = {pos[k].X, pos[k].Y};
  }
  Add(pos, src, col, false);
}

void TD3DTriTile::AddShadedTextureTriangle(const TEffTriangle& v, const TEffPoints2& p) {
  TPoint3F pos[3];
  TPoint2F src[3];
  std::uint32_t col[3];
  for (int k = 0; k < 3; ++k) {
    pos[k] = {p[std::size_t(k)].X, p[std::size_t(k)].Y, 0};
    src[k] = {v[std::size_t(k)].X, v[std::size_t(k)].Y};
    col[k] = Grey(v[std::size_t(k)].C);
  }
  Add(pos, src, col, true);
}

void TD3DTriTile::AddColoredPoints(const TEffPoints2& p, const TEffColors& colors) {
  TPoint3F pos[3];
  TPoint2F src[3];
  const std::uint32_t col[3] = {colors[0], colors[1], colors[2]};
  for (int k = 0; k < 3; ++k) {
    pos[k] = {p[std::size_t(k)].X, p[std::size_t(k)].Y, 0};
    src[k] = p[std::size_t(k)];
  }
  Add(pos, src, col, false);
}

void TD3DTriTile::AddShadedTriangle(const TEffTriangle& v, const TEffPoints3& p) {
  TPoint3F pos[3];
  TPoint2F src[3];
  std::uint32_t col[3];
  for (int k = 0; k < 3; ++k) {
    pos[k] = p[std::size_t(k)];
    src[k] = {v[std::size_t(k)].X, v[std::size_t(k)].Y};
    col[k] = Grey(v[std::size_t(k)].C);
  }
  Add(pos, src, col, true);
}

// ---- TCustomD3DEffecter --------------------------------------------------------------------------

TCustomD3DEffecter::TCustomD3DEffecter(T3DScreen* screen, TRenderTargetManager* targetPool)
    : screen_(screen), targetPool_(targetPool) {
  ZM_ASSERT(screen, "TCustomD3DEffecter - Screen not Assigned");
  rtManager_ = MakeRef<TRenderTargetManager>(true);
  for (auto& b : buffers_) b = MakeRef<TVertexBuffer>(screen);
  controller_ = MakeRef<TD3DTriController>(this);
}

void TCustomD3DEffecter::Dispose() {
  ReleasePictures();
  copySources_.clear();
  copyPlaces_.clear();
  copyDests_.clear();
  copyPicture_ = nullptr;
  copyTarget_ = nullptr;
  // The tiles first: one freed with an open batch still points at a buffer.
  if (TRef<TD3DTriController> c = std::move(controller_)) {
    // A filter still holding the controller finds no effecter behind it.
    c->SetGrid({}, 0, 0, {});
    c->Effecter = nullptr;
  }
  for (auto& b : buffers_) b = nullptr;
  rtManager_ = nullptr;
  TRefObject::Dispose();
}

void TCustomD3DEffecter::SetArea(const TRect& rect) {
  const std::int64_t w = std::int64_t(rect.Right) - rect.Left, h = std::int64_t(rect.Bottom) - rect.Top;
  const bool usable = w > 0 && h > 0 && w <= kMaxAreaSide && h <= kMaxAreaSide;
  const TSize size = usable ? TSize{std::int32_t(w), std::int32_t(h)} : TSize{};
  if (rtManager_) {
    // Pictures out of the own pool must go back before its size changes.
    for (auto& p : pictures_)
      if (p && p->Pool() == rtManager_.get()) TRenderTargetTexture::FreeTarget(p);
    rtManager_->SetPoolSize(size.cx, size.cy);
  }
  area_ = rect;
  for (auto& r : rendered_) r = {};
  if (!controller_) return;
  if (usable) {
    const float xs[2] = {float(rect.Left), float(rect.Right)}, ys[2] = {float(rect.Top), float(rect.Bottom)};
    controller_->SetGrid(xs, 1, 1, ys);
  } else {
    controller_->SetGrid({}, 0, 0, {});
  }
}

TRenderTargetTexture* TCustomD3DEffecter::GetPicture(std::int32_t index) const {
  ZM_ASSERT(index == 0 || index == 1, "TCustomD3DEffecter.GetPicture - Index out of bounds");
  return pictures_[index].get();
}

TRect TCustomD3DEffecter::RenderedRect(std::int32_t index) const {
  return index == 0 || index == 1 ? rendered_[index] : TRect{};
}

void TCustomD3DEffecter::ReleasePictures() {
  if (copyPicture_) FlushCopies();
  for (auto& p : pictures_) TRenderTargetTexture::FreeTarget(p);
  for (auto& r : rendered_) r = {};
}

void TCustomD3DEffecter::PrepareTargets(bool twoPictures) {
  if (!controller_ || pictures_[0] || pictures_[1] || !screen_->CanDraw()) return;
  if (twoPictures) {
    TRenderTargetManager* pool = targetPool_ ? targetPool_ : rtManager_.get();
    if (TakePicture(0, pool)) TakePicture(1, pool);
  } else {
    TakePicture(0, rtManager_.get());
  }
  if (!copyTarget_) copyTarget_ = MakeRef<TRenderTargetTexture>(screen_, true, TSize{kCopySide, kCopySide});
  copyTarget_->Realize();
  ReleasePictures();
}

bool TCustomD3DEffecter::TakePicture(std::int32_t index, TRenderTargetManager* pool) {
  TRef<TRenderTargetTexture>& slot = pictures_[index];
  if (slot) return slot->Realize() != nullptr;
  if (!pool || !screen_->CanDraw()) return false;
  slot = pool->Acquire(screen_);
  if (slot && slot->Size().cx > 0 && slot->Size().cy > 0 && slot->Realize()) return true;
  TRenderTargetTexture::FreeTarget(slot);
  return false;
}

bool TCustomD3DEffecter::RenderInto(std::int32_t index, std::uint32_t clearColour, std::int32_t margin,
                                    const TRenderSlideProc& renderSlide, void* data, const TEffectPass& pass) {
  TRenderTargetTexture* picture = pictures_[index].get();
  T3DTexture* dev = picture ? picture->Realize() : nullptr;
  if (!dev || !screen_->CanDraw()) return false;
  const TSize size = picture->Size();
  const TRect r = Intersect(area_, {0, 0, size.cx, size.cy});
  rendered_[index] = r;
  const T3DViewState saved = screen_->SaveView();
  const std::int32_t depth = screen_->TargetStack()->Count();
  screen_->SetRenderTarget(dev, r.Left, r.Top);
  if (screen_->TargetStack()->Count() <= std::max(depth, 1)) {
    // The target could not be set: nothing drawn into the frame by mistake.
    rendered_[index] = {};
    return false;
  }
  {
    // A pooled picture may be larger than the window. The filter pass reads
    // the rendered rectangle and the edge replicated next to it, 1:1, so
    // only that much is cleared there; the rest keeps what it held.
    TRef<T3DRenderer> renderer(screen_->Renderer());
    TRect used{0, 0, std::min(size.cx, r.Right - r.Left + margin), std::min(size.cy, r.Bottom - r.Top + margin)};
    bool whole = margin < 0 || Empty(r);
    if (!whole && !Empty(pass.Reads)) {
      // Only what the filter reads (and the taps next to it) is drawn.
      const TRect reads = Intersect({pass.Reads.Left - 2, pass.Reads.Top - 2, pass.Reads.Right + 2,
                                     pass.Reads.Bottom + 2},
                                    r);
      if (!Empty(reads)) {
        TRect part{reads.Left - r.Left, reads.Top - r.Top, reads.Right - r.Left, reads.Bottom - r.Top};
        // Where it reaches the rectangle's edge, the replicated margin too.
        if (reads.Right == r.Right) part.Right = used.Right;
        if (reads.Bottom == r.Bottom) part.Bottom = used.Bottom;
        used = part;
      }
    }
    // Nothing past it is read either: a pooled picture is drawn no further.
    if (!whole) screen_->SetViewport(used, 0.0f, 1.0f);
    // A slide that paints all of it opaque needs nothing under it.
    if (renderer && !(pass.Covered && !whole))
      renderer->Clear(whole ? std::span<const TRect>{} : std::span<const TRect>{&used, 1}, cfTarget, clearColour, 1.0f);
  }
  if (!Empty(r) && renderSlide) {
    try {
      bool clipped = false;
      for (const TRect& part : pass.Parts) {
        // Parts are in target pixels; the picture's corner is the area's.
        const TRect p{part.Left - r.Left, part.Top - r.Top, part.Right - r.Left, part.Bottom - r.Top};
        if (Empty(Intersect(p, {0, 0, size.cx, size.cy}))) continue;
        if (!screen_->SetScissor(&p)) {
          clipped = false;
          break;
        }
        clipped = true;
        renderSlide(data, this, clipRect_);
      }
      if (!pass.Parts.empty()) screen_->SetScissor(nullptr);
      // No clip to be had: the whole of it.
      if (!clipped) renderSlide(data, this, clipRect_);
    } catch (...) {
      screen_->SetScissor(nullptr);
      screen_->SetRenderTarget(nullptr);
      screen_->RestoreView(saved);
      throw;
    }
  }
  screen_->SetRenderTarget(nullptr);
  screen_->RestoreView(saved);
  return !Empty(r);
}

TEffController* TCustomD3DEffecter::RunEffect(bool twoPictures, const TRenderSlideProc& renderSlide, void* data,
                                              const TEffectPass& pass) {
  if (!controller_ || !screen_->CanDraw()) return nullptr;
  if (twoPictures) {
    TRenderTargetManager* pool = targetPool_ ? targetPool_ : rtManager_.get();
    if (!TakePicture(0, pool) || !TakePicture(1, pool)) return nullptr;
  } else if (!TakePicture(0, rtManager_.get())) {
    return nullptr;
  }
  // Grey under alpha 0 keeps bilinear fringes neutral with straight alpha;
  // a premultiplied picture must hold black there, or the grey is added.
  const bool premultiplied = pictures_[0]->Premultiplied;
  if (RenderInto(0, premultiplied ? 0u : 0x00808080u, kMaxReplication, renderSlide, data, pass)) {
    const TRect r = rendered_[0];
    ReplicateEdges(pictures_[0].get(), {0, 0, r.Right - r.Left, r.Bottom - r.Top}, false);
  }
  return controller_.get();
}

bool TCustomD3DEffecter::RenderPicture(const TRenderSlideProc& renderSlide, void* data) {
  const std::int32_t index = current_ ? 1 : 0;
  if (!pictures_[index] && !TakePicture(index, targetPool_ ? targetPool_ : rtManager_.get())) return false;
  if (!RenderInto(index, 0, -1, renderSlide, data)) return false;
  const TRect r = rendered_[index];
  ReplicateEdges(pictures_[index].get(), {0, 0, r.Right - r.Left, r.Bottom - r.Top}, true);
  return true;
}

// ---- Edge replication ----------------------------------------------------------------------------

void TCustomD3DEffecter::ReplicateEdges(TRenderTargetTexture* picture, const TRect& rect, bool full) {
  if (!picture || Empty(rect)) return;
  const TSize size = picture->Size();
  const std::int32_t right = rect.Right, bottom = rect.Bottom;
  // Columns: a block of n replicated columns is copied next to itself while
  // the doubled block still fits; the reduced form stops after one column.
  std::int32_t extraX = 0;
  const std::int32_t roomX = std::min(full ? kMaxReplication : 1, size.cx - right);
  for (std::int32_t n = 1; 2 * n - 1 <= roomX; n *= 2) {
    CopyInPicture(picture, {right - 1, rect.Top, right - 1 + n, bottom}, {right - 1 + n, rect.Top});
    FlushCopies();  // the next step reads what this one wrote
    extraX = 2 * n - 1;
  }
  const std::int32_t wideRight = right + extraX;
  const std::int32_t roomY = std::min(full ? kMaxReplication : 1, size.cy - bottom);
  for (std::int32_t n = 1; 2 * n - 1 <= roomY; n *= 2) {
    CopyInPicture(picture, {rect.Left, bottom - 1, wideRight, bottom - 1 + n}, {rect.Left, bottom - 1 + n});
    FlushCopies();
  }
}

void TCustomD3DEffecter::CopyInPicture(TRenderTargetTexture* picture, const TRect& source, const TPoint& dest) {
  if (!picture) return;
  const TSize size = picture->Size();
  const TRect whole{0, 0, size.cx, size.cy};
  // Clip the source, then the destination, keeping both the same size.
  TRect s = Intersect(source, whole);
  if (Empty(s)) return;
  TPoint d{dest.X + (s.Left - source.Left), dest.Y + (s.Top - source.Top)};
  const TRect dr = Intersect({d.X, d.Y, d.X + (s.Right - s.Left), d.Y + (s.Bottom - s.Top)}, whole);
  if (Empty(dr)) return;
  s = {s.Left + (dr.Left - d.X), s.Top + (dr.Top - d.Y), s.Left + (dr.Left - d.X) + (dr.Right - dr.Left),
       s.Top + (dr.Top - d.Y) + (dr.Bottom - dr.Top)};
  d = {dr.Left, dr.Top};
  if (copyPicture_ && copyPicture_ != picture) FlushCopies();
  if (!copyTarget_) {
    copyTarget_ = MakeRef<TRenderTargetTexture>(screen_, true, TSize{kCopySide, kCopySide});
  }
  if (!copyTarget_->Realize()) return;
  copyPicture_ = picture;
  for (std::int32_t y = s.Top; y < s.Bottom; y += kCopySide)
    for (std::int32_t x = s.Left; x < s.Right; x += kCopySide) {
      const std::int32_t pw = std::min(kCopySide, s.Right - x), ph = std::min(kCopySide, s.Bottom - y);
      // Shelves over the copy target: along a row, then a new row below.
      if (shelfX_ + pw > kCopySide) {
        shelfX_ = 0;
        shelfY_ += shelfH_;
        shelfH_ = 0;
      }
      if (shelfY_ + ph > kCopySide || std::int32_t(copyPlaces_.size()) >= kCopyBatch) {
        FlushCopies();
        copyPicture_ = picture;
      }
      copySources_.push_back({x, y, x + pw, y + ph});
      copyPlaces_.push_back({shelfX_, shelfY_, shelfX_ + pw, shelfY_ + ph});
      const std::int32_t dx = d.X + (x - s.Left), dy = d.Y + (y - s.Top);
      copyDests_.push_back({dx, dy, dx + pw, dy + ph});
      shelfX_ += pw;
      shelfH_ = std::max(shelfH_, ph);
      ++copyPieces_;
    }
}

void TCustomD3DEffecter::FlushCopies() {
  TRenderTargetTexture* picture = std::exchange(copyPicture_, nullptr);
  std::vector<TRect> sources = std::move(copySources_), places = std::move(copyPlaces_), dests = std::move(copyDests_);
  copySources_.clear();
  copyPlaces_.clear();
  copyDests_.clear();
  shelfX_ = shelfY_ = shelfH_ = 0;
  if (!picture || sources.empty() || !copyTarget_ || !screen_->CanDraw()) return;
  T3DTexture* pic = picture->Realize();
  T3DTexture* copy = copyTarget_->Realize();
  TRef<T3DRenderer> renderer(screen_->Renderer());
  if (!pic || !copy || !renderer) return;
  TRef<T3DSurface> ps = pic->GetSurface(0), cs = copy->GetSurface(0);
  if (!ps || !cs) return;
  ++copyFlushes_;
  // A copy within one surface must not overlap itself: out and back.
  if (renderer->StretchRects(ps.get(), sources, cs.get(), places))
    renderer->StretchRects(cs.get(), places, ps.get(), dests);
}

// ---- Batches -------------------------------------------------------------------------------------

TVertexBuffer* TCustomD3DEffecter::BeginBatch(std::int32_t mode, bool shaded) {
  if (!screen_->CanDraw()) return nullptr;
  if (mode == emTextured) {
    TRenderTargetTexture* picture = pictures_[0].get();
    if (!picture || !picture->Realize() || !buffers_[0]) return nullptr;
    TScreenTexture* textures[1] = {picture};
    buffers_[0]->ModulateColour = shaded;
    buffers_[0]->Begin(textures, 1);
    return buffers_[0].get();
  }
  if (!buffers_[1]) return nullptr;
  buffers_[1]->ModulateColour = shaded;
  buffers_[1]->Begin({}, 0);
  return buffers_[1].get();
}

void TCustomD3DEffecter::EndBatch(TVertexBuffer* batch) {
  if (!batch) return;
  batch->Flush();
  batch->ModulateColour = false;
}

}  // namespace oru
