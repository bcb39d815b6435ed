#include "OruLib2/OruClasses/OruSlide.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>

#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/OruVideo.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmMath.h"

namespace oru {

using zm::TFloatPoint;

TSlideLayerHooks SlideLayerHooks;
TSlideColourTableProc SlideColourTableHook = nullptr;

namespace {

double FiniteOr(double v, double def) { return std::isfinite(v) ? v : def; }

double ReadTime(const zm::TIniList* times, std::int32_t index, double def) {
  const WideString key = u"opt_synchpos" + zm::IntToStr(index);
  return FiniteOr(zm::IniGetFloat(zm::IniFind(times, key), def), def);
}

}  // namespace

// ---- Time line ---------------------------------------------------------------------------

TSlideBeginTimes ReadSlideTimes(const zm::TIniList* times, std::int32_t index) {
  TSlideBeginTimes t;
  const std::int32_t count = zm::IniGetInt(zm::IniFind(times, u"opt_slidescount"), 0);
  if (index >= 1 && index <= count) t.Begin = ReadTime(times, index, 0);
  t.NextBegin = t.Begin;
  // index + 1 cannot overflow: index < count <= INT32_MAX.
  if (index >= 0 && index < count) t.NextBegin = ReadTime(times, index + 1, t.Begin);
  return t;
}

bool SlideTimeScale(const zm::TIniList* section, double begin, double nextBegin, double outDuration, double& factor,
                    TOruTimeFrame& frame) {
  factor = 1;
  frame = TOruTimeFrame{};
  const std::int32_t mode = zm::IniGetInt(zm::IniFind(section, u"ScaleMode"), 0);
  if (mode != 1 && mode != 2) return false;
  // Three integers; missing or bad ones count as 0.
  const WideString text = zm::IniGetString(zm::IniFind(section, u"ScaleTimes"));
  double abc[3] = {0, 0, 0};
  std::size_t from = 0;
  for (std::int32_t i = 0; i < 3 && from <= text.size(); ++i) {
    std::size_t to = text.find(u',', from);
    if (to == WideString::npos) to = text.size();
    abc[i] = zm::StrToIntDef(zm::Trim(text.substr(from, to - from)), 0);
    from = to + 1;
  }
  const double a = abc[0], b = abc[1], c = abc[2];
  const double out = zm::RoundHalfEven64(FiniteOr(outDuration, 0));
  const double span = static_cast<double>(zm::RoundHalfEven64(FiniteOr(nextBegin - begin, 0))) + out;
  const double reference = mode == 1 ? a + c : a;
  const double target = mode == 1 ? span : span - out;
  if (reference == 0) return false;
  factor = target / reference;
  if (!std::isfinite(factor)) {
    factor = 1;
    return false;
  }
  // The frame (a + c, b, c) as the stored times see it, scaled with them so
  // that frames counted from any origin land on the slide's own time line.
  frame.SlideBegin = 0;
  frame.PrevEffectEnd = b * factor;
  frame.NextEffectBegin = a * factor;
  frame.SlideEnd = (a + c) * factor;
  return true;
}

float PerspectiveDepthFactor(float eyeZ, float slideHeight) {
  const double t30 = std::tan(std::numbers::pi / 6);
  const double d = -static_cast<double>(eyeZ);
  if (!(d > 0) || !(slideHeight > 0) || !std::isfinite(d)) return static_cast<float>(t30);
  return static_cast<float>(t30 / slideHeight * d);
}

// ---- Background ----------------------------------------------------------------------------

namespace {

std::uint32_t ReadColour(const zm::TIniList* list, const WideString& key, std::uint32_t def) {
  const zm::TIniItem* item = zm::IniFind(list, key);
  if (!item) return def;
  const std::int64_t v = item->GetInt64(static_cast<std::int64_t>(def));
  return static_cast<std::uint32_t>(v) & 0xFFFFFFu;
}

std::uint32_t CorrectRgb(std::uint32_t rgb) {
  zm::TColor24 in{static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
                  static_cast<std::uint8_t>(rgb >> 16)};
  zm::TColor24 out = in;
  zm::CorrectColorByProfile(nullptr, out, in);
  return std::uint32_t(out.B) | std::uint32_t(out.G) << 8 | std::uint32_t(out.R) << 16;
}

zm::TColor32 WithAlpha(std::uint32_t rgb, std::uint8_t alpha) {
  return zm::TColor32::FromValue((rgb & 0xFFFFFFu) | std::uint32_t(alpha) << 24);
}

}  // namespace

void ReadSlideBackground(const zm::TIniList* main, const zm::TIniList* slide, TSlideBackground& bg, bool correct) {
  const bool own = zm::IniGetInt(zm::IniFind(slide, u"bstyle"), 0) != 0;
  const zm::TIniList* src = own ? slide : main;
  const WideString prefix = own ? WideString() : WideString(u"opt_");
  const auto key = [&](const char16_t* name) { return prefix + name; };
  switch (zm::IniGetInt(zm::IniFind(src, key(u"bstyle")), 0)) {
    case 1:
      bg.Kind = kSlideBgSolid;
      bg.Colour1 = ReadColour(src, key(u"bcolor"), bg.Colour1);
      break;
    case 2: {
      bg.PictureName = zm::IniGetString(zm::IniFind(src, key(u"bfn")));
      if (!bg.PictureName.empty()) bg.Kind = kSlideBgPicture;
      const double size = zm::IniGetFloat(zm::IniFind(src, key(u"bsize")), 100);
      bg.PictureSize = std::isfinite(size) && std::fabs(size) < 1e9 ? static_cast<float>(size) : 100.0f;
      break;
    }
    case 3:
      switch (zm::IniGetInt(zm::IniFind(src, key(u"bcolorstyle")), 0)) {
        case 1: bg.Kind = kSlideBgGradient2; break;
        case 2: bg.Kind = kSlideBgGradient1; break;
        default: break;
      }
      bg.Colour1 = ReadColour(src, key(u"bcolor1"), bg.Colour1);
      bg.Colour2 = ReadColour(src, key(u"bcolor2"), bg.Colour2);
      break;
    default: break;
  }
  bg.DisplayColour1 = correct ? CorrectRgb(bg.Colour1) : bg.Colour1;
  if (correct && bg.Kind != kSlideBgSolid && bg.Colour2 != bg.Colour1)
    bg.DisplayColour2 = CorrectRgb(bg.Colour2);
  else
    bg.DisplayColour2 = bg.Colour2 == bg.Colour1 ? bg.DisplayColour1 : bg.Colour2;
}

TFloatPoint FitBackgroundPicture(float slideW, float slideH, float pictureW, float pictureH, float sizePercent) {
  if (!(slideW > 0) || !(slideH > 0) || !(pictureW > 0) || !(pictureH > 0) || !(sizePercent > 0) ||
      !std::isfinite(slideW * slideH * pictureW * pictureH * sizePercent))
    return {};
  const double s = sizePercent / 100.0;
  const double pictureAspect = static_cast<double>(pictureW) / pictureH;
  // The picture fits inside: a slide narrower than the picture is spanned
  // by the picture's width, any other by its height.
  if (static_cast<double>(slideW) / slideH < pictureAspect) {
    const double w = slideW * s;
    return {static_cast<float>(w), static_cast<float>(w / pictureAspect)};
  }
  const double h = slideH * s;
  return {static_cast<float>(h * pictureAspect), static_cast<float>(h)};
}

WideString BackgroundPictureKey(float sizePercent, const WideString& name) {
  return u"SlideBg: " + zm::FloatToStrDigits(sizePercent, 6) + u":" + name;
}

void TSlideBgPicture::Dispose() {
  GradeTexture.reset();
  Image.reset();
  ColourTable.reset();
  zm::TRefObject::Dispose();
}

void DrawSlideBackground(zm::TDeviceDrawer& drawer, const TSlideBackground& bg, std::uint8_t alpha,
                         const TSlideCorners& corners, TFloatPoint slideSize, TSlideBgPicture* picture,
                         const zm::TFloatRect* hole) {
  if (alpha == 0) return;
  // Half-slide axes around the centre.
  const TFloatPoint u = zm::ScaleFloatPoint(zm::SubFloatPoints(corners.TopLeft, corners.TopRight), 0.5f);
  const TFloatPoint v = zm::ScaleFloatPoint(zm::SubFloatPoints(corners.TopLeft, corners.BottomLeft), 0.5f);
  const TFloatPoint centre = zm::AddFloatPoints(corners.TopLeft, zm::AddFloatPoints(u, v));
  const TFloatPoint origin = zm::CombineFloatPoints(centre, zm::AddFloatPoints(u, v), 1.0f, -2.0f);
  switch (bg.Kind) {
    case kSlideBgSolid: {
      const TFloatPoint c1 = zm::CombineFloatPoints(origin, u, 1.0f, 4.0f);
      const TFloatPoint c2 = zm::CombineFloatPoints(origin, v, 1.0f, 4.0f);
      const zm::TColor32 colour = WithAlpha(bg.DisplayColour1, alpha);
      // An axis-aligned slide around a hole: the four bands about it.
      if (hole && u.Y == 0 && v.X == 0) {
        const float l = std::min(origin.X, c1.X), r = std::max(origin.X, c1.X);
        const float t = std::min(origin.Y, c2.Y), b = std::max(origin.Y, c2.Y);
        const float hl = std::clamp(hole->Left, l, r), hr = std::clamp(hole->Right, l, r);
        const float ht = std::clamp(hole->Top, t, b), hb = std::clamp(hole->Bottom, t, b);
        if (hr > hl && hb > ht) {
          const auto band = [&](float x0, float y0, float x1, float y1) {
            if (x1 > x0 && y1 > y0) drawer.FillQuad({x0, y0}, {x1, y0}, {x0, y1}, colour);
          };
          band(l, t, r, ht);
          band(l, hb, r, b);
          band(l, ht, hl, hb);
          band(hr, ht, r, hb);
          return;
        }
      }
      drawer.FillQuad(origin, c1, c2, colour);
      return;
    }
    case kSlideBgGradient1:
    case kSlideBgGradient2: {
      zm::TGradientFill fill;
      fill.Kind = bg.Kind == kSlideBgGradient1 ? 6 : 5;
      fill.Colour1 = WithAlpha(bg.DisplayColour1, alpha);
      fill.Colour2 = WithAlpha(bg.DisplayColour2, alpha);
      drawer.FillGradientQuad(origin, {}, fill, zm::ScaleFloatPoint(u, 4.0f), zm::ScaleFloatPoint(v, 4.0f));
      return;
    }
    case kSlideBgPicture: break;
    default: return;
  }
  if (!picture || !picture->Image) return;
  const float pw = picture->Size.X, ph = picture->Size.Y;
  const float iw = static_cast<float>(picture->Image->Params.Width);
  const float ih = static_cast<float>(picture->Image->Params.Height);
  if (!(pw >= 1) || !(ph >= 1) || !(iw > 0) || !(ih > 0) || !(slideSize.X > 0) || !(slideSize.Y > 0)) return;
  const auto copies = [](float slide, float pic) {
    const double n = std::ceil(static_cast<double>(slide) / pic / 2);
    return static_cast<std::int32_t>(std::clamp(n, 0.0, static_cast<double>(kMaxBgTilesPerSide)));
  };
  const std::int32_t nx = copies(slideSize.X, pw), ny = copies(slideSize.Y, ph);
  // One slide pixel along each screen axis, and one picture pixel.
  const TFloatPoint sx = zm::ScaleFloatPoint(u, 2.0f / slideSize.X), sy = zm::ScaleFloatPoint(v, 2.0f / slideSize.Y);
  const TFloatPoint ax = zm::ScaleFloatPoint(sx, pw / iw), ay = zm::ScaleFloatPoint(sy, ph / ih);
  zm::TImageDrawParams params;
  params.Opacity = alpha / 255.0f * 100.0f;
  if (picture->ColourTable && SlideColourTableHook) {
    if (zm::TCustomColorGradeTexture* table = SlideColourTableHook(drawer, picture)) {
      params.GradeTable1 = table;
      params.GradeMode = 1;
    }
  }
  for (std::int32_t j = -ny; j <= ny; ++j)
    for (std::int32_t i = -nx; i <= nx; ++i) {
      // Copy (0, 0) is centred on the slide.
      const TFloatPoint step = zm::CombineFloatPoints(sx, sy, (i - 0.5f) * pw, (j - 0.5f) * ph);
      const TFloatPoint at = zm::AddFloatPoints(step, centre);
      drawer.DrawImage(picture->Image.get(), at, params, ax, ay);
    }
}

// ---- The slide --------------------------------------------------------------------------------

TSlideEffectFilterProc SlideEffectFilterHook = nullptr;
TSlideEffectPrepareProc SlideEffectPrepareHook = nullptr;

namespace {

void WalkTree(TOruObject* o, const std::function<void(TOruObject*)>& f) {
  if (!o) return;
  f(o);
  std::vector<TRef<TOruObject>> list = o->Children();
  for (auto& c : list) WalkTree(c.get(), f);
}

std::int32_t TypeCodeOf(const TOruObject* o) { return o && o->Props() ? o->Props()->ObjectType() : 0; }

void SetMouseStateOf(TOruMouseStateItem* item, std::uint8_t state) {
  if (!item) return;
  item->SetMouseState(state);
  if (auto* caption = dynamic_cast<TOruMouseStateItem*>(item->MouseCaption())) caption->SetMouseState(state);
}

}  // namespace

std::vector<TRef<TOruObject>> SlideBackgroundObjects(TOruObject* slide) {
  std::vector<TRef<TOruObject>> list;
  if (!slide) return list;
  for (const auto& c : slide->Children()) {
    if (TypeCodeOf(c.get()) == kOruObjSplitter) break;
    list.push_back(c);
  }
  return list;
}

TRef<TOruSlide> TOruSlide::Create(TOruSlideHost* host, zm::TRefObject* producer, bool flag) {
  ZM_ASSERT(host != nullptr, "Host not assigned");
  TRef<TOruObjectProps> props = zm::MakeRef<TOruObjectProps>();
  TRef<TOruSlide> slide = TOruObject::Create<TOruSlide>(nullptr, props.get());
  slide->host_ = TRef<TOruSlideHost>(host);
  slide->Producer = producer;
  slide->Flag = flag ? 1 : 0;
  slide->PosMode = kPosAbsolute;
  return slide;
}

void TOruSlide::Dispose() {
  BgObjects.clear();
  BgObjects2.clear();
  BgPictures.clear();
  EffectFilter.reset();
  Effect.reset();
  Producer = nullptr;
  TOruObject::Dispose();
  host_.reset();
}

TOruSlideHost* TOruSlide::GetHost() { return host_.get(); }

double TOruSlide::GetTimePoint(std::int32_t kind) {
  switch (kind) {
    case 0: return Begin;
    case 1: return Begin + InDuration;
    case 2: return NextBegin;
    case 3: return NextBegin + OutDuration;
    default: break;
  }
  ZM_FAIL("Invalid time point kind");
  return 0;
}

zm::TFloatPoint TOruSlide::GetContainerSize() { return {Width, Height}; }

zm::TFloatBasis3 TOruSlide::GetParentTransform() { return Basis; }

bool TOruSlide::ScreenToLocal(const zm::TFloatPoint& screen, zm::TFloatPoint3& local) {
  (void)screen;
  (void)local;
  return false;
}

bool TOruSlide::GetEyePoint(zm::TFloatPoint3& eye) {
  if (!host_) return false;
  eye = host_->CameraPoint();
  return std::isfinite(eye.X) && std::isfinite(eye.Y) && std::isfinite(eye.Z);
}

void TOruSlide::ObjectChanged(TOruObject* object) {
  if (host_) host_->NotifyObjectChanged(object);
}

void TOruSlide::SetSize(float width, float height) {
  const auto usable = [](float v) { return std::isfinite(v) && v > 0 && v < 1e7f ? v : 0.0f; };
  Width = usable(width);
  Height = usable(height);
  X0 = -Width / 2;
  Y0 = -Height / 2;
  for (auto& p : BgPictures)
    if (p->Image)
      p->Size = FitBackgroundPicture(Width, Height, static_cast<float>(p->Image->Params.Width),
                                     static_cast<float>(p->Image->Params.Height), p->Percent);
}

void TOruSlide::SetViewCentre(float x, float y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  zm::TFloatBasis3 b = Basis;
  zm::MakeFloatBasis3(b, {x, y, Basis.Origin.Z}, Basis.Axis1, Basis.Axis2, Basis.Axis3);
  Basis = b;
}

void TOruSlide::Load(const TSlideLoadArgs& args) {
  Index = args.Index;
  SlideCount = args.SlideCount > 0 ? args.SlideCount
                                   : std::max(0, zm::IniGetInt(zm::IniFind(args.Times, u"opt_slidescount"), 0));
  InDuration = std::isfinite(args.InDuration) ? args.InDuration : 0;
  OutDuration = std::isfinite(args.OutDuration) ? args.OutDuration : 0;
  Effect = TRef<TOruEffect>(args.Effect);
  const TSlideBeginTimes times = ReadSlideTimes(args.Times, args.Index);
  Begin = times.Begin;
  NextBegin = times.NextBegin;
  ReadSlideBackground(args.Main, args.Section, Background, !NoColorManagement);
  Background2 = Background;
  if (props_ && args.Section) {
    double factor = 1;
    TOruTimeFrame frame;
    if (!SlideTimeScale(args.Section, Begin, NextBegin, OutDuration, factor, frame)) {
      // Unscaled key frames still count from the slide's own time points:
      // without them every origin would fall on the slide's start.
      factor = 1;
      frame.SlideBegin = 0;
      frame.PrevEffectEnd = InDuration;
      frame.NextEffectBegin = NextBegin - Begin;
      frame.SlideEnd = NextBegin - Begin + OutDuration;
    }
    props_->LoadFromIni(args.Section);
    props_->ScaleTimes(frame, factor);
  }
  TOruObject::Load(props_.get(), false);
  Measured = 0;
  LastLayoutTime = std::numeric_limits<double>::quiet_NaN();
}

void TOruSlide::ReadProps(TOruObjectProps* props, bool reload) {
  TOruObject::ReadProps(props, reload);
  // The slide is its own container: it is placed on its view centre as it
  // stands, whatever its section says.
  FitMode = kFitPlaceInto;
  PosMode = kPosAbsolute;
  CenterMode = kPosPercent;
}

void TOruSlide::SetTime(bool recursive, double t) {
  lastShowTime_ = t;
  LocalTime = t - Begin;
  TOruObject::SetTime(recursive, t);
}

void TOruSlide::SetTimeAndLayout(bool recursive, double t) {
  if (t == LastLayoutTime && !IsChanged()) return;
  TOruObject::SetTimeAndLayout(recursive, t);
  LastLayoutTime = t;
}

void TOruSlide::UpdateLayout(bool recursive) {
  zm::TFloatPoint3 eye;
  PerspectiveFactor = PerspectiveDepthFactor(GetEyePoint(eye) ? eye.Z : 0.0f, Height);
  if (!Measuring && !Measured) {
    Measure();
    // The pass left the tree at its last key-frame time.
    TOruObject::SetTime(true, lastShowTime_);
    LocalTime = lastShowTime_ - Begin;
  }
  TOruObject::UpdateLayout(recursive);
}

void TOruSlide::Measure() {
  if (Measured || Measuring) return;
  Measured = 1;
  KeyTimes.clear();
  WalkTree(this, [this](TOruObject* o) {
    o->MeasuredWidth = 0;
    o->MeasuredHeight = 0;
    o->MeasuredDistance = 1000000.0f;
    if (TOruObjectProps* p = o->Props())
      for (TOruKeyFrame* k : p->KeyFrames().Items)
        if (k && std::isfinite(k->Time())) KeyTimes.push_back(k->Time());
  });
  std::sort(KeyTimes.begin(), KeyTimes.end());
  KeyTimes.erase(std::unique(KeyTimes.begin(), KeyTimes.end()), KeyTimes.end());
  // A tree without key frames is measured as it stands at the slide's start.
  std::vector<double> times = KeyTimes;
  if (times.empty()) times.push_back(0);
  zm::TFloatPoint3 eye;
  const bool hasEye = GetEyePoint(eye) && eye.Z != 0;
  Measuring = 1;
  // A stop ends the pass anywhere: the slide is not left measuring.
  struct TMeasuringScope {
    std::uint8_t& Flag;
    ~TMeasuringScope() { Flag = 0; }
  } measuring{Measuring};
  for (double kt : times) {
    if (zm::LoadCallbackProc && !zm::LoadCallbackProc()) break;
    zm::CheckLoadStop();
    TOruObject::SetTime(true, Begin + kt);
    TOruObject::UpdateLayout(true);
    WalkTree(this, [&](TOruObject* o) {
      zm::TFloatPoint3 c[4];
      o->GetWorldCorners(c);
      zm::TFloatPoint s[4];
      for (int i = 0; i < 4; ++i) {
        if (hasEye) {
          const zm::TPoint2F p = zm::ProjectToScreenPlane({eye.X, eye.Y, eye.Z}, {c[i].X, c[i].Y, c[i].Z});
          s[i] = {p.X, p.Y};
        } else {
          s[i] = {c[i].X, c[i].Y};
        }
        if (hasEye) {
          const float d = zm::Distance3(eye, c[i]);
          if (std::isfinite(d) && d < o->MeasuredDistance) o->MeasuredDistance = d;
        }
      }
      const float w = std::max(zm::FloatPointLength(zm::SubFloatPoints(s[0], s[1])),
                               zm::FloatPointLength(zm::SubFloatPoints(s[2], s[3])));
      const float h = std::max(zm::FloatPointLength(zm::SubFloatPoints(s[0], s[2])),
                               zm::FloatPointLength(zm::SubFloatPoints(s[1], s[3])));
      if (std::isfinite(w) && w > o->MeasuredWidth) o->MeasuredWidth = w;
      if (std::isfinite(h) && h > o->MeasuredHeight) o->MeasuredHeight = h;
    });
  }
  LastLayoutTime = std::numeric_limits<double>::quiet_NaN();
}

std::vector<double> TOruSlide::ChangeTimes() {
  // As the objects evaluate them: key frames count from the slide's begin,
  // an object shows from its first delta after that to its second before
  // the slide's end.
  std::vector<double> times;
  const double end = GetTimePoint(3);
  WalkTree(this, [&](TOruObject* o) {
    TOruObjectProps* p = o->Props();
    if (!p) return;
    for (TOruKeyFrame* k : p->KeyFrames().Items)
      if (k) times.push_back(Begin + k->Time());
    times.push_back(Begin + p->DeltaTime1());
    times.push_back(end - p->DeltaTime2());
  });
  std::erase_if(times, [](double t) { return !std::isfinite(t); });
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  return times;
}

bool TOruSlide::StillBetweenChangeTimes() {
  bool still = true;
  WalkTree(this, [&](TOruObject* o) {
    if (!still) return;
    const auto* image = dynamic_cast<objects::TOruImage*>(o);
    if ((image && image->Animated()) || dynamic_cast<TOruVideo*>(o)) {
      still = false;
      return;
    }
    TOruObjectProps* p = o->Props();
    if (!p) return;
    for (TOruKeyFrame* k : p->KeyFrames().Items) {
      if (!k) continue;
      for (std::int32_t i = 0; i < kKeyFrameParamCount && still; ++i) still = k->ParamMods(i).empty();
      for (std::int32_t g = 0; g < kKeyFrameGroupCount && still; ++g) still = k->GroupMods(g).empty();
    }
  });
  return still;
}

TSlideCorners TOruSlide::ScreenCorners() {
  zm::TFloatPoint3 c[4];
  GetWorldCorners(c);
  zm::TFloatPoint3 eye;
  const bool hasEye = GetEyePoint(eye) && eye.Z != 0;
  const auto screen = [&](const zm::TFloatPoint3& p) -> TFloatPoint {
    if (!hasEye || p.Z == 0) return {p.X, p.Y};
    const zm::TPoint2F q = zm::ProjectToScreenPlane({eye.X, eye.Y, eye.Z}, {p.X, p.Y, p.Z});
    return {q.X, q.Y};
  };
  return {screen(c[0]), screen(c[1]), screen(c[2])};
}

TSlideBgPicture* TOruSlide::BackgroundPicture(const TSlideBackground& bg) {
  if (bg.Kind != kSlideBgPicture || bg.PictureName.empty()) return nullptr;
  const WideString key = BackgroundPictureKey(bg.PictureSize, bg.PictureName);
  for (auto& p : BgPictures)
    if (p->Key == key) return p.get();
  if (!host_ || !host_->FileAccessor()) return nullptr;
  TRef<TSlideBgPicture> pic = zm::MakeRef<TSlideBgPicture>();
  pic->Key = key;
  pic->Percent = bg.PictureSize;
  BgPictures.push_back(pic);
  TRef<zm::TImage> image = host_->FileAccessor()->GetImage(bg.PictureName);
  if (!image) return pic.get();
  pic->Size = FitBackgroundPicture(Width, Height, static_cast<float>(image->Params.Width),
                                   static_cast<float>(image->Params.Height), bg.PictureSize);
  if (!NoColorManagement && image->Store()) {
    if (TRef<zm::TColorTransform> transform = zm::CreateColorTransform(image->Store()->ColorProfile.get(), nullptr)) {
      TRef<zm::TSysBitmap> table = zm::CreateSysBitmap(zm::kGradeCubeSize, zm::kGradeCubeRows, zm::pfA8R8G8B8);
      zm::FillIdentityCube32(table.get());
      transform->TransformBitmap(table.get());
      pic->ColourTable = table;
    }
  }
  pic->Image = image;
  return pic.get();
}

void TOruSlide::PrepareResources(zm::TDeviceDrawer& drawer) {
  if (!drawer.CanDraw()) return;
  if (preparedOn_ && preparedOn_ != &drawer) UpdateLayout(true);
  for (const TSlideBackground* bg : {&Background, &Background2})
    if (TSlideBgPicture* pic = BackgroundPicture(*bg); pic && pic->Image) {
      zm::TImageDrawParams params;
      drawer.PrepareImage(pic->Image.get(), params);
    }
  TOruObject::PrepareResources(drawer);
  if (Effect && Effect->Kind == kEffectCustom && !EffectFilter && SlideEffectFilterHook)
    EffectFilter = SlideEffectFilterHook(this, drawer);
  if (EffectFilter && SlideEffectPrepareHook) SlideEffectPrepareHook(EffectFilter.get(), drawer);
  preparedOn_ = &drawer;
}

void TOruSlide::ReleaseResources(zm::TDeviceDrawer& drawer) {
  for (auto& p : BgPictures) {
    p->GradeTexture.reset();
    if (p->Image) drawer.ReleaseImageTextures(p->Image.get());
  }
  TOruObject::ReleaseResources(drawer);
}

void TOruSlide::DrawBackgroundLayer(zm::TDeviceDrawer& drawer, const TSlideBackground& bg,
                                    const std::vector<TRef<TOruObject>>& objects, const TSlideCorners& corners,
                                    const zm::TFloatRect* hole) {
  // An effect slide draws its background where the slide is, not shifted
  // into the transition buffer.
  const bool shift = EffectSlide != 0;
  if (shift) drawer.SetDrawOffset({});
  DrawSlideBackground(drawer, bg, 255, corners, {Width, Height}, BackgroundPicture(bg), shift ? nullptr : hole);
  if (shift) {
    const zm::TRect visible = drawer.GetVisibleRect();
    drawer.SetDrawOffset({static_cast<float>(visible.Left), static_cast<float>(visible.Top)});
  }
  for (const auto& o : objects) drawer.Draw(o.get());
}

bool TOruSlide::CoversOpaque(const zm::TFloatRect& rect) {
  if (TransparentBg || TransitionFlag || EffectSlide != 0 || Background.Kind != kSlideBgSolid) return false;
  // One layer only, painted whole: no second background mixed in, no blur.
  const float blend = std::isfinite(Background2.Blend) ? std::clamp(Background2.Blend, 0.0f, 1.0f) : 0.0f;
  if (blend != 0.0f || GetBlurRadius() != 0.0f) return false;
  if (!BgObjects2.empty() && SlideLayerHooks.Begin && SlideLayerHooks.End && SlideLayerHooks.Blend) return false;
  // The background quad of DrawSlideBackground: from Origin along 4u and 4v.
  const TSlideCorners corners = ScreenCorners();
  const TFloatPoint u = zm::ScaleFloatPoint(zm::SubFloatPoints(corners.TopLeft, corners.TopRight), 0.5f);
  const TFloatPoint v = zm::ScaleFloatPoint(zm::SubFloatPoints(corners.TopLeft, corners.BottomLeft), 0.5f);
  const TFloatPoint centre = zm::AddFloatPoints(corners.TopLeft, zm::AddFloatPoints(u, v));
  const TFloatPoint origin = zm::CombineFloatPoints(centre, zm::AddFloatPoints(u, v), 1.0f, -2.0f);
  const double ax = 4.0 * u.X, ay = 4.0 * u.Y, bx = 4.0 * v.X, by = 4.0 * v.Y;
  const double det = ax * by - ay * bx;
  if (!std::isfinite(det) || std::fabs(det) < 1e-6) return false;
  // Every corner of Rect inside the quad, with a pixel to spare.
  const double spareA = 1.0 / std::hypot(ax, ay), spareB = 1.0 / std::hypot(bx, by);
  for (const TFloatPoint p : {TFloatPoint{rect.Left, rect.Top}, TFloatPoint{rect.Right, rect.Top},
                              TFloatPoint{rect.Left, rect.Bottom}, TFloatPoint{rect.Right, rect.Bottom}}) {
    const double dx = double(p.X) - origin.X, dy = double(p.Y) - origin.Y;
    const double s = (dx * by - dy * bx) / det, t = (ax * dy - ay * dx) / det;
    if (!(s > spareA && s < 1 - spareA && t > spareB && t < 1 - spareB)) return false;
  }
  return true;
}

void TOruSlide::Draw(zm::TDeviceDrawer& drawer) {
  const TSlideCorners corners = ScreenCorners();
  // The drawer marks the item itself while a slide-based filter asks for it.
  const bool transparentBg = TransparentBg || TransitionFlag;
  if (!transparentBg) {
    const float blend = std::isfinite(Background2.Blend) ? std::clamp(Background2.Blend, 0.0f, 1.0f) : 0.0f;
    const std::uint8_t alpha = static_cast<std::uint8_t>(std::trunc((1.0f - blend) * 255.0f));
    bool layer = false;
    if (!BgObjects2.empty() && SlideLayerHooks.Begin && SlideLayerHooks.End && SlideLayerHooks.Blend &&
        SlideLayerHooks.Begin(drawer)) {
      layer = true;
      DrawBackgroundLayer(drawer, Background2, BgObjects2, corners);
      SlideLayerHooks.End(drawer);
    }
    // A picture of the slide's own that paints over part of it opaque: the
    // solid background goes round it (that part would be drawn twice).
    zm::TFloatRect hole;
    bool holed = false;
    if (!layer && alpha == 255 && Background.Kind == kSlideBgSolid)
      for (const auto& o : children_)
        if (auto* image = dynamic_cast<objects::TOruImage*>(o.get()); image && image->OpaqueScreenRect(drawer, hole)) {
          holed = true;
          break;
        }
    DrawBackgroundLayer(drawer, Background, BgObjects, corners, holed ? &hole : nullptr);
    if (layer)
      SlideLayerHooks.Blend(drawer, static_cast<std::uint8_t>(255 - alpha));
    else
      DrawSlideBackground(drawer, Background2, static_cast<std::uint8_t>(255 - alpha), corners, {Width, Height},
                          BackgroundPicture(Background2));
  }
  if (DrawCallback) DrawCallback(DrawCallbackData, this, drawer);
  CommitFrame(false);
  std::vector<TRef<TOruObject>> list = children_;
  std::size_t first = 0;
  if (drawer.IsDrawingTransition() && transparentBg) {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (TypeCodeOf(list[i].get()) == kOruObjSplitter) {
        first = i + 1;
        break;
      }
  }
  DrawObjects(drawer, list, first);
}

TOruObject* TOruSlide::HandleMouse(std::uint32_t keyFlags, float x, bool inside, TOruActionInfo& action,
                                   std::int32_t event, std::int32_t button, float y) {
  action = EmptyActionInfo;
  TOruObject* hit = nullptr;
  std::uint8_t state = 0;
  TOruMouseStateItem* target = nullptr;
  if (inside && (keyFlags == 0 || keyFlags == kSlideMouseLeftHeld)) {
    float lx = 0, ly = 0;
    hit = HitTest({x, y}, [](TOruObject* o) { return o->TranspForClick == 0; }, lx, ly);
  }
  if (hit) {
    const TOruActionInfo parsed = ParseActionString(hit->Action);
    auto* item = dynamic_cast<TOruMouseStateItem*>(hit);
    if (item && !parsed.IsEmpty()) {
      target = item;
      if (event == kSlideMouseMove) {
        state = (keyFlags & kSlideMouseLeftHeld) ? 2 : 1;
      } else if (event == kSlideMouseDown && button == kSlideMouseLeft) {
        state = 2;
        hit->SetPressed(true);
      } else if (event == kSlideMouseUp && button == kSlideMouseLeft) {
        state = 1;
        if (hit->Pressed) action = parsed;
        hit->SetPressed(false);
      } else {
        // Other buttons leave the item as the pointer over it shows.
        state = 1;
      }
    } else if (event == kSlideMouseDown) {
      hit->SetPressed(true);
    } else if (event == kSlideMouseUp) {
      if (hit->Pressed) action = parsed;
      hit->SetPressed(false);
    }
  }
  // Every other button and text goes back to normal; the one under the
  // pointer takes its state without passing through normal. A release ends
  // every press, also one that began over another object.
  TOruObject* caption = target ? target->MouseCaption() : nullptr;
  WalkTree(this, [&](TOruObject* o) {
    auto* item = dynamic_cast<TOruMouseStateItem*>(o);
    if (item && item != target && o != caption) item->SetMouseState(0);
    if (event == kSlideMouseUp && o->Pressed) o->SetPressed(false);
  });
  if (target) SetMouseStateOf(target, state);
  return hit;
}

// ---- The dialog ---------------------------------------------------------------------------------

TRef<TOruDialog> TOruDialog::Create(TOruSlideHost* host, zm::TRefObject* producer, bool flag) {
  ZM_ASSERT(host != nullptr, "Host not assigned");
  TRef<TOruObjectProps> props = zm::MakeRef<TOruObjectProps>();
  TRef<TOruDialog> dialog = TOruObject::Create<TOruDialog>(nullptr, props.get());
  dialog->host_ = TRef<TOruSlideHost>(host);
  dialog->Producer = producer;
  dialog->Flag = flag ? 1 : 0;
  dialog->PosMode = kPosAbsolute;
  return dialog;
}

void TOruDialog::Draw(zm::TDeviceDrawer& drawer) {
  CommitFrame(false);
  std::vector<TRef<TOruObject>> list = children_;
  for (auto& c : list) drawer.Draw(c.get());
  if (AfterDraw) AfterDraw(AfterDrawData, this, drawer);
}

}  // namespace oru
