// The drawer's passes through render targets: Gaussian blur, sharpening,
// masking, the frame trail and the off-screen layer.
#include <algorithm>
#include <cmath>

#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "ZmLib/Graphics/zmImage.h"

namespace oru {

using namespace zm;

namespace {

void Constants(T3DScreen* screen, std::int32_t reg, std::initializer_list<T3DFloat4> values) {
  if (!screen->CanDraw()) return;
  TRef<T3DRenderer> r(screen->Renderer());
  r->SetShaderConstants(false, reg, std::span<const T3DFloat4>(values.begin(), values.size()));
}

// Texel centres: target pixel x of a 1:1 draw reads texel x.
TRectF Texels(float x0, float y0, float x1, float y1) { return {x0 + 0.5f, y0 + 0.5f, x1 + 0.5f, y1 + 0.5f}; }

}  // namespace

bool T3DDrawer::PushTarget(TRenderTargetTexture* target) {
  if (!target || !CanDraw()) return false;
  T3DTexture* t = target->Realize();
  if (!t) return false;
  const std::int32_t before = Screen_->TargetStack()->Count();
  Screen_->SetRenderTarget(t);
  return CanDraw() && Screen_->TargetStack()->Count() > before;
}

void T3DDrawer::DrawTargetQuad(std::span<TRenderTargetTexture* const> textures, std::span<const TRectF> rects,
                               const TRectF& dest, std::uint32_t colour, bool pointSampled) {
  if (!CanDraw() || textures.empty() || rects.size() < textures.size()) return;
  TScreenTexture* list[2] = {};
  bool keep[2] = {};
  const std::size_t n = std::min<std::size_t>(textures.size(), 2);
  for (std::size_t i = 0; i < n; ++i) {
    if (!textures[i]) return;
    textures[i]->Realize();
    list[i] = textures[i];
    keep[i] = textures[i]->PointSampling;
    textures[i]->PointSampling = pointSampled;
  }
  const TRectF& r0 = rects[0];
  const float ax = (dest.X1 - dest.X0) / (r0.X1 - r0.X0), ay = (dest.Y1 - dest.Y0) / (r0.Y1 - r0.Y0);
  Screen_->DrawTexturedQuad(std::span<TScreenTexture* const>(list, n), std::int32_t(n), {dest.X0, dest.Y0, 0},
                            {r0.X0, r0.Y0}, {ax, 0, 0}, {0, ay, 0}, rects.first(n), colour, colour, colour, colour);
  for (std::size_t i = 0; i < n; ++i) textures[i]->PointSampling = keep[i];
}

void T3DDrawer::DrawTargetOverSurface(TRenderTargetTexture* target, std::uint8_t alpha) {
  if (!target || alpha == 0) return;
  SetPixelProjection();
  const float w = float(Bounds.Right), h = float(Bounds.Bottom);
  const TRectF src = Texels(0, 0, w, h);
  TRenderTargetTexture* const list[1] = {target};
  DrawTargetQuad(list, std::span<const TRectF>(&src, 1), {0, 0, w, h}, std::uint32_t(alpha) << 24 | 0xFFFFFFu, true);
}

// ---- Gaussian blur ------------------------------------------------------------------------------------

void T3DDrawer::GaussianBlur(TDrawItem* item, float radius) {
  if (!CanDraw()) return;
  const T3DViewState saved = Screen_->SaveView();
  TRef<TRenderTargetTexture> a = TargetPool->Acquire(Screen_.get());
  if (!PushTarget(a.get())) {
    // No target: the item is drawn as it is.
    TRenderTargetTexture::FreeTarget(a);
    TDeviceDrawer::Draw(item);
    return;
  }
  Screen_->Clear(0, false);
  SetFrameProjection();
  TDeviceDrawer::Draw(item);
  Screen_->SetRenderTarget(nullptr);

  const float w = float(Bounds.Right), h = float(Bounds.Bottom);
  const float hw = float(Bounds.Right / 2), hh = float(Bounds.Bottom / 2);
  TRef<TRenderTargetTexture> b = HalfTargetPool->Acquire(Screen_.get());
  const float r = radius / 2;
  if (PushTarget(b.get())) {
    Screen_->Clear(0, false);
    SetPixelProjection();
    const TRectF src = Texels(0, 0, 2 * hw, 2 * hh);
    TRenderTargetTexture* const list[1] = {a.get()};
    DrawTargetQuad(list, std::span<const TRectF>(&src, 1), {0, 0, hw, hh}, 0xFFFFFFFFu, false);
    Screen_->SetRenderTarget(nullptr);

    // From half scale back to full: surface pixel x reads texel x / 2 + 0.25.
    const TRectF halfUp{0.25f, 0.25f, hw + 0.25f, hh + 0.25f};
    const std::vector<TBlurPass> plan = PlanBlurPasses(r);
    if (plan.empty()) {
      Screen_->RestoreView(saved);
      SetPixelProjection();
      PushShader(ShaderAt(shGaussMix));
      Constants(Screen_.get(), 0, {{(r - 0.00001f) / 0.99999f, 0, 0, 0}});
      TRenderTargetTexture* const both[2] = {a.get(), b.get()};
      const TRectF rects[2] = {Texels(0, 0, w, h), halfUp};
      DrawTargetQuad(both, rects, {0, 0, w, h}, 0xFFFFFFFFu, false);
      PopShader();
    } else {
      if (OnBlurPlan) OnBlurPlan(plan);
      TRef<TRenderTargetTexture> src = b;
      for (std::size_t i = 0; i < plan.size() && CanDraw(); ++i) {
        const TBlurPass& p = plan[i];
        const float s = p.Strength;
        const T3DFloat4 data1{0.065722f * s, 0.108356f * s, 0.17865f * s, (1 - s) + 0.294544f * s};
        const TSize ext = src->Extent();
        TRef<TRenderTargetTexture> across = HalfTargetPool->Acquire(Screen_.get());
        if (!PushTarget(across.get())) {
          TRenderTargetTexture::FreeTarget(across);
          break;
        }
        Screen_->Clear(0, false);
        SetPixelProjection();
        PushShader(ShaderAt(shGaussBlurH7));
        Constants(Screen_.get(), 0, {data1, {p.Step / float(ext.cx), p.Step / float(ext.cy), 0, 0}});
        const TRectF one = Texels(0, 0, hw, hh);
        TRenderTargetTexture* const l1[1] = {src.get()};
        DrawTargetQuad(l1, std::span<const TRectF>(&one, 1), {0, 0, hw, hh}, 0xFFFFFFFFu, true);
        PopShader();
        Screen_->SetRenderTarget(nullptr);

        const bool last = i + 1 == plan.size();
        TRef<TRenderTargetTexture> down;
        if (last) {
          Screen_->RestoreView(saved);
          SetPixelProjection();
        } else {
          down = HalfTargetPool->Acquire(Screen_.get());
          if (!PushTarget(down.get())) {
            TRenderTargetTexture::FreeTarget(down);
            TRenderTargetTexture::FreeTarget(across);
            break;
          }
          Screen_->Clear(0, false);
          SetPixelProjection();
        }
        PushShader(ShaderAt(shGaussBlurV7));
        const TSize ext2 = across->Extent();
        Constants(Screen_.get(), 0, {data1, {p.Step / float(ext2.cx), p.Step / float(ext2.cy), 0, 0}});
        TRenderTargetTexture* const l2[1] = {across.get()};
        if (last)
          DrawTargetQuad(l2, std::span<const TRectF>(&halfUp, 1), {0, 0, 2 * hw, 2 * hh}, 0xFFFFFFFFu, false);
        else
          DrawTargetQuad(l2, std::span<const TRectF>(&one, 1), {0, 0, hw, hh}, 0xFFFFFFFFu, true);
        PopShader();
        TRenderTargetTexture::FreeTarget(across);
        if (!last) {
          Screen_->SetRenderTarget(nullptr);
          if (src != b) TRenderTargetTexture::FreeTarget(src);
          src = std::move(down);
        }
      }
      if (src != b) TRenderTargetTexture::FreeTarget(src);
    }
  }
  TRenderTargetTexture::FreeTarget(b);
  TRenderTargetTexture::FreeTarget(a);
  Screen_->RestoreView(saved);
  SetFrameProjection();
  DrawnBounds = {};
}

// ---- Sharpen -------------------------------------------------------------------------------------------

void T3DDrawer::BeginSharpen() {
  if (ProbeStops(false)) return;
  if (SharpenTarget || !CanDraw() || ShaderLevel() < 2) return;
  SavedView = Screen_->SaveView();
  const TRect visible = GetVisibleRect();
  SharpenTarget = TargetPool->Acquire(Screen_.get());
  if (!PushTarget(SharpenTarget.get())) {
    TRenderTargetTexture::FreeTarget(SharpenTarget);
    return;
  }
  Screen_->Clear(0, false);
  Screen_->SetViewport(visible, 0, 1.0f);
  SetFrameProjection();
}

void T3DDrawer::EndSharpen(float amount) {
  if (ProbeStops(false)) return;
  if (!SharpenTarget) return;
  TRef<TRenderTargetTexture> target = std::move(SharpenTarget);
  SharpenTarget = nullptr;
  Screen_->SetRenderTarget(nullptr);
  Screen_->RestoreView(SavedView);
  if (CanDraw()) {
    const TSize ext = target->Extent();
    PushShader(ShaderAt(shUnsharp));
    Constants(Screen_.get(), 0,
              {{1.0f / float(std::max(1, ext.cx)), 1.0f / float(std::max(1, ext.cy)), 0, 0}, {0, 0, 0, 0},
               {amount / 100.0f, 0, 0, 0}});
    DrawTargetOverSurface(target.get(), 255);
    PopShader();
    SetFrameProjection();
  }
  TRenderTargetTexture::FreeTarget(target);
}

// ---- Trail -----------------------------------------------------------------------------------------------

void T3DDrawer::BeginTrail(float decay) {
  if (ProbeStops(false)) return;
  if (!(decay >= 0.000001f) || TrailTarget || !CanDraw() || ShaderLevel() < 2) return;
  TrailDecay = decay;
  TrailTarget = TargetPool->Acquire(Screen_.get());
  if (!PushTarget(TrailTarget.get())) {
    TRenderTargetTexture::FreeTarget(TrailTarget);
    return;
  }
  trailDepth_ = DrawDepth;
  Screen_->Clear(0, false);
  SetFrameProjection();
}

void T3DDrawer::AccumulateTrail() {
  if (!TrailTarget || !CanDraw()) return;
  const T3DViewState saved = Screen_->SaveView();
  TRef<TRenderTargetTexture> fresh = TargetPool->Acquire(Screen_.get());
  float t = 0.01f * TrailDecay;
  if (!TrailAccumulator) {
    TrailAccumulator = TargetPool->Acquire(Screen_.get());
    if (PushTarget(TrailAccumulator.get())) {
      Screen_->Clear(0, false);
      Screen_->SetRenderTarget(nullptr);
    }
    t = 1.0f;
  }
  if (!PushTarget(fresh.get())) {
    TRenderTargetTexture::FreeTarget(fresh);
    Screen_->RestoreView(saved);
    return;
  }
  Screen_->Clear(0, false);
  SetPixelProjection();
  PushShader(ShaderAt(shMotionBlur));
  Constants(Screen_.get(), 0, {{t, 0, 0, 0}});
  const float w = float(Bounds.Right), h = float(Bounds.Bottom);
  TRenderTargetTexture* const both[2] = {TrailAccumulator.get(), TrailTarget.get()};
  const TRectF rects[2] = {Texels(0, 0, w, h), Texels(0, 0, w, h)};
  DrawTargetQuad(both, rects, {0, 0, w, h}, 0xFFFFFFFFu, true);
  PopShader();
  Screen_->SetRenderTarget(nullptr);
  Screen_->RestoreView(saved);
  TRenderTargetTexture::FreeTarget(TrailAccumulator);
  TrailAccumulator = std::move(fresh);
}

void T3DDrawer::EndTrail() {
  if (ProbeStops(false)) return;
  if (!TrailTarget) return;
  Screen_->SetRenderTarget(nullptr);
  if (TrailAccumulator) DrawTargetOverSurface(TrailAccumulator.get(), 255);
  TRenderTargetTexture::FreeTarget(TrailTarget);
  SetFrameProjection();
}

// ---- Masking -----------------------------------------------------------------------------------------------

bool T3DDrawer::DrawMasked(TDrawItem* mask, TDrawItem* content) { return DrawMasked(mask, content, 100.0f, nullptr); }

bool T3DDrawer::DrawMasked(TDrawItem* mask, TDrawItem* content, float opacity, TImage* pattern) {
  if (ProbeStops(false)) return false;
  // Both passes are nested draws: they need the frame of an outer draw.
  if (!mask || !content || DrawDepth < 1 || !CanDraw() || ShaderLevel() == 0) return false;
  const T3DViewState saved = Screen_->SaveView();
  TRef<TRenderTargetTexture> a = TargetPool->Acquire(Screen_.get());
  if (!PushTarget(a.get())) {
    TRenderTargetTexture::FreeTarget(a);
    return false;
  }
  Screen_->Clear(0, false);
  const float w = float(Bounds.Right), h = float(Bounds.Bottom);
  if (pattern && !(pattern->Flags() & kDisposed) && pattern->Params.Width > 0 && pattern->Params.Height > 0) {
    SetPixelProjection();
    const TFloatPoint keep = DrawOffset;
    SetDrawOffset({});
    const float pw = float(pattern->Params.Width), ph = float(pattern->Params.Height);
    const TImageDrawParams params;
    for (float y = 0; y < h && CanDraw(); y += ph)
      for (float x = 0; x < w && CanDraw(); x += pw) DrawImage(pattern, {x, y}, params, {1, 0}, {0, 1});
    SetDrawOffset(keep);
  }
  SetFrameProjection();
  ++ContentDepth;
  Draw(content);
  --ContentDepth;
  Screen_->SetRenderTarget(nullptr);

  TRef<TRenderTargetTexture> b = TargetPool->Acquire(Screen_.get());
  if (PushTarget(b.get())) {
    Screen_->Clear(0xFF000000u, true);
    SetFrameProjection();
    ++MaskDepth;
    Draw(mask);
    --MaskDepth;
    Screen_->SetRenderTarget(nullptr);
    Screen_->RestoreView(saved);
    if (CanDraw()) {
      SetPixelProjection();
      TRef<T3DRenderer> r(Screen_->Renderer());
      r->SetBlendMode(bmSeparateAlpha);
      PushShader(ShaderAt(shPremul3));
      TRenderTargetTexture* const both[2] = {b.get(), a.get()};
      const TRectF rects[2] = {Texels(0, 0, w, h), Texels(0, 0, w, h)};
      DrawTargetQuad(both, rects, {0, 0, w, h}, std::uint32_t(std::nearbyint(std::clamp(opacity, 0.0f, 100.0f) * 2.55f))
                                                        << 24 |
                                                    0xFFFFFFu,
                     true);
      PopShader();
      r->SetBlendMode(bmNormal);
    }
  }
  TRenderTargetTexture::FreeTarget(b);
  Screen_->RestoreView(saved);
  SetFrameProjection();
  TRenderTargetTexture::FreeTarget(a);
  return true;
}

// ---- Off-screen layer ------------------------------------------------------------------------------------

TRef<TRenderTargetTexture> T3DDrawer::BeginRenderTarget() {
  if (ProbeStops(false)) return nullptr;
  if (!CanDraw() || !TargetPool) return nullptr;
  TRef<TRenderTargetTexture> t = TargetPool->Acquire(Screen_.get());
  if (!PushTarget(t.get())) {
    TRenderTargetTexture::FreeTarget(t);
    return nullptr;
  }
  Screen_->Clear(0, false);
  SetFrameProjection();
  Redirected = true;
  return t;
}

void T3DDrawer::EndRenderTarget() {
  if (ProbeStops(false)) return;
  if (!Redirected) return;
  Redirected = false;
  Screen_->SetRenderTarget(nullptr);
  SetFrameProjection();
}

void T3DDrawer::DrawRenderTarget(TRef<TRenderTargetTexture> target, std::uint8_t alpha) {
  if (ProbeStops(false)) return;
  if (!target) return;
  if (CanDraw()) {
    DrawTargetOverSurface(target.get(), alpha);
    SetFrameProjection();
  }
  TRenderTargetTexture::FreeTarget(target);
}

}  // namespace oru
