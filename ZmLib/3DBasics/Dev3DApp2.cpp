#include "ZmLib/3DBasics/Dev3DApp2.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <string>

#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Win32/winScreen.h"
#include "ZmLib/zmLog.h"

namespace zm {

// ---- The engine ------------------------------------------------------------------

namespace {

std::atomic<TSysLock> gEngineLock{nullptr};  // the current start's
std::atomic<bool> gEngineActive{false};
T3DEngine* gEngine = nullptr;  // one reference, guarded by gEngineLock

struct TSysLockScope {
  explicit TSysLockScope(TSysLock h) : h_(h) { EnterSysLock(h_); }
  ~TSysLockScope() { LeaveSysLock(h_); }
  TSysLockScope(const TSysLockScope&) = delete;
  TSysLockScope& operator=(const TSysLockScope&) = delete;
  TSysLock h_;
};

std::vector<TRect> ScreenMonitorRects() {
  std::vector<TRect> rects;
  TScreen* screen = zm::Screen();
  for (int i = 0; screen && i < screen->MonitorCount(); ++i)
    if (screen::TMonitor* m = screen->Monitor(i)) rects.push_back(m->Bounds());
  return rects;
}

}  // namespace

TMonitorRectsProc MonitorRectsHook = &ScreenMonitorRects;

TRef<T3DEngine> Get3DEngine() {
  if (!gEngineActive.load(std::memory_order_acquire)) return nullptr;
  TSysLockScope g(gEngineLock);
  if (!gEngine && gEngineActive.load() && Create3DEngineHook) {
    // A back end that fails to start gives no engine; the next request
    // asks again.
    try {
      gEngine = Create3DEngineHook(0).Detach();
    } catch (const std::exception& e) {
      LogLine(u"Create3DEngine failed: " + WideString(e.what(), e.what() + std::char_traits<char>::length(e.what())));
    }
  }
  return TRef<T3DEngine>(gEngine);
}

void InitDev3DApp2() {
  if (gEngineActive.load()) return;
  // Each start takes a lock of its own: one of an earlier start may have
  // gone with the pool meanwhile (tests close and open it again).
  TSysLock lock = nullptr;
  CreateSysLock(lock);
  gEngineLock.store(lock);
  gEngineActive.store(true, std::memory_order_release);
}

void FiniDev3DApp2() {
  // Nothing to do for a unit that has ended (its engine went then).
  if (!gEngineActive.load(std::memory_order_acquire)) return;
  T3DEngine* engine = nullptr;
  {
    TSysLockScope g(gEngineLock);
    gEngineActive.store(false, std::memory_order_release);
    engine = std::exchange(gEngine, nullptr);
  }
  FreeObject(engine);
}

namespace {
const TModule k3DModules[] = {
    {"CustomColorGradeTexture", nullptr, &FreeSharedGradeTables},
    {"Dev3DApp2", &InitDev3DApp2, &FiniDev3DApp2},
};
}  // namespace

std::span<const TModule> Basics3DModules() { return k3DModules; }

// ---- Geometry ------------------------------------------------------------------------

namespace {

constexpr float kDepthEpsilon = 0.000001f;

TPoint3F Sub(const TPoint3F& a, const TPoint3F& b) { return {a.X - b.X, a.Y - b.Y, a.Z - b.Z}; }
TPoint3F Add(const TPoint3F& a, const TPoint3F& b) { return {a.X + b.X, a.Y + b.Y, a.Z + b.Z}; }
TPoint3F Mul(const TPoint3F& a, float k) { return {a.X * k, a.Y * k, a.Z * k}; }
float Dot(const TPoint3F& a, const TPoint3F& b) { return a.X * b.X + a.Y * b.Y + a.Z * b.Z; }
TPoint3F Cross(const TPoint3F& a, const TPoint3F& b) {
  return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X};
}
TPoint2F Sub2(const TPoint2F& a, const TPoint2F& b) { return {a.X - b.X, a.Y - b.Y}; }
TPoint2F Add2(const TPoint2F& a, const TPoint2F& b) { return {a.X + b.X, a.Y + b.Y}; }

bool IsEmptyRect(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }
std::int64_t RectWidth(const TRect& r) { return std::int64_t(r.Right) - r.Left; }
std::int64_t RectHeight(const TRect& r) { return std::int64_t(r.Bottom) - r.Top; }
std::int32_t Width32(const TRect& r) { return std::int32_t(std::clamp<std::int64_t>(RectWidth(r), 0, INT32_MAX)); }
std::int32_t Height32(const TRect& r) { return std::int32_t(std::clamp<std::int64_t>(RectHeight(r), 0, INT32_MAX)); }

std::int64_t IntersectionArea(const TRect& a, const TRect& b) {
  const std::int64_t w = std::int64_t(std::min(a.Right, b.Right)) - std::max(a.Left, b.Left);
  const std::int64_t h = std::int64_t(std::min(a.Bottom, b.Bottom)) - std::max(a.Top, b.Top);
  return w > 0 && h > 0 ? w * h : 0;
}

}  // namespace

