#include "ZmLib/3DBasics/D3D9/Dev3D9Resources.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace gfx = plat::gfx;

TShaderTranslateHook ShaderTranslateHook = nullptr;

namespace {
TPixelFormat* FormatOf(gfx::Format f) {
  switch (f) {
    case gfx::Format::A8R8G8B8:
    case gfx::Format::X8R8G8B8: return FindPixelFormat("A8R8G8B8");
    case gfx::Format::R5G6B5: return FindPixelFormat("R5G6B5");
    case gfx::Format::X1R5G5B5:
    case gfx::Format::A1R5G5B5: return FindPixelFormat("X1R5G5B5");
    case gfx::Format::A8:
    case gfx::Format::L8: return FindPixelFormat("Y8");
    default: ZM_ASSERT(false, "T3DSurface9.GetPixelFormat - unknown format"); return nullptr;
  }
}

// A bitmap over locked rows: Height rows, Pitch apart.
TRef<TSysBitmap> BitmapOver(std::uint8_t* bits, std::int32_t width, std::int32_t height, std::int32_t pitch,
                            TPixelFormat* format) {
  std::vector<std::uint8_t*> rows(static_cast<std::size_t>(std::max(0, height)));
  for (std::int32_t r = 0; r < height; ++r) rows[std::size_t(r)] = bits + std::ptrdiff_t(r) * pitch;
  return MakeRef<TSysBitmap>(TPoint{width, height}, std::move(rows), format);
}

void Remove(std::vector<TBaseTexture*>& v, TRefObject* o) {
  v.erase(std::remove(v.begin(), v.end(), o), v.end());
}
template <class T>
void RemoveFrom(std::vector<T*>& v, TRefObject* o) {
  v.erase(std::remove_if(v.begin(), v.end(), [o](T* p) { return static_cast<TRefObject*>(p) == o; }), v.end());
}

// Takes a reference of every live object of the list (dying ones wait for
// the 3D lock with a count of 0 and are not told).
template <class T>
std::vector<TRef<T>> LiveRefs(const std::vector<T*>& v) {
  std::vector<TRef<T>> out;
  for (T* p : v)
    if (p->RefCount() > 0) out.emplace_back(p);
  return out;
}
}  // namespace

// ---- T3DSurface9 ------------------------------------------------------------------------

T3DSurface9::T3DSurface9(gfx::Ref<gfx::Surface> surface, T3DRenderer9* renderer, T3DTexture9* texture)
    : surface_(std::move(surface)), renderer_(renderer), texture_(texture) {}

void T3DSurface9::Dispose() {
  {
    T3DLockScope g(Device3DLock());
    surface_ = nullptr;
  }
  T3DSurface::Dispose();
}

TSize T3DSurface9::GetSize() {
  T3DLockScope g(Device3DLock());
  gfx::SurfaceDesc desc;
  if (!surface_ || MapDxResult(*this, surface_->GetDesc(desc)) != drOk) return {};
  return {static_cast<std::int32_t>(desc.width), static_cast<std::int32_t>(desc.height)};
}

TPixelFormat* T3DSurface9::GetPixelFormat() {
  T3DLockScope g(Device3DLock());
  gfx::SurfaceDesc desc;
  if (!surface_ || MapDxResult(*this, surface_->GetDesc(desc)) != drOk) return nullptr;
  return FormatOf(desc.format);
}

TRef<TSysBitmap> T3DSurface9::Lock(const TRect& rect, bool readOnly) {
  T3DLockScope g(Device3DLock());
  if (!surface_) return nullptr;
  gfx::SurfaceDesc desc;
  if (MapDxResult(*this, surface_->GetDesc(desc)) != drOk) return nullptr;
  const gfx::Rect r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  std::uint32_t flags = gfx::LockNoSysLock;
  if (readOnly) flags |= gfx::LockReadOnly | gfx::LockNoDirtyUpdate;
  gfx::LockedRect lr;
  if (MapDxResult(*this, surface_->LockRect(lr, &r, flags)) != drOk) return nullptr;
  const std::int32_t h = rect.Bottom - rect.Top;
  return BitmapOver(static_cast<std::uint8_t*>(lr.bits), rect.Right - rect.Left, h, h > 1 ? lr.pitch : 0,
                    FormatOf(desc.format));
}

