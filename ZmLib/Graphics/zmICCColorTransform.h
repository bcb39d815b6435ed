#pragma once
// ICC colour transforms over Little CMS 2: TICCColorTransform, which the
// unit installs into CreateColorTransformHook, and the worker that converts
// a rectangle of a 24- or 32-bit bitmap (bytes B, G, R(, A)) from one ICC
// profile to another with the perceptual intent.
//
// The library's functions are reached through a binding table so that a
// program (or a test) without the library keeps working: every conversion
// then leaves the pixels as they are. Conversions between two separate
// bitmaps copy the alpha bytes; in place they stay anyway.
#include <cstdint>
#include <span>
#include <vector>

#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/wpLoadCallBack.h"

namespace zm {

// The Little CMS functions the transforms use (the usual lcms2 meanings).
struct TLcmsBinding {
  std::uint32_t (*GetColorSpace)(void* profile) = nullptr;
  std::uint32_t (*GetDeviceClass)(void* profile) = nullptr;
  std::uint32_t (*GetProfileInfo)(void* profile, std::uint32_t info, const char language[3], const char country[3],
                                  void* buffer, std::uint32_t size) = nullptr;
  int (*CloseProfile)(void* profile) = nullptr;
  void* (*OpenProfileFromMem)(const void* data, std::uint32_t size) = nullptr;
  double (*SetAdaptationState)(double d) = nullptr;
  void* (*CreateTransform)(void* input, std::uint32_t inputFormat, void* output, std::uint32_t outputFormat,
                           std::uint32_t intent, std::uint32_t flags) = nullptr;
  void (*DoTransform)(void* transform, const void* input, void* output, std::uint32_t size) = nullptr;
  void (*DeleteTransform)(void* transform) = nullptr;
  bool Loaded() const {
    return CloseProfile && OpenProfileFromMem && SetAdaptationState && CreateTransform && DoTransform &&
           DeleteTransform;
  }
};

// The binding in use: the linked library from the module's start; nil
// pointers before it, after it, and while a test replaces it.
const TLcmsBinding& LcmsBinding();
// Replaces the binding; returns the previous one.
TLcmsBinding SetLcmsBinding(const TLcmsBinding& binding);
// The binding of the linked library.
TLcmsBinding LinkedLcmsBinding();

// Flags of a transform: black-point compensation, a null transform, and a
// quality 0..3 (1 no optimisation, 2 high-resolution, 3 low-resolution
// precalculation).
std::uint32_t IccTransformFlags(bool blackPointCompensation, bool nullTransform, std::int32_t quality);

constexpr std::uint32_t kLcmsTypeBGR8 = 0x40419;   // TYPE_BGR_8
constexpr std::uint32_t kLcmsTypeBGRA8 = 0x44499;  // TYPE_BGRA_8

// Converts Rect of Src into Dst (which may be Src) from SourceIcc to
// TargetIcc. False, with nothing changed, when the library is missing, the
// formats differ or are not 24- or 32-bit, the rectangle (cut to both
// bitmaps) is empty, a profile is empty or unreadable, or no transform can be
// made; false too when Progress (polled before each row) stops the work.
bool TransformBitmapRect(TSysBitmap* src, TSysBitmap* dst, const TRect& rect, std::int32_t quality,
                         std::span<const std::uint8_t> sourceIcc, std::span<const std::uint8_t> targetIcc,
                         TLoadCallbackProc progress);

class TICCColorTransform : public TColorTransform {
public:
  using TColorTransform::TColorTransform;
  // The whole bitmap in place, polling the load callback. Bitmaps that are
  // not TSysBitmaps stay as they are.
  void TransformBitmap(TBitmap* bitmap) override;
};

// The value of CreateColorTransformHook: both profiles assigned (assertion).
TRef<TColorTransform> CreateICCColorTransform(TColorProfile* source, TColorProfile* target);

void InitICCColorTransform();
void FiniICCColorTransform();

}  // namespace zm
