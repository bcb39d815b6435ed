#include "Platform/Gfx/GfxDevice.h"

#include "Platform/Gfx/GfxPixels.h"

#include "Platform/Gfx/GfxCombine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "Platform/Gfx/GfxPipeline.h"
#include "Platform/Gfx/GfxPresent.h"
#include "Platform/Gfx/GfxShaderAbi.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "Platform/User/PlatUser.h"

namespace plat::gfx {

namespace {

// Clears and copies of at least this many bytes run over the workers,
// kClearBand rows a job.
constexpr std::size_t kParallelBytes = std::size_t{1} << 20;
constexpr int kClearBand = 32;

constexpr std::uint32_t kMaxSurfaceSize = 16384;
constexpr std::uint32_t kMaxVolumeSize = 256;
constexpr std::uint64_t kMaxBufferBytes = std::uint64_t{1} << 28;
constexpr std::uint32_t kMaxPrimitives = 1u << 24;

bool IsTextureFormat(Format f) {
  const PixelFormatInfo* info = FindPixelFormat(f);
  return info && info->texture;
}

bool CountsAgainstBudget(Pool pool) { return pool == Pool::Default || pool == Pool::Managed; }

FrameView ViewOf(const TSurfaceView& s) { return FrameView{s.bits, s.pitch, s.width, s.height, s.format}; }

bool RectInside(const Rect& r, std::uint32_t w, std::uint32_t h) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
         static_cast<std::uint32_t>(r.right) <= w && static_cast<std::uint32_t>(r.bottom) <= h;
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

std::uint64_t VertexCountFor(PrimitiveType type, std::uint64_t primitives) {
  switch (type) {
    case PrimitiveType::PointList: return primitives;
    case PrimitiveType::LineList: return primitives * 2;
    case PrimitiveType::LineStrip: return primitives + 1;
    case PrimitiveType::TriangleList: return primitives * 3;
    case PrimitiveType::TriangleStrip:
    case PrimitiveType::TriangleFan: return primitives + 2;
  }
  return 0;
}

}  // namespace

// ---- creation and life ---------------------------------------------------------------------------

Device::Device(System* system, std::uint32_t adapter, WindowId focus, std::uint32_t flags)
    : system_(system), adapter_(adapter), focus_(focus), flags_(flags), creatingThread_(std::this_thread::get_id()) {
  faultResult_.fill(Result::Ok);
  system->Register(this);
}

Device::~Device() { system_->Unregister(this); }

void Device::OnFinalRelease() {
  // Bindings go with the last caller reference; resources the callers still
  // hold keep the device's memory until they go too.
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (auto& t : textures_) t.Reset();
  pixelShader_.Reset();
  stream_.Reset();
  renderTarget_.Reset();
  implicitChain_.Reset();
}

bool Device::InScene() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return inScene_;
}

namespace {

// Calls that change neither pixels nor resources: the state a draw reads
// (compared by value at the draw), scenes, getters, and the vertex buffers'
// locks (the vertices are compared as bytes).
bool KeepsLastDraw(CallKind call) {
  switch (call) {
    case CallKind::TestCooperativeLevel:
    case CallKind::GetSwapChain:
    case CallKind::GetBackBuffer:
    case CallKind::GetRenderTarget:
    case CallKind::BeginScene:
    case CallKind::EndScene:
    case CallKind::SetViewport:
    case CallKind::SetRenderState:
    case CallKind::SetSamplerState:
    case CallKind::SetTextureStageState:
    case CallKind::SetTexture:
    case CallKind::SetTransform:
    case CallKind::SetFVF:
    case CallKind::SetStreamSource:
    case CallKind::SetPixelShaderConstantF:
    case CallKind::SetVertexShaderConstantF:
    case CallKind::SetPixelShader:
    case CallKind::SetVertexShader:
    case CallKind::SetScissorRect:
    case CallKind::SetExclusionRect:
    case CallKind::LockVertexBuffer:
    case CallKind::UnlockVertexBuffer:
    case CallKind::DrawPrimitive:
    case CallKind::DrawPrimitiveUP: return true;
    default: return false;
  }
}

// Vertices of larger draws are not kept to know a repeat.
constexpr std::uint64_t kMaxRepeatVertexBytes = 64 * 1024;

}  // namespace

Result Device::Enter(CallKind call, bool lossAnswers) {
  if (!KeepsLastDraw(call)) ++epoch_;
  const auto i = static_cast<std::size_t>(call);
  if (faultCount_[i] > 0) {
    --faultCount_[i];
    return faultResult_[i];
  }
  if (lossAnswers && Lost() && lossMode_ == LossMode::EveryCall) return Result::DeviceLost;
  return Result::Ok;
}

Result Device::Log(CallKind call, Result result, std::uint32_t a0, std::uint32_t a1, std::uint32_t a2) {
  if (recording_) calls_.push_back(CallRecord{call, a0, a1, a2, result});
  return result;
}

void Device::Track(Resource* r) {
  r->tracked_ = true;
  ++liveResources_;
  if (CountsAgainstBudget(r->pool_)) inUse_ += r->bytes_;
  if (r->blocksReset_) ++resetBlockers_;
}

void Device::Untrack(Resource* r) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  --liveResources_;
  if (CountsAgainstBudget(r->pool_)) inUse_ -= r->bytes_;
  if (r->blocksReset_) --resetBlockers_;
}

Result Device::Reserve(std::uint64_t bytes, Pool pool) {
  if (!CountsAgainstBudget(pool) || budget_ == 0) return Result::Ok;
  return inUse_ + bytes > budget_ ? Result::OutOfVideoMemory : Result::Ok;
}

std::int32_t Device::PitchFor(std::uint32_t width, Format format) const {
  std::uint32_t pitch = (width * BytesPerPixel(format) + 3u) & ~3u;
  if (system_->Config().padRowPitch) pitch += 64;
  return static_cast<std::int32_t>(pitch);
}

void Device::ResetState() {
  renderStates_.fill(0);
  auto rs = [&](RenderState s, std::uint32_t v) { renderStates_[static_cast<std::uint32_t>(s)] = v; };
  rs(RenderState::ZEnable, 0);
  rs(RenderState::FillMode, static_cast<std::uint32_t>(FillMode::Solid));
  rs(RenderState::ShadeMode, static_cast<std::uint32_t>(ShadeMode::Gouraud));
  rs(RenderState::ZWriteEnable, 1);
  rs(RenderState::SrcBlend, static_cast<std::uint32_t>(Blend::One));
  rs(RenderState::DestBlend, static_cast<std::uint32_t>(Blend::Zero));
  rs(RenderState::CullMode, static_cast<std::uint32_t>(Cull::Ccw));
  rs(RenderState::Lighting, 1);
  rs(RenderState::ColorWriteEnable, 0xF);
  rs(RenderState::BlendOp, static_cast<std::uint32_t>(BlendOp::Add));
  rs(RenderState::SrcBlendAlpha, static_cast<std::uint32_t>(Blend::One));
  rs(RenderState::DestBlendAlpha, static_cast<std::uint32_t>(Blend::Zero));
  rs(RenderState::BlendOpAlpha, static_cast<std::uint32_t>(BlendOp::Add));
  for (auto& s : samplerStates_) {
    s.fill(0);
    s[static_cast<std::uint32_t>(SamplerState::AddressU)] = static_cast<std::uint32_t>(TextureAddress::Wrap);
    s[static_cast<std::uint32_t>(SamplerState::AddressV)] = static_cast<std::uint32_t>(TextureAddress::Wrap);
    s[static_cast<std::uint32_t>(SamplerState::AddressW)] = static_cast<std::uint32_t>(TextureAddress::Wrap);
    s[static_cast<std::uint32_t>(SamplerState::MagFilter)] = static_cast<std::uint32_t>(TextureFilter::Point);
    s[static_cast<std::uint32_t>(SamplerState::MinFilter)] = static_cast<std::uint32_t>(TextureFilter::Point);
    s[static_cast<std::uint32_t>(SamplerState::MipFilter)] = static_cast<std::uint32_t>(TextureFilter::None);
    s[static_cast<std::uint32_t>(SamplerState::MaxAnisotropy)] = 1;
  }
  for (std::uint32_t i = 0; i < kMaxTextureStages; ++i) {
    StageStateTable& s = stageStates_[i];
    s.fill(0);
    const auto op = [](TextureOp o) { return static_cast<std::uint32_t>(o); };
    s[static_cast<std::uint32_t>(StageState::ColorOp)] = i == 0 ? op(TextureOp::Modulate) : op(TextureOp::Disable);
    s[static_cast<std::uint32_t>(StageState::ColorArg1)] = ArgTexture;
    s[static_cast<std::uint32_t>(StageState::ColorArg2)] = ArgCurrent;
    s[static_cast<std::uint32_t>(StageState::AlphaOp)] = i == 0 ? op(TextureOp::SelectArg1) : op(TextureOp::Disable);
    s[static_cast<std::uint32_t>(StageState::AlphaArg1)] = ArgTexture;
    s[static_cast<std::uint32_t>(StageState::AlphaArg2)] = ArgCurrent;
    s[static_cast<std::uint32_t>(StageState::TexCoordIndex)] = i;
    s[static_cast<std::uint32_t>(StageState::ColorArg0)] = ArgCurrent;
    s[static_cast<std::uint32_t>(StageState::AlphaArg0)] = ArgCurrent;
    s[static_cast<std::uint32_t>(StageState::ResultArg)] = ArgCurrent;
  }
  for (auto& t : textures_) t.Reset();
  world_ = view_ = projection_ = Matrix{};
  fvf_ = 0;
  stream_.Reset();
  streamOffset_ = streamStride_ = 0;
  pixelShader_.Reset();
  psConstants_.fill(0.0f);
  vsConstants_.fill(0.0f);
  inScene_ = false;
  SetTargetLocked(implicitChain_ ? implicitChain_->BackBuffer() : nullptr);
}

