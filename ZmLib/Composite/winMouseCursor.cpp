#include "ZmLib/Composite/winMouseCursor.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/User/PlatUser.h"

namespace zm {

namespace {
struct TCursorEntry {
  plat::HCURSOR Handle;
  bool Owned;
};
std::vector<TCursorEntry>* gTable = nullptr;
std::map<WideString, std::int32_t>* gNames = nullptr;

std::vector<TCursorEntry>& Table() {
  if (!gTable) {
    gTable = new std::vector<TCursorEntry>();
    gTable->reserve(16);  // grows by doubling
  }
  return *gTable;
}

std::int32_t Append(plat::HCURSOR h, bool owned) {
  Table().push_back({h, owned});
  return kCustomCursorBase + std::int32_t(Table().size()) - 1;
}

std::uintptr_t SystemCursorId(std::int32_t number) {
  switch (number) {
    case crWait: return plat::IDC_WAIT;
    case crSizeWE: return plat::IDC_SIZEWE;
    case crSizeNS: return plat::IDC_SIZENS;
    case crIBeam: return plat::IDC_IBEAM;
    case crHand: return plat::IDC_HAND;
    case crCross: return plat::IDC_CROSS;
    case crSizeNESW: return plat::IDC_SIZENESW;
    case crSizeNWSE: return plat::IDC_SIZENWSE;
    case crSizeAll: return plat::IDC_SIZEALL;
    default: return plat::IDC_ARROW;
  }
}
// ---- The platform's cursor calls ----------------------------------------------------

plat::HCURSOR PlatformCursorFromPixels(const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                                       TPoint hotSpot) {
  if (!pixels || width < 1 || height < 1) return nullptr;
  plat::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, as the pixels come
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = plat::BI_RGB;
  void* bits = nullptr;
  plat::HBITMAP bitmap = plat::CreateDIBSection(nullptr, &info, plat::DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return nullptr;
  if (bits) std::memcpy(bits, pixels, std::size_t(width) * std::size_t(height) * 4);
  plat::ICONINFO icon;
  icon.fIcon = 0;
  icon.xHotspot = plat::DWORD(std::max(hotSpot.X, 0));
  icon.yHotspot = plat::DWORD(std::max(hotSpot.Y, 0));
  icon.hbmColor = icon.hbmMask = bitmap;
  plat::HCURSOR cursor = bits ? plat::CreateIconIndirect(&icon) : nullptr;
  // The cursor keeps its own copy of the pixels.
  plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(bitmap));
  return cursor;
}

plat::HCURSOR PlatformCursorFromResource(const WideString& name) {
  return plat::LoadCursorW(plat::ModuleInstance(), reinterpret_cast<std::uintptr_t>(name.c_str()));
}

plat::HCURSOR PlatformCursorFromFile(const WideString& path) {
  return static_cast<plat::HCURSOR>(plat::LoadImageW(nullptr, path.c_str(), plat::IMAGE_CURSOR, 0, 0,
                                                     plat::LR_LOADFROMFILE | plat::LR_DEFAULTSIZE));
}

void PlatformDestroyCursor(plat::HCURSOR cursor) { plat::DestroyCursor(cursor); }

}  // namespace

TCursorPlatform CursorPlatform{&PlatformCursorFromPixels, &PlatformCursorFromResource, &PlatformCursorFromFile,
                               &PlatformDestroyCursor};
TLoadCursorProc LoadCursorHook = nullptr;
TCursorFromBitmapProc CursorFromBitmapHook = nullptr;

plat::HCURSOR CursorHandle(std::int32_t number, bool& valid) {
  valid = true;
  if (number == crNone) return nullptr;
  if (number >= kCustomCursorBase) {
    std::size_t i = std::size_t(number - kCustomCursorBase);
    if (!gTable || i >= gTable->size() || !(*gTable)[i].Handle) {
      valid = false;
      return nullptr;
    }
    return (*gTable)[i].Handle;
  }
  // System cursors are shared: nothing to free.
  plat::HCURSOR h = plat::LoadCursorW(nullptr, SystemCursorId(number));
  if (!h) valid = false;
  return h;
}

std::int32_t CursorFromBitmap(TBitmap* bitmap, TPoint hotSpot) {
  if (!bitmap || bitmap->IsEmpty() || !CursorPlatform.FromPixels) return 0;
  TRef<TBitmap> b(bitmap);
  TPixelFormat* argb = PixelFormatByName("A8R8G8B8");
  if (bitmap->PixelFormat() != argb) b = ConvertBitmap(bitmap, argb, nullptr);
  if (!b) return 0;
  std::vector<std::uint32_t> pixels(std::size_t(b->Width()) * std::size_t(b->Height()));
  for (std::int32_t y = 0; y < b->Height(); ++y)
    b->GetPixels32(std::span<std::uint32_t>(pixels.data() + std::size_t(y) * std::size_t(b->Width()),
                                            std::size_t(b->Width())),
                   0, 0, y, b->Width());
  plat::HCURSOR h = CursorPlatform.FromPixels(pixels.data(), b->Width(), b->Height(), hotSpot);
  if (!h) return 0;
  return Append(h, true);
}

std::int32_t LoadCursorByName(const WideString& name) {
  if (name.empty()) return 0;
  if (!gNames) gNames = new std::map<WideString, std::int32_t>();
  auto it = gNames->find(name);
  if (it != gNames->end()) return it->second;
  plat::HCURSOR h = nullptr;
  if (name.size() >= 2 && name[0] == u'@') {
    if (CursorPlatform.FromResource) h = CursorPlatform.FromResource(name.substr(1));
  } else if (CursorPlatform.FromFile) {
    h = CursorPlatform.FromFile(name);
  }
  if (!h) return 0;
  std::int32_t n = Append(h, false);
  (*gNames)[name] = n;
  return n;
}

bool SetMouseCursor(std::int32_t number) {
  bool valid = false;
  plat::HCURSOR h = CursorHandle(number, valid);
  if (!valid) return false;
  if (plat::GetCursor() == h) return true;
  plat::SetCursor(h);
  return true;
}

std::int32_t CustomCursorCount() { return gTable ? std::int32_t(gTable->size()) : 0; }

void InitMouseCursor() {
  LoadCursorHook = &LoadCursorByName;
  CursorFromBitmapHook = &CursorFromBitmap;
}

void FiniMouseCursor() {
  if (gTable) {
    for (TCursorEntry& e : *gTable)
      if (e.Owned && e.Handle && CursorPlatform.Destroy) CursorPlatform.Destroy(e.Handle);
    delete gTable;
    gTable = nullptr;
  }
  delete gNames;
  gNames = nullptr;
  LoadCursorHook = nullptr;
  CursorFromBitmapHook = nullptr;
}

}  // namespace zm
