#include "Platform/User/PlatPainting.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Platform/Gdi/PlatGdiInternal.h"
#include "Platform/PlatFrameClock.h"
#include "Platform/User/PlatMessageQueues.h"

namespace plat::user {

namespace {
class THeapPixels final : public TPixelMemory {
public:
  explicit THeapPixels(std::size_t count) : pixels_(new std::uint32_t[count]()) { bits_ = pixels_.get(); }

private:
  std::unique_ptr<std::uint32_t[]> pixels_;
};
}  // namespace

std::unique_ptr<TPixelMemory> HeapPixels(std::size_t count) {
  if (count == 0) return nullptr;
  try {
    return std::make_unique<THeapPixels>(count);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void SizeFrameBuffer(TWindow& w) {
  SIZE s = ClientSize(w);
  s.cx = std::min<int>(s.cx, kMaxFrameBufferSide);
  s.cy = std::min<int>(s.cy, kMaxFrameBufferSide);
  if (s.cx == w.FbW && s.cy == w.FbH) return;
  std::lock_guard<std::mutex> pl(*w.PixLock);
  std::unique_ptr<TPixelMemory> fb;
  const std::size_t count = std::size_t(s.cx) * std::size_t(s.cy);
  if (count > 0) {
    TWindowManager& wm = WindowManager();
    try {
      fb = wm.Backend ? wm.Backend->AllocPixels(count) : HeapPixels(count);
    } catch (const std::bad_alloc&) {
    }
  }
  // No memory for the pixels: the window shows nothing rather than failing.
  if (!fb) s = SIZE{};
  for (int y = 0; y < std::min(s.cy, w.FbH); ++y)
    std::memcpy(fb->Bits() + std::size_t(y) * s.cx, &w.Fb[std::size_t(y) * w.FbW],
                std::size_t(std::min(s.cx, w.FbW)) * 4);
  w.Fb.Reset(std::move(fb));
  w.FbW = s.cx;
  w.FbH = s.cy;
}

void PresentPending() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  for (std::size_t i = 1; i < wm.Windows.Slots.size(); ++i) {
    auto& w = wm.Windows.Slots[i];
    // Nobody sees a window out of sight: its frame waits until it is back.
    if (!w || w->Life != TWindowLife::Alive || !w->NeedsPresent || w->Unseen) continue;
    w->NeedsPresent = false;
    w->Presents++;
    if (w->Native && wm.Backend) {
      std::lock_guard<std::mutex> pl(*w->PixLock);
      if (const TPixelMemory* memory = w->Fb.Memory())
        wm.Backend->Present(w->Native, *memory, w->Fb.data(), w->FbW, w->FbW, w->FbH, RECT{0, 0, w->FbW, w->FbH});
      // Stepped frames are captured where the device presents them.
      if (wm.Capture && !FrameStepCaptures())
        wm.Capture->Submit(Now(), w->Native, w->FbShowTime, w->Fb.data(), w->FbW, w->FbW, w->FbH);
      if (wm.PresentObserver) wm.PresentObserver(w->H, w->FbShowTime, w->Fb.data(), w->FbW, w->FbH);
    }
  }
}

bool CaptureLimitReached() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  if (!wm.Capture || wm.Capture->Limit() < 0) return false;
  const std::int64_t taken = FrameStepCaptures() ? SteppedFrameCount() : wm.Capture->Frames();
  return taken >= wm.Capture->Limit();
}

void ThrottleCapture() {
  TWindowManager& wm = WindowManager();
  TCaptureWriter* capture;
  {
    auto l = wm.Lock();
    capture = wm.Capture.get();
  }
  // Only the UI thread presents, and only it ends the window system.
  if (capture && wm.OnUiThread()) capture->Throttle();
}

void InvalidateAll(HWND h, bool erase) {
  InvalidateRect(h, nullptr, erase ? 1 : 0);
}

namespace {
// Under the lock: adds an area (client coordinates) to w's update region and
// makes its children wholly invalid; the queue to wake.
std::shared_ptr<TQueue> AddUpdate(TWindow& w, const gdi::TRegion& area, bool erase) {
  TWindowManager& wm = WindowManager();
  SIZE s = ClientSize(w);
  gdi::TRegion r = area.Intersect(RECT{0, 0, s.cx, s.cy});
  if (r.Empty()) return nullptr;
  w.Update = gdi::TRegion::Combine(w.Update, r, RGN_OR);
  w.HasUpdate = true;
  if (erase) w.UpdateErase = true;
  // Children are covered by their parent's area.
  std::vector<HWND> tree;
  CollectTree(w, tree);
  for (std::size_t i = 1; i < tree.size(); ++i) {
    auto c = wm.Find(tree[i]);
    if (!c) continue;
    SIZE cs = ClientSize(*c);
    c->Update = gdi::TRegion(RECT{0, 0, cs.cx, cs.cy});
    c->HasUpdate = !c->Update.Empty();
    if (erase) c->UpdateErase = true;
  }
  return w.Queue;
}

// Under the lock: takes an area out of the update region.
void RemoveUpdate(TWindow& w, const gdi::TRegion* area) {
  if (area) w.Update = gdi::TRegion::Combine(w.Update, *area, RGN_DIFF);
  else w.Update = {};
  w.HasUpdate = !w.Update.Empty();
  if (!w.HasUpdate) w.UpdateErase = false;
}

BOOL Invalidate(HWND hwnd, const gdi::TRegion* area, BOOL erase) {
  TWindowManager& wm = WindowManager();
  std::shared_ptr<TQueue> q;
  {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return 0;
    SIZE s = ClientSize(*w);
    q = AddUpdate(*w, area ? *area : gdi::TRegion(RECT{0, 0, s.cx, s.cy}), erase != 0);
  }
  if (q) {
    std::lock_guard<std::mutex> l(q->M);
    Wake(*q);
  }
  return 1;
}

BOOL Validate(HWND hwnd, const gdi::TRegion* area) {
  return OnWindow(hwnd, BOOL(0), [&](TWindow& w) {
    RemoveUpdate(w, area);
    return BOOL(1);
  });
}
}  // namespace

void InvalidateAllLater(TWindow& w) {
  SIZE s = ClientSize(w);
  AddUpdate(w, gdi::TRegion(RECT{0, 0, s.cx, s.cy}), true);
}

HWND FindWindowToPaint(std::uint32_t tid, HWND filter, UINT mn, UINT mx) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  for (std::size_t i = 1; i < wm.Windows.Slots.size(); ++i) {
    auto& w = wm.Windows.Slots[i];
    if (w && w->Life == TWindowLife::Alive && w->Tid == tid && w->HasUpdate &&
        w->Layered != TWindow::TLayered::Image && IsWindowVisible(w->H)) {
      MSG m;
      m.hwnd = w->H;
      m.message = WM_PAINT;
      if (MatchFilter(m, filter, mn, mx)) return w->H;
    }
  }
  return nullptr;
}
namespace {
// The pixel lock taken by LockWindowPixels, per thread, for the unlock, and
// the top-level whose buffer it guards.
struct TPixelHold {
  std::shared_ptr<std::mutex> Lock;
  std::shared_ptr<TWindow> Top;
  RECT Area;  // the locked window's pixels in the top-level's buffer
};
thread_local std::vector<TPixelHold> tPixLocks;

// Changed: the pixels of that area (buffer coordinates) were written. A
// thread that presents a frame of a show stamps them with its time; other
// writes over such a frame leave it no longer shown.
void ReleasePixelLock(const RECT* changed = nullptr) {
  if (tPixLocks.empty()) return;
  TPixelHold& h = tPixLocks.back();
  if (changed && h.Top) {
    TWindow& top = *h.Top;
    if (const std::int64_t showTime = PresentingShowTime(); showTime >= 0) {
      top.FbShowTime = showTime;
      top.FbShowArea = *changed;
    } else if (!Empty(Intersect(*changed, top.FbShowArea))) {
      top.FbShowTime = -1;
      top.FbShowArea = RECT{};
    }
  }
  h.Lock->unlock();
  tPixLocks.pop_back();
}

// Shows the pixels of hwnd's top-level: now on the UI thread, else soon.
void PresentWindow(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  std::shared_ptr<TQueue> ui;
  {
    auto l = wm.Lock();
    auto w = wm.Find(hwnd);
    if (!w) return;
    auto top = TopLevelOf(w);
    if (!top) return;
    top->NeedsPresent = true;
    auto it = wm.Queues.find(wm.UiTid);
    if (it != wm.Queues.end()) ui = it->second;
  }
  if (wm.OnUiThread())
    PresentPending();
  else if (ui) {
    std::lock_guard<std::mutex> l(ui->M);
    Wake(*ui);
  }
}
}  // namespace

}  // namespace plat::user