void Device::SetTargetLocked(Surface* surface) {
  renderTarget_.Set(surface);
  viewport_ = Viewport{};
  scissor_ = Rect{};
  exclusionOn_ = false;
  if (surface) {
    viewport_.width = surface->Desc().width;
    viewport_.height = surface->Desc().height;
    scissor_.right = static_cast<std::int32_t>(surface->Desc().width);
    scissor_.bottom = static_cast<std::int32_t>(surface->Desc().height);
  }
}

Result Device::ValidatePresentParameters(PresentParameters& pp, WindowId fallback) const {
  if (!pp.windowed) return Result::NotAvailable;
  if (pp.enableAutoDepthStencil || pp.multiSampleType != 0) return Result::InvalidCall;
  if (pp.backBufferCount == 0) pp.backBufferCount = 1;
  if (pp.backBufferCount > 3) return Result::InvalidCall;
  if (pp.swapEffect != SwapEffect::Copy && pp.swapEffect != SwapEffect::Discard && pp.swapEffect != SwapEffect::Flip)
    return Result::InvalidCall;
  if (pp.backBufferFormat == Format::Unknown) {
    DisplayMode mode;
    system_->AdapterDisplayMode(adapter_, mode);
    pp.backBufferFormat = mode.format;
  }
  if (!IsRenderTargetFormat(pp.backBufferFormat)) return Result::NotAvailable;
  const WindowId window = pp.deviceWindow ? pp.deviceWindow : fallback;
  if (pp.backBufferWidth == 0 || pp.backBufferHeight == 0) {
    // As documented: the client area of the device window.
    RECT client{};
    if (!window || !GetClientRect(window, &client)) return Result::InvalidCall;
    if (pp.backBufferWidth == 0) pp.backBufferWidth = static_cast<std::uint32_t>(std::max(1, client.right - client.left));
    if (pp.backBufferHeight == 0)
      pp.backBufferHeight = static_cast<std::uint32_t>(std::max(1, client.bottom - client.top));
  }
  if (pp.backBufferWidth > kMaxSurfaceSize || pp.backBufferHeight > kMaxSurfaceSize) return Result::InvalidCall;
  return Result::Ok;
}

Result Device::MakeSwapChain(const PresentParameters& pp, bool implicit, Ref<SwapChain>& out) {
  SurfaceDesc desc;
  desc.format = pp.backBufferFormat;
  desc.type = ResourceType::Surface;
  desc.usage = UsageRenderTarget;
  desc.pool = Pool::Default;
  desc.width = pp.backBufferWidth;
  desc.height = pp.backBufferHeight;
  const std::int32_t pitch = PitchFor(desc.width, desc.format);
  const std::uint64_t bytes = static_cast<std::uint64_t>(pitch) * desc.height;
  if (Result r = Reserve(bytes, Pool::Default); r != Result::Ok) return r;
  Ref<Surface> back;
  try {
    back = Ref<Surface>::Adopt(new Surface(this, SurfaceKind::BackBuffer, desc, pitch, nullptr));
  } catch (const std::bad_alloc&) {
    return Result::OutOfVideoMemory;
  }
  back->bytes_ = bytes;
  Track(back.Get());
  out = Ref<SwapChain>::Adopt(new SwapChain(this, pp, back.Get(), implicit));
  out->blocksReset_ = !implicit;
  Track(out.Get());
  return Result::Ok;
}

// ---- loss, reset, present -------------------------------------------------------------------------

Result Device::TestCooperativeLevel() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::TestCooperativeLevel, false); r != Result::Ok)
    return Log(CallKind::TestCooperativeLevel, r);
  Result r = Result::Ok;
  if (state_ == State::Lost) r = Result::DeviceLost;
  if (state_ == State::NotReset) r = Result::DeviceNotReset;
  return Log(CallKind::TestCooperativeLevel, r);
}

Result Device::Reset(PresentParameters& pp) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::Reset, false); r != Result::Ok) return Log(CallKind::Reset, r);
  if (std::this_thread::get_id() != creatingThread_) return Log(CallKind::Reset, Result::InvalidCall);
  if (state_ == State::Lost) return Log(CallKind::Reset, Result::DeviceLost);
  // Everything of the DEFAULT pool must be released first, as documented.
  if (resetBlockers_ > 0) return Log(CallKind::Reset, Result::InvalidCall);
  PresentParameters wanted = pp;
  Result r = ValidatePresentParameters(wanted, focus_);
  Ref<SwapChain> chain;
  if (r == Result::Ok) {
    // The old back buffer's memory is given back before the new one is counted.
    implicitChain_.Reset();
    renderTarget_.Reset();
    r = MakeSwapChain(wanted, true, chain);
  }
  if (r != Result::Ok) {
    state_ = State::NotReset;  // a failed reset leaves the device to be reset again
    return Log(CallKind::Reset, r);
  }
  pp = wanted;
  implicitChain_.Set(chain.Get());
  ResetState();
  state_ = State::Operational;
  lossMode_ = LossMode::PresentOnly;
  return Log(CallKind::Reset, Result::Ok);
}

Result Device::PresentChain(SwapChain& chain, const Rect* src, const Rect* dst, WindowId window) {
  Surface* back = chain.BackBuffer();
  if (!back) return Result::InvalidCall;
  const SurfaceDesc& d = back->Desc();
  const Rect s = src ? *src : Rect{0, 0, static_cast<std::int32_t>(d.width), static_cast<std::int32_t>(d.height)};
  if (!RectInside(s, d.width, d.height)) return Result::InvalidCall;
  if (!window) window = chain.pp_.deviceWindow ? chain.pp_.deviceWindow : focus_;
  Rect t{0, 0, s.right - s.left, s.bottom - s.top};
  if (dst) {
    t = *dst;
  } else if (window) {
    RECT client{};
    if (GetClientRect(window, &client) && client.right > 0 && client.bottom > 0)
      t = Rect{0, 0, client.right, client.bottom};
  }
  if (t.right <= t.left || t.bottom <= t.top || t.right - t.left > static_cast<std::int32_t>(kMaxSurfaceSize) ||
      t.bottom - t.top > static_cast<std::int32_t>(kMaxSurfaceSize))
    return Result::InvalidCall;
  PresentSink* sink = system_->Config().presentSink;
  if (!sink) sink = &WindowPresentSink();
  const FrameView frame = ViewOf(back->View());
  const int sw = s.right - s.left, sh = s.bottom - s.top, tw = t.right - t.left, th = t.bottom - t.top;
  // A window that cannot show the frame (hidden, gone) is not the device's failure.
  if (sw == tw && sh == th) {
    sink->Present(window, frame, s, t);
  } else {
    sink->PresentScaled(window, frame, s, t);
  }
  ++presents_;
  if (loseEveryN_ != 0 && presents_ % loseEveryN_ == 0) {
    state_ = State::Lost;
    lossMode_ = LossMode::PresentOnly;
    resetAllowed_ = false;
  }
  return Result::Ok;
}

