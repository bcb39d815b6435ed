#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "Platform/PlatFrameClock.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace gfx = plat::gfx;

namespace {
void DefaultSleep(std::uint32_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

gfx::Rect ToGfx(const TRect& r) { return {r.Left, r.Top, r.Right, r.Bottom}; }

std::uint32_t FloatBits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

gfx::TextureAddress Address(std::uint8_t mode) {
  switch (mode) {
    case taClamp: return gfx::TextureAddress::Clamp;
    case taMirror: return gfx::TextureAddress::Mirror;
    default: return gfx::TextureAddress::Wrap;
  }
}

template <class E>
std::uint32_t U(E e) {
  return static_cast<std::uint32_t>(e);
}
}  // namespace

std::atomic<TPresentSleepProc> PresentSleepProc{&DefaultSleep};
std::atomic<std::int64_t> NextPresentDue3D{kNoPresentDue};

std::int64_t PresentClockUs() {
  if (!plat::TimeSourceIsSteady()) return std::int64_t(GetTimeMs()) * 1000;
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TPresentPace PresentPace(std::uint32_t refreshRate, std::int64_t nowUs, std::int64_t dueUs) {
  const std::int64_t period = 1000000 / std::int64_t(refreshRate ? refreshRate : 60);
  // The first present, or one after a long frame or a still spell: shown at
  // once, and the grid starts from it.
  if (dueUs == kNoPresentDue || nowUs - dueUs >= period / 2) return {0, nowUs + period};
  // A little late: shown at once, so that the next frame is not late too.
  if (nowUs >= dueUs) return {0, dueUs + period};
  // A clock that went back waits one period at most.
  const std::int64_t wait = std::min(dueUs - nowUs, period);
  return {wait, nowUs + wait + period};
}

T3DRenderer9::T3DRenderer9(TDrawDevice* device, T3DEngine9* engine) : T3DRenderer(device), engine_(engine) {}

void T3DRenderer9::Dispose() {
  // The base always runs, so a failure on the way never leaves the renderer
  // linked to its draw device.
  try {
    T3DLockScope g(Device3DLock());
    backBuffer_ = nullptr;
    renderTarget_ = nullptr;
    if (initData_) initData_->Renderer = nullptr;
    initData_ = nullptr;
    // Its own objects on the device go first: a release waits for the
    // device's last holder.
    swapChain_ = nullptr;
    stateBuffer_ = nullptr;
    if (TDevStore* store = store_) {
      store->RemoveRenderer(this);
      store_ = nullptr;
      if (fullScreen_) {
        TDrawDevice* device = store->DrawDevice();
        TRef<TRectangleWrapper> record = FindDeviceObject<TRectangleWrapper>(device);
        const TRect rect = record ? record->Rect : (device ? device->Bounds() : TRect{});
        LogRect(u"Dispose FullScreen, R= ", rect);
        TRef<TReleaseData> data = MakeRef<TReleaseData>();
        data->Device = gfx::Ref<gfx::Device>(store->Device());
        data->Window = device ? device->Window() : nullptr;
        data->Rect = rect;
        store->SetDevice(nullptr);
        if (!On3DUIThread()) LogLine(u"T3DRenderer9.Dispose: exclusive mode, not main thread");
        if (engine_) engine_->PostRelease(std::move(data));
      }
    }
    swapChain_ = nullptr;
    stateBuffer_ = nullptr;
  } catch (...) {
    engine_ = nullptr;
    T3DRenderer::Dispose();
    throw;
  }
  engine_ = nullptr;
  T3DRenderer::Dispose();
}

TDevStore* T3DRenderer9::Store() const {
  T3DLockScope g(Device3DLock());
  return store_;
}

gfx::Device* T3DRenderer9::D3DDevice() const {
  T3DLockScope g(Device3DLock());
  return store_ ? store_->Device() : nullptr;
}

gfx::Device* T3DRenderer9::Dev() {
  gfx::Device* d = store_ ? store_->Device() : nullptr;
  // A renderer whose device the UI thread has yet to make stays pending.
  if (!d && State() != rsCreationPending) SetState(rsDeviceLost);
  return d;
}

bool T3DRenderer9::Check(gfx::Result r) { return MapDxResult(*this, r) == drOk; }

void T3DRenderer9::DeviceLostCheck() {
  T3DLockScope g(Device3DLock());
  if (State() != rsDeviceLost || !store_) return;
  TDevStore* store = store_;
  TDrawDevice* device = store->DrawDevice();
  if (TRef<TRectangleWrapper> record = FindDeviceObject<TRectangleWrapper>(device))
    record->Flag = exclusive_ ? (engine_ && engine_->CheckDevice() ? 1 : 0) : 1;
  TRef<TRefObject> owned = ExtractDeviceObject(device, store);
  LogLine(u"T3DRenderer9: DEVICE LOST!");
  if (owned)
    owned = nullptr;  // the store goes and cuts everything off
  else
    store_ = nullptr;
}

void T3DRenderer9::UpdateBounds() {
  TDrawDevice* device = Device();
  if (!device) return;
  const TRect b = device->Bounds();
  if (TRef<TWinPanel> panel = FindDeviceObject<TWinPanel>(device)) panel->SetBounds(b);
  LogRect(u"Set DxPanel bounds: ", b);
}

bool T3DRenderer9::BeginScene() {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  TDrawDevice* device = store_->DrawDevice();
  if (device && Exclusive3DAllowed.load()) {
    const bool active = device->IsActive();
    if (!active && active_ && fullScreen_) {
      LoseTopmost();
    } else if (active && !active_ && fullScreen_) {
      active_ = true;
      TRef<TRefObject> owned = ExtractDeviceObject(device, store_);
      store_ = nullptr;
      owned = nullptr;
      SetState(rsDeviceLost);
      return false;
    }
    active_ = active;
  }
  if (usesSwapChain_ && !swapChain_) {
    SetState(rsDeviceLost);
    return false;
  }
  bool ok = Check(d->BeginScene());
  if (ok && renderTarget_ && renderTarget_->Surface()) ok = Check(d->SetRenderTarget(0, renderTarget_->Surface()));
  if (ok) ok = DoResetStates(d);
  DeviceLostCheck();
  return ok;
}

void T3DRenderer9::LoseTopmost() {
  TDrawDevice* device = store_ ? store_->DrawDevice() : nullptr;
  HWND w = device ? device->Window() : nullptr;
  if (!w) return;
  constexpr plat::UINT kFlags = plat::SWP_NOMOVE | plat::SWP_NOSIZE | plat::SWP_FRAMECHANGED;
  plat::SetWindowPos(w, plat::HWND_NOTOPMOST, 0, 0, 0, 0, kFlags);
  HWND fg = plat::GetForegroundWindow();
  if (fg && fg != w && !(plat::GetWindowLongW(fg, plat::GWL_EXSTYLE) & plat::WS_EX_TOPMOST)) {
    plat::SetWindowPos(fg, plat::HWND_TOPMOST, 0, 0, 0, 0, kFlags);
    plat::SetWindowPos(fg, plat::HWND_NOTOPMOST, 0, 0, 0, 0, kFlags);
  }
}

bool T3DRenderer9::EndScene() {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  const bool ok = Check(d->EndScene());
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::Present(const TRect& source, const TRect& dest) {
  {
    T3DLockScope g(Device3DLock());
    if (!Dev()) return false;
    if (usesSwapChain_ && !swapChain_) return false;
  }
  // A stepped clock moves only with frames: they come as fast as drawn.
  if (!plat::FrameStepMs()) {
    const TPresentPace pace =
        PresentPace(static_cast<std::uint32_t>(std::max(0, refreshRate_)), PresentClockUs(), NextPresentDue3D.load());
    NextPresentDue3D.store(pace.NextDueUs);
    PresentSleepProc.load()(static_cast<std::uint32_t>(pace.WaitUs));
  }

  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  const gfx::Rect s = ToGfx(source), t = ToGfx(dest);
  gfx::Result r;
  if (usesSwapChain_)
    r = exclusive_ ? swapChain_->Present(nullptr, nullptr, nullptr, nullptr, 0)
                   : swapChain_->Present(&s, &t, nullptr, nullptr, 0);
  else
    r = exclusive_ ? d->Present(nullptr, nullptr, nullptr, nullptr) : d->Present(&s, &t, nullptr, nullptr);
  const bool ok = Check(r);
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::Clear(std::span<const TRect> rects, std::uint32_t flags, std::uint32_t color, float depth) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  std::vector<gfx::Rect> r;
  r.reserve(rects.size());
  for (const TRect& x : rects) r.push_back(ToGfx(x));
  std::uint32_t f = 0;
  if (flags & cfTarget) f |= gfx::ClearTarget;
  // No depth surface is ever made.
  const bool ok = Check(d->Clear(static_cast<std::uint32_t>(r.size()), r.empty() ? nullptr : r.data(), f, color,
                                 depth, 0));
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::DoResetStates(gfx::Device* d) {
  using RS = gfx::RenderState;
  if (!Check(d->SetFVF(gfx::FvfXyz | gfx::FvfDiffuse))) return false;
  if (!Check(d->SetStreamSource(0, stateBuffer_.Get(), 0, 16))) return false;
  const std::pair<RS, std::uint32_t> states[] = {
      {RS::Lighting, 0},
      {RS::ShadeMode, U(gfx::ShadeMode::Gouraud)},
      {RS::FillMode, U(gfx::FillMode::Solid)},
      {RS::AlphaBlendEnable, 1},
      {RS::SrcBlend, U(gfx::Blend::SrcAlpha)},
      {RS::DestBlend, U(gfx::Blend::InvSrcAlpha)},
      {RS::SeparateAlphaBlendEnable, 0},
      {RS::BlendOp, U(gfx::BlendOp::Add)},
  };
  for (const auto& [s, v] : states)
    if (!Check(d->SetRenderState(s, v))) return false;
  return Check(d->DrawPrimitive(gfx::PrimitiveType::TriangleStrip, 0, 2));
}

bool T3DRenderer9::ResetStates() {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  const bool ok = DoResetStates(d);
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::SetRenderTarget(T3DSurface* surface) {
  T3DLockScope g(Device3DLock());
  auto* s = dynamic_cast<T3DSurface9*>(surface);
  ZM_ASSERT(!surface || s, "T3DRenderer9.SetRenderTarget - not a T3DSurface9");
  gfx::Device* d = Dev();
  if (!d) return false;
  const bool ok = Check(d->SetRenderTarget(0, s ? s->Surface() : nullptr));
  if (ok) renderTarget_ = TRef<T3DSurface9>(s);
  DeviceLostCheck();
  return ok;
}

TRef<T3DSurface> T3DRenderer9::GetRenderTarget() {
  T3DLockScope g(Device3DLock());
  return renderTarget_;
}

bool T3DRenderer9::GetBackBuffer(TRef<T3DSurface>& surface) {
  T3DLockScope g(Device3DLock());
  surface = nullptr;
  if (usesSwapChain_ && !swapChain_) return false;
  if (backBuffer_) {
    surface = backBuffer_;
    return true;
  }
  gfx::Device* d = Dev();
  if (!d) return false;
  gfx::Ref<gfx::Surface> s;
  const gfx::Result r =
      usesSwapChain_ ? swapChain_->GetBackBuffer(0, s) : d->GetBackBuffer(0, 0, gfx::BackBufferType::Mono, s);
  const bool ok = Check(r);
  if (ok) {
    backBuffer_ = MakeRef<T3DSurfaceRT>(s, this, nullptr);
    surface = backBuffer_;
  }
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::SetViewport(const TRect& rect, float minZ, float maxZ) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  gfx::Viewport v;
  v.x = static_cast<std::uint32_t>(std::max(0, rect.Left));
  v.y = static_cast<std::uint32_t>(std::max(0, rect.Top));
  v.width = static_cast<std::uint32_t>(std::max<std::int64_t>(0, std::int64_t(rect.Right) - rect.Left));
  v.height = static_cast<std::uint32_t>(std::max<std::int64_t>(0, std::int64_t(rect.Bottom) - rect.Top));
  v.minZ = minZ;
  v.maxZ = maxZ;
  const bool ok = Check(d->SetViewport(v));
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::DrawVertexList(T3DVertexList* list, std::span<TBaseTexture* const> textures,
                                  std::uint32_t flags) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  auto* l = dynamic_cast<T3DVertexList9*>(list);
  if (!l || !l->Buffer()) {
    MapDxResult(*this, gfx::Result::InvalidCall);
    return false;
  }
  ZM_ASSERT(l->Primitive() <= ptTriangleFan, "T3DRenderer9.DrawVertexList - bad primitive kind");
  using RS = gfx::RenderState;
  using SS = gfx::SamplerState;
  using TS = gfx::StageState;
  const std::uint32_t stages = static_cast<std::uint32_t>(std::min<std::size_t>(textures.size(), gfx::kMaxSamplers));
  auto run = [&]() -> bool {
    if (!Check(d->SetFVF(l->Fvf()))) return false;
    if (!Check(d->SetStreamSource(0, l->Buffer(), 0, l->Stride()))) return false;
    bool premultiplied = false;
    if (flags & dfTextured) {
      for (std::uint32_t i = 0; i < stages; ++i) {
        auto* t = dynamic_cast<T3DTexture9*>(textures[i]);
        if (!t || !t->Texture()) continue;
        if (!Check(d->SetTexture(i, t->Texture()))) return false;
        premultiplied = premultiplied || t->Premultiplied();
        std::uint8_t u = 0, v = 0;
        t->GetAddressing(u, v);
        const std::uint32_t filter =
            U(t->GetFilter() == tfLinear ? gfx::TextureFilter::Linear : gfx::TextureFilter::Point);
        if (!Check(d->SetSamplerState(i, SS::AddressU, U(Address(u))))) return false;
        if (!Check(d->SetSamplerState(i, SS::AddressV, U(Address(v))))) return false;
        if (!Check(d->SetSamplerState(i, SS::MinFilter, filter))) return false;
        if (!Check(d->SetSamplerState(i, SS::MagFilter, filter))) return false;
        if (anisotropy_ && t->Anisotropic() && t->GetFilter() == tfLinear) {
          if (!Check(d->SetSamplerState(i, SS::MaxAnisotropy, static_cast<std::uint32_t>(maxAnisotropy_))))
            return false;
          if (!Check(d->SetSamplerState(i, SS::MipFilter, U(gfx::TextureFilter::Linear)))) return false;
          if (!Check(d->SetSamplerState(i, SS::MinFilter, U(gfx::TextureFilter::Anisotropic)))) return false;
          if (lodBias_ && !Check(d->SetSamplerState(i, SS::MipLodBias, FloatBits(t->LodBias())))) return false;
        } else if (!Check(d->SetSamplerState(i, SS::MipFilter, U(gfx::TextureFilter::None)))) {
          return false;
        }
        if (flags & dfModulateColor) {
          if (!Check(d->SetTextureStageState(i, TS::ColorOp, U(gfx::TextureOp::Modulate)))) return false;
          if (!Check(d->SetTextureStageState(i, TS::ColorArg1, gfx::ArgTexture))) return false;
          if (!Check(d->SetTextureStageState(i, TS::ColorArg2, gfx::ArgCurrent))) return false;
        } else {
          if (!Check(d->SetTextureStageState(i, TS::ColorOp, U(gfx::TextureOp::SelectArg1)))) return false;
          if (!Check(d->SetTextureStageState(i, TS::ColorArg1, gfx::ArgTexture))) return false;
        }
        if (flags & dfModulateAlpha) {
          const bool target = (t->Kind() == tkTarget || t->Kind() == tkTargetAlpha) && !t->Premultiplied();
          const auto op = target ? gfx::TextureOp::SelectArg2 : gfx::TextureOp::Modulate;
          if (!Check(d->SetTextureStageState(i, TS::AlphaOp, U(op)))) return false;
          if (!Check(d->SetTextureStageState(i, TS::AlphaArg1, gfx::ArgTexture))) return false;
          if (!Check(d->SetTextureStageState(i, TS::AlphaArg2, gfx::ArgCurrent))) return false;
        } else {
          if (!Check(d->SetTextureStageState(i, TS::AlphaOp, U(gfx::TextureOp::SelectArg1)))) return false;
          if (!Check(d->SetTextureStageState(i, TS::AlphaArg1, gfx::ArgTexture))) return false;
        }
      }
    }
    if (!Check(d->SetRenderState(RS::Lighting, (flags & dfLighting) ? 1 : 0))) return false;
    if (flags & dfModulateColor) {
      if (!Check(d->SetRenderState(RS::ShadeMode, U(gfx::ShadeMode::Gouraud)))) return false;
      if (!Check(d->SetRenderState(RS::FillMode, U(gfx::FillMode::Solid)))) return false;
    }
    const std::pair<RS, std::uint32_t> base[] = {
        {RS::AlphaBlendEnable, 1},
        {RS::SrcBlend, U(gfx::Blend::SrcAlpha)},
        {RS::DestBlend, U(gfx::Blend::InvSrcAlpha)},
        {RS::SeparateAlphaBlendEnable, 0},
        {RS::BlendOp, U(gfx::BlendOp::Add)},
    };
    for (const auto& [s, v] : base)
      if (!Check(d->SetRenderState(s, v))) return false;
    auto separate = [&]() {
      return Check(d->SetRenderState(RS::SeparateAlphaBlendEnable, 1)) &&
             Check(d->SetRenderState(RS::SrcBlendAlpha, U(gfx::Blend::One))) &&
             Check(d->SetRenderState(RS::DestBlendAlpha, U(gfx::Blend::InvSrcAlpha))) &&
             Check(d->SetRenderState(RS::BlendOpAlpha, U(gfx::BlendOp::Add)));
    };
    switch (blendMode_.load()) {
      case bmMaximum:
        if (!Check(d->SetRenderState(RS::BlendOp, U(gfx::BlendOp::Max)))) return false;
        break;
      case bmSeparateAlpha:
        if (!separate()) return false;
        break;
      default:
        if (premultiplied) {
          if (!Check(d->SetRenderState(RS::SrcBlend, U(gfx::Blend::One)))) return false;
        } else if (renderTarget_ && renderTarget_->Texture() && renderTarget_->Texture()->Premultiplied()) {
          if (!separate()) return false;
        }
        break;
    }
    if (!Check(d->SetRenderState(RS::ZEnable, 0))) return false;
    if (!Check(d->DrawPrimitive(static_cast<gfx::PrimitiveType>(l->Primitive() + 1),
                                static_cast<std::uint32_t>(std::max(0, l->FirstVertex())),
                                static_cast<std::uint32_t>(std::max(0, l->PrimitiveCount())))))
      return false;
    if (flags & dfTextured)
      for (std::uint32_t i = 0; i < stages; ++i)
        if (!Check(d->SetTexture(i, nullptr))) return false;
    return true;
  };
  const bool ok = run();
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::SetTexture(std::int32_t stage, TBaseTexture* texture) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  if (stage < 0 || std::uint32_t(stage) >= gfx::kMaxSamplers) {
    MapDxResult(*this, gfx::Result::InvalidCall);
    return false;
  }
  const auto i = static_cast<std::uint32_t>(stage);
  using SS = gfx::SamplerState;
  const std::uint32_t linear = U(gfx::TextureFilter::Linear), clamp = U(gfx::TextureAddress::Clamp);
  bool ok;
  if (auto* v = dynamic_cast<TVolumeTexture9*>(texture)) {
    ok = Check(d->SetTexture(i, v->Texture())) && Check(d->SetSamplerState(i, SS::MinFilter, linear)) &&
         Check(d->SetSamplerState(i, SS::MagFilter, linear)) && Check(d->SetSamplerState(i, SS::AddressU, clamp)) &&
         Check(d->SetSamplerState(i, SS::AddressV, clamp)) && Check(d->SetSamplerState(i, SS::AddressW, clamp));
  } else if (auto* t = dynamic_cast<T3DTexture9*>(texture)) {
    ok = Check(d->SetTexture(i, t->Texture())) && Check(d->SetSamplerState(i, SS::MinFilter, linear)) &&
         Check(d->SetSamplerState(i, SS::MagFilter, linear)) && Check(d->SetSamplerState(i, SS::AddressU, clamp)) &&
         Check(d->SetSamplerState(i, SS::AddressV, clamp));
  } else {
    ok = Check(d->SetTexture(i, nullptr));
  }
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::StretchRects(T3DSurface* source, std::span<const TRect> sourceRects, T3DSurface* target,
                                std::span<const TRect> targetRects) {
  T3DLockScope g(Device3DLock());
  auto* s = dynamic_cast<T3DSurface9*>(source);
  auto* t = dynamic_cast<T3DSurface9*>(target);
  ZM_ASSERT(s && t, "T3DRenderer9.StretchRects - surfaces must be T3DSurface9");
  gfx::Device* d = Dev();
  if (!d) return false;
  bool ok = true;
  const std::size_t n = std::min(sourceRects.size(), targetRects.size());
  if (sourceRects.size() != targetRects.size()) ok = Check(gfx::Result::InvalidCall);
  for (std::size_t i = 0; ok && i < n; ++i) {
    const gfx::Rect a = ToGfx(sourceRects[i]), b = ToGfx(targetRects[i]);
    ok = Check(d->StretchRect(s->Surface(), &a, t->Surface(), &b, gfx::TextureFilter::None));
  }
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::BlendOverTextures(std::span<const TOverPiece> pieces, std::uint32_t factor) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  std::vector<gfx::Device::OverPiece> out;
  out.reserve(pieces.size());
  for (const TOverPiece& p : pieces) {
    auto* under = dynamic_cast<T3DTexture9*>(p.Under);
    auto* over = dynamic_cast<T3DTexture9*>(p.Over);
    if (!under || !over || !under->Texture() || !over->Texture()) return false;
    out.push_back({under->Texture(), p.UnderAt.X, p.UnderAt.Y, over->Texture(), p.OverAt.X, p.OverAt.Y, ToGfx(p.Dest)});
  }
  const bool ok = Check(d->BlendOverTextures(out, factor));
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::SetBlendMode(std::uint8_t mode) {
  blendMode_ = mode;
  return true;
}

bool T3DRenderer9::SetTransform(const T3DMatrix& matrix, std::uint8_t which) {
  ZM_ASSERT(which <= ttProjection, "T3DRenderer9.SetTransform - bad transform");
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  static constexpr gfx::TransformKind kKinds[] = {gfx::TransformKind::World, gfx::TransformKind::View,
                                                  gfx::TransformKind::Projection};
  gfx::Matrix m;
  std::memcpy(m.m, matrix.M, sizeof m.m);
  const bool ok = Check(d->SetTransform(kKinds[which], m));
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::SetCullNone(bool on) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  const bool ok = Check(d->SetRenderState(gfx::RenderState::CullMode, U(on ? gfx::Cull::None : gfx::Cull::Ccw)));
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::SetScissor(const TRect* rect) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  bool ok = true;
  if (rect) {
    // An empty or turned rectangle clips everything away.
    const gfx::Rect r{rect->Left, rect->Top, std::max(rect->Left, rect->Right), std::max(rect->Top, rect->Bottom)};
    ok = Check(d->SetScissorRect(r));
  }
  if (ok) ok = Check(d->SetRenderState(gfx::RenderState::ScissorTestEnable, rect ? 1u : 0u));
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::SetExclusion(const TRect* rect) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  bool ok;
  if (rect) {
    // An empty or turned rectangle leaves nothing out.
    const gfx::Rect r{rect->Left, rect->Top, std::max(rect->Left, rect->Right), std::max(rect->Top, rect->Bottom)};
    ok = Check(d->SetExclusionRect(&r));
  } else {
    ok = Check(d->SetExclusionRect(nullptr));
  }
  DeviceLostCheck();
  return ok;
}

void T3DRenderer9::GetPixelCenter(float& x, float& y) { x = y = 0.5f; }

bool T3DRenderer9::SetShader(T3DShader* shader) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  bool ok;
  if (!shader) {
    // nil unbinds both.
    ok = Check(d->SetPixelShader(nullptr));
    if (ok) ok = Check(d->SetVertexShader(nullptr));
  } else {
    auto* s9 = dynamic_cast<T3DShader9*>(shader);
    // The pixel shader when there is one, else the vertex shader (nil for an
    // object without one, which the device takes as unbinding it). Another
    // back end's object is refused as a bad argument.
    if (!s9)
      ok = Check(gfx::Result::InvalidCall);
    else if (s9->PixelShader())
      ok = Check(d->SetPixelShader(s9->PixelShader()));
    else
      ok = Check(d->SetVertexShader(s9->VertexShader()));
  }
  DeviceLostCheck();
  return ok;
}

bool T3DRenderer9::SetShaderConstants(bool vertex, std::int32_t firstRegister, std::span<const T3DFloat4> values) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return false;
  if (firstRegister < 0) return Check(gfx::Result::InvalidCall);
  const auto* data = reinterpret_cast<const float*>(values.data());
  const auto n = static_cast<std::uint32_t>(values.size());
  const auto first = static_cast<std::uint32_t>(firstRegister);
  const bool ok = Check(vertex ? d->SetVertexShaderConstantF(first, data, n) : d->SetPixelShaderConstantF(first, data, n));
  DeviceLostCheck();
  return ok;
}

// ---- Resource creation ------------------------------------------------------------------

TRef<T3DTexture> T3DRenderer9::CreateTexture(std::uint8_t kind, std::int32_t width, std::int32_t height,
                                             bool mipmapped) {
  ZM_ASSERT(kind <= tkColor565, "T3DRenderer9.CreateTexture - bad kind");
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return nullptr;
  if (width <= 0 || height <= 0) {
    Check(gfx::Result::InvalidCall);
    return nullptr;
  }
  static constexpr gfx::Format kFormats[] = {gfx::Format::A8R8G8B8, gfx::Format::X8R8G8B8, gfx::Format::A8R8G8B8,
                                             gfx::Format::L8, gfx::Format::R5G6B5};
  const bool target = kind == tkTarget || kind == tkTargetAlpha;
  const std::uint32_t levels = !target && mipmapped && anisotropy_ ? 0 : 1;
  TRef<T3DTexture9> t = MakeRef<T3DTexture9>(kind, this);
  const gfx::Result r = d->CreateTexture(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                                         levels, target ? std::uint32_t(gfx::UsageRenderTarget) : 0u, kFormats[kind],
                                         target ? gfx::Pool::Default : gfx::Pool::Managed, t->texture_);
  const bool ok = Check(r);
  if (ok) {
    t->store_ = store_;
    store_->AddResource(t.get());
  }
  DeviceLostCheck();
  return ok ? TRef<T3DTexture>(std::move(t)) : nullptr;
}

TRef<TVolumeTexture> T3DRenderer9::CreateVolumeTexture(std::int32_t width, std::int32_t height, std::int32_t depth) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return nullptr;
  if (width <= 0 || height <= 0 || depth <= 0) {
    Check(gfx::Result::InvalidCall);
    return nullptr;
  }
  TRef<TVolumeTexture9> t = MakeRef<TVolumeTexture9>();
  const bool ok = Check(d->CreateVolumeTexture(std::uint32_t(width), std::uint32_t(height), std::uint32_t(depth), 1,
                                               0, gfx::Format::A8R8G8B8, gfx::Pool::Managed, t->texture_));
  if (ok) {
    t->store_ = store_;
    store_->AddResource(t.get());
  }
  DeviceLostCheck();
  return ok ? TRef<TVolumeTexture>(std::move(t)) : nullptr;
}

TRef<T3DVertexList> T3DRenderer9::CreateVertexList(std::int32_t vertexCount, std::uint32_t components,
                                                   std::int32_t texCoordSets) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return nullptr;
  if (vertexCount <= 0 || texCoordSets < 0 || texCoordSets > 8) {
    Check(gfx::Result::InvalidCall);
    return nullptr;
  }
  TRef<T3DVertexList9> l = MakeRef<T3DVertexList9>();
  std::uint32_t fvf = gfx::FvfXyz, offset = 12;
  if (components & vcDiffuse) {
    fvf |= gfx::FvfDiffuse;
    l->hasDiffuse_ = true;
    l->diffuseOffset_ = offset;
    offset += 4;
  }
  if (components & vcSpecular) {
    fvf |= gfx::FvfSpecular;
    l->hasSpecular_ = true;
    l->specularOffset_ = offset;
    offset += 4;
  }
  if (components & vcNormal) {
    fvf |= gfx::FvfNormal;
    l->hasNormal_ = true;
    l->normalOffset_ = offset;
    offset += 12;
  }
  l->texOffset_ = offset;
  l->texCount_ = static_cast<std::uint32_t>(texCoordSets);
  fvf |= l->texCount_ * gfx::FvfTex1;
  offset += l->texCount_ * 8;
  l->fvf_ = fvf;
  l->stride_ = offset;
  const std::uint64_t bytes = std::uint64_t(offset) * std::uint64_t(vertexCount);
  gfx::Result r = bytes > 0xFFFFFFFFu ? gfx::Result::OutOfVideoMemory
                                      : d->CreateVertexBuffer(static_cast<std::uint32_t>(bytes), 0, fvf,
                                                              gfx::Pool::Managed, l->buffer_);
  const bool ok = Check(r);
  if (ok) {
    l->store_ = store_;
    store_->AddResource(l.get());
  }
  DeviceLostCheck();
  return ok ? TRef<T3DVertexList>(std::move(l)) : nullptr;
}

TRef<T3DShader> T3DRenderer9::CreateShader(const TByteString& code, bool vertex) {
  T3DLockScope g(Device3DLock());
  gfx::Device* d = Dev();
  if (!d) return nullptr;
  TRef<T3DShader9> s = MakeRef<T3DShader9>();
  s->code_ = ShaderTranslateHook ? ShaderTranslateHook(code, vertex) : code;
  s->vertex_ = vertex;
  if (s->code_.Length() < 4) {
    Check(gfx::Result::InvalidCall);
    return nullptr;
  }
  // The shader's own code follows its 4-byte count.
  const std::span<const std::uint8_t> body(s->code_.Data() + 4, std::size_t(s->code_.Length() - 4));
  gfx::Result r;
  if (vertex) {
    r = d->CreateVertexShader(body, s->vertexShader_);
  } else {
    r = d->CreatePixelShader(body, s->pixelShader_);
  }
  const bool ok = Check(r);
  if (ok) {
    s->store_ = store_;
    store_->AddResource(s.get());
  }
  DeviceLostCheck();
  return ok ? TRef<T3DShader>(std::move(s)) : nullptr;
}

}  // namespace zm
