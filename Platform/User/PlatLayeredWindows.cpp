// Layered windows and the composed screen: a WS_EX_LAYERED top-level shows
// either its painted pixels with a constant alpha and/or colour key, or the
// per-pixel image UpdateLayeredWindow gave it, blended over what lies below.
#include <algorithm>
#include <cstring>

#include "Platform/Gdi/PlatGdiInternal.h"
#include "Platform/User/PlatMessageQueues.h"
#include "Platform/User/PlatPainting.h"

namespace plat::user {

namespace {

using TLayered = TWindow::TLayered;

// 0x00BBGGRR to the 0x00RRGGBB of a B, G, R, A word.
std::uint32_t BgrOf(DWORD colorref) {
  return ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}

std::uint32_t Scale(std::uint32_t px, unsigned a) {
  auto ch = [&](int shift) { return ((((px >> shift) & 0xFF) * a + 127) / 255) << shift; };
  return ch(0) | ch(8) | ch(16) | ch(24);
}

// Premultiplied src over an opaque dst.
std::uint32_t Over(std::uint32_t src, std::uint32_t dst) {
  const unsigned inv = 255 - (src >> 24);
  std::uint32_t out = 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const unsigned c = ((src >> shift) & 0xFF) + (((dst >> shift) & 0xFF) * inv + 127) / 255;
    out |= std::min(255u, c) << shift;
  }
  return out;
}

std::uint32_t SysBgra(int index) { return 0xFF000000u | BgrOf(GetSysColor(index)); }

// Under the lock: one window's contribution at a screen point, premultiplied;
// 0 where it shows nothing.
std::uint32_t WindowPixelAt(TWindow& w, POINT p) {
  const RECT wr = w.Rect;
  if (w.Layered == TLayered::Image) {
    const int x = p.x - wr.left, y = p.y - wr.top;
    if (x < 0 || y < 0 || x >= w.LayeredW || y >= w.LayeredH) return 0;
    return w.LayeredImage[std::size_t(y) * std::size_t(w.LayeredW) + std::size_t(x)];
  }
  std::uint32_t px = SysBgra(COLOR_BTNFACE);  // the frame
  const POINT o = ClientOrigin(w);
  const int x = p.x - o.x, y = p.y - o.y;
  if (x >= 0 && y >= 0 && x < w.FbW && y < w.FbH) px = w.Fb[std::size_t(y) * std::size_t(w.FbW) + std::size_t(x)] | 0xFF000000u;
  if (w.Layered == TLayered::Attributes) {
    if ((w.LayeredFlags & LWA_COLORKEY) && (px & 0xFFFFFF) == BgrOf(w.LayeredKey)) return 0;
    if (w.LayeredFlags & LWA_ALPHA) px = Scale(px, w.LayeredAlpha);
  }
  return px;
}

}  // namespace

// Under the lock: the composed screen over an area, B, G, R, A rows.
std::vector<std::uint32_t> ComposeScreen(const RECT& area) {
  TWindowManager& wm = WindowManager();
  const int width = std::max(0, area.right - area.left), height = std::max(0, area.bottom - area.top);
  std::vector<std::uint32_t> out(std::size_t(width) * std::size_t(height), SysBgra(COLOR_DESKTOP));
  for (auto it = wm.Windows.TopZ.rbegin(); it != wm.Windows.TopZ.rend(); ++it) {
    auto w = wm.Find(*it);
    if (!w || w->Life != TWindowLife::Alive || !(w->Style & WS_VISIBLE) || w->State == TShowState::Minimized)
      continue;
    const RECT r = Intersect(w->Rect, area);
    if (Empty(r)) continue;
    std::lock_guard<std::mutex> pl(*w->PixLock);
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        std::uint32_t& d = out[std::size_t(y - area.top) * std::size_t(width) + std::size_t(x - area.left)];
        d = Over(WindowPixelAt(*w, POINT{x, y}), d);
      }
  }
  return out;
}

}  // namespace plat::user

