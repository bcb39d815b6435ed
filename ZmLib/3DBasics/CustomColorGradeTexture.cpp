#include "ZmLib/3DBasics/CustomColorGradeTexture.h"

#include <cstring>
#include <exception>
#include <mutex>
#include <optional>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Graphics/zmObjectFilters.h"

namespace zm {

namespace {

bool IsTable32(const TSysBitmap* t, std::int32_t w, std::int32_t h) {
  return t && t->Width() == w && t->Height() == h && t->BytesPerPixel() == 4;
}

std::uint8_t ClampByte(double v) {
  // Truncated toward zero, then clamped.
  const auto i = static_cast<std::int32_t>(v);
  return static_cast<std::uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
}

void CopyTable32(TSysBitmap* src, TSysBitmap* dst) {
  for (std::int32_t y = 0; y < src->Height(); ++y)
    std::memcpy(dst->Row32(y), src->Row32(y), std::size_t(src->Width()) * 4);
}

struct TSharedCube {
  TRef<TSysBitmap> Table;
  std::optional<WideString> ProfileName;  // empty optional: made for no profile
};

std::mutex gSharedLock;
TSharedCube gShared[2];  // 0 identity, 1 YUV

}  // namespace

void AddIdentityLut24(TSysBitmap* table) {
  ZM_ASSERT(table, "AddIdentityLut24 - Bitmap not Assigned");
  ZM_ASSERT(table->Width() == kGradeCubeSize && table->Height() == kGradeCubeRows && table->BytesPerPixel() == 3,
            "AddIdentityLut24 - Bitmap is not a 32x32x32 table of 24-bit entries");
  for (std::int32_t row = 0; row < kGradeCubeRows; ++row) {
    const std::uint8_t blue = GradeLevel(row / kGradeCubeSize);
    const std::uint8_t green = GradeLevel(row % kGradeCubeSize);
    TColor24* p = table->Row24(row);
    for (std::int32_t x = 0; x < kGradeCubeSize; ++x) {
      p[x].B = static_cast<std::uint8_t>(p[x].B + blue);
      p[x].G = static_cast<std::uint8_t>(p[x].G + green);
      p[x].R = static_cast<std::uint8_t>(p[x].R + GradeLevel(x));
    }
  }
}

void FillIdentity24(TSysBitmap* table) {
  ZM_ASSERT(table && table->Width() == kGradeCubeSize && table->Height() == kGradeCubeRows &&
                table->BytesPerPixel() == 3,
            "FillIdentity24 - Bitmap is not a 32x32x32 table of 24-bit entries");
  for (std::int32_t row = 0; row < kGradeCubeRows; ++row) {
    TColor24* p = table->Row24(row);
    for (std::int32_t x = 0; x < kGradeCubeSize; ++x)
      p[x] = {GradeLevel(row / kGradeCubeSize), GradeLevel(row % kGradeCubeSize), GradeLevel(x)};
  }
}

void FillIdentityCube32(TSysBitmap* table) {
  ZM_ASSERT(IsTable32(table, kGradeCubeSize, kGradeCubeRows),
            "FillIdentityCube32 - Bitmap is not a 32x32x32 table of 32-bit entries");
  for (std::int32_t row = 0; row < kGradeCubeRows; ++row) {
    const std::uint32_t gb =
        0xFF000000u | std::uint32_t(GradeLevel(row % kGradeCubeSize)) << 8 | GradeLevel(row / kGradeCubeSize);
    std::uint32_t* p = table->Row32(row);
    for (std::int32_t x = 0; x < kGradeCubeSize; ++x) p[x] = gb | std::uint32_t(GradeLevel(x)) << 16;
  }
}

void FillIdentityStrip32(TSysBitmap* table) {
  ZM_ASSERT(IsTable32(table, kGradeStripWidth, kGradeStripHeight),
            "FillIdentityStrip32 - Bitmap is not a 256x16 table of 32-bit entries");
  for (std::int32_t y = 0; y < kGradeStripHeight; ++y) {
    std::uint32_t* p = table->Row32(y);
    for (std::uint32_t x = 0; x < std::uint32_t(kGradeStripWidth); ++x) p[x] = 0xFF000000u | x * 0x010101u;
  }
}

std::uint32_t YuvGradeEntry(std::int32_t x, std::int32_t y, std::int32_t z) {
  const double luma = (GradeLevel(z) - 16) * 1.1643835616438356;
  const double u = GradeLevel(y) - 128;
  const double v = GradeLevel(x) - 128;
  const std::uint8_t r = ClampByte(luma + 1.596 * v);
  const std::uint8_t g = ClampByte(luma - 0.813 * v - 0.391 * u);
  const std::uint8_t b = ClampByte(luma + 2.018 * u);
  return 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | b;
}

std::atomic<TColorManagementOnProc> ColorManagementOnHook{nullptr};

TRef<TSysBitmap> GetSharedGradeTable(bool identity, TColorProfile* profile) {
  const TColorManagementOnProc managed = ColorManagementOnHook.load();
  if (managed && !managed())
    profile = nullptr;
  else if (!profile)
    profile = CurrentColorProfile();
  std::optional<WideString> name;
  if (profile) name = profile->Name();
  std::lock_guard<std::mutex> guard(gSharedLock);
  TSharedCube& slot = gShared[identity ? 0 : 1];
  if (slot.Table && slot.ProfileName == name) return slot.Table;
  TRef<TSysBitmap> cube = CreateSysBitmap(kGradeCubeSize, kGradeCubeRows, pfA8R8G8B8);
  if (identity) {
    FillIdentityCube32(cube.get());
  } else {
    for (std::int32_t row = 0; row < kGradeCubeRows; ++row) {
      std::uint32_t* p = cube->Row32(row);
      for (std::int32_t x = 0; x < kGradeCubeSize; ++x)
        p[x] = YuvGradeEntry(x, row % kGradeCubeSize, row / kGradeCubeSize);
    }
  }
  if (profile) {
    TColorProfile* source = identity ? sRGBProfile() : YUVsRGBProfile();
    if (TRef<TColorTransform> transform = CreateColorTransform(source, profile)) transform->TransformBitmap(cube.get());
  }
  slot.Table = cube;
  slot.ProfileName = std::move(name);
  return cube;
}

void FreeSharedGradeTables() {
  std::lock_guard<std::mutex> guard(gSharedLock);
  for (TSharedCube& s : gShared) s = TSharedCube{};
}

// ---- TCustomColorGradeTexture --------------------------------------------------------

TCustomColorGradeTexture::TCustomColorGradeTexture(T3DScreen* screen, std::uint8_t kind)
    : TCustomColoringTexture(screen, "TCustomColorGradeTexture"), kind_(kind) {}

void TCustomColorGradeTexture::Dispose() {
  source_ = nullptr;
  ownedSource_ = nullptr;
  filter_ = nullptr;
  TCustomColoringTexture::Dispose();
}

void TCustomColorGradeTexture::SetSource(TSysBitmap* bitmap, bool owns) {
  ZM_ASSERT(!bitmap || (IsVolume() ? IsTable32(bitmap, kGradeCubeSize, kGradeCubeRows)
                                   : IsTable32(bitmap, kGradeStripWidth, kGradeStripHeight)),
            "TCustomColorGradeTexture.SetSource - Bitmap is not a table of the texture's kind");
  TRef<TSysBitmap> old = std::move(ownedSource_);  // freed after the new one is held
  source_ = bitmap;
  if (bitmap && owns) ownedSource_ = TRef<TSysBitmap>(bitmap);
  ReleaseDeviceObjects();
}

void TCustomColorGradeTexture::SetGradeFilter(TObjectFilter* filter) {
  TRef<TObjectFilter> old = std::move(filter_);  // freed after the new one is held
  filter_ = TRef<TObjectFilter>(filter);
  ReleaseDeviceObjects();
  Realize();
}

TBaseTexture* TCustomColorGradeTexture::Realize() {
  if (TBaseTexture* t = DeviceObject()) return t;
  T3DScreen* screen = Screen();
  if (!screen || !screen->CanDraw()) return nullptr;
  TRef<T3DRenderer> renderer(screen->Renderer());
  try {
    TRef<TBaseTexture> t;
    if (IsVolume())
      t = renderer->CreateVolumeTexture(kGradeCubeSize, kGradeCubeSize, kGradeCubeSize);
    else
      t = renderer->CreateTexture(tkColorAlpha, kGradeStripWidth, kGradeStripHeight, false);
    if (!t || !Fill(t.get())) return nullptr;
    SetDeviceObject(t);
  } catch (const std::exception&) {
    // A table that cannot be written is not kept; the draw grades nothing.
    ReleaseDeviceObjects();
    return nullptr;
  }
  return DeviceObject();
}

bool TCustomColorGradeTexture::Fill(TBaseTexture* texture) {
  if (IsVolume()) {
    auto* volume = dynamic_cast<TVolumeTexture*>(texture);
    if (!volume) return false;
    TRef<TSysBitmap> bits = volume->LockBox(0, {0, 0, 0, kGradeCubeSize, kGradeCubeSize, kGradeCubeSize});
    if (!bits) return false;
    const bool ok = IsTable32(bits.get(), kGradeCubeSize, kGradeCubeRows);
    if (ok) {
      if (source_)
        CopyTable32(source_, bits.get());
      else
        FillIdentityCube32(bits.get());
      if (filter_) ApplyFilterChain(filter_.get(), bits.get(), kGradeCubeSize, kGradeCubeRows);
    }
    volume->UnlockBox(0, bits);
    return ok;
  }
  auto* flat = dynamic_cast<T3DTexture*>(texture);
  if (!flat) return false;
  TRef<T3DSurface> surface = flat->GetSurface(0);
  if (!surface) return false;
  TRef<TSysBitmap> bits = surface->Lock({0, 0, kGradeStripWidth, kGradeStripHeight}, false);
  if (!bits) return false;
  const bool ok = IsTable32(bits.get(), kGradeStripWidth, kGradeStripHeight);
  if (ok) {
    if (source_)
      CopyTable32(source_, bits.get());
    else
      FillIdentityStrip32(bits.get());
    if (filter_) {
      // A one-row view: the chain copies its row 0 over every row below the
      // rows it maps, and rows 1 to 15 must keep the unfiltered ramp.
      TRef<TRefBitmap> row0 = MakeRef<TRefBitmap>(TPoint{kGradeStripWidth, 1}, kGradeStripWidth * 4,
                                                  bits->ScanLine(0), bits->PixelFormat());
      ApplyFilterChain(filter_.get(), row0.get(), kGradeStripWidth, 1);
    }
  }
  surface->Unlock(bits);
  return ok;
}

}  // namespace zm