bool T3DSurface9::Unlock(TRef<TSysBitmap>& bitmap) {
  ZM_ASSERT(bitmap, "T3DSurface9.Unlock - no bitmap");
  T3DLockScope g(Device3DLock());
  bitmap = nullptr;
  if (!surface_) return false;
  return MapDxResult(*this, surface_->UnlockRect()) == drOk;
}

bool T3DSurface9::DrawLocked(gfx::Surface* s, TBitmap* bitmap) {
  gfx::SurfaceDesc desc;
  if (MapDxResult(*this, s->GetDesc(desc)) != drOk) return false;
  gfx::LockedRect lr;
  if (MapDxResult(*this, s->LockRect(lr, nullptr, gfx::LockNoSysLock | gfx::LockReadOnly | gfx::LockNoDirtyUpdate)) !=
      drOk)
    return false;
  bool drawn = true;
  {
    TRef<TSysBitmap> src = BitmapOver(static_cast<std::uint8_t*>(lr.bits), std::int32_t(desc.width),
                                      std::int32_t(desc.height), lr.pitch, FormatOf(desc.format));
    const TRect all{0, 0, std::int32_t(desc.width), std::int32_t(desc.height)};
    if (auto* direct = dynamic_cast<TDirectBitmap*>(bitmap))
      direct->CopyRect(all, src.get(), TPoint{0, 0});
    else if (auto* sys = dynamic_cast<TSysBitmap*>(bitmap))
      sys->CopyRect(all, src.get(), pmNone, TPoint{0, 0});
    else
      drawn = false;
  }
  return MapDxResult(*this, s->UnlockRect()) == drOk && drawn;
}

bool T3DSurface9::CopyToBitmap(TBitmap* bitmap) {
  T3DLockScope g(Device3DLock());
  if (!surface_ || !bitmap) return false;
  return DrawLocked(surface_.Get(), bitmap);
}

bool T3DSurfaceRT::CopyToBitmap(TBitmap* bitmap) {
  T3DLockScope g(Device3DLock());
  if (!surface_ || !bitmap) return false;
  gfx::SurfaceDesc desc;
  if (MapDxResult(*this, surface_->GetDesc(desc)) != drOk) return false;
  gfx::Device* d = surface_->OwnerDevice();
  gfx::Ref<gfx::Surface> copy;
  if (MapDxResult(*this, d->CreateOffscreenPlainSurface(desc.width, desc.height, desc.format, gfx::Pool::SystemMem,
                                                        copy)) != drOk)
    return false;
  if (MapDxResult(*this, d->GetRenderTargetData(surface_.Get(), copy.Get())) != drOk) return false;
  return DrawLocked(copy.Get(), bitmap);
}

// ---- T3DTexture9 ------------------------------------------------------------------------

T3DTexture9::T3DTexture9(std::uint8_t kind, T3DRenderer9* renderer) : kind_(kind), renderer_(renderer) {}

void T3DTexture9::Dispose() {
  std::vector<TRef<T3DSurface9>> levels;
  {
    T3DLockScope g(Device3DLock());
    if (store_) store_->RemoveResource(this);
    store_ = nullptr;
    levels.swap(levels_);
    texture_ = nullptr;
  }
  levels.clear();
  T3DTexture::Dispose();
}

TDevStore* T3DTexture9::Store() const {
  T3DLockScope g(Device3DLock());
  return store_;
}

std::int32_t T3DTexture9::GetLevelCount() {
  T3DLockScope g(Device3DLock());
  return texture_ ? static_cast<std::int32_t>(texture_->LevelCount()) : 0;
}