std::uint32_t PremultiplyColour(std::uint32_t colour) {
  const std::uint32_t a = colour >> 24;
  const std::uint32_t r = ((colour >> 16) & 0xFF) * a / 255;
  const std::uint32_t g = ((colour >> 8) & 0xFF) * a / 255;
  const std::uint32_t b = (colour & 0xFF) * a / 255;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

TTextureExtent TextureExtent(std::int32_t n) {
  if (n < 1 || n > (1 << 30)) return {};
  const std::int32_t e = std::max<std::int32_t>(32, std::int32_t(std::bit_ceil(std::uint32_t(n))));
  return {e, 1.0 / e};
}

bool IsPlaneFacingAway(const TPoint3F& origin, const TPoint3F& axisX, const TPoint3F& axisY, const TPoint3F& point) {
  return Dot(Sub(point, origin), Cross(axisX, axisY)) < 0;
}

TPoint2F ProjectToScreenPlane(const TPoint3F& camera, const TPoint3F& point) {
  ZM_ASSERT(camera.Z != 0, "  Camera.Z = 0  ");
  float dz = point.Z - camera.Z;
  if (std::fabs(dz) < kDepthEpsilon) dz = kDepthEpsilon;
  const float t = -camera.Z / dz;
  return {camera.X + (point.X - camera.X) * t, camera.Y + (point.Y - camera.Y) * t};
}

TPoint3F CameraRayToPlane(const TPoint3F& camera, const TPoint2F& screenPoint, const TPoint3F& planeOrigin,
                          const TPoint3F& planeNormal) {
  ZM_ASSERT(camera.Z != 0, "  Camera.Z = 0  ");
  const TPoint3F dir{screenPoint.X - camera.X, screenPoint.Y - camera.Y, -camera.Z};
  float denom = Dot(dir, planeNormal);
  if (std::fabs(denom) < kDepthEpsilon) denom = kDepthEpsilon;
  const float t = Dot(Sub(planeOrigin, camera), planeNormal) / denom;
  return Add(camera, Mul(dir, t));
}

// ---- TScreenResource -------------------------------------------------------------

TScreenResource::TScreenResource(T3DScreen* screen, const char* className) : screen_(screen) {
  ZM_ASSERT(screen && screen->resources_, std::string(className) + " - Screen not Assigned");
  screen->resources_->Add(this);
}

void TScreenResource::Dispose() {
  if (T3DScreen* s = std::exchange(screen_, nullptr))
    if (s->resources_) s->resources_->Remove(this);
  TRefObject::Dispose();
}

// ---- TShader ------------------------------------------------------------------------

TShader::TShader(T3DScreen* screen, TByteString code, std::uint8_t kind)
    : TScreenResource(screen, "TShader"), code_(std::move(code)), kind_(kind) {
  Prepare();
}

void TShader::Dispose() {
  lostLink_.Cut();
  ReleaseDeviceObjects();
  TScreenResource::Dispose();
}

void TShader::ReleaseDeviceObjects() {
  if (TRef<T3DShader> s = std::move(shader_)) s->SetLostEvent(nullptr);
}

void TShader::Prepare() {
  T3DScreen* screen = Screen();
  if (!screen || !screen->CanDraw()) return;
  if (shader_ && !shader_->DeviceLost()) return;
  ReleaseDeviceObjects();
  shader_ = screen->Renderer()->CreateShader(code_, false);
  if (shader_) shader_->SetLostEvent(lostLink_.Event([this] { ReleaseDeviceObjects(); }));
}

// ---- TVertexBuffer ---------------------------------------------------------------

namespace {
// Larger batches are refused: 3 records of 96 bytes per triangle.
constexpr std::int32_t kMaxBatchTriangles = 1 << 16;
}  // namespace

TVertexBuffer::TVertexBuffer(T3DScreen* screen) : TScreenResource(screen, "TVertexBuffer") {}

void TVertexBuffer::Dispose() {
  lostLink_.Cut();
  ReleaseDeviceObjects();
  TScreenResource::Dispose();
}

void TVertexBuffer::FreeList() {
  if (TRef<T3DVertexList> l = std::move(list_)) l->SetLostEvent(nullptr);
}

void TVertexBuffer::ReleaseDeviceObjects() {
  FreeList();
  textures_.clear();
  vertices_.clear();
  textureCount_ = 0;
  limit_ = 0;
  count_ = 0;
}

void TVertexBuffer::Reserve(std::int32_t triangles, std::int32_t textureSets) {
  Flush();
  if (triangles < 1 || triangles > kMaxBatchTriangles) return;
  textureSets = std::clamp(textureSets, 0, kMaxStages);
  if (list_ && triangles <= capacity_) {
    limit_ = triangles;
    return;
  }
  FreeList();
  capacity_ = limit_ = triangles;
  texCoordSets_ = textureSets;
  T3DScreen* screen = Screen();
  if (!screen || !screen->Renderer() || screen->Renderer()->State() == rsCreationPending) return;
  list_ = screen->Renderer()->CreateVertexList(3 * triangles, vcDiffuse, textureSets);
  if (list_) list_->SetLostEvent(lostLink_.Event([this] { ReleaseDeviceObjects(); }));
}

void TVertexBuffer::Begin(std::span<TScreenTexture* const> textures, std::int32_t stageCount) {
  ZM_ASSERT(stageCount >= 0 && textures.size() >= std::size_t(stageCount),
            "TVertexBuffer.Begin - fewer textures than stages");
  if (list_)
    Flush();
  else
    Reserve(capacity_ > 0 ? capacity_ : kDefaultCapacity, stageCount);
  vertices_.assign(std::size_t(3) * std::size_t(capacity_), T3DVertex{});
  textures_.assign(textures.begin(), textures.begin() + stageCount);
  textureCount_ = stageCount;
}

void TVertexBuffer::AddTriangle(const TPoint3F& p1, const TPoint3F& p2, const TPoint3F& p3, TStageCoords uv1,
                                TStageCoords uv2, TStageCoords uv3, std::uint32_t c1, std::uint32_t c2,
                                std::uint32_t c3, std::int32_t stageCount) {
  T3DScreen* screen = Screen();
  if (!screen || !screen->CanDraw() || !list_) return;
  ZM_ASSERT(stageCount >= 0 && uv1.size() == std::size_t(stageCount) && uv2.size() == std::size_t(stageCount) &&
                uv3.size() == std::size_t(stageCount),
            "TVertexBuffer.AddTriangle - coordinate lists differ from the stage count");
  ZM_ASSERT(stageCount < kMaxStages, "TVertexBuffer.AddTriangle - too many stages");
  ZM_ASSERT(textureCount_ >= stageCount, "TVertexBuffer.AddTriangle - more stages than textures");
  if (stageCount > 0 && textures_[0] && textures_[0]->Premultiplied) {
    c1 = PremultiplyColour(c1);
    c2 = PremultiplyColour(c2);
    c3 = PremultiplyColour(c3);
  }
  if (count_ >= limit_) {
    ZM_ASSERT(textureCount_ <= 1, "TVertexBuffer.AddTriangle - batch full with more than one texture");
    const std::vector<TScreenTexture*> same = textures_;
    const std::int32_t n = textureCount_;
    Flush();
    Begin(same, n);
    // The device may have gone while the full batch was drawn.
    if (!list_ || count_ >= limit_) return;
  }
  if (vertices_.size() < std::size_t(3) * std::size_t(count_ + 1)) return;  // no batch open
  const TPoint3F* p[3] = {&p1, &p2, &p3};
  const TStageCoords uv[3] = {uv1, uv2, uv3};
  const std::uint32_t c[3] = {c1, c2, c3};
  T3DVertex* v = &vertices_[std::size_t(3) * std::size_t(count_)];
  for (int k = 0; k < 3; ++k) {
    v[k].X = p[k]->X;
    v[k].Y = p[k]->Y;
    v[k].Z = p[k]->Z;
    v[k].Diffuse = c[k];
    for (std::int32_t s = 0; s < stageCount; ++s) {
      const TScreenTexture* t = textures_[std::size_t(s)];
      v[k].Tex[s].U = uv[k][std::size_t(s)].X * (t ? float(t->RecipWidth) : 0.0f);
      v[k].Tex[s].V = uv[k][std::size_t(s)].Y * (t ? float(t->RecipHeight) : 0.0f);
    }
  }
  ++count_;
}

void TVertexBuffer::Flush() {
  auto empty = [this] {
    textures_.clear();
    vertices_.clear();
    textureCount_ = 0;
    count_ = 0;
  };
  T3DScreen* screen = Screen();
  if (!list_ || !screen || !screen->CanDraw() || count_ == 0) return empty();
  // Held for the call: a device lost meanwhile drops the buffer's list.
  TRef<T3DVertexList> list = list_;
  TRef<T3DRenderer> renderer(screen->Renderer());
  const std::int32_t n = 3 * count_;
  list->SetVertices(0, std::span<const T3DVertex>(vertices_.data(), std::size_t(n)), 0, n);
  list->SetPrimitive(0, count_, ptTriangleList);
  std::vector<TBaseTexture*> stages(std::size_t(textureCount_), nullptr);
  bool premultiplied = false;
  for (std::int32_t s = 0; s < textureCount_; ++s) {
    TScreenTexture* t = textures_[std::size_t(s)];
    T3DTexture* dev = t ? t->Realize() : nullptr;
    if (!dev) continue;
    dev->SetAddressing(taClamp, taClamp);
    dev->SetFilter(t->PointSampling ? tfPoint : tfLinear);
    dev->SetAnisotropic(t->Anisotropic);
    dev->SetLodBias(t->LodBias);
    stages[std::size_t(s)] = dev;
    premultiplied = premultiplied || t->Premultiplied;
  }
  std::uint32_t flags;
  if (textureCount_ == 0)
    flags = dfModulateColor | dfModulateAlpha;
  else if (ModulateColour || premultiplied)
    flags = dfTextured | dfModulateColor | dfModulateAlpha;
  else if (textureCount_ == 1)
    flags = dfTextured | dfModulateAlpha;
  else
    flags = dfTextured;
  if (list_ == list && screen->Renderer() == renderer.get()) renderer->DrawVertexList(list.get(), stages, flags);
  empty();
}

// ---- TDeviceKilledMessenger -------------------------------------------------------

void TDeviceKilledMessenger::Dispose() {
  if (T3DScreen* s = std::exchange(screen_, nullptr)) {
    s->drawDevice_ = nullptr;
    s->messenger_ = nullptr;
  }
  TRefObject::Dispose();
}

// ---- T3DScreen ------------------------------------------------------------------------

T3DScreen::T3DScreen() : targetStack_(MakeRef<TList>()), resources_(MakeRef<TList>()) {
  vertexBuffer_ = MakeRef<TVertexBuffer>(this).Detach();
}

void T3DScreen::Dispose() {
  lostLink_.Cut();
  OnClose = nullptr;
  OnLost = nullptr;
  if (resources_) ReleaseResources();
  if (renderer_) Close();
  ClearTargetStack();
  DetachFromDevice();
  FreeAndNil(vertexBuffer_);
  // Resources that outlive the screen are cut loose.
  if (TRef<TList> list = std::move(resources_)) {
    for (std::int32_t i = 0; i < list->Count(); ++i)
      static_cast<TScreenResource*>(list->Get(i))->screen_ = nullptr;
    list->Clear();
  }
  targetStack_ = nullptr;
  TRefObject::Dispose();
}

void T3DScreen::DetachFromDevice() {
  TDeviceKilledMessenger* m = std::exchange(messenger_, nullptr);
  TDrawDevice* device = std::exchange(drawDevice_, nullptr);
  if (!m) return;
  m->screen_ = nullptr;
  // A device that is ending frees its objects itself.
  TList* objects = device ? device->Objects() : nullptr;
  if (objects && objects->Remove(m) >= 0) m->Free();
}

bool T3DScreen::WantedRect(TDrawDevice* device, bool& fullScreen, TRect& rect) const {
  fullScreen = device->FullScreen();
  rect = device->GetDeviceScreenRect();
  if (fullScreen) {
    const std::vector<TRect> monitors = MonitorRectsHook ? MonitorRectsHook() : std::vector<TRect>{};
    const TRect window = rect;
    std::int64_t best = -1;
    for (const TRect& m : monitors) {
      const std::int64_t area = IntersectionArea(m, window);
      if (area > best) {
        best = area;
        rect = m;
      }
    }
  }
  return !IsEmptyRect(rect);
}

void T3DScreen::Open(TDrawDevice* device) {
  ZM_ASSERT(device, "DrawDevice=nil");
  bool fullScreen;
  TRect rect;
  if (!WantedRect(device, fullScreen, rect)) return;
  if (device == drawDevice_ && fullScreen == fullScreen_ && rect == windowRect_) return;
  const bool changed = device != drawDevice_;
  if (changed) {
    if (messenger_ && drawDevice_ && drawDevice_->Objects()) drawDevice_->Objects()->Remove(messenger_);
    if (!messenger_) messenger_ = MakeRef<TDeviceKilledMessenger>(this).Detach();
    TList* objects = device->Objects();
    if (!objects || objects->Add(messenger_) < 0) {
      // A device that is ending takes no listeners.
      messenger_->screen_ = nullptr;
      FreeAndNil(messenger_);
    }
  }
  if (changed || fullScreen) ReleaseResources();
  drawDevice_ = device;
  fullScreen_ = fullScreen;
  windowRect_ = rect;
  Initialise();
}

void T3DScreen::Initialise() {
  if (renderer_) Close();
  if (!drawDevice_) {
    LogLine(u"No window to draw");
    return;
  }
  TRef<T3DEngine> engine = Get3DEngine();
  if (!engine) {
    LogLine(u"Can't init");
    return;
  }
  try {
    adapter_ = engine->FindAdapter(windowRect_);
    T3DDisplayMode mode;
    if (!engine->GetDisplayMode(adapter_, mode)) {
      LogLine(u"Can't GetDisplayMode");
      return;
    }
    mode.Adapter = adapter_;
    TRef<T3DRenderer> made = engine->CreateRenderer(drawDevice_, mode);
    std::lock_guard<std::mutex> g(rendererLock_);
    renderer_ = std::move(made);
  } catch (const std::exception&) {
    LogLine(u"Can't init");
    TRef<T3DRenderer> gone;
    std::lock_guard<std::mutex> g(rendererLock_);
    gone = std::move(renderer_);
    return;
  }
  if (renderer_)
    renderer_->SetLostEvent(lostLink_.Event([this] {
      if (OnLost) OnLost(this);
      Close();
    }));
}

void T3DScreen::Close() {
  TRef<T3DRenderer> r;
  {
    std::lock_guard<std::mutex> g(rendererLock_);
    r = std::move(renderer_);
  }
  if (r) r->SetLostEvent(nullptr);
  ClearTargetStack();
  // A full-screen renderer takes its device with it, which is let go only
  // once nothing else holds it: what was made on it goes first.
  if (r && fullScreen_) ReleaseResources();
  r = nullptr;
  if (OnClose) OnClose(this);
}

void T3DScreen::ClearTargetStack() {
  if (targetStack_) targetStack_->FreeAndClear();
}

bool T3DScreen::CanDraw() const {
  return renderer_ && renderer_->State() != rsCreationPending && !skipFrame_.load();
}

TRef<T3DRenderer> T3DScreen::ReadyRenderer() const {
  std::lock_guard<std::mutex> g(rendererLock_);
  if (!renderer_ || renderer_->State() == rsCreationPending || skipFrame_.load()) return nullptr;
  return renderer_;
}

void T3DScreen::BeginFrame() {
  skipFrame_.store(false);
  bool remade = false;
  if (drawDevice_) {
    bool fullScreen;
    TRect rect;
    if (WantedRect(drawDevice_, fullScreen, rect)) {
      std::int32_t adapter = adapter_;
      if (TRef<T3DEngine> engine = Get3DEngine()) adapter = engine->FindAdapter(rect);
      if (!renderer_ || rect != windowRect_ || adapter != adapter_ || fullScreen != fullScreen_) {
        remade = renderer_ != nullptr;
        if (fullScreen_ || fullScreen) ReleaseResources();
        windowRect_ = rect;
        adapter_ = adapter;
        fullScreen_ = fullScreen;
        Initialise();
      }
    }
  }
  // A frame draws only on a device that was there, ready, when it began:
  // what it was given was laid out for the surface before, and a device
  // another thread makes meanwhile would get its draws without this frame's
  // target, viewport and projection. The next frame draws.
  if (remade || !CanDraw()) {
    skipFrame_.store(true);
    return;
  }
  for (std::int32_t i = 0; resources_ && i < resources_->Count(); ++i)
    if (auto* shader = dynamic_cast<TShader*>(resources_->Get(i))) shader->Prepare();
  TRef<T3DRenderer> renderer = renderer_;
  // A loss found on the way closes the screen: nothing of the lost
  // renderer (its back buffer above all) may stay for the next frame.
  renderer->SetCullNone(true);
  if (renderer_ != renderer) return;
  vertexBuffer_->Reserve(32, 2);
  if (renderer_ != renderer) return;
  const std::int32_t w = Width32(windowRect_), h = Height32(windowRect_);
  recipWidth_ = w > 0 ? 1.0 / w : 0;
  recipHeight_ = h > 0 ? 1.0 / h : 0;
  targetRect_ = {0, 0, w, h};
  if (targetStack_->Count() == 0) {
    TRef<T3DSurface> back;
    if (!renderer->GetBackBuffer(back)) back = renderer->GetRenderTarget();
    if (renderer_ != renderer) return;
    targetStack_->Add(MakeRef<TRenderTargetWrapper>(0, 0, std::move(back)).Detach());
    targetOffset_ = {};
    // The projection maps onto the viewport, so the viewport goes first.
    SetViewport({0, 0, w, h}, 0, 1.0f);
    SetProjection(0, 0, float(w), float(h), float(w), float(h));
  }
  if (renderer_ == renderer) renderer->BeginScene();
}

bool T3DScreen::EndFrame(bool present) {
  if (skipFrame_.exchange(false)) return false;
  TRef<T3DRenderer> r = renderer_;
  if (!r) return false;
  if (!r->EndScene() || renderer_ != r || r->State() == rsDeviceLost) return false;
  if (!present) return true;
  const TRect whole{0, 0, Width32(windowRect_), Height32(windowRect_)};
  return r->Present(whole, whole) && renderer_ == r;
}

void T3DScreen::Clear(std::uint32_t colour, bool withDepth) {
  if (!CanDraw()) return;
  const TRect whole{0, 0, Width32(windowRect_), Height32(windowRect_)};
  // Held: a loss found here closes the screen and drops its reference.
  TRef<T3DRenderer> r = renderer_;
  r->Clear(std::span<const TRect>(&whole, 1), cfTarget | (withDepth ? cfDepth : 0), colour, 1.0f);
}

void T3DScreen::FillRect(std::uint32_t colour, const TRect& rect) {
  if (!CanDraw() || IsEmptyRect(rect)) return;
  TRef<T3DRenderer> r = renderer_;
  r->Clear(std::span<const TRect>(&rect, 1), cfTarget, colour, 1.0f);
}

void T3DScreen::SetViewport(const TRect& rect, float minZ, float maxZ) {
  if (!CanDraw() || IsEmptyRect(rect) || !std::isfinite(minZ) || !std::isfinite(maxZ)) return;
  view_.Viewport = {rect, minZ, maxZ};
  TRef<T3DRenderer> r = renderer_;
  r->SetViewport(rect, minZ, maxZ);
  if (renderer_ == r) ApplyTransforms();
}

void T3DScreen::SetProjection(float left, float top, float width, float height, float virtualWidth,
                              float virtualHeight) {
  if (!CanDraw() || !(width > 0) || !(height > 0) || !(virtualWidth > 0) || !(virtualHeight > 0)) return;
  if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(width) || !std::isfinite(height) ||
      !std::isfinite(virtualWidth) || !std::isfinite(virtualHeight))
    return;
  view_.Projection = {left, top, double(width) / virtualWidth, double(height) / virtualHeight, virtualWidth,
                      virtualHeight};
  ApplyTransforms();
}