namespace plat {

using namespace user;

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  if (!rect) return Invalidate(hwnd, nullptr, erase);
  const gdi::TRegion area(*rect);
  return Invalidate(hwnd, &area, erase);
}

BOOL InvalidateRgn(HWND hwnd, HRGN region, BOOL erase) {
  if (!region) return Invalidate(hwnd, nullptr, erase);
  gdi::TRegion area;
  if (!gdi::RegionOf(region, area)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Invalidate(hwnd, &area, erase);
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  if (!rect) return Validate(hwnd, nullptr);
  const gdi::TRegion area(*rect);
  return Validate(hwnd, &area);
}

BOOL ValidateRgn(HWND hwnd, HRGN region) {
  if (!region) return Validate(hwnd, nullptr);
  gdi::TRegion area;
  if (!gdi::RegionOf(region, area)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Validate(hwnd, &area);
}

BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL) {
  return OnWindow(hwnd, BOOL(0), [&](TWindow& w) {
    if (rect) *rect = w.Update.Box();
    return BOOL(w.HasUpdate ? 1 : 0);
  });
}

int GetUpdateRgn(HWND hwnd, HRGN region, BOOL) {
  gdi::TRegion area;
  bool ok = OnWindow(hwnd, false, [&](TWindow& w) {
    area = w.Update;
    return true;
  });
  if (!ok || !gdi::SetRegion(region, area)) return RGN_ERROR;
  return area.Type();
}

BOOL UpdateWindow(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  bool has;
  {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return 0;
    has = w->HasUpdate && (w->Style & WS_VISIBLE);
  }
  if (has && IsWindowVisible(hwnd)) SendMessageW(hwnd, WM_PAINT, 0, 0);
  return 1;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  TWindowManager& wm = WindowManager();
  if (!ps) return nullptr;
  bool erase;
  gdi::TRegion area;
  {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return nullptr;
    area = w->Update;
    erase = w->UpdateErase;
    w->Update = {};
    w->HasUpdate = false;
    w->UpdateErase = false;
  }
  ps->rcPaint = area.Box();
  // Drawing through the DC reaches only the update region.
  ps->hdc = gdi::CreateWindowDc(hwnd, &area);
  if (!ps->hdc) return nullptr;
  ps->fErase = 0;
  if (erase) ps->fErase = SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(ps->hdc), 0) ? 0 : 1;
  return ps->hdc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  if (ps) gdi::ReleaseWindowDc(ps->hdc);
  if (!IsWindow(hwnd)) return 0;
  // BeginPaint takes no pixel lock: one the caller still holds stays held.
  PresentWindow(hwnd);
  return 1;
}