TRef<T3DSurface> T3DTexture9::GetSurface(std::int32_t level) {
  T3DLockScope g(Device3DLock());
  if (!texture_ || level < 0) return nullptr;
  const auto l = static_cast<std::size_t>(level);
  if (l < levels_.size() && levels_[l]) return levels_[l];
  gfx::Ref<gfx::Surface> s;
  if (MapDxResult(*this, texture_->GetSurfaceLevel(std::uint32_t(level), s)) != drOk) return nullptr;
  TRef<T3DSurface9> w = kind_ == tkTarget || kind_ == tkTargetAlpha
                            ? TRef<T3DSurface9>(MakeRef<T3DSurfaceRT>(s, renderer_, this))
                            : MakeRef<T3DSurface9>(s, renderer_, this);
  if (levels_.size() <= l) levels_.resize(l + 1);
  levels_[l] = w;
  return w;
}

void T3DTexture9::PreLoad() {
  T3DLockScope g(Device3DLock());
  if (texture_) texture_->PreLoad();
}

void T3DTexture9::SetAddressing(std::uint8_t u, std::uint8_t v) {
  addressU_ = u;
  addressV_ = v;
}
void T3DTexture9::GetAddressing(std::uint8_t& u, std::uint8_t& v) {
  u = addressU_;
  v = addressV_;
}
void T3DTexture9::SetFilter(std::uint8_t filter) { filter_ = filter; }
std::uint8_t T3DTexture9::GetFilter() { return filter_; }
void T3DTexture9::SetAnisotropic(bool on) { anisotropic_ = on; }
void T3DTexture9::SetLodBias(float bias) { lodBias_ = bias; }

// ---- TVolumeTexture9 ------------------------------------------------------------------

void TVolumeTexture9::Dispose() {
  {
    T3DLockScope g(Device3DLock());
    if (store_) store_->RemoveResource(this);
    store_ = nullptr;
    texture_ = nullptr;
  }
  TVolumeTexture::Dispose();
}

TDevStore* TVolumeTexture9::Store() const {
  T3DLockScope g(Device3DLock());
  return store_;
}

std::int32_t TVolumeTexture9::GetLevelCount() {
  T3DLockScope g(Device3DLock());
  return texture_ ? static_cast<std::int32_t>(texture_->LevelCount()) : 0;
}

TRef<TSysBitmap> TVolumeTexture9::LockBox(std::int32_t level, const T3DBox& box) {
  T3DLockScope g(Device3DLock());
  if (!texture_ || level < 0 || box.Left < 0 || box.Top < 0 || box.Front < 0 || box.Right <= box.Left ||
      box.Bottom <= box.Top || box.Back <= box.Front) {
    MapDxResult(*this, gfx::Result::InvalidCall);
    return nullptr;
  }
  const gfx::Box b{std::uint32_t(box.Left),  std::uint32_t(box.Top),   std::uint32_t(box.Right),
                   std::uint32_t(box.Bottom), std::uint32_t(box.Front), std::uint32_t(box.Back)};
  gfx::LockedBox lb;
  if (MapDxResult(*this, texture_->LockBox(std::uint32_t(level), lb, &b, gfx::LockNoSysLock)) != drOk) return nullptr;
  const std::int32_t h = box.Bottom - box.Top, depth = box.Back - box.Front;
  std::vector<std::uint8_t*> rows;
  rows.reserve(std::size_t(h) * std::size_t(depth));
  auto* bits = static_cast<std::uint8_t*>(lb.bits);
  for (std::int32_t z = 0; z < depth; ++z)
    for (std::int32_t r = 0; r < h; ++r)
      rows.push_back(bits + std::ptrdiff_t(z) * lb.slicePitch + std::ptrdiff_t(r) * lb.rowPitch);
  return MakeRef<TSysBitmap>(TPoint{box.Right - box.Left, h * depth}, std::move(rows), FindPixelFormat("A8R8G8B8"));
}

