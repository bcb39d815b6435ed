#pragma once
// Colour profiles: the profile objects with their ICC data, the built-in
// profiles made at start-up from ICC data the program carries ("sRGB",
// "YUVsRGB", "AdobeRGB", "FunkyRGB"), the display profile, the abstract
// colour transform and the hook that makes one, the table of profile
// loaders, and the correction of single colours through a cached lookup
// bitmap.
//
// The built-in ICC data are program resources of type "ICC" named "SRGB",
// "ADOBERGB" and "FUNKYRGB"; a program without them has no built-in
// profiles (their accessors answer nil). Pictures without a profile of their
// own are taken as sRGB; the output is the display profile.
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/zmStream.h"

namespace zm {

class TColorProfile : public TRefObject {
public:
  // Keeps a copy of Data and the name.
  TColorProfile(std::span<const std::uint8_t> data, const WideString& name);
  void Dispose() override;  // frees the lookup bitmap

  const WideString& Name() const { return name_; }
  // The whole ICC profile file.
  const std::vector<std::uint8_t>& Data() const { return data_; }
  // The lookup bitmap of CorrectColorByProfile once it was made; nil before,
  // and when no transform to this profile exists.
  TSysBitmap* LookupBitmap() const { return lookupBuilt_.load(std::memory_order_acquire) ? lookup_.get() : nullptr; }
  bool LookupBuilt() const { return lookupBuilt_.load(std::memory_order_acquire); }

private:
  friend void CorrectColorByProfile(TColorProfile*, TColor24&, TColor24);
  WideString name_;
  std::vector<std::uint8_t> data_;
  std::atomic<bool> lookupBuilt_{false};
  TRef<TSysBitmap> lookup_;
};

// Converts pictures from the source profile to the target profile.
class TColorTransform : public TRefObject {
public:
  // Takes a reference to each profile (both assigned).
  TColorTransform(TColorProfile* source, TColorProfile* target);
  void Dispose() override;
  // Converts the bitmap's pixels in place; the transform engine implements it.
  virtual void TransformBitmap(TBitmap* bitmap) = 0;

  TColorProfile* Source() const { return source_.get(); }
  TColorProfile* Target() const { return target_.get(); }

private:
  TRef<TColorProfile> source_;
  TRef<TColorProfile> target_;
};

// ---- Built-in and display profiles -------------------------------------------------

// The built-in profiles; nil before the module starts or without their data.
TColorProfile* sRGBProfile();
TColorProfile* YUVsRGBProfile();  // the sRGB data again, a separate object (video frames)
TColorProfile* AdobeRGBProfile();
TColorProfile* FunkyRGBProfile();
// The built-in profile of that name (letter case ignored), or nil.
TColorProfile* BuiltInColorProfile(const WideString& name);

// The display profile, or the built-in "sRGB" when none is set. The caller
// does not own it; it stays valid until the display profile is replaced.
TColorProfile* CurrentColorProfile();
// The display profile itself (nil when none is set), with a reference.
TRef<TColorProfile> DisplayColorProfile();
// Stores Profile (nil allowed) as the display profile and releases the
// previous one; takes a reference unless TakeOwnership (then the caller's
// reference passes to the store).
void SetDisplayColorProfile(TColorProfile* profile, bool takeOwnership);

// Nil for empty data. Data whose first 512 bytes hold the text
// "sRGB IEC61966-2.1" gives the built-in sRGB profile (when it exists);
// anything else a new profile.
TRef<TColorProfile> ColorProfileFromData(std::span<const std::uint8_t> data, const WideString& name);

// ---- Transforms ---------------------------------------------------------------------

using TCreateColorTransformProc = TRef<TColorTransform> (*)(TColorProfile* source, TColorProfile* target);
// Empty here; the transform engine fills it.
extern TCreateColorTransformProc CreateColorTransformHook;
// Source nil means the built-in sRGB; Target nil the display profile, else
// sRGB. Nil when the hook is empty, a profile is still missing, or Source
// and Target are the same object; otherwise the hook's result.
TRef<TColorTransform> CreateColorTransform(TColorProfile* source, TColorProfile* target);

// The path of the monitor's profile file for a colour space (0: the
// screen); false and an empty path when there is none. Empty until the
// colour-management unit fills it.
using TColorSpaceProfilePathProc = bool (*)(std::uint32_t colorSpace, WideString& path);
extern TColorSpaceProfilePathProc MonitorProfilePathHook;

// ---- Profile loaders -----------------------------------------------------------------

// Reads a profile from picture or profile data; nil when there is none.
using TProfileLoaderProc = TRef<TColorProfile> (*)(TStream* stream, const WideString& name);
// Extensions are normalised as those of the image loaders (".jpg").
void RegisterProfileLoader(TProfileLoaderProc loader, std::initializer_list<const char16_t*> extensions);
void UnregisterProfileLoader(TProfileLoaderProc loader);
std::int32_t ProfileLoaderCount();
// Tries the loaders registered for the extension of FileName (letter case
// ignored), in registration order, from the stream's position; the first
// profile found. Nil when none finds one. The position is kept.
TRef<TColorProfile> LoadColorProfile(TStream* stream, const WideString& fileName);

// ---- Single colours ----------------------------------------------------------------------

// The colour as it looks through Profile: converted from sRGB to Profile
// through a 32 x 32 x 32 lookup grid made on first use. Profile nil means
// the display profile; without one (or without a transform) the colour
// passes unchanged.
void CorrectColorByProfile(TColorProfile* profile, TColor24& result, TColor24 color);
// The identity grid in a 32 x 1024 "R8G8B8" bitmap: row blue * 32 + green,
// column red, level i standing for i * 8 + i div 4.
void FillColorLut(TSysBitmap* bitmap);
// Trilinear lookup of a colour in such a grid (16.16 fixed point).
TColor24 LutLookup(TSysBitmap* lut, TColor24 color);

void InitColorProfiles();
void FiniColorProfiles();

}  // namespace zm