bool LockWindowPixels(HWND hwnd, TWindowPixels& px) {
  TWindowManager& wm = WindowManager();
  std::shared_ptr<std::mutex> lock;
  std::shared_ptr<TWindow> top;
  {
    auto l = wm.Lock();
    auto w = wm.Find(hwnd);
    if (!w) return false;
    top = TopLevelOf(w);
    if (!IsWindowVisible(hwnd) || !top) return false;
    SizeFrameBuffer(*top);
    POINT to = ClientOrigin(*top), wo = ClientOrigin(*w);
    SIZE s = ClientSize(*w);
    const std::int64_t ox = std::int64_t(wo.x) - to.x, oy = std::int64_t(wo.y) - to.y;
    // Clip to the top-level's buffer.
    const std::int64_t x0 = std::max<std::int64_t>(0, ox), y0 = std::max<std::int64_t>(0, oy);
    const std::int64_t x1 = std::min<std::int64_t>(top->FbW, ox + s.cx);
    const std::int64_t y1 = std::min<std::int64_t>(top->FbH, oy + s.cy);
    if (x1 <= x0 || y1 <= y0) return false;
    lock = top->PixLock;
    lock->lock();
    px.Bits = top->Fb.data() + std::size_t(y0) * std::size_t(top->FbW) + std::size_t(x0);
    px.Stride = top->FbW;
    px.Width = int(x1 - x0);
    px.Height = int(y1 - y0);
    px.Origin = {std::int32_t(x0), std::int32_t(y0)};
    px.Client = {std::int32_t(x0 - ox), std::int32_t(y0 - oy)};
  }
  const RECT area{px.Origin.x, px.Origin.y, px.Origin.x + px.Width, px.Origin.y + px.Height};
  tPixLocks.push_back(TPixelHold{lock, top, area});
  return true;
}