bool TVolumeTexture9::UnlockBox(std::int32_t level, TRef<TSysBitmap>& bitmap) {
  ZM_ASSERT(bitmap, "TVolumeTexture9.UnlockBox - no bitmap");
  T3DLockScope g(Device3DLock());
  bitmap = nullptr;
  if (!texture_ || level < 0) return false;
  return MapDxResult(*this, texture_->UnlockBox(std::uint32_t(level))) == drOk;
}

// ---- T3DVertexList9 ------------------------------------------------------------------

void T3DVertexList9::Dispose() {
  {
    T3DLockScope g(Device3DLock());
    if (store_) store_->RemoveResource(this);
    store_ = nullptr;
    buffer_ = nullptr;
  }
  T3DVertexList::Dispose();
}

TDevStore* T3DVertexList9::Store() const {
  T3DLockScope g(Device3DLock());
  return store_;
}

bool T3DVertexList9::SetPrimitive(std::int32_t firstVertex, std::int32_t primitiveCount, std::uint8_t kind) {
  T3DLockScope g(Device3DLock());
  firstVertex_ = firstVertex;
  primitiveCount_ = primitiveCount;
  primitive_ = kind;
  return true;
}

bool T3DVertexList9::SetVertices(std::int32_t destIndex, std::span<const T3DVertex> vertices,
                                 std::int32_t sourceIndex, std::int32_t count) {
  T3DLockScope g(Device3DLock());
  if (!buffer_) return false;
  const std::int64_t capacity = stride_ ? buffer_->Size() / stride_ : 0;
  if (count < 0 || destIndex < 0 || sourceIndex < 0 || std::int64_t(sourceIndex) + count > std::int64_t(vertices.size()) ||
      std::int64_t(destIndex) + count > capacity) {
    MapDxResult(*this, gfx::Result::InvalidCall);
    return false;
  }
  void* p = nullptr;
  if (MapDxResult(*this, buffer_->Lock(0, 0, &p, 0)) != drOk) return false;
  auto* out = static_cast<std::uint8_t*>(p) + std::size_t(destIndex) * stride_;
  for (std::int32_t i = 0; i < count; ++i, out += stride_) {
    const T3DVertex& v = vertices[std::size_t(sourceIndex + i)];
    std::memcpy(out, &v.X, 12);
    if (hasDiffuse_) std::memcpy(out + diffuseOffset_, &v.Diffuse, 4);
    if (hasSpecular_) std::memcpy(out + specularOffset_, &v.Specular, 4);
    if (hasNormal_) std::memcpy(out + normalOffset_, &v.NX, 12);
    std::memcpy(out + texOffset_, v.Tex, texCount_ * 8);
  }
  return MapDxResult(*this, buffer_->Unlock()) == drOk;
}

// ---- T3DShader9 ------------------------------------------------------------------------

void T3DShader9::Dispose() {
  plat::gfx::Ref<plat::gfx::PixelShader> dropPixel;
  plat::gfx::Ref<plat::gfx::VertexShader> dropVertex;
  {
    T3DLockScope g(Device3DLock());
    if (store_) store_->RemoveResource(this);
    store_ = nullptr;
    dropPixel = std::move(pixelShader_);
    dropVertex = std::move(vertexShader_);
  }
  T3DShader::Dispose();
}

TDevStore* T3DShader9::Store() const {
  T3DLockScope g(Device3DLock());
  return store_;
}

// ---- TDevStore -------------------------------------------------------------------------

TDevStore::TDevStore(T3DEngine9* engine, TDrawDevice* device) : device_(device), engine_(engine) {
  AddDeviceObject(device, this);
}

void TDevStore::RemoveRenderer(T3DRenderer9* r) {
  renderers_.erase(std::remove(renderers_.begin(), renderers_.end(), r), renderers_.end());
}

