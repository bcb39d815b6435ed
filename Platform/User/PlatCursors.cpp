#include "Platform/User/PlatCursors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "Platform/Gdi/PlatGdiInternal.h"
#include "Platform/PlatResources.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

namespace {

constexpr std::uintptr_t kMarker = std::uintptr_t(0x43) << 48;
constexpr int kMaxCursorSide = 256;

std::uint16_t U16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::int32_t I32(const std::uint8_t* p) { return std::int32_t(U32(p)); }

// One BMP image of a cursor file: header, palette, colour rows, AND rows.
bool DecodeBmpEntry(std::span<const std::uint8_t> img, TCursorImage& out) {
  if (img.size() < 40) return false;
  const std::uint32_t headerSize = U32(img.data());
  const std::int32_t width = I32(img.data() + 4), doubled = I32(img.data() + 8);
  const int bits = U16(img.data() + 14);
  const std::uint32_t compression = U32(img.data() + 16);
  std::uint32_t used = U32(img.data() + 32);
  if (headerSize < 40 || headerSize > img.size() || compression != 0) return false;
  if (width < 1 || width > kMaxCursorSide || doubled < 2 || doubled > 2 * kMaxCursorSide || doubled % 2) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  const int height = doubled / 2;
  const std::size_t paletteCount = bits <= 8 ? (used ? std::min<std::uint32_t>(used, 1u << bits) : 1u << bits) : 0;
  if (bits <= 8 && used > (1u << bits)) return false;
  const std::size_t colorStride = std::size_t((width * bits + 31) / 32) * 4;
  const std::size_t maskStride = std::size_t((width + 31) / 32) * 4;
  const std::size_t paletteAt = headerSize, colorAt = paletteAt + paletteCount * 4;
  const std::size_t maskAt = colorAt + colorStride * std::size_t(height);
  const bool hasMask = maskAt + maskStride * std::size_t(height) <= img.size();
  if (maskAt > img.size() || (bits != 32 && !hasMask)) return false;
  out.Width = width;
  out.Height = height;
  out.Pixels.assign(std::size_t(width) * std::size_t(height), 0);
  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = img.data() + colorAt + colorStride * std::size_t(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      std::uint32_t v = 0;
      if (bits <= 8) {
        const int perByte = 8 / bits, shift = 8 - bits * (x % perByte + 1);
        const std::size_t index = (row[x / perByte] >> shift) & ((1 << bits) - 1);
        if (index < paletteCount) v = U32(img.data() + paletteAt + index * 4) & 0xFFFFFF;
        v |= 0xFF000000u;
      } else if (bits == 24) {
        v = 0xFF000000u | row[x * 3] | std::uint32_t(row[x * 3 + 1]) << 8 | std::uint32_t(row[x * 3 + 2]) << 16;
      } else {
        v = U32(row + x * 4);
        anyAlpha = anyAlpha || (v >> 24);
      }
      out.Pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] = v;
    }
  }
  // Without alpha of its own, the AND mask says what is transparent.
  if (bits == 32 && !anyAlpha)
    for (auto& v : out.Pixels) v |= 0xFF000000u;
  if (hasMask && !(bits == 32 && anyAlpha))
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = img.data() + maskAt + maskStride * std::size_t(height - 1 - y);
      for (int x = 0; x < width; ++x)
        if (row[x / 8] & (0x80 >> (x % 8))) out.Pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] = 0;
    }
  return true;
}

struct TCursorObj {
  std::uint16_t Gen = 0;
  bool Used = false, Shared = false;
  TCursorImage Image;
};

struct TCursorTable {
  std::mutex M;
  std::vector<TCursorObj> Slots;
  std::map<std::string, HCURSOR> Shared;  // resources by "type|name"
};

TCursorTable& Table() {
  static TCursorTable* t = new TCursorTable;  // handles may be used late at exit
  return *t;
}

TCursorObj* FindObj(HCURSOR h) {
  const auto v = reinterpret_cast<std::uintptr_t>(h);
  if ((v & (std::uintptr_t(0xFFFF) << 48)) != kMarker) return nullptr;
  const std::size_t slot = v & 0xFFFFFF;
  const auto gen = std::uint16_t(v >> 24);
  auto& t = Table();
  if (slot == 0 || slot > t.Slots.size()) return nullptr;
  TCursorObj& o = t.Slots[slot - 1];
  return o.Used && o.Gen == gen ? &o : nullptr;
}