Result Device::Present(const Rect* src, const Rect* dst, WindowId overrideWindow, const void*) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::Present, true); r != Result::Ok) return Log(CallKind::Present, r);
  if (inScene_) return Log(CallKind::Present, Result::InvalidCall);
  if (Lost()) return Log(CallKind::Present, Result::DeviceLost);
  if (!implicitChain_) return Log(CallKind::Present, Result::InvalidCall);
  return Log(CallKind::Present, PresentChain(*implicitChain_.Get(), src, dst, overrideWindow));
}

Result Device::GetSwapChain(std::uint32_t index, Ref<SwapChain>& swapChain) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  swapChain = nullptr;
  if (Result r = Enter(CallKind::GetSwapChain, true); r != Result::Ok) return Log(CallKind::GetSwapChain, r);
  if (index != 0 || !implicitChain_) return Log(CallKind::GetSwapChain, Result::InvalidCall, index);
  swapChain = Ref<SwapChain>(implicitChain_.Get());
  return Log(CallKind::GetSwapChain, Result::Ok, index);
}

Result Device::CreateAdditionalSwapChain(PresentParameters& pp, Ref<SwapChain>& swapChain) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  swapChain = nullptr;
  if (Result r = Enter(CallKind::CreateAdditionalSwapChain, true); r != Result::Ok)
    return Log(CallKind::CreateAdditionalSwapChain, r);
  PresentParameters wanted = pp;
  Result r = ValidatePresentParameters(wanted, focus_);
  if (r == Result::Ok) r = MakeSwapChain(wanted, false, swapChain);
  if (r == Result::Ok) pp = wanted;
  return Log(CallKind::CreateAdditionalSwapChain, r);
}

Result Device::GetBackBuffer(std::uint32_t swapChain, std::uint32_t index, BackBufferType type, Ref<Surface>& surface) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  surface = nullptr;
  if (Result r = Enter(CallKind::GetBackBuffer, true); r != Result::Ok) return Log(CallKind::GetBackBuffer, r);
  if (swapChain != 0 || type != BackBufferType::Mono || !implicitChain_ ||
      index >= implicitChain_->Parameters().backBufferCount)
    return Log(CallKind::GetBackBuffer, Result::InvalidCall, swapChain, index);
  surface = Ref<Surface>(implicitChain_->BackBuffer());
  return Log(CallKind::GetBackBuffer, Result::Ok, swapChain, index);
}

// ---- scene, targets, clear --------------------------------------------------------------------------

Result Device::BeginScene() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::BeginScene, true); r != Result::Ok) return Log(CallKind::BeginScene, r);
  if (inScene_) return Log(CallKind::BeginScene, Result::InvalidCall);
  inScene_ = true;
  return Log(CallKind::BeginScene, Result::Ok);
}

Result Device::EndScene() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::EndScene, true); r != Result::Ok) return Log(CallKind::EndScene, r);
  if (!inScene_) return Log(CallKind::EndScene, Result::InvalidCall);
  inScene_ = false;
  return Log(CallKind::EndScene, Result::Ok);
}

Result Device::SetRenderTarget(std::uint32_t index, Surface* surface) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetRenderTarget, true); r != Result::Ok) return Log(CallKind::SetRenderTarget, r);
  // One target only, and target 0 can never be empty.
  if (index != 0 || !surface || surface->OwnerDevice() != this || !surface->IsRenderTarget() ||
      surface->Desc().pool != Pool::Default)
    return Log(CallKind::SetRenderTarget, Result::InvalidCall, index);
  SetTargetLocked(surface);
  return Log(CallKind::SetRenderTarget, Result::Ok, index);
}

Result Device::GetRenderTarget(std::uint32_t index, Ref<Surface>& surface) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  surface = nullptr;
  if (Result r = Enter(CallKind::GetRenderTarget, false); r != Result::Ok) return Log(CallKind::GetRenderTarget, r);
  if (index != 0 || !renderTarget_) return Log(CallKind::GetRenderTarget, Result::InvalidCall, index);
  surface = Ref<Surface>(renderTarget_.Get());
  return Log(CallKind::GetRenderTarget, Result::Ok, index);
}

Result Device::SetViewport(const Viewport& vp) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetViewport, true); r != Result::Ok) return Log(CallKind::SetViewport, r);
  const Surface* t = renderTarget_.Get();
  const bool depthOk = vp.minZ >= 0.0f && vp.minZ <= 1.0f && vp.maxZ >= 0.0f && vp.maxZ <= 1.0f;  // NaN fails
  if (!t || vp.width == 0 || vp.height == 0 || !depthOk ||
      std::uint64_t{vp.x} + vp.width > t->Desc().width || std::uint64_t{vp.y} + vp.height > t->Desc().height)
    return Log(CallKind::SetViewport, Result::InvalidCall, vp.width, vp.height);
  viewport_ = vp;
  return Log(CallKind::SetViewport, Result::Ok, vp.width, vp.height);
}

Result Device::GetViewport(Viewport& vp) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  vp = viewport_;
  return Result::Ok;
}

Result Device::SetScissorRect(const Rect& rect) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetScissorRect, true); r != Result::Ok) return Log(CallKind::SetScissorRect, r);
  if (rect.right < rect.left || rect.bottom < rect.top)
    return Log(CallKind::SetScissorRect, Result::InvalidCall, static_cast<std::uint32_t>(rect.left),
               static_cast<std::uint32_t>(rect.top));
  scissor_ = rect;
  return Log(CallKind::SetScissorRect, Result::Ok, static_cast<std::uint32_t>(rect.left),
             static_cast<std::uint32_t>(rect.top));
}

Result Device::SetExclusionRect(const Rect* rect) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetExclusionRect, true); r != Result::Ok) return Log(CallKind::SetExclusionRect, r);
  if (rect && (rect->right < rect->left || rect->bottom < rect->top))
    return Log(CallKind::SetExclusionRect, Result::InvalidCall, static_cast<std::uint32_t>(rect->left),
               static_cast<std::uint32_t>(rect->top));
  exclusionOn_ = rect != nullptr;
  exclusion_ = rect ? *rect : Rect{};
  return Log(CallKind::SetExclusionRect, Result::Ok, rect ? 1u : 0u);
}

Result Device::GetScissorRect(Rect& rect) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  rect = scissor_;
  return Result::Ok;
}