void TDevStore::RemoveResource(TRefObject* o) {
  Remove(textures_, o);
  RemoveFrom(vertexLists_, o);
  RemoveFrom(shaders_, o);
}

void TDevStore::Dispose() {
  T3DLockScope g(Device3DLock());
  TRef<TReleaseData> release;
  if (!renderers_.empty() && renderers_.front()->FullScreenRequested() && d3dDevice_) {
    TRef<TRectangleWrapper> record = FindDeviceObject<TRectangleWrapper>(device_);
    const TRect rect = record ? record->Rect : device_->Bounds();
    LogRect(u"Store.Dispose FullScreen, R= ", rect);
    TRef<TReleaseData> data = MakeRef<TReleaseData>();
    data->Device = std::move(d3dDevice_);
    data->Window = device_->Window();
    data->Rect = rect;
    if (!On3DUIThread()) LogLine(u"TDevStore.Dispose, not main thread");
    release = std::move(data);
  }
  // Everything made on the device is cut off first, then told. Dying
  // objects are cut off too: they wait for the 3D lock to leave this store,
  // which is gone by then.
  auto renderers = LiveRefs(renderers_);
  auto textures = LiveRefs(textures_);
  auto lists = LiveRefs(vertexLists_);
  auto shaders = LiveRefs(shaders_);
  for (T3DRenderer9* r : renderers_)
    if (r->store_ == this) r->store_ = nullptr;
  for (TBaseTexture* t : textures_) {
    if (auto* t9 = dynamic_cast<T3DTexture9*>(t)) t9->store_ = nullptr;
    if (auto* v9 = dynamic_cast<TVolumeTexture9*>(t)) v9->store_ = nullptr;
  }
  for (T3DVertexList* l : vertexLists_)
    if (auto* l9 = dynamic_cast<T3DVertexList9*>(l)) l9->store_ = nullptr;
  for (T3DShader* s : shaders_)
    if (auto* s9 = dynamic_cast<T3DShader9*>(s)) s9->store_ = nullptr;
  renderers_.clear();
  textures_.clear();
  vertexLists_.clear();
  shaders_.clear();
  for (auto& r : renderers) r->SetState(rsDeviceLost);
  // Told with the 3D lock left: a texture of a video picture lets go under
  // the picture's monitor, which the clip's extractor holds while it waits
  // for the 3D lock to write a plane.
  After3DLock([renderers = std::move(renderers), textures = std::move(textures), lists = std::move(lists),
               shaders = std::move(shaders)] {
    for (auto& r : renderers) r->DoLost(r.get());
    for (auto& t : textures) t->DoLost(t.get());
    for (auto& l : lists) l->DoLost(l.get());
    for (auto& s : shaders) s->DoLost(s.get());
  });
  // After them: what they let go no longer holds the device up.
  if (release && engine_) engine_->PostRelease(std::move(release));
  d3dDevice_ = nullptr;
  engine_ = nullptr;
  TRefObject::Dispose();
}

// ---- TWinPanel --------------------------------------------------------------------------

namespace {
std::mutex gPanelLinkLock;  // leaf: guards the panel <-> link pointers
}  // namespace

// Freed by the draw device when it ends (the device's list holds its only
// reference): the panel then forgets the device.
class TWinPanelLink : public TRefObject {
public:
  explicit TWinPanelLink(TWinPanel* panel) : panel_(panel) {}
  void Dispose() override {
    {
      std::lock_guard<std::mutex> g(gPanelLinkLock);
      if (panel_) {
        panel_->device_ = nullptr;
        panel_->link_ = nullptr;
      }
      panel_ = nullptr;
    }
    TRefObject::Dispose();
  }

private:
  friend class TWinPanel;
  TWinPanel* panel_;
};