// World: none. View: the camera at the origin looking along +z, at distance
// D = VH from the screen plane. Projection: x_clip = a x + b z and
// w = z / D give x_clip / w = the target pixel of the point, taken to the
// viewport's -1..1; depth 1 - n / z with the far plane at infinity, so that
// points far behind the screen (turned cards) are never clipped.
void T3DScreen::ApplyTransforms() {
  const T3DProjection& p = view_.Projection;
  if (!renderer_ || !(p.VirtualWidth > 0) || !(p.VirtualHeight > 0)) return;
  TRect vp = view_.Viewport.Rect;
  if (IsEmptyRect(vp)) vp = {0, 0, Width32(windowRect_), Height32(windowRect_)};
  if (IsEmptyRect(vp)) return;
  const double d = p.VirtualHeight;
  const double cx = p.VirtualWidth / 2, cy = p.VirtualHeight / 2;
  const double vw = double(RectWidth(vp)), vh = double(RectHeight(vp));
  const double nearZ = d / 1000;
  T3DMatrix world, view, proj;
  for (int i = 0; i < 4; ++i) world.M[i][i] = view.M[i][i] = 1;
  view.M[3][0] = float(-cx);
  view.M[3][1] = float(-cy);
  view.M[3][2] = float(d);
  proj.M[0][0] = float(2 * p.ScaleX / vw);
  proj.M[2][0] = float((2 * (p.ScaleX * cx - p.Left - vp.Left) / vw - 1) / d);
  proj.M[1][1] = float(-2 * p.ScaleY / vh);
  proj.M[2][1] = float((1 - 2 * (p.ScaleY * cy - p.Top - vp.Top) / vh) / d);
  proj.M[2][2] = float(1 / d);
  proj.M[3][2] = float(-nearZ / d);
  proj.M[2][3] = float(1 / d);
  // A loss found by one call closes the screen: the rest are not made.
  TRef<T3DRenderer> r = renderer_;
  r->SetTransform(world, ttWorld);
  if (renderer_ != r) return;
  r->SetTransform(view, ttView);
  if (renderer_ != r) return;
  r->SetTransform(proj, ttProjection);
}

