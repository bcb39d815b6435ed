#include "ZmLib/Graphics/zmColorProfiles.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

#include "Platform/PlatResources.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"

namespace zm {

TCreateColorTransformProc CreateColorTransformHook = nullptr;
TColorSpaceProfilePathProc MonitorProfilePathHook = nullptr;

namespace {

struct TProfileLoaderEntry {
  TProfileLoaderProc Loader;
  std::vector<WideString> Extensions;
};

struct TProfilesState {
  std::mutex LutLock;       // building lookup bitmaps
  std::mutex DisplayLock;   // the display profile
  std::mutex LoaderLock;    // the loader table
  TColorProfile* SRGB = nullptr;
  TColorProfile* YUVsRGB = nullptr;
  TColorProfile* AdobeRGB = nullptr;
  TColorProfile* FunkyRGB = nullptr;
  TColorProfile* Display = nullptr;
  std::vector<TProfileLoaderEntry> Loaders;
};

TProfilesState& S() {
  static TProfilesState s;
  return s;
}

TColorProfile* MakeBuiltIn(const char* resource, const char16_t* name) {
  const plat::TEmbeddedResource* r = plat::FindProgramResource("ICC", resource);
  if (!r || r->Size == 0) return nullptr;
  return MakeRef<TColorProfile>(std::span<const std::uint8_t>(r->Data, r->Size), name).Detach();
}

constexpr std::string_view kSRGBDescription = "sRGB IEC61966-2.1";
constexpr std::size_t kDescriptionWindow = 512;

// Level i of the 32-step grid stands for this value (0, 8, ..., 255).
constexpr std::uint8_t LutLevel(int i) { return std::uint8_t(i * 8 + i / 4); }

// a + ((b - a) * f + 32767) / 65536, the division truncating toward zero.
std::uint8_t MixByte(std::uint8_t a, std::uint8_t b, std::int32_t f) {
  const std::int64_t d = (std::int64_t(b) - a) * f + 32767;
  return std::uint8_t(a + d / 65536);
}

TColor24 Mix(TColor24 a, TColor24 b, std::int32_t f) {
  return {MixByte(a.B, b.B, f), MixByte(a.G, b.G, f), MixByte(a.R, b.R, f)};
}

// Grid index and 16-bit fraction of a channel value; 255 gives 30 and 65535.
void Split(std::uint8_t c, std::int32_t& index, std::int32_t& fraction) {
  const std::int32_t p = std::int32_t(c) * 7967;
  index = p >> 16;
  fraction = (p & 0xFFFF) + index;
}

// Interpolates between two grid entries by a fraction: the exact ends are
// read alone.
template <class Read>
TColor24 Interpolate(std::int32_t index, std::int32_t fraction, Read read) {
  if (fraction == 0) return read(index);
  if (fraction >= 65535) return read(index + 1);
  return Mix(read(index), read(index + 1), fraction);
}

}  // namespace

// ============================================================================
// TColorProfile and TColorTransform
// ============================================================================

TColorProfile::TColorProfile(std::span<const std::uint8_t> data, const WideString& name)
    : name_(name), data_(data.begin(), data.end()) {}

void TColorProfile::Dispose() {
  lookup_ = nullptr;
  TRefObject::Dispose();
}

TColorTransform::TColorTransform(TColorProfile* source, TColorProfile* target) : source_(source), target_(target) {
  ZM_ASSERT(source && target, "TColorTransform.Create - Profile not Assigned");
}

void TColorTransform::Dispose() {
  source_ = nullptr;
  target_ = nullptr;
  TRefObject::Dispose();
}

// ============================================================================
// Built-in and display profiles
// ============================================================================

TColorProfile* sRGBProfile() { return S().SRGB; }
TColorProfile* YUVsRGBProfile() { return S().YUVsRGB; }
TColorProfile* AdobeRGBProfile() { return S().AdobeRGB; }
TColorProfile* FunkyRGBProfile() { return S().FunkyRGB; }

TColorProfile* BuiltInColorProfile(const WideString& name) {
  for (TColorProfile* p : {S().SRGB, S().YUVsRGB, S().AdobeRGB, S().FunkyRGB})
    if (p && SameText(p->Name(), name)) return p;
  return nullptr;
}

TColorProfile* CurrentColorProfile() {
  std::lock_guard<std::mutex> l(S().DisplayLock);
  return S().Display ? S().Display : S().SRGB;
}

TRef<TColorProfile> DisplayColorProfile() {
  std::lock_guard<std::mutex> l(S().DisplayLock);
  return TRef<TColorProfile>(S().Display);
}

void SetDisplayColorProfile(TColorProfile* profile, bool takeOwnership) {
  if (profile && !takeOwnership) profile->AddRef();
  TColorProfile* previous;
  {
    std::lock_guard<std::mutex> l(S().DisplayLock);
    previous = std::exchange(S().Display, profile);
  }
  if (previous) previous->ReleaseRef();
}

TRef<TColorProfile> ColorProfileFromData(std::span<const std::uint8_t> data, const WideString& name) {
  if (data.empty()) return nullptr;
  if (TColorProfile* srgb = S().SRGB) {
    const std::string_view head(reinterpret_cast<const char*>(data.data()), std::min(data.size(), kDescriptionWindow));
    if (head.find(kSRGBDescription) != std::string_view::npos) return TRef<TColorProfile>(srgb);
  }
  return MakeRef<TColorProfile>(data, name);
}

// ============================================================================
// Transforms
// ============================================================================

TRef<TColorTransform> CreateColorTransform(TColorProfile* source, TColorProfile* target) {
  TRef<TColorProfile> display;
  if (!source) source = S().SRGB;
  if (!target) {
    display = DisplayColorProfile();
    target = display ? display.get() : S().SRGB;
  }
  if (!CreateColorTransformHook || !source || !target || source == target) return nullptr;
  return CreateColorTransformHook(source, target);
}

// ============================================================================
// Profile loaders
// ============================================================================

void RegisterProfileLoader(TProfileLoaderProc loader, std::initializer_list<const char16_t*> extensions) {
  ZM_ASSERT(loader, "RegisterProfileLoader - Loader not Assigned");
  TProfileLoaderEntry e{loader, {}};
  for (const char16_t* x : extensions) e.Extensions.push_back(NormalizeExtension(x));
  std::lock_guard<std::mutex> l(S().LoaderLock);
  if (S().Loaders.empty()) S().Loaders.reserve(8);
  S().Loaders.push_back(std::move(e));
}

void UnregisterProfileLoader(TProfileLoaderProc loader) {
  std::lock_guard<std::mutex> l(S().LoaderLock);
  std::erase_if(S().Loaders, [&](const TProfileLoaderEntry& e) { return e.Loader == loader; });
}

std::int32_t ProfileLoaderCount() {
  std::lock_guard<std::mutex> l(S().LoaderLock);
  return std::int32_t(S().Loaders.size());
}

TRef<TColorProfile> LoadColorProfile(TStream* stream, const WideString& fileName) {
  if (!stream) return nullptr;
  const WideString ext = ExtractFileExt(fileName);
  std::vector<TProfileLoaderEntry> loaders;
  {
    std::lock_guard<std::mutex> l(S().LoaderLock);
    loaders = S().Loaders;
  }
  const std::int64_t start = stream->GetPosition();
  for (const TProfileLoaderEntry& e : loaders) {
    if (std::none_of(e.Extensions.begin(), e.Extensions.end(), [&](const WideString& x) { return SameText(x, ext); }))
      continue;
    stream->SetPosition(start);
    TRef<TColorProfile> p = e.Loader(stream, fileName);
    stream->SetPosition(start);
    if (p) return p;
  }
  return nullptr;
}

// ============================================================================
// Single colours
// ============================================================================

void FillColorLut(TSysBitmap* bitmap) {
  ZM_ASSERT(bitmap && bitmap->BytesPerPixel() == 3 && bitmap->Width() >= 32 && bitmap->Height() >= 1024,
            "FillColorLut - Invalid Bitmap");
  for (int b = 0; b < 32; ++b)
    for (int g = 0; g < 32; ++g) {
      TColor24* row = bitmap->Row24(b * 32 + g);
      for (int r = 0; r < 32; ++r) row[r] = TColor24{LutLevel(b), LutLevel(g), LutLevel(r)};
    }
}

TColor24 LutLookup(TSysBitmap* lut, TColor24 color) {
  std::int32_t bi, bf, gi, gf, ri, rf;
  Split(color.B, bi, bf);
  Split(color.G, gi, gf);
  Split(color.R, ri, rf);
  auto plane = [&](std::int32_t b) {
    return Interpolate(gi, gf, [&](std::int32_t g) {
      const TColor24* row = lut->Row24(b * 32 + g);
      return Interpolate(ri, rf, [&](std::int32_t r) { return row[r]; });
    });
  };
  return Interpolate(bi, bf, plane);
}

void CorrectColorByProfile(TColorProfile* profile, TColor24& result, TColor24 color) {
  TRef<TColorProfile> held;
  if (!profile) {
    held = DisplayColorProfile();
    profile = held.get();
  }
  if (!profile) {
    result = color;
    return;
  }
  if (!profile->lookupBuilt_.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> l(S().LutLock);
    if (!profile->lookupBuilt_.load(std::memory_order_relaxed)) {
      if (TRef<TColorTransform> t = CreateColorTransform(S().SRGB, profile)) {
        TRef<TSysBitmap> lut = CreateSysBitmap(32, 1024, PixelFormatByName(PF_R8G8B8));
        if (lut) {
          FillColorLut(lut.get());
          t->TransformBitmap(lut.get());
          profile->lookup_ = lut;
        }
      }
      profile->lookupBuilt_.store(true, std::memory_order_release);
    }
  }
  if (TSysBitmap* lut = profile->lookup_.get()) result = LutLookup(lut, color);
  else result = color;
}

// ============================================================================
// Start and end
// ============================================================================

void InitColorProfiles() {
  TProfilesState& s = S();
  s.SRGB = MakeBuiltIn("SRGB", u"sRGB");
  s.YUVsRGB = MakeBuiltIn("SRGB", u"YUVsRGB");
  s.AdobeRGB = MakeBuiltIn("ADOBERGB", u"AdobeRGB");
  s.FunkyRGB = MakeBuiltIn("FUNKYRGB", u"FunkyRGB");
}

void FiniColorProfiles() {
  TProfilesState& s = S();
  SetDisplayColorProfile(nullptr, true);
  for (TColorProfile** p : {&s.SRGB, &s.YUVsRGB, &s.AdobeRGB, &s.FunkyRGB}) FreeAndNil(*p);
  std::lock_guard<std::mutex> l(s.LoaderLock);
  s.Loaders.clear();
}

}  // namespace zm