TWinPanel::TWinPanel(TDrawDevice* device) : device_(device), parent_(device ? device->Window() : nullptr) {
  if (!device) return;
  CreateHandle(parent_, device->Bounds());
  TRef<TWinPanelLink> link = MakeRef<TWinPanelLink>(this);
  if (AddDeviceObject(device, link.get())) {
    link_ = link.get();
  } else {
    link->panel_ = nullptr;
    device_ = nullptr;  // a device that is ending
    return;
  }
  AddDeviceObject(device, this);
}

void TWinPanel::Dispose() {
  TWinPanelLink* link = nullptr;
  TDrawDevice* device = nullptr;
  {
    std::lock_guard<std::mutex> g(gPanelLinkLock);
    if (link_) link_->panel_ = nullptr;
    link = std::exchange(link_, nullptr);
    device = std::exchange(device_, nullptr);
  }
  // The link has no use without the panel; the list's reference goes here.
  if (device && link) ExtractDeviceObject(device, link);
  TWinControl::Dispose();
}

TDrawDevice* TWinPanel::DrawDevice() const {
  std::lock_guard<std::mutex> g(gPanelLinkLock);
  return device_;
}

WideString TWinPanel::WindowClassName() { return u"TWinPanel"; }

void TWinPanel::RegisterWindowClass() {
  // Registered at every creation: the class goes when the window system
  // is reset, and a second registration only fails as already there.
  plat::WNDCLASSW wc{};
  wc.style = plat::CS_DBLCLKS;
  wc.lpfnWndProc = &plat::DefWindowProcW;
  wc.lpszClassName = u"TWinPanel";
  WndAPIClass->RegisterClass(wc);
}

LRESULT TWinPanel::WndProc(UINT msg, WPARAM w, LPARAM l) {
  TDrawDevice* device = DrawDevice();
  // The panel is made again when the device's window changes, so the
  // parent is the device's window for as long as the device lives.
  HWND target = device ? parent_ : nullptr;
  switch (msg) {
    case plat::WM_PAINT: {
      erase_ = false;
      plat::PAINTSTRUCT ps;
      plat::BeginPaint(Handle(), &ps);
      if (device) device->Repaint();
      plat::EndPaint(Handle(), &ps);
      return 1;
    }
    case plat::WM_ERASEBKGND:
      // The device paints the whole panel; until its first paint the panel
      // shows the face colour.
      if (erase_) {
        const auto dc = reinterpret_cast<plat::HDC>(w);
        plat::RECT rc{};
        plat::GetClientRect(Handle(), &rc);
        const plat::COLORREF old = plat::SetBkColor(dc, plat::GetSysColor(plat::COLOR_BTNFACE));
        plat::ExtTextOutW(dc, 0, 0, plat::ETO_OPAQUE, &rc, nullptr, 0, nullptr);
        if (old != plat::CLR_INVALID) plat::SetBkColor(dc, old);
      }
      return 1;
    case plat::WM_SETCURSOR:
      return target ? WndAPIClass->SendMessage(target, msg, w, l) : 0;
    default:
      break;
  }
  if (msg >= plat::WM_MOUSEFIRST && msg <= plat::WM_MOUSEFIRST + 14 && target) {
    // The wheels carry screen coordinates, which need no move.
    const bool screenPoint = msg == plat::WM_MOUSEWHEEL || msg == plat::WM_MOUSEHWHEEL;
    if (target != Handle() && !screenPoint) {
      plat::POINT p{static_cast<std::int16_t>(l & 0xFFFF), static_cast<std::int16_t>((l >> 16) & 0xFFFF)};
      plat::ClientToScreen(Handle(), &p);
      plat::ScreenToClient(target, &p);
      l = static_cast<LPARAM>((std::uint32_t(std::uint16_t(p.y)) << 16) | std::uint16_t(p.x));
    }
    return WndAPIClass->SendMessage(target, msg, w, l);
  }
  return TWinControl::WndProc(msg, w, l);
}

}  // namespace zm