HCURSOR AddCursor(TCursorImage image, bool shared) {
  auto& t = Table();
  std::lock_guard<std::mutex> l(t.M);
  std::size_t slot = 0;
  while (slot < t.Slots.size() && t.Slots[slot].Used) ++slot;
  if (slot == t.Slots.size()) {
    if (t.Slots.size() >= 0xFFFFFE) return nullptr;
    t.Slots.emplace_back();
  }
  TCursorObj& o = t.Slots[slot];
  o.Used = true;
  o.Shared = shared;
  o.Image = std::move(image);
  return reinterpret_cast<HCURSOR>(kMarker | std::uintptr_t(o.Gen) << 24 | (slot + 1));
}

bool IsStandardCursor(std::uintptr_t id) {
  switch (id) {
    case IDC_ARROW: case IDC_IBEAM: case IDC_WAIT: case IDC_CROSS: case IDC_UPARROW: case IDC_SIZENWSE:
    case IDC_SIZENESW: case IDC_SIZEWE: case IDC_SIZENS: case IDC_SIZEALL: case IDC_NO: case IDC_HAND:
    case IDC_APPSTARTING: case IDC_HELP:
      return true;
    default: return false;
  }
}

// A resource name: "#<number>" or the upper-cased UTF-8 name.
std::string ResourceName(std::uintptr_t id) {
  if (IS_INTRESOURCE(id)) {
    std::string s = "#";
    s += std::to_string(id);
    return s;
  }
  std::u16string n(reinterpret_cast<const char16_t*>(id));
  std::string s = ToUtf8(n);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

HCURSOR FromResource(const char* type, std::uintptr_t id, int want) {
  const std::string name = ResourceName(id);
  const std::string key = std::string(type) + "|" + name;
  auto& t = Table();
  {
    std::lock_guard<std::mutex> l(t.M);
    auto it = t.Shared.find(key);
    if (it != t.Shared.end()) return it->second;
  }
  const TEmbeddedResource* r = FindProgramResource(type, name);
  TCursorImage image;
  if (!r || !ParseCursorFile(std::span<const std::uint8_t>(r->Data, r->Size), want, image)) return nullptr;
  HCURSOR h = AddCursor(std::move(image), true);
  std::lock_guard<std::mutex> l(t.M);
  auto [it, added] = t.Shared.emplace(key, h);
  return it->second;
}

}  // namespace

bool ParseCursorFile(std::span<const std::uint8_t> file, int want, TCursorImage& out) {
  if (file.size() < 6 || U16(file.data()) != 0) return false;
  const int type = U16(file.data() + 2), count = U16(file.data() + 4);
  if ((type != 1 && type != 2) || count < 1 || file.size() < 6 + std::size_t(count) * 16) return false;
  if (want <= 0) want = 32;
  int best = -1, bestScore = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* e = file.data() + 6 + std::size_t(i) * 16;
    const int side = e[0] ? e[0] : 256;
    const int score = std::abs(side - want);
    if (best < 0 || score < bestScore) best = i, bestScore = score;
  }
  const std::uint8_t* e = file.data() + 6 + std::size_t(best) * 16;
  const std::uint32_t size = U32(e + 8), offset = U32(e + 12);
  if (offset > file.size() || size > file.size() - offset) return false;
  TCursorImage img;
  if (!DecodeBmpEntry(file.subspan(offset, size), img)) return false;
  img.Hot = type == 2 ? POINT{std::min<int>(U16(e + 4), img.Width - 1), std::min<int>(U16(e + 6), img.Height - 1)}
                      : POINT{img.Width / 2, img.Height / 2};
  out = std::move(img);
  return true;
}

bool IsMadeCursor(HCURSOR h) {
  return (reinterpret_cast<std::uintptr_t>(h) & (std::uintptr_t(0xFFFF) << 48)) == kMarker;
}

bool MadeCursorImage(HCURSOR h, TCursorImage& out) {
  auto& t = Table();
  std::lock_guard<std::mutex> l(t.M);
  TCursorObj* o = FindObj(h);
  if (!o) return false;
  out = o->Image;
  return true;
}

}  // namespace plat::user