Result Device::Clear(std::uint32_t count, const Rect* rects, std::uint32_t flags, std::uint32_t argb, float,
                     std::uint32_t) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::Clear, true); r != Result::Ok) return Log(CallKind::Clear, r);
  // No depth or stencil surface ever exists.
  if ((count != 0 && !rects) || (flags & ~std::uint32_t{ClearTarget | ClearZBuffer | ClearStencil}) ||
      (flags & (ClearZBuffer | ClearStencil)))
    return Log(CallKind::Clear, Result::InvalidCall, count, flags, argb);
  Surface* target = renderTarget_.Get();
  if (Lost() || !(flags & ClearTarget) || !target) return Log(CallKind::Clear, Result::Ok, count, flags, argb);
  const TSurfaceView v = target->View();
  Rect vp{static_cast<std::int32_t>(viewport_.x), static_cast<std::int32_t>(viewport_.y),
          static_cast<std::int32_t>(viewport_.x + viewport_.width),
          static_cast<std::int32_t>(viewport_.y + viewport_.height)};
  if (renderStates_[static_cast<std::uint32_t>(RenderState::ScissorTestEnable)] != 0)
    vp = {std::max(vp.left, scissor_.left), std::max(vp.top, scissor_.top), std::min(vp.right, scissor_.right),
          std::min(vp.bottom, scissor_.bottom)};
  const std::uint32_t bpp = BytesPerPixel(v.format);
  std::uint8_t pixel[4] = {};
  EncodePixel(v.format, pixel, argb);
  auto fill = [&](const Rect& r) {
    const int l = std::max(r.left, vp.left), t = std::max(r.top, vp.top);
    const int rr = std::min(r.right, vp.right), b = std::min(r.bottom, vp.bottom);
    if (l >= rr || t >= b) return;
    std::uint8_t* first = v.bits + static_cast<std::ptrdiff_t>(t) * v.pitch + static_cast<std::ptrdiff_t>(l) * bpp;
    for (int x = 0; x < rr - l; ++x) std::memcpy(first + static_cast<std::ptrdiff_t>(x) * bpp, pixel, bpp);
    const std::size_t rowBytes = static_cast<std::size_t>(rr - l) * bpp;
    std::uint32_t value32 = 0;
    std::memcpy(&value32, pixel, 4);
    const bool fill32 = bpp == 4 && reinterpret_cast<std::uintptr_t>(first) % 4 == 0 && v.pitch % 4 == 0;
    const auto rows = [&](int from, int to) {
      for (int y = from; y < to; ++y) {
        std::uint8_t* row = v.bits + static_cast<std::ptrdiff_t>(y) * v.pitch + static_cast<std::ptrdiff_t>(l) * bpp;
        if (fill32)
          FillPixels32(reinterpret_cast<std::uint32_t*>(row), value32, static_cast<std::size_t>(rr - l));
        else
          std::memcpy(row, first, rowBytes);
      }
    };
    // Whole frames are shared out over the workers in bands of rows.
    if (rowBytes * static_cast<std::size_t>(b - t) < kParallelBytes) {
      rows(t + 1, b);
      return;
    }
    const int bands = (b - t - 1 + kClearBand - 1) / kClearBand;
    GfxWorkers::Instance().Run(static_cast<std::uint32_t>(bands), [&](std::uint32_t i) {
      const int from = t + 1 + static_cast<int>(i) * kClearBand;
      rows(from, std::min(from + kClearBand, b));
    });
  };
  if (count == 0) fill(vp);
  for (std::uint32_t i = 0; i < count; ++i) fill(rects[i]);
  return Log(CallKind::Clear, Result::Ok, count, flags, argb);
}

// ---- state ------------------------------------------------------------------------------------------

Result Device::SetRenderState(RenderState state, std::uint32_t value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto id = static_cast<std::uint32_t>(state);
  if (Result r = Enter(CallKind::SetRenderState, true); r != Result::Ok)
    return Log(CallKind::SetRenderState, r, id, value);
  if (id == 0 || id >= kRenderStateCount) return Log(CallKind::SetRenderState, Result::InvalidCall, id, value);
  renderStates_[id] = value;
  return Log(CallKind::SetRenderState, Result::Ok, id, value);
}

Result Device::GetRenderState(RenderState state, std::uint32_t& value) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto id = static_cast<std::uint32_t>(state);
  if (id == 0 || id >= kRenderStateCount) return Result::InvalidCall;
  value = renderStates_[id];
  return Result::Ok;
}

Result Device::SetSamplerState(std::uint32_t sampler, SamplerState state, std::uint32_t value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto id = static_cast<std::uint32_t>(state);
  if (Result r = Enter(CallKind::SetSamplerState, true); r != Result::Ok)
    return Log(CallKind::SetSamplerState, r, sampler, id, value);
  if (sampler >= kMaxSamplers || id == 0 || id >= kSamplerStateCount)
    return Log(CallKind::SetSamplerState, Result::InvalidCall, sampler, id, value);
  samplerStates_[sampler][id] = value;
  return Log(CallKind::SetSamplerState, Result::Ok, sampler, id, value);
}

Result Device::GetSamplerState(std::uint32_t sampler, SamplerState state, std::uint32_t& value) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto id = static_cast<std::uint32_t>(state);
  if (sampler >= kMaxSamplers || id == 0 || id >= kSamplerStateCount) return Result::InvalidCall;
  value = samplerStates_[sampler][id];
  return Result::Ok;
}

Result Device::SetTextureStageState(std::uint32_t stage, StageState state, std::uint32_t value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto id = static_cast<std::uint32_t>(state);
  if (Result r = Enter(CallKind::SetTextureStageState, true); r != Result::Ok)
    return Log(CallKind::SetTextureStageState, r, stage, id, value);
  if (stage >= kMaxTextureStages || id == 0 || id >= kStageStateCount)
    return Log(CallKind::SetTextureStageState, Result::InvalidCall, stage, id, value);
  stageStates_[stage][id] = value;
  return Log(CallKind::SetTextureStageState, Result::Ok, stage, id, value);
}

Result Device::GetTextureStageState(std::uint32_t stage, StageState state, std::uint32_t& value) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto id = static_cast<std::uint32_t>(state);
  if (stage >= kMaxTextureStages || id == 0 || id >= kStageStateCount) return Result::InvalidCall;
  value = stageStates_[stage][id];
  return Result::Ok;
}

Result Device::SetTexture(std::uint32_t stage, BaseTexture* texture) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetTexture, true); r != Result::Ok) return Log(CallKind::SetTexture, r, stage);
  // A resource of another (perhaps dropped) device is a stale one.
  if (stage >= kMaxSamplers || (texture && texture->OwnerDevice() != this))
    return Log(CallKind::SetTexture, Result::InvalidCall, stage);
  textures_[stage].Set(texture);
  return Log(CallKind::SetTexture, Result::Ok, stage);
}

Result Device::GetTexture(std::uint32_t stage, Ref<BaseTexture>& texture) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  texture = nullptr;
  if (stage >= kMaxSamplers) return Result::InvalidCall;
  texture = Ref<BaseTexture>(textures_[stage].Get());
  return Result::Ok;
}

Result Device::SetTransform(TransformKind kind, const Matrix& m) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto id = static_cast<std::uint32_t>(kind);
  if (Result r = Enter(CallKind::SetTransform, true); r != Result::Ok) return Log(CallKind::SetTransform, r, id);
  switch (kind) {
    case TransformKind::World: world_ = m; break;
    case TransformKind::View: view_ = m; break;
    case TransformKind::Projection: projection_ = m; break;
    default: return Log(CallKind::SetTransform, Result::InvalidCall, id);
  }
  return Log(CallKind::SetTransform, Result::Ok, id);
}

Result Device::GetTransform(TransformKind kind, Matrix& m) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  switch (kind) {
    case TransformKind::World: m = world_; return Result::Ok;
    case TransformKind::View: m = view_; return Result::Ok;
    case TransformKind::Projection: m = projection_; return Result::Ok;
  }
  return Result::InvalidCall;
}

Result Device::SetFVF(std::uint32_t fvf) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetFVF, true); r != Result::Ok) return Log(CallKind::SetFVF, r, fvf);
  if (fvf != 0 && FvfStride(fvf) == 0) return Log(CallKind::SetFVF, Result::InvalidCall, fvf);
  fvf_ = fvf;
  return Log(CallKind::SetFVF, Result::Ok, fvf);
}

Result Device::GetFVF(std::uint32_t& fvf) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  fvf = fvf_;
  return Result::Ok;
}

Result Device::SetStreamSource(std::uint32_t stream, VertexBuffer* buffer, std::uint32_t offset, std::uint32_t stride) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetStreamSource, true); r != Result::Ok)
    return Log(CallKind::SetStreamSource, r, stream, offset, stride);
  if (stream != 0 || (buffer && (buffer->OwnerDevice() != this || offset > buffer->Size())))
    return Log(CallKind::SetStreamSource, Result::InvalidCall, stream, offset, stride);
  stream_.Set(buffer);
  streamOffset_ = buffer ? offset : 0;
  streamStride_ = buffer ? stride : 0;
  return Log(CallKind::SetStreamSource, Result::Ok, stream, offset, stride);
}

Result Device::GetStreamSource(std::uint32_t stream, Ref<VertexBuffer>& buffer, std::uint32_t& offset,
                               std::uint32_t& stride) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  buffer = nullptr;
  if (stream != 0) return Result::InvalidCall;
  buffer = Ref<VertexBuffer>(stream_.Get());
  offset = streamOffset_;
  stride = streamStride_;
  return Result::Ok;
}

