#include "ZmLib/3DBasics/D3D9/Dev3D9.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <thread>
#include <string>

#include "Platform/User/PlatUser.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/winSession.h"
#include "ZmLib/Application2/zmEventList.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace gfx = plat::gfx;

// ---- Globals ---------------------------------------------------------------------------

namespace {
std::recursive_mutex gDeviceLock;
std::mutex gObjectsLock;  // leaf: nothing is called while it is held
std::mutex gUtilityLock;
TRef<TDumbWindow> gUtilityWindow;
THookInstall<TCreate3DEngineHook> gEngine9Hook;

std::int64_t Overlap(const TRect& a, const plat::RECT& b) {
  const std::int64_t w = std::int64_t(std::min(a.Right, b.right)) - std::max(a.Left, b.left);
  const std::int64_t h = std::int64_t(std::min(a.Bottom, b.bottom)) - std::max(a.Top, b.top);
  return w > 0 && h > 0 ? w * h : 0;
}

bool MonitorRect(gfx::System* d3d, std::uint32_t adapter, plat::RECT& r) {
  plat::MONITORINFO info;
  gfx::MonitorId m = d3d->AdapterMonitor(adapter);
  if (!m || !plat::GetMonitorInfoA(m, &info)) return false;
  r = info.rcMonitor;
  return true;
}

std::string Lower(std::string_view key) {
  std::string s(key);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void PlaceWindow(HWND window, const TRect& r, plat::UINT show) {
  if (!window) return;
  plat::WINDOWPLACEMENT wp;
  plat::GetWindowPlacement(window, &wp);
  wp.showCmd = show;
  wp.rcNormalPosition = plat::RECT{r.Left, r.Top, r.Right, r.Bottom};
  plat::SetWindowPlacement(window, &wp);
}
}  // namespace

std::recursive_mutex& Device3DLock() { return gDeviceLock; }

namespace {
thread_local int t3DHolds = 0;                         // this thread's T3DLockScopes
thread_local std::vector<std::function<void()>> tAfter;  // put off until the outermost ends
}  // namespace

T3DLockScope::T3DLockScope(std::recursive_mutex& lock) : lock_(lock) {
  lock_.lock();
  ++t3DHolds;
}

T3DLockScope::~T3DLockScope() {
  if (--t3DHolds > 0 || tAfter.empty()) {
    lock_.unlock();
    return;
  }
  std::vector<std::function<void()>> work;
  work.swap(tAfter);
  lock_.unlock();
  // What these take in turn runs at the end of their own holds.
  for (auto& w : work) {
    try {
      w();
    } catch (...) {
      ReportSwallowedException();
    }
  }
}

void After3DLock(std::function<void()> work) {
  if (!work) return;
  if (t3DHolds > 0)
    tAfter.push_back(std::move(work));
  else
    work();
}

std::atomic<bool> Exclusive3DAllowed{false};
std::atomic<bool> DesktopComposition3D{true};
std::atomic<bool> UIThreadCheck3D{true};
std::atomic<std::uint8_t> DefaultPresentInterval3D{0};

bool On3DUIThread() { return !UIThreadCheck3D.load() || IsEventOwnerThread(); }

// ---- Result mapping ----------------------------------------------------------------------

namespace {
std::uint8_t LogCode(gfx::Result result) {
  const std::uint8_t code = gfx::ResultByte(result);
  if (code) LogInt(u"Dx Error = ", code);
  return code;
}

bool BackBufferIs(gfx::Device* device, std::int64_t width, std::int64_t height) {
  gfx::Ref<gfx::Surface> back;
  gfx::SurfaceDesc desc;
  if (!gfx::Succeeded(device->GetBackBuffer(0, 0, gfx::BackBufferType::Mono, back)) || !back ||
      !gfx::Succeeded(back->GetDesc(desc)))
    return false;
  return std::int64_t(desc.width) == width && std::int64_t(desc.height) == height;
}
}  // namespace

std::uint8_t MapDxResult(T3DCallState& target, gfx::Result result) {
  const std::uint8_t code = LogCode(result);
  target.SetLastResult(code);
  if (result == gfx::Result::DeviceLost) target.SetDeviceLost(2);
  return code;
}

std::uint8_t MapDxResult(T3DRenderer& target, gfx::Result result) {
  const std::uint8_t code = LogCode(result);
  target.SetLastResult(code);
  if (result == gfx::Result::DeviceLost) target.SetState(rsDeviceLost);
  return code;
}

// ---- Window list -------------------------------------------------------------------------

namespace detail {
TRefObject* FindDeviceObjectLocked(TDrawDevice* device, bool (*match)(TRefObject*)) {
  if (!device) return nullptr;
  std::lock_guard<std::mutex> g(gObjectsLock);
  TList* list = device->Objects();
  if (!list) return nullptr;
  for (std::int32_t i = 0; i < list->Count(); ++i) {
    TRefObject* o = list->Get(i);
    if (o && match(o)) {
      o->AddRef();
      return o;
    }
  }
  return nullptr;
}
}  // namespace detail

bool AddDeviceObject(TDrawDevice* device, TRefObject* object) {
  if (!device || !object) return false;
  std::lock_guard<std::mutex> g(gObjectsLock);
  TList* list = device->Objects();
  if (!list || list->Add(object) < 0) return false;
  object->AddRef();
  return true;
}

TRef<TRefObject> ExtractDeviceObject(TDrawDevice* device, TRefObject* object) {
  if (!device || !object) return nullptr;
  std::lock_guard<std::mutex> g(gObjectsLock);
  TList* list = device->Objects();
  if (!list) return nullptr;
  const std::int32_t i = list->IndexOf(object);
  if (i < 0) return nullptr;
  return TRef<TRefObject>::Adopt(list->ExtractAt(i));
}

// ---- T3DEngine9 ------------------------------------------------------------------------

T3DEngine9::T3DEngine9(gfx::Ref<gfx::System> d3d)
    : d3d_(std::move(d3d)), interval_(DefaultPresentInterval3D.load()) {
  if (Application) {
    idMessage_ = Application->RegisterEvent(&EventHandler, this);
    idReset_ = Application->RegisterEvent(&EventHandler, this);
    idHidden_ = Application->RegisterEvent(&EventHandler, this);
  }
  if (On3DUIThread())
    CreateHiddenDevice();
  else if (Application && idHidden_)
    Application->PostEvent(idHidden_, nullptr);
}

void T3DEngine9::Dispose() {
  if (Application) {
    for (std::int32_t id : {idMessage_, idReset_, idHidden_})
      if (id) Application->RemoveHandler(id, &EventHandler, this);
  }
  idMessage_ = idReset_ = idHidden_ = 0;
  {
    std::lock_guard<std::mutex> g(capsLock_);
    caps_.clear();
  }
  {
    T3DLockScope g(Device3DLock());
    hidden_ = nullptr;
  }
  d3d_ = nullptr;
  T3DEngine::Dispose();
}

std::int32_t T3DEngine9::FindAdapter(const TRect& rect) {
  if (!d3d_) return 0;
  std::int32_t best = 0;
  std::int64_t bestArea = 0;
  for (std::uint32_t a = 0; a < d3d_->AdapterCount(); ++a) {
    plat::RECT m;
    if (!MonitorRect(d3d_.Get(), a, m)) continue;
    const std::int64_t area = Overlap(rect, m);
    if (area > bestArea) {
      bestArea = area;
      best = static_cast<std::int32_t>(a);
    }
  }
  return best;
}

bool T3DEngine9::GetDisplayMode(std::int32_t adapter, T3DDisplayMode& mode) {
  if (!d3d_ || adapter < 0) return false;
  gfx::DisplayMode dm;
  const gfx::Result r = d3d_->AdapterDisplayMode(static_cast<std::uint32_t>(adapter), dm);
  MapDxResult(*this, r);
  if (!gfx::Succeeded(r)) return false;
  plat::RECT m;
  if (MonitorRect(d3d_.Get(), static_cast<std::uint32_t>(adapter), m))
    mode.MonitorRect = {m.left, m.top, m.right, m.bottom};
  else
    mode.MonitorRect = {0, 0, static_cast<std::int32_t>(dm.width), static_cast<std::int32_t>(dm.height)};
  mode.RefreshRate = static_cast<std::int32_t>(dm.refreshRate);
  mode.Format = static_cast<std::int32_t>(dm.format);
  mode.Adapter = adapter;
  return true;
}

const TCapsWrapper* T3DEngine9::CapsOf(std::int32_t adapter) {
  if (!d3d_ || adapter < 0) return nullptr;
  std::lock_guard<std::mutex> g(capsLock_);
  for (const auto& c : caps_)
    if (c->Adapter == static_cast<std::uint32_t>(adapter)) return c.get();
  TCapsWrapper c;
  c.Adapter = static_cast<std::uint32_t>(adapter);
  gfx::Result r = d3d_->DeviceCaps(c.Adapter, gfx::DeviceType::Hal, c.Caps);
  MapDxResult(*this, r);
  if (!gfx::Succeeded(r)) return nullptr;
  r = d3d_->AdapterIdentifierOf(c.Adapter, 0, c.Identifier);
  MapDxResult(*this, r);
  if (!gfx::Succeeded(r)) return nullptr;
  if (c.Identifier.description.size() > 512) c.Identifier.description.resize(512);
  caps_.push_back(std::make_unique<TCapsWrapper>(std::move(c)));
  return caps_.back().get();
}

std::uint32_t T3DEngine9::GetCapValue(std::int32_t adapter, std::string_view key) {
  const TCapsWrapper* c = CapsOf(adapter);
  if (!c) return 0;
  const std::string k = Lower(key);
  if (k == "pixelshaderversion") return c->Caps.pixelShaderVersion;
  if (k == "maxtexwidth") return c->Caps.maxTextureWidth;
  if (k == "maxtexheight") return c->Caps.maxTextureHeight;
  if (k == "maxanisotropy") return c->Caps.maxAnisotropy;
  if (k == "raster") return c->Caps.rasterCaps;
  if (k == "vendor") return c->Identifier.vendorId;
  return 0;
}

WideString T3DEngine9::GetCapText(std::int32_t adapter, std::string_view key) {
  if (Lower(key) != "vendor") return {};
  const TCapsWrapper* c = CapsOf(adapter);
  return c ? WideString(c->Identifier.description) : WideString();
}

std::int32_t T3DEngine9::GetShaderLevel(std::int32_t adapter) {
  const std::uint32_t ps = GetCapValue(adapter, "pixelshaderversion");
  if (GetCapValue(adapter, "vendor") == 0x8086) {
    if (ps >= gfx::PsVersion(3, 0)) return 2;
    return ps >= gfx::PsVersion(2, 0) ? 1 : 0;
  }
  return ps >= gfx::PsVersion(2, 0) ? 2 : 0;
}

TDumbWindow* Dev3D9UtilityWindow() {
  std::lock_guard<std::mutex> g(gUtilityLock);
  if (!gUtilityWindow) {
    gUtilityWindow = MakeRef<TDumbWindow>();
    gUtilityWindow->SetBounds({0, 0, 16, 16});
  }
  return gUtilityWindow.get();
}

void T3DEngine9::CreateHiddenDevice() {
  T3DLockScope g(Device3DLock());
  if (hidden_ || !d3d_) return;
  T3DDisplayMode mode;
  if (!GetDisplayMode(0, mode)) return;
  HWND window = Dev3D9UtilityWindow()->Handle();
  hiddenPp_ = gfx::PresentParameters{};
  hiddenPp_.backBufferWidth = 16;
  hiddenPp_.backBufferHeight = 16;
  hiddenPp_.backBufferFormat = static_cast<gfx::Format>(mode.Format);
  hiddenPp_.backBufferCount = 1;
  hiddenPp_.swapEffect = gfx::SwapEffect::Copy;
  hiddenPp_.deviceWindow = window;
  hiddenPp_.windowed = true;
  hiddenPp_.presentationInterval = gfx::IntervalDefault;
  gfx::PresentParameters pp = hiddenPp_;
  MapDxResult(*this, d3d_->CreateDevice(0, gfx::DeviceType::Hal, window,
                                        gfx::CreateFpuPreserve | gfx::CreateMultithreaded |
                                            gfx::CreateSoftwareVertexProcessing,
                                        pp, hidden_));
}

void T3DEngine9::ResetHiddenDevice() {
  T3DLockScope g(Device3DLock());
  if (!hidden_) return;
  gfx::PresentParameters pp = hiddenPp_;
  MapDxResult(*this, hidden_->Reset(pp));
}

bool T3DEngine9::CheckDevice() {
  T3DLockScope g(Device3DLock());
  if (IsSessionLocked()) return false;
  if (!hidden_) return true;
  const gfx::Result r = hidden_->TestCooperativeLevel();
  if (r == gfx::Result::DeviceLost) return false;
  if (r != gfx::Result::DeviceNotReset) return true;
  // The device was made on the UI thread and may be reset only there.
  if (On3DUIThread() && hidden_->CreatingThread() == std::this_thread::get_id()) {
    gfx::PresentParameters pp = hiddenPp_;
    const gfx::Result rr = hidden_->Reset(pp);
    MapDxResult(*this, rr);
    return gfx::Succeeded(rr);
  }
  if (Application && idReset_) Application->PostEvent(idReset_, nullptr);
  return true;
}

void TInitData::Dispose() {
  {
    // A message the UI thread never took (its queue ended) goes here too.
    T3DLockScope g(Device3DLock());
    if (Renderer && Renderer->initData_ == this) Renderer->initData_ = nullptr;
    Renderer = nullptr;
  }
  Device = nullptr;
  TRefObject::Dispose();
}

TRef<T3DRenderer> T3DEngine9::CreateRenderer(TDrawDevice* device, const T3DDisplayMode& mode) {
  if (!device || !device->Objects()) return nullptr;
  TRef<T3DRenderer9> r = MakeRef<T3DRenderer9>(device, this);
  // Forms and window devices present through the device's own chain.
  r->usesSwapChain_ = !dynamic_cast<TZmFormDevice*>(device) && device->ClassName() != "TWinDevice";
  if (On3DUIThread() || !Application || !idMessage_) {
    T3DLockScope g(Device3DLock());
    if (!InternalCreateRenderer(device, mode, r.get())) return nullptr;  // frees the renderer
    return r;
  }
  TRef<TInitData> data = MakeRef<TInitData>();
  data->Device = TRef<TDrawDevice>(device);
  data->Mode = mode;
  {
    T3DLockScope g(Device3DLock());
    r->SetState(rsCreationPending);
    data->Renderer = r.get();
    r->initData_ = data.get();
  }
  Application->PostEvent(idMessage_, data.Detach());
  return r;
}

bool T3DEngine9::InternalCreateRenderer(TDrawDevice* device, const T3DDisplayMode& mode, T3DRenderer9* r) {
  T3DLockScope g(Device3DLock());
  ZM_ASSERT(d3d_, "T3DEngine9.InternalCreateRenderer - no Direct3D object");
  if (!device || !device->Objects() || !r) return false;
  const bool full = device->FullScreen();
  TRef<TRectangleWrapper> record = FindDeviceObject<TRectangleWrapper>(device);
  if (!record) {
    record = MakeRef<TRectangleWrapper>();
    AddDeviceObject(device, record.get());
  }
  const TRect bounds = device->Bounds();
  TRect backRect;
  if (full) {
    record->Rect = mode.MonitorRect;
    backRect = {0, 0, mode.MonitorRect.Right - mode.MonitorRect.Left, mode.MonitorRect.Bottom - mode.MonitorRect.Top};
  } else {
    record->Rect = bounds;
    backRect = bounds;
  }
  const bool allowed = Exclusive3DAllowed.load();
  if (full && !allowed) {
    PlaceWindow(device->Window(), mode.MonitorRect, plat::SW_SHOW);
    LogRect(u"Setwndposlocal ", mode.MonitorRect);
  }
  const bool exclusive = full && allowed && record->Flag == 0;
  DropResizedStore(device, mode, r->usesSwapChain_);  // reads the flag
  record->Flag = 0;
  std::uint32_t interval = gfx::IntervalDefault;
  if (exclusive || !DesktopComposition3D.load()) {
    if (interval_ == 1) interval = gfx::IntervalImmediate;
    if (interval_ == 2) interval = gfx::IntervalOne;
  }

  TRef<TDevStore> store = FindDeviceObject<TDevStore>(device);
  if (!store) {
    store = MakeRef<TDevStore>(this, device);  // joins the window list
  }
  TRef<TWinPanel> panel = FindDeviceObject<TWinPanel>(device);
  if (panel && panel->ParentWindow() != device->Window()) {
    ExtractDeviceObject(device, panel.get());  // the list's reference goes here
    panel = nullptr;
  }
  if (!panel) panel = MakeRef<TWinPanel>(device);

  gfx::PresentParameters pp;
  pp.backBufferWidth = static_cast<std::uint32_t>(std::max(0, backRect.Right - backRect.Left));
  pp.backBufferHeight = static_cast<std::uint32_t>(std::max(0, backRect.Bottom - backRect.Top));
  pp.backBufferFormat = static_cast<gfx::Format>(mode.Format);
  pp.multiSampleType = 0;
  pp.multiSampleQuality = 0;
  pp.enableAutoDepthStencil = false;
  pp.presentationInterval = interval;
  constexpr std::uint32_t flags =
      gfx::CreateFpuPreserve | gfx::CreateMultithreaded | gfx::CreateSoftwareVertexProcessing;
  gfx::Result res = gfx::Result::Ok;
  gfx::Ref<gfx::SwapChain> chain;
  if (exclusive) {
    LogLine(u"T3DEngine9.InternalCreateRenderer - exclusive");
    pp.swapEffect = gfx::SwapEffect::Discard;
    pp.backBufferCount = backBufferCount_;
    pp.windowed = false;
    pp.fullScreenRefreshRate = static_cast<std::uint32_t>(std::max(0, mode.RefreshRate));
    pp.deviceWindow = device->Window();
    gfx::Ref<gfx::Device> dev;
    res = d3d_->CreateDevice(static_cast<std::uint32_t>(std::max(0, mode.Adapter)), gfx::DeviceType::Hal,
                             device->Window(), flags, pp, dev);
    if (gfx::Succeeded(res)) {
      store->SetDevice(dev);
      if (r->usesSwapChain_) res = dev->GetSwapChain(0, chain);
    }
  } else {
    pp.swapEffect = gfx::SwapEffect::Copy;
    pp.backBufferCount = 1;
    pp.windowed = true;
    pp.deviceWindow = panel ? panel->Handle() : nullptr;
    LogRect(u"T3DEngine9.InternalCreateRenderer: init windowed device: ", record->Rect);
    if (panel) panel->SetVisible(record->Rect.Right > record->Rect.Left && record->Rect.Bottom > record->Rect.Top);
    if (!store->Device()) {
      gfx::Ref<gfx::Device> dev;
      res = d3d_->CreateDevice(static_cast<std::uint32_t>(std::max(0, mode.Adapter)), gfx::DeviceType::Hal,
                               pp.deviceWindow, flags, pp, dev);
      if (gfx::Succeeded(res)) store->SetDevice(dev);
    }
    if (gfx::Succeeded(res) && r->usesSwapChain_) res = store->Device()->CreateAdditionalSwapChain(pp, chain);
  }
  const std::uint8_t code = MapDxResult(*this, res);
  LogInt(u"T3DEngine9.InternalCreateRenderer: create device res= ", code);
  if (!gfx::Succeeded(res)) {
    // A store that never got a device has nothing to keep.
    if (!store->Device() && store->RendererCount() == 0) ExtractDeviceObject(device, store.get());
    return false;
  }
  gfx::Device* dev = store->Device();
  store->AddRenderer(r);
  r->store_ = store.get();
  r->swapChain_ = chain;
  r->exclusive_ = exclusive;
  r->fullScreen_ = full;
  r->active_ = exclusive;
  r->blendMode_ = bmNormal;
  r->refreshRate_ = mode.RefreshRate;
  r->initData_ = nullptr;
  r->SetLastResult(drOk);
  {
    TRef<T3DSurface> bb;
    if (r->GetBackBuffer(bb)) r->renderTarget_ = TRef<T3DSurface9>(static_cast<T3DSurface9*>(bb.get()));
  }
  const std::int32_t adapter = std::max(0, mode.Adapter);
  r->maxAnisotropy_ = static_cast<std::int32_t>(std::min<std::uint32_t>(4, GetCapValue(adapter, "MaxAnisotropy")));
  const std::uint32_t raster = GetCapValue(adapter, "raster");
  r->anisotropy_ = (raster & 0x20000) != 0;
  r->lodBias_ = (raster & 0x2000) != 0;
  const auto fmt = static_cast<gfx::Format>(mode.Format);
  const auto ua = static_cast<std::uint32_t>(adapter);
  if (gfx::Succeeded(d3d_->CheckDeviceFormat(ua, gfx::DeviceType::Hal, fmt, gfx::UsageDepthStencil,
                                             gfx::ResourceType::Surface, gfx::Format::D24X8)))
    r->depthFormat_ = gfx::Format::D24X8;
  else if (gfx::Succeeded(d3d_->CheckDeviceFormat(ua, gfx::DeviceType::Hal, fmt, gfx::UsageDepthStencil,
                                                  gfx::ResourceType::Surface, gfx::Format::D16)))
    r->depthFormat_ = gfx::Format::D16;
  else
    r->depthFormat_ = gfx::Format::Unknown;
  r->SetLuminance8Available(gfx::Succeeded(
      d3d_->CheckDeviceFormat(ua, gfx::DeviceType::Hal, fmt, 0, gfx::ResourceType::Texture, gfx::Format::L8)));
  // The state quad: four transparent vertices of position and colour.
  gfx::Ref<gfx::VertexBuffer> vb;
  if (gfx::Succeeded(dev->CreateVertexBuffer(64, 0, gfx::FvfXyz | gfx::FvfDiffuse, gfx::Pool::Managed, vb))) {
    void* p = nullptr;
    if (gfx::Succeeded(vb->Lock(0, 0, &p, 0))) {
      const float pos[4][3] = {{-0.05f, -0.05f, 0}, {-0.05f, -0.0f, 0}, {-0.0f, -0.05f, 0}, {-0.0f, -0.0f, 0}};
      auto* bytes = static_cast<std::uint8_t*>(p);
      for (int i = 0; i < 4; ++i) {
        std::memcpy(bytes + i * 16, pos[i], 12);
        std::memset(bytes + i * 16 + 12, 0, 4);
      }
      vb->Unlock();
    }
    r->stateBuffer_ = vb;
  }
  r->SetState(rsReady);
  device->Repaint();
  return true;
}

bool T3DEngine9::DropResizedStore(TDrawDevice* device, const T3DDisplayMode& mode, bool usesSwapChain) {
  T3DLockScope g(Device3DLock());
  if (!device || !device->Objects() || usesSwapChain) return false;
  const bool full = device->FullScreen();
  TRef<TRectangleWrapper> record = FindDeviceObject<TRectangleWrapper>(device);
  // An exclusive renderer makes a device of its own.
  if (full && Exclusive3DAllowed.load() && (!record || record->Flag == 0)) return false;
  TRef<TDevStore> store = FindDeviceObject<TDevStore>(device);
  if (!store || !store->Device() || store->RendererCount() != 0) return false;
  const TRect r = full ? mode.MonitorRect : device->Bounds();
  // A window drawing straight into the shared device (no swap chain of its
  // own) keeps that device's back buffer: after a resize it would present
  // a part of the frame or nothing, so an unused store of another size is
  // dropped, as on a loss, and made anew.
  if (BackBufferIs(store->Device(), std::int64_t(r.Right) - r.Left, std::int64_t(r.Bottom) - r.Top)) return false;
  TRef<TRefObject> owned = ExtractDeviceObject(device, store.get());
  store = nullptr;
  owned = nullptr;
  return true;
}

void T3DEngine9::ReleaseNow(TReleaseData* data, T3DEngine9* engine) {
  if (!data || !data->Device) return;
  gfx::Device* dev = data->Device.Get();
  // Resources still alive hold the device; wait a bounded while for them.
  int tries = 0;
  for (;;) {
    dev->AddRef();
    if (dev->Release() <= 1) break;
    if (++tries >= kReleaseSpinLimit) {
      LogLine(u"T3DEngine9: device still held at release");
      break;
    }
    SleepMs(0);
  }
  data->Device = nullptr;
  if (data->Window && (!engine || engine->CheckDevice())) PlaceWindow(data->Window, data->Rect, plat::SW_SHOWNOACTIVATE);
}

void T3DEngine9::PostRelease(TRef<TReleaseData> data) {
  if (!data) return;
  if (On3DUIThread() || !Application || !idMessage_) {
    // With the 3D lock left: the wait for the device's other holders must
    // not hold up those that need the lock to let go.
    After3DLock([data, this] { ReleaseNow(data.get(), this); });
    return;
  }
  Application->PostEvent(idMessage_, data.Detach());
}

void T3DEngine9::EventHandler(void* self, TRefObject*, std::int32_t eventId, std::intptr_t param) {
  auto* engine = static_cast<T3DEngine9*>(self);
  auto* obj = reinterpret_cast<TRefObject*>(param);
  if (eventId == engine->idMessage_) {
    if (auto* init = dynamic_cast<TInitData*>(obj)) {
      TRef<T3DRenderer9> keep;
      {
        T3DLockScope g(Device3DLock());
        T3DRenderer9* r = init->Renderer;
        if (!r || r->RefCount() <= 0) return;
        keep = TRef<T3DRenderer9>(r);
      }
      // The store of the size before goes, and its objects are told, before
      // the renderer can draw: none of them is drawn on the new device.
      engine->DropResizedStore(init->Device.get(), init->Mode, keep->usesSwapChain_);
      T3DLockScope g(Device3DLock());
      T3DRenderer9* r = keep.get();
      if (init->Renderer != r) return;
      if (!engine->InternalCreateRenderer(init->Device.get(), init->Mode, r)) {
        r->initData_ = nullptr;
        r->SetState(rsDeviceLost);
      }
      init->Renderer = nullptr;
    } else if (auto* rel = dynamic_cast<TReleaseData*>(obj)) {
      ReleaseNow(rel, engine);
    }
  } else if (eventId == engine->idReset_) {
    engine->ResetHiddenDevice();
  } else if (eventId == engine->idHidden_) {
    engine->CreateHiddenDevice();
  }
}

// ---- Factory and module -----------------------------------------------------------------

TRef<T3DEngine> Create3DEngine9(std::int32_t) {
  try {
    gfx::Ref<gfx::System> d3d = gfx::CreateSystem(gfx::kSdkVersion);
    if (!d3d) return nullptr;
    return MakeRef<T3DEngine9>(std::move(d3d));
  } catch (...) {
    return nullptr;
  }
}

void InitDev3D9() {
  gEngine9Hook.Install(Create3DEngineHook, &Create3DEngine9);
}

void FiniDev3D9() {
  gEngine9Hook.RestoreIfStillSet();
  TRef<TDumbWindow> w;
  {
    std::lock_guard<std::mutex> g(gUtilityLock);
    w = std::move(gUtilityWindow);
  }
}

namespace {
const TModule kDev3D9Modules[] = {{"Dev3D9", &InitDev3D9, &FiniDev3D9}};
}

std::span<const TModule> Dev3D9Modules() { return kDev3D9Modules; }

}  // namespace zm
