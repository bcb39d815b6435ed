#include "OruLib2/OruViewer/OruDrawerHooks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruRootItem.h"
#include "OruLib2/OruClasses/OruSlide.h"
#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/3DBasics/Dev3DRTPool.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/zmHookScope.h"

namespace oru {

using zm::TDeviceDrawer;
using zm::TRef;

namespace {

// ---- Transition parameters ------------------------------------------------------------------

TRef<zm::TFilterParams> CreateSlideFilter(TOruEffect* effect, double duration) {
  // A slide without an effect and without a transition time has no
  // transition; with a time but no effect the outgoing slide stays on.
  if (!effect && !(duration > 0)) return nullptr;
  TRef<TOruFilter> f = zm::MakeRef<TOruFilter>();
  f->Effect = TRef<zm::TRefObject>(effect);
  return f;
}

// The drawer's filters run from 0 to 1 over the transition.
void SetSlideFilterProgress(zm::TFilterParams* params, double elapsed, double duration) {
  auto* f = dynamic_cast<TOruFilter*>(params);
  if (!f) return;
  double p;
  if (std::isnan(elapsed))
    p = 0;
  else if (!(duration > 0) || !std::isfinite(duration))
    p = elapsed >= 0 ? 1 : 0;
  else
    p = std::clamp(elapsed / duration, 0.0, 1.0);
  f->Progress = static_cast<float>(p);
}

// The filter made for a transition resets after each frame it drew in.
void ResetTransitionFilter(TOruFilter* params, TDeviceDrawer& drawer) {
  if (!params || !params->Filter) return;
  TDrawFilter* f = params->Filter.get();
  f->Reset(params->Progress);
  // The slide-based kind draws an item of its own inside the frame; it gets
  // its after-frame reset like every other item.
  if (zm::TDrawItem* own = f->SlideDrawItem()) own->Reset(drawer);
}

// ---- The background cross-fade's layer -------------------------------------------------------

// Begin, End and Blend come in that order for one slide; a slide drawn
// inside another's layer (a transition's picture) nests deeper. Entries are
// keyed by drawer and draw depth: a layer still listed at or below the
// depth of a new Begin, or above that of a Blend, was left by a draw that
// failed in between, and is let go (not returned to its pool, whose size
// may have changed since; a target that outlives its screen is cut loose).
struct TLayer {
  TDeviceDrawer* Drawer;
  std::int32_t Depth;
  TRef<zm::TRenderTargetTexture> Target;
};
std::mutex gLayersLock;
std::vector<TLayer> gLayers;

// Takes out the layers of Drawer from Depth on (deeper ones only when
// Deeper); the latest at exactly Depth goes to Found when asked.
void TakeLayers(TDeviceDrawer& drawer, std::int32_t depth, bool deeper, TRef<zm::TRenderTargetTexture>* found,
                std::vector<TLayer>& stale) {
  std::lock_guard<std::mutex> lock(gLayersLock);
  for (std::size_t i = gLayers.size(); i-- > 0;) {
    TLayer& l = gLayers[i];
    if (l.Drawer != &drawer || l.Depth < depth || (deeper && l.Depth == depth)) continue;
    if (found && !*found && l.Depth == depth)
      *found = std::move(l.Target);
    else
      stale.push_back(std::move(l));
    gLayers.erase(gLayers.begin() + static_cast<std::ptrdiff_t>(i));
    if (found && *found) break;
  }
}

bool LayerBegin(TDeviceDrawer& drawer) {
  auto* d = dynamic_cast<T3DDrawer*>(&drawer);
  if (!d) return false;
  std::vector<TLayer> stale;
  TakeLayers(drawer, drawer.DrawDepth, false, nullptr, stale);
  stale.clear();
  TRef<zm::TRenderTargetTexture> t = d->BeginRenderTarget();
  if (!t) return false;
  std::lock_guard<std::mutex> lock(gLayersLock);
  gLayers.push_back({&drawer, drawer.DrawDepth, std::move(t)});
  return true;
}

void LayerEnd(TDeviceDrawer& drawer) {
  if (auto* d = dynamic_cast<T3DDrawer*>(&drawer)) d->EndRenderTarget();
}

void LayerBlend(TDeviceDrawer& drawer, std::uint8_t alpha) {
  TRef<zm::TRenderTargetTexture> target;
  std::vector<TLayer> stale;
  TakeLayers(drawer, drawer.DrawDepth, true, nullptr, stale);
  TakeLayers(drawer, drawer.DrawDepth, false, &target, stale);
  stale.clear();
  if (auto* d = dynamic_cast<T3DDrawer*>(&drawer)) d->DrawRenderTarget(std::move(target), alpha);
}

void DropLayers() {
  std::vector<TLayer> left;
  std::lock_guard<std::mutex> lock(gLayersLock);
  left.swap(gLayers);
}

// ---- Colour tables ----------------------------------------------------------------------------

TRef<zm::TCustomColorGradeTexture> MakeGradeTexture(TDeviceDrawer& drawer, std::uint8_t kind) {
  auto* d = dynamic_cast<T3DDrawer*>(&drawer);
  if (!d || !d->Screen()) return nullptr;
  // The loader thread makes these too: a new texture joins the screen's
  // resources, which frames change.
  zm::TLockScope hold(zm::DrawingLock());
  return zm::MakeRef<zm::TCustomColorGradeTexture>(d->Screen(), kind);
}

zm::TCustomColorGradeTexture* SlideColourTable(TDeviceDrawer& drawer, TSlideBgPicture* picture) {
  if (!picture || !picture->ColourTable) return nullptr;
  auto* d = dynamic_cast<T3DDrawer*>(&drawer);
  if (!d || !d->Screen()) return nullptr;
  TRef<zm::TCustomColorGradeTexture>& t = picture->GradeTexture;
  // A texture of another screen (the device was made again) is made anew.
  if (t && (t->Screen() != d->Screen() || t->Source() != picture->ColourTable.get())) t = nullptr;
  if (!t) {
    // A table of another shape is drawn without grading.
    const zm::TSysBitmap* table = picture->ColourTable.get();
    if (table->Width() != zm::kGradeCubeSize || table->Height() != zm::kGradeCubeRows || table->BytesPerPixel() != 4)
      return nullptr;
    t = zm::MakeRef<zm::TCustomColorGradeTexture>(d->Screen(), zm::gkVolume);
    t->SetSource(picture->ColourTable.get(), false);
  }
  return t.get();
}

// ---- A slide's own slide-based effect ---------------------------------------------------------

// Slides are prepared on the loader thread while the engine draws: the
// area is the slide's own size, not the drawer's frame of the moment.
TRef<zm::TRefObject> MakeSlideEffectFilter(TOruSlide* slide, TDeviceDrawer& drawer) {
  if (!slide || !slide->Effect || !CreateEffectFilterHook) return nullptr;
  const auto side = [](float v) {
    return std::isfinite(v) ? static_cast<std::int32_t>(std::clamp(std::lround(v), 0L, 32768L)) : 0;
  };
  const zm::TRect rect{0, 0, side(slide->Width), side(slide->Height)};
  TRef<TDrawFilter> f = CreateEffectFilterHook(rect, slide->Effect.get(), slide, drawer.FixedFrameSizeSet);
  return TRef<zm::TRefObject>(f.get());
}

// ---- The hooks installed ----------------------------------------------------------------------

std::mutex gInstallLock;
int gInstalls = 0;
zm::THookInstall<std::atomic<TReadTransitionDefProc>> gReadHook;
zm::THookInstall<TSlideFilterHooks> gFilterHooks;
zm::THookInstall<TSlideLayerHooks> gLayerHooks;
zm::THookInstall<TSlideColourTableProc> gColourTableHook;
zm::THookInstall<TMakeGradeTextureProc> gGradeHook;
zm::THookInstall<TSlideEffectFilterProc> gEffectFilterHook;
zm::THookInstall<TResetTransitionFilterProc> gResetFilterHook;

}  // namespace

void InstallDrawerHooks() {
  std::lock_guard<std::mutex> lock(gInstallLock);
  if (gInstalls++ > 0) return;
  gReadHook.Keep(ReadTransitionDefHook);
  InstallTransitionDefReader<TOruEffect>();
  gFilterHooks.Install(SlideFilterHooks, {&CreateSlideFilter, &SetSlideFilterProgress});
  gLayerHooks.Install(SlideLayerHooks, {&LayerBegin, &LayerEnd, &LayerBlend});
  gColourTableHook.Install(SlideColourTableHook, &SlideColourTable);
  gGradeHook.Install(MakeGradeTextureHook, &MakeGradeTexture);
  gEffectFilterHook.Install(SlideEffectFilterHook, &MakeSlideEffectFilter);
  gResetFilterHook.Install(ResetTransitionFilterHook, &ResetTransitionFilter);
  // The view port's empty-content pattern is an editing aid: the player
  // leaves empty view ports empty.
}

void RemoveDrawerHooks() {
  std::lock_guard<std::mutex> lock(gInstallLock);
  if (gInstalls == 0 || --gInstalls > 0) return;
  gReadHook.Restore();
  gFilterHooks.Restore();
  gLayerHooks.Restore();
  gColourTableHook.Restore();
  gGradeHook.Restore();
  gEffectFilterHook.Restore();
  gResetFilterHook.Restore();
  DropLayers();
}

}  // namespace oru