Result Device::CreatePixelShader(std::span<const std::uint8_t> code, Ref<PixelShader>& shader) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  shader = nullptr;
  const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(code.size(), 0xFFFFFFFFu));
  if (Result r = Enter(CallKind::CreatePixelShader, true); r != Result::Ok)
    return Log(CallKind::CreatePixelShader, r, size);
  // The descriptor must name a registered shader and declare exactly its
  // samplers and constants, so random bytes and stale code fail cleanly.
  ShaderDescriptor desc;
  const ShaderInfo* info = nullptr;
  if (DecodeShaderDescriptor(code, desc) && desc.kind == ShaderKind::Pixel) info = FindPixelShader(desc.name);
  if (!info || info->samplers != desc.samplers || info->constants != desc.constants)
    return Log(CallKind::CreatePixelShader, Result::InvalidCall, size);
  Ref<PixelShader> made;
  try {
    made = Ref<PixelShader>::Adopt(new PixelShader(this, info));
  } catch (const std::bad_alloc&) {
    return Log(CallKind::CreatePixelShader, Result::OutOfMemory, size);
  }
  Track(made.Get());
  shader = std::move(made);
  return Log(CallKind::CreatePixelShader, Result::Ok, size);
}

Result Device::CreateVertexShader(std::span<const std::uint8_t> code, Ref<VertexShader>& shader) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  shader = nullptr;
  const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(code.size(), 0xFFFFFFFFu));
  if (Result r = Enter(CallKind::CreateVertexShader, true); r != Result::Ok)
    return Log(CallKind::CreateVertexShader, r, size);
  return Log(CallKind::CreateVertexShader, Result::InvalidCall, size);
}

Result Device::SetPixelShader(PixelShader* shader) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetPixelShader, true); r != Result::Ok) return Log(CallKind::SetPixelShader, r);
  if (shader && shader->OwnerDevice() != this) return Log(CallKind::SetPixelShader, Result::InvalidCall);
  pixelShader_.Set(shader);
  return Log(CallKind::SetPixelShader, Result::Ok, shader ? 1u : 0u);
}

Result Device::GetPixelShader(Ref<PixelShader>& shader) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  shader = Ref<PixelShader>(pixelShader_.Get());
  return Result::Ok;
}

Result Device::SetVertexShader(VertexShader* shader) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetVertexShader, true); r != Result::Ok) return Log(CallKind::SetVertexShader, r);
  // None can exist, so only nil is a valid argument.
  return Log(CallKind::SetVertexShader, shader ? Result::InvalidCall : Result::Ok);
}

Result Device::SetPixelShaderConstantF(std::uint32_t start, const float* data, std::uint32_t count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetPixelShaderConstantF, true); r != Result::Ok)
    return Log(CallKind::SetPixelShaderConstantF, r, start, count);
  if (!data || std::uint64_t{start} + count > kMaxShaderConstants)
    return Log(CallKind::SetPixelShaderConstantF, Result::InvalidCall, start, count);
  std::copy_n(data, std::size_t{count} * 4, psConstants_.begin() + std::ptrdiff_t{start} * 4);
  return Log(CallKind::SetPixelShaderConstantF, Result::Ok, start, count);
}

Result Device::GetPixelShaderConstantF(std::uint32_t start, float* data, std::uint32_t count) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!data || std::uint64_t{start} + count > kMaxShaderConstants) return Result::InvalidCall;
  std::copy_n(psConstants_.begin() + std::ptrdiff_t{start} * 4, std::size_t{count} * 4, data);
  return Result::Ok;
}

Result Device::SetVertexShaderConstantF(std::uint32_t start, const float* data, std::uint32_t count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::SetVertexShaderConstantF, true); r != Result::Ok)
    return Log(CallKind::SetVertexShaderConstantF, r, start, count);
  if (!data || std::uint64_t{start} + count > vsConstants_.size() / 4)
    return Log(CallKind::SetVertexShaderConstantF, Result::InvalidCall, start, count);
  std::copy_n(data, std::size_t{count} * 4, vsConstants_.begin() + std::ptrdiff_t{start} * 4);
  return Log(CallKind::SetVertexShaderConstantF, Result::Ok, start, count);
}

Result Device::GetVertexShaderConstantF(std::uint32_t start, float* data, std::uint32_t count) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!data || std::uint64_t{start} + count > vsConstants_.size() / 4) return Result::InvalidCall;
  std::copy_n(vsConstants_.begin() + std::ptrdiff_t{start} * 4, std::size_t{count} * 4, data);
  return Result::Ok;
}

// ---- drawing -------------------------------------------------------------------------------------------

Result Device::Draw(CallKind call, PrimitiveType type, std::uint32_t primitiveCount, const std::uint8_t* vertices,
                    std::uint64_t available, std::uint32_t stride) {
  const auto t = static_cast<std::uint32_t>(type);
  if (!inScene_ || primitiveCount == 0 || primitiveCount > kMaxPrimitives || t < 1 || t > 6)
    return Log(call, Result::InvalidCall, t, primitiveCount);
  const std::uint32_t need = FvfStride(fvf_);
  if (need == 0 || stride < need) return Log(call, Result::InvalidCall, t, primitiveCount);
  const std::uint64_t vertexCount = VertexCountFor(type, primitiveCount);
  if (vertexCount * stride > available) return Log(call, Result::InvalidCall, t, primitiveCount);
  Surface* target = renderTarget_.Get();
  if (Lost() || !target) return Log(call, Result::Ok, t, primitiveCount);

  TDrawCall dc;
  dc.primitiveType = type;
  dc.primitiveCount = primitiveCount;
  dc.vertices = vertices;
  dc.vertexStride = stride;
  dc.vertexCount = static_cast<std::uint32_t>(vertexCount);
  dc.fvf = fvf_;
  dc.target = target->View();
  dc.viewport = viewport_;
  dc.scissorTest = renderStates_[static_cast<std::uint32_t>(RenderState::ScissorTestEnable)] != 0;
  dc.scissor = scissor_;
  dc.exclusionTest = exclusionOn_;
  dc.exclusion = exclusion_;
  dc.world = world_;
  dc.view = view_;
  dc.projection = projection_;
  dc.renderStates = &renderStates_;
  dc.samplerStates = samplerStates_.data();
  dc.stageStates = stageStates_.data();
  for (std::uint32_t i = 0; i < kMaxSamplers; ++i)
    if (BaseTexture* tex = textures_[i].Get()) tex->FillView(dc.textures[i]);
  if (PixelShader* shader = pixelShader_.Get()) dc.pixelShader = &shader->Info();
  dc.pixelShaderConstants = psConstants_.data();
  // An exact repeat of a draw that changed nothing changes nothing again;
  // one that did is watched, to know whether this one does.
  const bool repeat = RepeatsLastDraw(dc, target);
  if (repeat && lastDraw_.keptTarget) {
    ++repeatsLeftOut_;
    return Log(call, Result::Ok, t, primitiveCount);
  }
  bool changed = true;
  if (repeat) dc.targetChanged = &changed;
  ++draws_;
  DrawPrimitives(dc);
  if (!repeat) RecordDraw(dc, target);
  lastDraw_.keptTarget = repeat && !changed;
  return Log(call, Result::Ok, t, primitiveCount);
}

bool Device::RepeatsLastDraw(const TDrawCall& dc, const Surface* target) const {
  const LastDraw& l = lastDraw_;
  if (!l.valid || l.epoch != epoch_ || target->locked_) return false;
  const std::size_t bytes = std::size_t{dc.vertexCount} * dc.vertexStride;
  if (l.type != dc.primitiveType || l.primitiveCount != dc.primitiveCount || l.stride != dc.vertexStride ||
      l.fvf != dc.fvf || l.target != target || l.vertices.size() != bytes || !(l.viewport == dc.viewport) ||
      l.scissorTest != dc.scissorTest || !(l.scissor == dc.scissor) || l.exclusionTest != dc.exclusionTest ||
      !(l.exclusion == dc.exclusion) || l.pixelShader != pixelShader_.Get())
    return false;
  if (std::memcmp(l.vertices.data(), dc.vertices, bytes) != 0) return false;
  for (std::uint32_t i = 0; i < kMaxSamplers; ++i) {
    const BaseTexture* bound = textures_[i].Get();
    if (l.textures[i] != bound) return false;
    if (const auto* t = dynamic_cast<const Texture*>(bound))
      for (const Surface* level : t->levels_)
        if (level && level->locked_) return false;
    if (const auto* v = dynamic_cast<const VolumeTexture*>(bound); v && v->locked_) return false;
  }
  return l.world == world_ && l.view == view_ && l.projection == projection_ && l.renderStates == renderStates_ &&
         l.samplerStates == samplerStates_ && l.stageStates == stageStates_ && l.psConstants == psConstants_;
}

