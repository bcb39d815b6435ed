#include "ZmLib/Graphics/zmICCColorTransform.h"

#include <mutex>

#include <lcms2.h>

#include "ZmLib/zmHookScope.h"

namespace zm {

namespace {

std::mutex gBindingLock;
TLcmsBinding gBinding;

// Adapters from the library's typed handles to the binding's plain ones.
std::uint32_t GetColorSpaceOf(void* p) { return cmsGetColorSpace(p); }
std::uint32_t GetDeviceClassOf(void* p) { return cmsGetDeviceClass(p); }
std::uint32_t GetProfileInfoOf(void* p, std::uint32_t info, const char language[3], const char country[3],
                               void* buffer, std::uint32_t size) {
  return cmsGetProfileInfo(p, cmsInfoType(info), language, country, static_cast<wchar_t*>(buffer), size);
}
int CloseProfileOf(void* p) { return cmsCloseProfile(p); }
void* OpenProfileFromMemOf(const void* data, std::uint32_t size) { return cmsOpenProfileFromMem(data, size); }
double SetAdaptationStateOf(double d) { return cmsSetAdaptationState(d); }
void* CreateTransformOf(void* in, std::uint32_t inFormat, void* out, std::uint32_t outFormat, std::uint32_t intent,
                        std::uint32_t flags) {
  return cmsCreateTransform(in, inFormat, out, outFormat, intent, flags);
}
void DoTransformOf(void* t, const void* in, void* out, std::uint32_t size) { cmsDoTransform(t, in, out, size); }
void DeleteTransformOf(void* t) { cmsDeleteTransform(t); }

static_assert(kLcmsTypeBGR8 == TYPE_BGR_8 && kLcmsTypeBGRA8 == TYPE_BGRA_8);

// Closes what was opened, whatever happens.
struct TLcmsObjects {
  const TLcmsBinding& B;
  void* Source = nullptr;
  void* Target = nullptr;
  void* Transform = nullptr;
  explicit TLcmsObjects(const TLcmsBinding& b) : B(b) {}
  ~TLcmsObjects() {
    if (Transform) B.DeleteTransform(Transform);
    if (Source) B.CloseProfile(Source);
    if (Target) B.CloseProfile(Target);
  }
  TLcmsObjects(const TLcmsObjects&) = delete;
  TLcmsObjects& operator=(const TLcmsObjects&) = delete;
};

}  // namespace

const TLcmsBinding& LcmsBinding() { return gBinding; }

TLcmsBinding SetLcmsBinding(const TLcmsBinding& binding) {
  std::lock_guard<std::mutex> l(gBindingLock);
  TLcmsBinding previous = gBinding;
  gBinding = binding;
  return previous;
}

TLcmsBinding LinkedLcmsBinding() {
  TLcmsBinding b;
  b.GetColorSpace = &GetColorSpaceOf;
  b.GetDeviceClass = &GetDeviceClassOf;
  b.GetProfileInfo = &GetProfileInfoOf;
  b.CloseProfile = &CloseProfileOf;
  b.OpenProfileFromMem = &OpenProfileFromMemOf;
  b.SetAdaptationState = &SetAdaptationStateOf;
  b.CreateTransform = &CreateTransformOf;
  b.DoTransform = &DoTransformOf;
  b.DeleteTransform = &DeleteTransformOf;
  return b;
}

std::uint32_t IccTransformFlags(bool blackPointCompensation, bool nullTransform, std::int32_t quality) {
  std::uint32_t flags = 0;
  if (blackPointCompensation) flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
  if (nullTransform) flags |= cmsFLAGS_NULLTRANSFORM;
  switch (quality) {
    case 1: flags |= cmsFLAGS_NOOPTIMIZE; break;
    case 2: flags |= cmsFLAGS_HIGHRESPRECALC; break;
    case 3: flags |= cmsFLAGS_LOWRESPRECALC; break;
    default: break;
  }
  return flags;
}

bool TransformBitmapRect(TSysBitmap* src, TSysBitmap* dst, const TRect& rect, std::int32_t quality,
                         std::span<const std::uint8_t> sourceIcc, std::span<const std::uint8_t> targetIcc,
                         TLoadCallbackProc progress) {
  TLcmsBinding b;
  {
    std::lock_guard<std::mutex> l(gBindingLock);
    b = gBinding;
  }
  if (!b.Loaded() || !src || !dst || src->PixelFormat() != dst->PixelFormat()) return false;
  const std::int32_t bits = src->PixelFormat()->BitsPerPixel;
  if (bits != 24 && bits != 32) return false;
  std::int32_t dx = rect.Left, dy = rect.Top, sx = rect.Left, sy = rect.Top;
  std::int32_t w = rect.Right - rect.Left, h = rect.Bottom - rect.Top;
  if (w <= 0 || h <= 0 || !ClipCopyRect(dx, dy, w, h, src->Size(), dst->Size(), sx, sy)) return false;

  b.SetAdaptationState(0);
  if (sourceIcc.empty() || targetIcc.empty()) return false;
  TLcmsObjects o(b);
  o.Source = b.OpenProfileFromMem(sourceIcc.data(), std::uint32_t(sourceIcc.size()));
  o.Target = b.OpenProfileFromMem(targetIcc.data(), std::uint32_t(targetIcc.size()));
  if (!o.Source || !o.Target) return false;
  const std::uint32_t format = bits == 24 ? kLcmsTypeBGR8 : kLcmsTypeBGRA8;
  std::uint32_t flags = IccTransformFlags(false, false, quality);
  // Between separate buffers Little CMS would leave the target's alpha alone.
  if (src != dst && bits == 32) flags |= cmsFLAGS_COPY_ALPHA;
  o.Transform = b.CreateTransform(o.Source, format, o.Target, format, INTENT_PERCEPTUAL, flags);
  if (!o.Transform) return false;
  const std::int32_t bpp = bits / 8;
  for (std::int32_t j = 0; j < h; ++j) {
    if (progress && !progress()) return false;
    b.DoTransform(o.Transform, src->ScanLine(sy + j) + std::ptrdiff_t(sx) * bpp,
                  dst->ScanLine(dy + j) + std::ptrdiff_t(dx) * bpp, std::uint32_t(w));
  }
  return true;
}

void TICCColorTransform::TransformBitmap(TBitmap* bitmap) {
  auto* b = dynamic_cast<TSysBitmap*>(bitmap);
  if (!b || !Source() || !Target()) return;
  TransformBitmapRect(b, b, TRect{0, 0, b->Width(), b->Height()}, 0, Source()->Data(), Target()->Data(),
                      LoadCallbackProc);
}

TRef<TColorTransform> CreateICCColorTransform(TColorProfile* source, TColorProfile* target) {
  ZM_ASSERT(source && target, "CreateColorTransformHook - Profile not Assigned");
  return MakeRef<TICCColorTransform>(source, target);
}

namespace {
THookInstall<TCreateColorTransformProc> gIccTransform;
}  // namespace

void InitICCColorTransform() {
  SetLcmsBinding(LinkedLcmsBinding());
  gIccTransform.Install(CreateColorTransformHook, &CreateICCColorTransform);
}

void FiniICCColorTransform() {
  // Only our own value goes; a later module's stays until it restores ours.
  gIccTransform.RestoreIfStillSet();
  SetLcmsBinding(TLcmsBinding{});
}

}  // namespace zm