T3DViewState T3DScreen::SaveView() const { return view_; }

void T3DScreen::RestoreView(const T3DViewState& state) {
  view_ = state;
  if (!CanDraw()) return;
  TRef<T3DRenderer> r = renderer_;
  if (!IsEmptyRect(view_.Viewport.Rect))
    r->SetViewport(view_.Viewport.Rect, view_.Viewport.MinZ, view_.Viewport.MaxZ);
  if (renderer_ == r) ApplyTransforms();
}

TRect T3DScreen::GetVisibleRect() const {
  if (!IsEmptyRect(VisibleRect)) return VisibleRect;
  return {0, 0, Width32(windowRect_), Height32(windowRect_)};
}

void T3DScreen::SetRenderTarget(T3DTexture* target, std::int32_t offsetX, std::int32_t offsetY) {
  if (!CanDraw()) return;
  TRef<T3DRenderer> renderer = renderer_;
  if (targetStack_->Count() == 0)
    targetStack_->Add(MakeRef<TRenderTargetWrapper>(0, 0, renderer->GetRenderTarget()).Detach());
  if (target) {
    TRef<T3DSurface> surface = target->GetSurface(0);
    // A target without a surface cannot be drawn into: the stack stays.
    if (!surface) return;
    auto* entry = MakeRef<TRenderTargetWrapper>(offsetX, offsetY, surface).Detach();
    if (targetStack_->Add(entry) < 0) {
      entry->Free();
      return;
    }
    targetOffset_ = {offsetX, offsetY};
    renderer->SetRenderTarget(surface.get());
  } else {
    if (targetStack_->Count() > 1) {
      TRefObject* top = targetStack_->Last();
      ZM_ASSERT(dynamic_cast<TRenderTargetWrapper*>(top), "SetRenderTarget - not a TRenderTargetWrapper");
      targetStack_->Delete(targetStack_->Count() - 1);
      top->Free();
    }
    auto* now = dynamic_cast<TRenderTargetWrapper*>(targetStack_->Last());
    ZM_ASSERT(now, "SetRenderTarget - not a TRenderTargetWrapper");
    // Taken first: a loss found by the call empties the stack.
    targetOffset_ = {now->OffsetX, now->OffsetY};
    TRef<T3DSurface> surface = now->Surface;
    renderer->SetRenderTarget(surface.get());
  }
  if (renderer_ != renderer) return;  // the device went meanwhile
  ApplyTargetScissor();
  if (renderer_ != renderer) return;
  SetTargetProjection();
}