void Device::RecordDraw(const TDrawCall& dc, const Surface* target) {
  LastDraw& l = lastDraw_;
  const std::uint64_t bytes = std::uint64_t{dc.vertexCount} * dc.vertexStride;
  l.valid = bytes <= kMaxRepeatVertexBytes;
  if (!l.valid) return;
  l.epoch = epoch_;
  l.type = dc.primitiveType;
  l.primitiveCount = dc.primitiveCount;
  l.stride = dc.vertexStride;
  l.fvf = dc.fvf;
  l.vertices.assign(dc.vertices, dc.vertices + bytes);
  l.target = target;
  l.viewport = dc.viewport;
  l.scissorTest = dc.scissorTest;
  l.scissor = dc.scissor;
  l.exclusionTest = dc.exclusionTest;
  l.exclusion = dc.exclusion;
  l.world = world_;
  l.view = view_;
  l.projection = projection_;
  l.renderStates = renderStates_;
  l.samplerStates = samplerStates_;
  l.stageStates = stageStates_;
  for (std::uint32_t i = 0; i < kMaxSamplers; ++i) l.textures[i] = textures_[i].Get();
  l.pixelShader = pixelShader_.Get();
  l.psConstants = psConstants_;
}

Result Device::DrawPrimitive(PrimitiveType type, std::uint32_t startVertex, std::uint32_t primitiveCount) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::DrawPrimitive, true); r != Result::Ok) return Log(CallKind::DrawPrimitive, r);
  VertexBuffer* vb = stream_.Get();
  if (!vb || streamStride_ == 0) return Log(CallKind::DrawPrimitive, Result::InvalidCall);
  const std::uint64_t first = std::uint64_t{streamOffset_} + std::uint64_t{startVertex} * streamStride_;
  if (first > vb->Size()) return Log(CallKind::DrawPrimitive, Result::InvalidCall);
  return Draw(CallKind::DrawPrimitive, type, primitiveCount, vb->Data() + first, vb->Size() - first, streamStride_);
}

Result Device::DrawPrimitiveUP(PrimitiveType type, std::uint32_t primitiveCount, const void* vertices,
                               std::uint32_t stride) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::DrawPrimitiveUP, true); r != Result::Ok) return Log(CallKind::DrawPrimitiveUP, r);
  if (!vertices || stride == 0) return Log(CallKind::DrawPrimitiveUP, Result::InvalidCall);
  const Result r = Draw(CallKind::DrawPrimitiveUP, type, primitiveCount, static_cast<const std::uint8_t*>(vertices),
                        VertexCountFor(type, primitiveCount) * stride, stride);
  if (r == Result::Ok) {
    stream_.Reset();
    streamOffset_ = streamStride_ = 0;
  }
  return r;
}

// ---- copies -----------------------------------------------------------------------------------------

Result Device::StretchRect(Surface* src, const Rect* srcRect, Surface* dst, const Rect* dstRect, TextureFilter filter) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::StretchRect, true); r != Result::Ok) return Log(CallKind::StretchRect, r);
  if (!src || !dst || src->OwnerDevice() != this || dst->OwnerDevice() != this ||
      src->Desc().pool != Pool::Default || dst->Desc().pool != Pool::Default)
    return Log(CallKind::StretchRect, Result::InvalidCall);
  if (filter != TextureFilter::None && filter != TextureFilter::Point && filter != TextureFilter::Linear)
    return Log(CallKind::StretchRect, Result::InvalidCall);
  const SurfaceDesc& sd = src->Desc();
  const SurfaceDesc& dd = dst->Desc();
  const bool bothTargets = IsRenderTargetFormat(sd.format) && IsRenderTargetFormat(dd.format);
  if (sd.format != dd.format && !bothTargets) return Log(CallKind::StretchRect, Result::InvalidCall);
  const Rect s = srcRect ? *srcRect
                         : Rect{0, 0, static_cast<std::int32_t>(sd.width), static_cast<std::int32_t>(sd.height)};
  const Rect d = dstRect ? *dstRect
                         : Rect{0, 0, static_cast<std::int32_t>(dd.width), static_cast<std::int32_t>(dd.height)};
  if (!RectInside(s, sd.width, sd.height) || !RectInside(d, dd.width, dd.height))
    return Log(CallKind::StretchRect, Result::InvalidCall);
  // Never onto itself: a copy within one surface must not overlap.
  if (src == dst && Overlap(s, d)) return Log(CallKind::StretchRect, Result::InvalidCall);
  if (Lost()) return Log(CallKind::StretchRect, Result::Ok);

  const TSurfaceView sv = src->View(), dv = dst->View();
  const FrameView sf = ViewOf(sv);
  const int sw = s.right - s.left, sh = s.bottom - s.top, dw = d.right - d.left, dh = d.bottom - d.top;
  const std::uint32_t dbpp = BytesPerPixel(dd.format);
  if (sw == dw && sh == dh && sd.format == dd.format) {
    const std::size_t rowBytes = static_cast<std::size_t>(sw) * dbpp;
    const auto rows = [&](int from, int to) {
      for (int y = from; y < to; ++y)
        std::memmove(dv.bits + static_cast<std::ptrdiff_t>(d.top + y) * dv.pitch + std::ptrdiff_t{d.left} * dbpp,
                     sv.bits + static_cast<std::ptrdiff_t>(s.top + y) * sv.pitch + std::ptrdiff_t{s.left} * dbpp,
                     rowBytes);
    };
    // The rectangles do not overlap (see above), so the rows may be copied
    // in any order: large copies are shared out like clears.
    if (rowBytes * static_cast<std::size_t>(sh) < kParallelBytes) {
      rows(0, sh);
    } else {
      GfxWorkers::Instance().Run(static_cast<std::uint32_t>((sh + kClearBand - 1) / kClearBand), [&](std::uint32_t i) {
        const int from = static_cast<int>(i) * kClearBand;
        rows(from, std::min(from + kClearBand, sh));
      });
    }
    return Log(CallKind::StretchRect, Result::Ok);
  }
  const bool linear = filter == TextureFilter::Linear && (sw != dw || sh != dh);
  for (int y = 0; y < dh; ++y) {
    std::uint8_t* row = dv.bits + static_cast<std::ptrdiff_t>(d.top + y) * dv.pitch;
    for (int x = 0; x < dw; ++x) {
      std::uint32_t argb;
      if (!linear) {
        const auto sx = static_cast<std::uint32_t>(s.left + (std::int64_t{x} * 2 + 1) * sw / (2 * dw));
        const auto sy = static_cast<std::uint32_t>(s.top + (std::int64_t{y} * 2 + 1) * sh / (2 * dh));
        argb = ReadPixelArgb(sf, sx, sy);
      } else {
        // Bilinear between texel centres, clamped to the source rectangle.
        const float fx = std::clamp((x + 0.5f) * sw / dw - 0.5f, 0.0f, static_cast<float>(sw - 1));
        const float fy = std::clamp((y + 0.5f) * sh / dh - 0.5f, 0.0f, static_cast<float>(sh - 1));
        const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
        const int x1 = std::min(x0 + 1, sw - 1), y1 = std::min(y0 + 1, sh - 1);
        const float ax = fx - x0, ay = fy - y0;
        const std::uint32_t p00 = ReadPixelArgb(sf, s.left + x0, s.top + y0), p10 = ReadPixelArgb(sf, s.left + x1, s.top + y0);
        const std::uint32_t p01 = ReadPixelArgb(sf, s.left + x0, s.top + y1), p11 = ReadPixelArgb(sf, s.left + x1, s.top + y1);
        argb = 0;
        for (int shift = 0; shift < 32; shift += 8) {
          auto c = [shift](std::uint32_t p) { return static_cast<float>((p >> shift) & 0xFF); };
          const float top = c(p00) + (c(p10) - c(p00)) * ax, bottom = c(p01) + (c(p11) - c(p01)) * ax;
          const float v = top + (bottom - top) * ay;
          argb |= static_cast<std::uint32_t>(std::clamp(static_cast<int>(v + 0.5f), 0, 255)) << shift;
        }
      }
      EncodePixel(dd.format, row + static_cast<std::ptrdiff_t>(d.left + x) * dbpp, argb);
    }
  }
  return Log(CallKind::StretchRect, Result::Ok);
}