namespace plat {

using namespace user;

HCURSOR LoadCursorW(HINSTANCE instance, std::uintptr_t cursorId) {
  if (!instance) return IsStandardCursor(cursorId) ? reinterpret_cast<HCURSOR>(cursorId) : nullptr;
  if (instance != ModuleInstance() || cursorId == 0) return nullptr;
  return FromResource("CURSOR", cursorId, 32);
}

HICON LoadIconW(HINSTANCE instance, std::uintptr_t iconId) {
  if (!instance) {
    return iconId >= IDI_APPLICATION && iconId <= IDI_WINLOGO ? reinterpret_cast<HICON>(iconId) : nullptr;
  }
  if (instance != ModuleInstance() || iconId == 0) return nullptr;
  if (HICON h = FromResource("ICON", iconId, 32)) return h;
  return reinterpret_cast<HICON>(IDI_APPLICATION);
}

HICON CreateIconIndirect(const ICONINFO* info) {
  if (!info || !info->hbmColor) return nullptr;
  int w = 0, h = 0, bits = 0;
  std::vector<std::uint32_t> px;
  if (!gdi::ReadBitmapPixels(info->hbmColor, w, h, px, bits) || w > kMaxCursorSide || h > kMaxCursorSide)
    return nullptr;
  // Without alpha in the colour bitmap, a separate 1-bit mask says what is transparent.
  if (bits != 32 && info->hbmMask && info->hbmMask != info->hbmColor) {
    int mw = 0, mh = 0, mbits = 0;
    std::vector<std::uint32_t> mask;
    if (gdi::ReadBitmapPixels(info->hbmMask, mw, mh, mask, mbits) && mw == w && mh >= h)
      for (std::size_t i = 0; i < px.size(); ++i)
        if (mask[i] & 0xFFFFFF) px[i] = 0;
  }
  TCursorImage image;
  image.Width = w;
  image.Height = h;
  image.Pixels = std::move(px);
  image.Hot = info->fIcon ? POINT{w / 2, h / 2}
                          : POINT{int(std::min<DWORD>(info->xHotspot, DWORD(w - 1))),
                                  int(std::min<DWORD>(info->yHotspot, DWORD(h - 1)))};
  return AddCursor(std::move(image), false);
}

void* LoadImageW(HINSTANCE instance, const char16_t* name, UINT type, int cx, int cy, UINT flags) {
  if (type != IMAGE_CURSOR && type != IMAGE_ICON) return nullptr;
  const int want = std::max(cx, cy) > 0 ? std::max(cx, cy) : 32;
  if (!(flags & LR_LOADFROMFILE)) {
    auto id = reinterpret_cast<std::uintptr_t>(name);
    return type == IMAGE_CURSOR ? LoadCursorW(instance, id) : LoadIconW(instance, id);
  }
  if (!name || IS_INTRESOURCE(reinterpret_cast<std::uintptr_t>(name))) return nullptr;
  std::FILE* f = std::fopen(ToUtf8(std::u16string(name)).c_str(), "rb");
  if (!f) return nullptr;
  std::vector<std::uint8_t> data;
  std::uint8_t buf[4096];
  std::size_t n;
  // Cursor files are small: anything beyond 4 MiB is not one.
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && data.size() <= (std::size_t(4) << 20))
    data.insert(data.end(), buf, buf + n);
  std::fclose(f);
  TCursorImage image;
  if (data.size() > (std::size_t(4) << 20) || !ParseCursorFile(data, want, image)) return nullptr;
  return AddCursor(std::move(image), false);
}

BOOL DestroyCursor(HCURSOR cursor) {
  {
    auto& t = Table();
    std::lock_guard<std::mutex> l(t.M);
    TCursorObj* o = FindObj(cursor);
    if (!o) return IsStandardCursor(reinterpret_cast<std::uintptr_t>(cursor)) ? 1 : 0;
    if (o->Shared) return 1;  // shared resource cursors stay, as in Windows
    o->Used = false;
    o->Gen++;
    o->Image = {};
  }
  // The pointer showed a cursor that is gone: fall back to the arrow.
  if (GetCursor() == cursor) SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  return 1;
}

BOOL DestroyIcon(HICON icon) { return DestroyCursor(icon); }

bool CursorPixels(HCURSOR cursor, std::uint32_t* bgra, int& width, int& height, POINT& hot) {
  TCursorImage image;
  if (!MadeCursorImage(cursor, image)) return false;
  width = image.Width;
  height = image.Height;
  hot = image.Hot;
  if (bgra) std::copy(image.Pixels.begin(), image.Pixels.end(), bgra);
  return true;
}

}  // namespace plat