bool T3DScreen::SetScissor(const TRect* rect) {
  if (!CanDraw()) return false;
  TRef<T3DRenderer> renderer = renderer_;
  if (!renderer->SetScissor(rect)) return false;
  scissorOn_ = rect != nullptr;
  if (auto* top = targetStack_->Count() > 0 ? dynamic_cast<TRenderTargetWrapper*>(targetStack_->Last()) : nullptr) {
    top->Scissored = rect != nullptr;
    top->Scissor = rect ? *rect : TRect{};
  }
  return true;
}

void T3DScreen::ApplyTargetScissor() {
  auto* top = targetStack_->Count() > 0 ? dynamic_cast<TRenderTargetWrapper*>(targetStack_->Last()) : nullptr;
  if (!renderer_ || !top) return;
  // The device sets its clip to the whole of each new target; the switch
  // keeps the test on.
  if (top->Scissored) {
    TRef<T3DRenderer> renderer = renderer_;
    scissorOn_ = renderer->SetScissor(&top->Scissor);
  } else if (scissorOn_) {
    TRef<T3DRenderer> renderer = renderer_;
    renderer->SetScissor(nullptr);
    scissorOn_ = false;
  }
}

void T3DScreen::SetTargetProjection() {
  const std::int32_t w = Width32(windowRect_), h = Height32(windowRect_);
  TRect r;
  TRef<T3DSurface> current = renderer_->GetRenderTarget();
  if (current) {
    const TSize size = current->GetSize();
    r = {0, 0, size.cx, size.cy};
  } else {
    r = {-targetOffset_.X, -targetOffset_.Y, w - targetOffset_.X, h - targetOffset_.Y};
  }
  view_.Viewport.Rect = r;
  targetRect_ = {0, 0, w, h};
  recipWidth_ = w > 0 ? 1.0 / w : 0;
  recipHeight_ = h > 0 ? 1.0 / h : 0;
  SetProjection(float(targetOffset_.X), float(targetOffset_.Y), float(RectWidth(r)), float(RectHeight(r)), float(w),
                float(h));
}