Result Device::BlendOverTextures(std::span<const OverPiece> pieces, std::uint32_t factor) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::BlendOverTextures, true); r != Result::Ok)
    return Log(CallKind::BlendOverTextures, r);
  Surface* target = renderTarget_.Get();
  if (!target || !IsRenderTargetFormat(target->Desc().format))
    return Log(CallKind::BlendOverTextures, Result::InvalidCall);
  const auto readable = [this](Texture* t, std::int32_t dx, std::int32_t dy, const Rect& d) {
    if (!t || t->OwnerDevice() != this || !t->Level(0)) return false;
    const SurfaceDesc& desc = t->Level(0)->Desc();
    if (!IsRenderTargetFormat(desc.format)) return false;
    const std::int64_t l = std::int64_t(d.left) - dx, r = std::int64_t(d.right) - dx;
    const std::int64_t top = std::int64_t(d.top) - dy, b = std::int64_t(d.bottom) - dy;
    return l >= 0 && top >= 0 && r <= std::int64_t(desc.width) && b <= std::int64_t(desc.height);
  };
  for (const OverPiece& p : pieces) {
    if (p.dest.right < p.dest.left || p.dest.bottom < p.dest.top) return Log(CallKind::BlendOverTextures, Result::InvalidCall);
    if (p.dest.right == p.dest.left || p.dest.bottom == p.dest.top) continue;
    if (!readable(p.under, p.underX, p.underY, p.dest) || !readable(p.over, p.overX, p.overY, p.dest))
      return Log(CallKind::BlendOverTextures, Result::InvalidCall);
  }
  if (Lost()) return Log(CallKind::BlendOverTextures, Result::Ok);
  const TSurfaceView v = target->View();
  Rect clip{static_cast<std::int32_t>(viewport_.x), static_cast<std::int32_t>(viewport_.y),
            static_cast<std::int32_t>(viewport_.x + viewport_.width),
            static_cast<std::int32_t>(viewport_.y + viewport_.height)};
  if (renderStates_[static_cast<std::uint32_t>(RenderState::ScissorTestEnable)] != 0)
    clip = {std::max(clip.left, scissor_.left), std::max(clip.top, scissor_.top), std::min(clip.right, scissor_.right),
            std::min(clip.bottom, scissor_.bottom)};
  clip = {std::max(clip.left, 0), std::max(clip.top, 0), std::min(clip.right, static_cast<std::int32_t>(v.width)),
          std::min(clip.bottom, static_cast<std::int32_t>(v.height))};
  // The blend a premultiplied picture is drawn with.
  BlendSetup blend;
  blend.enable = true;
  blend.src = Blend::One;
  blend.dst = Blend::InvSrcAlpha;
  const bool x8Target = v.format == Format::X8R8G8B8;
  // Bands of rows of the pieces, cut to the clip: one job each.
  struct Job {
    const OverPiece* piece;
    Rect rows;
  };
  std::vector<Job> jobs;
  std::size_t bytes = 0;
  for (const OverPiece& p : pieces) {
    const Rect d{std::max(p.dest.left, clip.left), std::max(p.dest.top, clip.top), std::min(p.dest.right, clip.right),
                 std::min(p.dest.bottom, clip.bottom)};
    if (d.left >= d.right || d.top >= d.bottom) continue;
    bytes += static_cast<std::size_t>(d.right - d.left) * 4 * static_cast<std::size_t>(d.bottom - d.top);
    for (int y = d.top; y < d.bottom; y += kClearBand) jobs.push_back({&p, {d.left, y, d.right, std::min(y + kClearBand, d.bottom)}});
  }
  // Row by row: both pictures read once, the target written once.
  const auto run = [&](const Job& job) {
    constexpr int kChunk = 256;
    alignas(64) std::uint32_t scratch[kChunk];
    const OverPiece& p = *job.piece;
    const Rect& d = job.rows;
    const TSurfaceView u = p.under->Level(0)->View(), o = p.over->Level(0)->View();
    for (int y = d.top; y < d.bottom; ++y) {
      auto* out = reinterpret_cast<std::uint32_t*>(v.bits + static_cast<std::ptrdiff_t>(y) * v.pitch) + d.left;
      const auto* under =
          reinterpret_cast<const std::uint32_t*>(u.bits + static_cast<std::ptrdiff_t>(y - p.underY) * u.pitch) +
          (d.left - p.underX);
      const auto* over =
          reinterpret_cast<const std::uint32_t*>(o.bits + static_cast<std::ptrdiff_t>(y - p.overY) * o.pitch) +
          (d.left - p.overX);
      for (int x = 0, n = 0; x < d.right - d.left; x += n) {
        n = std::min(kChunk, d.right - d.left - x);
        ModulateBlendSpanOnto(blend, over + x, under + x, out + x, static_cast<std::size_t>(n), factor, 0xFF000000u,
                              0xFF000000u, x8Target, scratch);
      }
    }
  };
  if (bytes < kParallelBytes) {
    for (const Job& job : jobs) run(job);
  } else {
    GfxWorkers::Instance().Run(static_cast<std::uint32_t>(jobs.size()), [&](std::uint32_t i) { run(jobs[i]); });
  }
  return Log(CallKind::BlendOverTextures, Result::Ok);
}

Result Device::GetRenderTargetData(Surface* renderTarget, Surface* systemMemory) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Result r = Enter(CallKind::GetRenderTargetData, true); r != Result::Ok)
    return Log(CallKind::GetRenderTargetData, r);
  if (!renderTarget || !systemMemory || renderTarget->OwnerDevice() != this || systemMemory->OwnerDevice() != this ||
      !renderTarget->IsRenderTarget() || systemMemory->Desc().pool != Pool::SystemMem || systemMemory->Locked())
    return Log(CallKind::GetRenderTargetData, Result::InvalidCall);
  const SurfaceDesc& a = renderTarget->Desc();
  const SurfaceDesc& b = systemMemory->Desc();
  if (a.width != b.width || a.height != b.height || a.format != b.format)
    return Log(CallKind::GetRenderTargetData, Result::InvalidCall);
  if (Lost()) return Log(CallKind::GetRenderTargetData, Result::DeviceLost);
  const TSurfaceView sv = renderTarget->View(), dv = systemMemory->View();
  const std::size_t rowBytes = std::size_t{a.width} * BytesPerPixel(a.format);
  for (std::uint32_t y = 0; y < a.height; ++y)
    std::memcpy(dv.bits + static_cast<std::ptrdiff_t>(y) * dv.pitch, sv.bits + static_cast<std::ptrdiff_t>(y) * sv.pitch,
                rowBytes);
  return Log(CallKind::GetRenderTargetData, Result::Ok);
}

// ---- resource creation -----------------------------------------------------------------------------