namespace plat {

using namespace user;

BOOL SetLayeredWindowAttributes(HWND hwnd, DWORD colorKey, std::uint8_t alpha, DWORD flags) {
  TWindowManager& wm = WindowManager();
  {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return 0;
    if (!(w->ExStyle & WS_EX_LAYERED) || (w->Style & WS_CHILD)) {
      SetError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    w->Layered = TLayered::Attributes;
    w->LayeredFlags = flags & (LWA_ALPHA | LWA_COLORKEY);
    w->LayeredKey = colorKey & 0xFFFFFF;
    w->LayeredAlpha = (flags & LWA_ALPHA) ? alpha : 255;
    w->LayeredImage.clear();
    w->LayeredW = w->LayeredH = 0;
    SyncNative(*w);
    w->NeedsPresent = true;
  }
  if (wm.OnUiThread()) PresentPending();
  return 1;
}

BOOL GetLayeredWindowAttributes(HWND hwnd, DWORD* colorKey, std::uint8_t* alpha, DWORD* flags) {
  return OnWindow(hwnd, BOOL(0), [&](TWindow& w) {
    if (!(w.ExStyle & WS_EX_LAYERED) || w.Layered == TLayered::Image) {
      SetError(ERROR_INVALID_PARAMETER);
      return BOOL(0);
    }
    if (colorKey) *colorKey = w.LayeredKey;
    if (alpha) *alpha = w.LayeredAlpha;
    if (flags) *flags = w.LayeredFlags;
    return BOOL(1);
  });
}

BOOL UpdateLayeredWindow(HWND hwnd, HDC, const POINT* position, const SIZE* size, HDC srcDc, const POINT* srcPoint,
                         DWORD colorKey, const BLENDFUNCTION* blend, DWORD flags) {
  TWindowManager& wm = WindowManager();
  RECT current;
  {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return 0;
    if (!(w->ExStyle & WS_EX_LAYERED) || (w->Style & WS_CHILD) || w->Layered == TLayered::Attributes ||
        (flags & ~(ULW_ALPHA | ULW_COLORKEY | ULW_OPAQUE)) || ((flags & ULW_ALPHA) && !blend) ||
        (size && (size->cx <= 0 || size->cy <= 0)) || (!srcDc && size && !w->LayeredW)) {
      SetError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    current = w->Rect;
  }
  const int cx = std::min(size ? size->cx : current.right - current.left, kMaxWindowExtent);
  const int cy = std::min(size ? size->cy : current.bottom - current.top, kMaxWindowExtent);
  std::vector<std::uint32_t> image;
  if (srcDc) {
    const POINT sp = srcPoint ? *srcPoint : POINT{};
    if (cx <= 0 || cy <= 0 || !gdi::ReadDcPixels(srcDc, sp.x, sp.y, cx, cy, image)) {
      SetError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    const bool perPixel = (flags & ULW_ALPHA) && (blend->AlphaFormat & AC_SRC_ALPHA) && !(flags & ULW_OPAQUE);
    const unsigned constant = (flags & ULW_ALPHA) && !(flags & ULW_OPAQUE) ? blend->SourceConstantAlpha : 255;
    const std::uint32_t key = BgrOf(colorKey);
    for (auto& px : image) {
      if ((flags & ULW_COLORKEY) && (px & 0xFFFFFF) == key) {
        px = 0;
        continue;
      }
      if (!perPixel) px |= 0xFF000000u;
      // A premultiplied source never has a colour above its alpha.
      const std::uint32_t a = px >> 24;
      std::uint32_t fixed = a << 24;
      for (int shift = 0; shift < 24; shift += 8) fixed |= std::min((px >> shift) & 0xFF, a) << shift;
      px = constant == 255 ? fixed : Scale(fixed, constant);
    }
  }
  const UINT swp = SWP_NOZORDER | SWP_NOACTIVATE | (position ? 0 : SWP_NOMOVE) | (size ? 0 : SWP_NOSIZE);
  if ((position || size) && !SetWindowPos(hwnd, nullptr, position ? position->x : 0, position ? position->y : 0, cx,
                                          cy, swp))
    return 0;
  {
    auto l = wm.Lock();
    auto w = wm.Find(hwnd);
    if (!w) return 0;
    if (srcDc) {
      w->Layered = TLayered::Image;
      w->LayeredImage = std::move(image);
      w->LayeredW = cx;
      w->LayeredH = cy;
      w->Update = {};
      w->HasUpdate = w->UpdateErase = false;
    }
    // The client part of the image is what the window's pixels show.
    if (w->Style & WS_VISIBLE) {
      SizeFrameBuffer(*w);
      std::lock_guard<std::mutex> pl(*w->PixLock);
      const RECT in = Insets(w->Style);
      for (int y = 0; y < w->FbH; ++y)
        for (int x = 0; x < w->FbW; ++x) {
          const int ix = x + in.left, iy = y + in.top;
          w->Fb[std::size_t(y) * std::size_t(w->FbW) + std::size_t(x)] =
              ix < w->LayeredW && iy < w->LayeredH
                  ? w->LayeredImage[std::size_t(iy) * std::size_t(w->LayeredW) + std::size_t(ix)]
                  : 0;
        }
      w->NeedsPresent = true;
    }
  }
  if (wm.OnUiThread()) PresentPending();
  return 1;
}

}  // namespace plat

namespace plat::headless {

using namespace user;

bool ReadScreenPixel(POINT screen, std::uint32_t& bgra) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  if (!MonitorFromPoint(screen, MONITOR_DEFAULTTONULL)) return false;
  bgra = ComposeScreen(RECT{screen.x, screen.y, screen.x + 1, screen.y + 1})[0];
  return true;
}

std::vector<std::uint32_t> CaptureScreen(const RECT& screen) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  if (Empty(screen) || std::int64_t(screen.right - screen.left) * (screen.bottom - screen.top) > (1 << 26)) return {};
  return ComposeScreen(screen);
}

}  // namespace plat::headless