void T3DScreen::ReleaseResources() {
  if (!resources_) return;
  // A resource may leave the list while it releases.
  std::vector<TScreenResource*> all;
  for (std::int32_t i = 0; i < resources_->Count(); ++i)
    all.push_back(static_cast<TScreenResource*>(resources_->Get(i)));
  for (TScreenResource* r : all)
    if (resources_->IndexOf(r) >= 0) r->ReleaseDeviceObjects();
}

TPoint3F T3DScreen::Camera() const {
  const T3DProjection& p = view_.Projection;
  return {float(p.VirtualWidth / 2), float(p.VirtualHeight / 2), float(-p.VirtualHeight)};
}

TPoint2F T3DScreen::ProjectToTarget(const TPoint3F& point) const {
  const T3DProjection& p = view_.Projection;
  const TPoint2F s = ProjectToScreenPlane(Camera(), point);
  return {float(s.X * p.ScaleX - p.Left), float(s.Y * p.ScaleY - p.Top)};
}

TPoint3F T3DScreen::TargetToPlane(const TPoint2F& point, const TPoint3F& planeOrigin,
                                  const TPoint3F& planeNormal) const {
  const T3DProjection& p = view_.Projection;
  const TPoint2F s{float((point.X + p.Left) / p.ScaleX), float((point.Y + p.Top) / p.ScaleY)};
  return CameraRayToPlane(Camera(), s, planeOrigin, planeNormal);
}

// ---- Quads ---------------------------------------------------------------------------

namespace {

// Clears the modulation flag (and closes the batch) also when an assertion
// ends the drawing early.
class TBatchScope {
public:
  TBatchScope(TVertexBuffer* vb, bool flush) : vb_(vb), flush_(flush) {}
  ~TBatchScope() {
    if (flush_) {
      try {
        vb_->Flush();
      } catch (...) {
        ReportSwallowedException();
      }
    }
    vb_->ModulateColour = false;
  }
  TBatchScope(const TBatchScope&) = delete;
  TBatchScope& operator=(const TBatchScope&) = delete;

private:
  TVertexBuffer* vb_;
  bool flush_;
};

}  // namespace