void UnlockWindowPixels(HWND hwnd, const RECT* dirty) {
  const bool nothing = dirty && (dirty->right <= dirty->left || dirty->bottom <= dirty->top);
  // Stamped while the pixels are still held: a present never pairs them
  // with another frame's time.
  if (nothing || tPixLocks.empty()) {
    ReleasePixelLock();
  } else {
    // Client coordinates of the locked window into buffer coordinates.
    const TPixelHold& h = tPixLocks.back();
    RECT changed = h.Area;
    if (dirty) {
      const auto at = [](std::int32_t origin, std::int32_t v) {
        return std::int32_t(std::clamp<std::int64_t>(std::int64_t(origin) + v, INT32_MIN, INT32_MAX));
      };
      changed = Intersect(h.Area, RECT{at(h.Area.left, dirty->left), at(h.Area.top, dirty->top),
                                       at(h.Area.left, dirty->right), at(h.Area.top, dirty->bottom)});
    }
    ReleasePixelLock(&changed);
  }
  if (nothing) return;
  PresentWindow(hwnd);
}

}  // namespace plat

namespace plat::headless {

using namespace user;

std::vector<std::uint32_t> CaptureClient(HWND hwnd, int& width, int& height) {
  width = height = 0;
  TWindowPixels px;
  if (!LockWindowPixels(hwnd, px)) return {};
  // Indexed by client point: what lies left of or above the buffer reads 0.
  const int w = px.Client.x + px.Width, h = px.Client.y + px.Height;
  std::vector<std::uint32_t> out(std::size_t(w) * std::size_t(h), 0);
  for (int y = 0; y < px.Height; ++y)
    std::memcpy(&out[std::size_t(y + px.Client.y) * std::size_t(w) + std::size_t(px.Client.x)],
                px.Bits + std::size_t(y) * std::size_t(px.Stride), std::size_t(px.Width) * 4);
  width = w;
  height = h;
  ReleasePixelLock();
  return out;
}

void SetPresentObserver(TPresentObserver observer) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  wm.PresentObserver = std::move(observer);
}

int PresentCount(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(hwnd);
  return w ? w->Presents : 0;
}

}  // namespace plat::headless