Result Device::CreateTexture(std::uint32_t width, std::uint32_t height, std::uint32_t levels, std::uint32_t usage,
                             Format format, Pool pool, Ref<Texture>& texture) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  texture = nullptr;
  const auto fail = [&](Result r) { return Log(CallKind::CreateTexture, r, width, height, static_cast<std::uint32_t>(format)); };
  if (Result r = Enter(CallKind::CreateTexture, true); r != Result::Ok) return fail(r);
  const SystemConfig& cfg = system_->Config();
  // Sizes and formats are checked before any memory is taken.
  if (width == 0 || height == 0 || width > cfg.maxTextureSize || height > cfg.maxTextureSize)
    return fail(Result::InvalidCall);
  if (!IsTextureFormat(format) || (format == Format::L8 && !cfg.luminanceTextures)) return fail(Result::InvalidCall);
  if (usage & ~std::uint32_t{UsageRenderTarget | UsageDynamic | UsageWriteOnly}) return fail(Result::InvalidCall);
  if ((usage & UsageRenderTarget) && (pool != Pool::Default || !IsRenderTargetFormat(format)))
    return fail(Result::InvalidCall);
  if ((usage & UsageDynamic) && pool == Pool::Managed) return fail(Result::InvalidCall);
  std::uint32_t full = 1;
  for (std::uint32_t m = std::max(width, height); m > 1; m >>= 1) ++full;
  if (levels == 0) levels = full;
  if (levels > full) return fail(Result::InvalidCall);
  std::uint64_t bytes = 0;
  for (std::uint32_t i = 0; i < levels; ++i)
    bytes += static_cast<std::uint64_t>(PitchFor(std::max(1u, width >> i), format)) * std::max(1u, height >> i);
  if (Result r = Reserve(bytes, pool); r != Result::Ok) return fail(r);
  Ref<Texture> made = Ref<Texture>::Adopt(new Texture(this, pool, bytes, levels));
  try {
    made->levels_.reserve(levels);
    for (std::uint32_t i = 0; i < levels; ++i) {
      SurfaceDesc d{format, ResourceType::Surface, usage, pool, std::max(1u, width >> i), std::max(1u, height >> i)};
      made->levels_.push_back(nullptr);
      made->levels_.back() = new Surface(this, SurfaceKind::TextureLevel, d, PitchFor(d.width, format), made.Get());
    }
  } catch (const std::bad_alloc&) {
    return fail(pool == Pool::SystemMem ? Result::OutOfMemory : Result::OutOfVideoMemory);
  }
  made->blocksReset_ = pool == Pool::Default;
  Track(made.Get());
  texture = std::move(made);
  return Log(CallKind::CreateTexture, Result::Ok, width, height, static_cast<std::uint32_t>(format));
}

Result Device::CreateVolumeTexture(std::uint32_t width, std::uint32_t height, std::uint32_t depth, std::uint32_t levels,
                                   std::uint32_t usage, Format format, Pool pool, Ref<VolumeTexture>& texture) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  texture = nullptr;
  const auto fail = [&](Result r) { return Log(CallKind::CreateVolumeTexture, r, width, height, depth); };
  if (Result r = Enter(CallKind::CreateVolumeTexture, true); r != Result::Ok) return fail(r);
  if (width == 0 || height == 0 || depth == 0 || width > kMaxVolumeSize || height > kMaxVolumeSize ||
      depth > kMaxVolumeSize)
    return fail(Result::InvalidCall);
  // One level only: volumes are colour tables, never minified.
  if (levels == 0 && width == 1 && height == 1 && depth == 1) levels = 1;
  if (levels != 1 || usage != 0 || (format != Format::A8R8G8B8 && format != Format::X8R8G8B8))
    return fail(Result::InvalidCall);
  VolumeDesc desc{format, usage, pool, width, height, depth};
  const std::int32_t rowPitch = PitchFor(width, format);
  const std::uint64_t bytes = static_cast<std::uint64_t>(rowPitch) * height * depth;
  if (Result r = Reserve(bytes, pool); r != Result::Ok) return fail(r);
  Ref<VolumeTexture> made;
  try {
    made = Ref<VolumeTexture>::Adopt(new VolumeTexture(this, desc, bytes));
  } catch (const std::bad_alloc&) {
    return fail(pool == Pool::SystemMem ? Result::OutOfMemory : Result::OutOfVideoMemory);
  }
  made->rowPitch_ = rowPitch;
  made->slicePitch_ = rowPitch * static_cast<std::int32_t>(height);
  made->blocksReset_ = pool == Pool::Default;
  Track(made.Get());
  texture = std::move(made);
  return Log(CallKind::CreateVolumeTexture, Result::Ok, width, height, depth);
}

Result Device::CreateVertexBuffer(std::uint32_t bytes, std::uint32_t usage, std::uint32_t fvf, Pool pool,
                                  Ref<VertexBuffer>& buffer) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  buffer = nullptr;
  const auto fail = [&](Result r) { return Log(CallKind::CreateVertexBuffer, r, bytes, fvf); };
  if (Result r = Enter(CallKind::CreateVertexBuffer, true); r != Result::Ok) return fail(r);
  if (bytes == 0 || (usage & ~std::uint32_t{UsageDynamic | UsageWriteOnly}) ||
      (fvf != 0 && (FvfStride(fvf) == 0 || bytes < FvfStride(fvf))))
    return fail(Result::InvalidCall);
  if (bytes > kMaxBufferBytes) return fail(Result::OutOfVideoMemory);
  if (Result r = Reserve(bytes, pool); r != Result::Ok) return fail(r);
  Ref<VertexBuffer> made;
  try {
    made = Ref<VertexBuffer>::Adopt(new VertexBuffer(this, pool, bytes, fvf));
  } catch (const std::bad_alloc&) {
    return fail(pool == Pool::SystemMem ? Result::OutOfMemory : Result::OutOfVideoMemory);
  }
  made->blocksReset_ = pool == Pool::Default;
  Track(made.Get());
  buffer = std::move(made);
  return Log(CallKind::CreateVertexBuffer, Result::Ok, bytes, fvf);
}

Result Device::CreateOffscreenPlainSurface(std::uint32_t width, std::uint32_t height, Format format, Pool pool,
                                          Ref<Surface>& surface) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  surface = nullptr;
  const auto fail = [&](Result r) { return Log(CallKind::CreateOffscreenPlainSurface, r, width, height); };
  if (Result r = Enter(CallKind::CreateOffscreenPlainSurface, true); r != Result::Ok) return fail(r);
  if (width == 0 || height == 0 || width > kMaxSurfaceSize || height > kMaxSurfaceSize || !IsTextureFormat(format) ||
      pool == Pool::Managed)
    return fail(Result::InvalidCall);
  const std::int32_t pitch = PitchFor(width, format);
  const std::uint64_t bytes = static_cast<std::uint64_t>(pitch) * height;
  if (Result r = Reserve(bytes, pool); r != Result::Ok) return fail(r);
  Ref<Surface> made;
  try {
    SurfaceDesc d{format, ResourceType::Surface, 0, pool, width, height};
    made = Ref<Surface>::Adopt(new Surface(this, SurfaceKind::Plain, d, pitch, nullptr));
  } catch (const std::bad_alloc&) {
    return fail(pool == Pool::SystemMem ? Result::OutOfMemory : Result::OutOfVideoMemory);
  }
  made->bytes_ = bytes;
  made->blocksReset_ = pool == Pool::Default;
  Track(made.Get());
  surface = std::move(made);
  return Log(CallKind::CreateOffscreenPlainSurface, Result::Ok, width, height);
}

// ---- debug ---------------------------------------------------------------------------------------------

void DeviceDebug::LoseDevice(LossMode mode) {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  device_.state_ = Device::State::Lost;
  device_.lossMode_ = mode;
  device_.resetAllowed_ = false;
}

void DeviceDebug::AllowReset() {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  device_.resetAllowed_ = true;
  if (device_.state_ == Device::State::Lost) device_.state_ = Device::State::NotReset;
}

void DeviceDebug::LoseEveryNPresents(std::uint32_t n) {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  device_.loseEveryN_ = n;
}

void DeviceDebug::FailNext(CallKind call, Result result, int count) {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  if (call >= CallKind::Count) return;
  device_.faultResult_[static_cast<std::size_t>(call)] = result;
  device_.faultCount_[static_cast<std::size_t>(call)] = std::max(0, count);
}

void DeviceDebug::SetVideoMemoryBudget(std::uint64_t bytes) {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  device_.budget_ = bytes;
}

std::uint64_t DeviceDebug::VideoMemoryInUse() const {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  return device_.inUse_;
}

std::size_t DeviceDebug::LiveResources() const {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  return device_.liveResources_;
}

void DeviceDebug::RecordCalls(bool on) {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  device_.recording_ = on;
}

std::vector<CallRecord> DeviceDebug::Calls() const {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  return device_.calls_;
}

void DeviceDebug::ClearCalls() {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  device_.calls_.clear();
}

std::uint64_t DeviceDebug::Presents() const {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  return device_.presents_;
}

std::uint64_t DeviceDebug::RepeatsLeftOut() const {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  return device_.repeatsLeftOut_;
}

std::uint64_t DeviceDebug::Draws() const {
  std::lock_guard<std::recursive_mutex> lock(device_.mutex_);
  return device_.draws_;
}

}  // namespace plat::gfx