void T3DScreen::FillColourQuad(const TPoint3F& p1, const TPoint3F& p2, const TPoint3F& p3, const TPoint3F& p4,
                               std::uint32_t c1, std::uint32_t c2, std::uint32_t c3, std::uint32_t c4) {
  if (!vertexBuffer_) return;
  vertexBuffer_->Begin({}, 0);
  vertexBuffer_->AddTriangle(p1, p2, p3, {}, {}, {}, c1, c2, c3, 0);
  vertexBuffer_->AddTriangle(p2, p4, p3, {}, {}, {}, c2, c4, c3, 0);
  vertexBuffer_->Flush();
}

void T3DScreen::DrawTexturedQuad(std::span<TScreenTexture* const> textures, std::int32_t stageCount,
                                 const TPoint3F& origin, const TPoint2F& pivot, const TPoint3F& axisX,
                                 const TPoint3F& axisY, std::span<const TRectF> rects, std::uint32_t c1,
                                 std::uint32_t c2, std::uint32_t c3, std::uint32_t c4) {
  if (!vertexBuffer_) return;
  TVertexBuffer* vb = vertexBuffer_;
  vb->ModulateColour = true;
  TBatchScope scope(vb, false);
  ZM_ASSERT(stageCount >= 0 && stageCount < TVertexBuffer::kMaxStages && !rects.empty() &&
                rects.size() >= std::size_t(stageCount),
            "DrawTexturedQuad - a source rectangle per stage");
  const TRectF& r = rects[0];
  auto corner = [&](float x, float y) {
    return Add(origin, Add(Mul(axisX, x - pivot.X), Mul(axisY, y - pivot.Y)));
  };
  const TPoint3F a = corner(r.X0, r.Y1), b = corner(r.X0, r.Y0), c = corner(r.X1, r.Y1), d = corner(r.X1, r.Y0);
  TPoint2F uvA[TVertexBuffer::kMaxStages], uvB[TVertexBuffer::kMaxStages], uvC[TVertexBuffer::kMaxStages],
      uvD[TVertexBuffer::kMaxStages];
  for (std::int32_t s = 0; s < stageCount; ++s) {
    const TRectF& q = rects[std::size_t(s)];
    uvA[s] = {q.X0, q.Y1};
    uvB[s] = {q.X0, q.Y0};
    uvC[s] = {q.X1, q.Y1};
    uvD[s] = {q.X1, q.Y0};
  }
  const std::size_t n = std::size_t(stageCount);
  vb->Begin(textures, stageCount);
  vb->AddTriangle(a, b, c, {uvA, n}, {uvB, n}, {uvC, n}, c1, c2, c3, stageCount);
  vb->AddTriangle(c, b, d, {uvC, n}, {uvB, n}, {uvD, n}, c3, c2, c4, stageCount);
  vb->Flush();
}

void T3DScreen::DrawTexture(TScreenTexture* texture, const TPoint3F& origin, const TPoint2F& pivot,
                            const TPoint3F& axisX, const TPoint3F& axisY, const TRectF& rect) {
  ZM_ASSERT(texture, "DrawTexture - Texture not Assigned");
  if (texture->Alpha == 0) return;
  const std::uint32_t colour = (std::uint32_t(texture->Alpha) << 24) | 0xFFFFFFu;
  TScreenTexture* one[1] = {texture};
  DrawTexturedQuad(one, 1, origin, pivot, axisX, axisY, std::span<const TRectF>(&rect, 1), colour, colour, colour,
                   colour);
}

void T3DScreen::BuildEdgeMesh(const TPoint3F& origin, const TPoint2F& pivot, const TPoint3F& axisX,
                              const TPoint3F& axisY, const TRectF& rect, std::uint32_t edges, TEdgeMesh& mesh) const {
  mesh = TEdgeMesh{};
  TPoint3F normal = Cross(axisX, axisY);
  if (const float len = std::sqrt(Dot(normal, normal)); len > 0) normal = Mul(normal, 1 / len);
  const TPoint3F camera{float(RectWidth(windowRect_)) / 2, float(RectHeight(windowRect_)) / 2,
                        -float(RectHeight(windowRect_))};
  auto at = [&](float x, float y) {
    return Add(origin, Add(Mul(axisX, x - pivot.X), Mul(axisY, y - pivot.Y)));
  };
  TPoint3F* pos = mesh.Pos;
  pos[5] = at(rect.X0, rect.Y0);
  pos[6] = at(rect.X1, rect.Y0);
  pos[9] = at(rect.X0, rect.Y1);
  pos[10] = at(rect.X1, rect.Y1);
  const TPoint2F s5 = ProjectToTarget(pos[5]), s6 = ProjectToTarget(pos[6]), s9 = ProjectToTarget(pos[9]),
                 s10 = ProjectToTarget(pos[10]);
  const TPoint2F l = Sub2(s5, s9), t = Sub2(s6, s5), r = Sub2(s10, s6), b = Sub2(s9, s10);
  // Corners seen so nearly edge-on that the band would fold over itself get
  // none (NaN coordinates count as such).
  auto sound = [](const TPoint2F& u, const TPoint2F& v) {
    const float uu = u.X * u.X + u.Y * u.Y, vv = v.X * v.X + v.Y * v.Y;
    if (!(uu > 0.01f) || !(vv > 0.01f)) return false;
    const float cosine = (u.X * v.X + u.Y * v.Y) / std::sqrt(uu * vv);
    return cosine <= 0.9f;
  };
  if (!sound(l, t) || !sound(r, t) || !sound(l, b) || !sound(r, b)) edges = 0;
  const bool away = IsPlaneFacingAway(origin, axisX, axisY, camera);
  auto offset = [&](std::uint32_t bit, const TPoint2F& e) {
    if (!(edges & bit)) return TPoint2F{};
    TPoint2F o = away ? TPoint2F{e.Y, -e.X} : TPoint2F{-e.Y, e.X};
    const float m = std::max(std::fabs(o.X), std::fabs(o.Y));
    if (m != 0) o = {o.X / m, o.Y / m};
    return o;
  };
  const TPoint2F lo = offset(ebLeft, l), to = offset(ebTop, t), ro = offset(ebRight, r), bo = offset(ebBottom, b);
  auto back = [&](const TPoint2F& p) { return TargetToPlane(p, origin, normal); };
  pos[1] = back(Add2(s5, to));
  pos[2] = back(Add2(s6, to));
  pos[4] = back(Add2(s5, lo));
  pos[8] = back(Add2(s9, lo));
  pos[7] = back(Add2(s6, ro));
  pos[11] = back(Add2(s10, ro));
  pos[13] = back(Add2(s9, bo));
  pos[14] = back(Add2(s10, bo));
  pos[0] = Sub(Add(pos[1], pos[4]), pos[5]);
  pos[3] = Sub(Add(pos[2], pos[7]), pos[6]);
  pos[12] = Sub(Add(pos[13], pos[8]), pos[9]);
  pos[15] = Sub(Add(pos[14], pos[11]), pos[10]);
  // Texture coordinates: each position on the axes (least squares, so a
  // point slightly off the plane still gets its nearest coordinates).
  const float xx = Dot(axisX, axisX), xy = Dot(axisX, axisY), yy = Dot(axisY, axisY);
  const float det = xx * yy - xy * xy;
  for (int k = 0; k < 16; ++k) {
    const TPoint3F dlt = Sub(pos[k], origin);
    const float dx = Dot(dlt, axisX), dy = Dot(dlt, axisY);
    const float a = det != 0 ? (dx * yy - dy * xy) / det : 0;
    const float c = det != 0 ? (dy * xx - dx * xy) / det : 0;
    mesh.Tex[k] = {a + pivot.X, c + pivot.Y};
  }
  mesh.Tex[5] = {rect.X0, rect.Y0};
  mesh.Tex[6] = {rect.X1, rect.Y0};
  mesh.Tex[9] = {rect.X0, rect.Y1};
  mesh.Tex[10] = {rect.X1, rect.Y1};
}

void T3DScreen::DrawEdgeMesh(std::span<TScreenTexture* const> textures, std::int32_t mode, const TEdgeMesh& mesh,
                             std::uint32_t c1, std::uint32_t c2, std::uint32_t c3, std::uint32_t c4,
                             std::uint32_t edges) {
  if (!vertexBuffer_) return;
  TVertexBuffer* vb = vertexBuffer_;
  vb->Begin(textures, mode);
  vb->ModulateColour = true;
  TBatchScope scope(vb, true);
  std::uint32_t colour[16];
  TPoint2F uv[16][3];
  for (int k = 0; k < 16; ++k) {
    const int row = k / 4, col = k % 4;
    std::uint32_t c = row < 2 ? (col < 2 ? c1 : c2) : (col < 2 ? c3 : c4);
    if (k != 5 && k != 6 && k != 9 && k != 10) c &= 0x00FFFFFFu;
    colour[k] = c;
    uv[k][0] = mesh.Tex[k];
    uv[k][1] = uv[k][2] = {mesh.Tex[k].X * 0.5f, mesh.Tex[k].Y * 0.5f};
  }
  const std::size_t n = std::size_t(std::clamp(mode, 0, 3));
  auto cell = [&](int a, int b, int c, int d) {
    ZM_ASSERT(mode == 0 || mode == 1 || mode == 3, "DrawEdgeMesh - mode must be 0, 1 or 3");
    vb->AddTriangle(mesh.Pos[a], mesh.Pos[b], mesh.Pos[d], {uv[a], n}, {uv[b], n}, {uv[d], n}, colour[a], colour[b],
                    colour[d], mode);
    vb->AddTriangle(mesh.Pos[d], mesh.Pos[b], mesh.Pos[c], {uv[d], n}, {uv[b], n}, {uv[c], n}, colour[d], colour[b],
                    colour[c], mode);
  };
  edges &= 15;
  const bool left = edges & ebLeft, top = edges & ebTop, right = edges & ebRight, bottom = edges & ebBottom;
  switch (std::popcount(edges)) {
    case 0:
      cell(9, 5, 6, 10);
      break;
    case 1:
      if (left) cell(8, 4, 5, 9), cell(9, 5, 6, 10);
      if (top) cell(1, 2, 6, 5), cell(5, 6, 10, 9);
      if (right) cell(7, 11, 10, 6), cell(6, 10, 9, 5);
      if (bottom) cell(14, 13, 9, 10), cell(10, 9, 5, 6);
      break;
    default:
      if (left || top) cell(4, 0, 1, 5);
      if (top) cell(5, 1, 2, 6);
      if (top || right) cell(6, 2, 3, 7);
      if (left) cell(8, 4, 5, 9);
      cell(9, 5, 6, 10);
      if (right) cell(10, 6, 7, 11);
      if (left || bottom) cell(12, 8, 9, 13);
      if (bottom) cell(13, 9, 10, 14);
      if (right || bottom) cell(14, 10, 11, 15);
      break;
  }
}

}  // namespace zm
