#include "OruLib2/3DEngine/FilterFactory.h"

#include <algorithm>
#include <cmath>

#include "OruLib2/3DEngine/SimpleFilters.h"
#include "ZmLib/zmMath.h"

namespace oru {

using namespace zm;

std::atomic<TReadTransitionDefProc> ReadTransitionDefHook{nullptr};
std::atomic<TSlideEffectProc> SlideEffectHook{nullptr};

namespace {

TRef<TDrawFilter> MakeAlpha(const TFilterRequest&) { return MakeRef<TAlphaFilter>(); }
TRef<TDrawFilter> MakeRandom(const TFilterRequest& r) {
  return MakeRef<TRandomFilter>(r.Cols, r.Rows, r.Seed, r.Spread);
}
TRef<TDrawFilter> MakePush(const TFilterRequest& r) { return MakeRef<TPushFilter>(r.Direction); }
TRef<TDrawFilter> MakeSlide(const TFilterRequest& r) { return MakeRef<TSlideFilter>(r.Direction); }

// In the order of TFilterClass; the others are registered by their units.
constexpr std::size_t kClassCount = static_cast<std::size_t>(TFilterClass::Count);
static_assert(kClassCount == 16 && static_cast<int>(TFilterClass::Random) == 9 &&
              static_cast<int>(TFilterClass::Slide) == 11);
std::atomic<TFilterMaker> gMakers[kClassCount] = {
    &MakeAlpha,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // clock .. diagonal lines
    &MakeRandom, &MakePush, &MakeSlide,
    nullptr, nullptr, nullptr, nullptr,  // roll .. slide-based
};

// A finite float, 0 for NaN and infinities.
float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }

// Direction codes of the four-way kinds for Flags[0..3].
constexpr std::int32_t kFourWay[4] = {2, 4, 1, 3};
// Broom direction codes for the hour hand's grid cells 0-3 and 5-8.
constexpr std::int32_t kBroomCodes[8] = {8, 1, 5, 4, 2, 7, 3, 6};

// The first set flag among Indexes, as its position in the list; -1 for none.
int FirstSet(const TTransitionDef& d, std::initializer_list<int> indexes) {
  int k = 0;
  for (int i : indexes) {
    if (d.Flag(static_cast<std::size_t>(i))) return k;
    ++k;
  }
  return -1;
}

void Lines(TFilterRequest& r, TFilterClass cls, float cx, float cy, bool reverse) {
  r.Class = cls;
  r.Centre = {cx, cy};
  r.Reverse = reverse;
}

void Diag(TFilterRequest& r, std::int32_t group, std::int32_t direction) {
  r.Class = TFilterClass::DiagLines;
  r.Group = group;
  r.Direction = direction;
}

TRef<TTransitionDef> ReadDef(TRefObject* effect) {
  if (!effect) return nullptr;
  if (auto* d = dynamic_cast<TTransitionDef*>(effect)) return TRef<TTransitionDef>(d);
  const TReadTransitionDefProc read = ReadTransitionDefHook.load(std::memory_order_acquire);
  if (!read) return nullptr;
  TRef<TTransitionDef> d = MakeRef<TTransitionDef>();
  return read(effect, *d) ? d : nullptr;
}

TRef<TDrawFilter> CreateFromDef(TSize size, const TTransitionDef* def, TDrawItem* owner, bool ownerFlag) {
  TFilterRequest r;
  if (def && !SelectTransitionFilter(*def, size, r)) return nullptr;
  r.Owner = owner;
  r.OwnerFlag = ownerFlag;
  TRef<TDrawFilter> f;
  if (r.Class == TFilterClass::SlideEffect) {
    if (const TSlideEffectProc hook = SlideEffectHook.load(std::memory_order_acquire))
      f = hook(owner, r.CustomObject, ownerFlag);
  } else if (def) {
    if (const TFilterMaker make = gMakers[static_cast<std::size_t>(r.Class)].load(std::memory_order_acquire))
      f = make(r);
  }
  return f ? f : MakeRef<TAlphaFilter>();
}

}  // namespace

TFilterMaker RegisterFilterMaker(TFilterClass cls, TFilterMaker maker) {
  const auto i = static_cast<std::size_t>(cls);
  if (i >= kClassCount) return nullptr;
  return gMakers[i].exchange(maker, std::memory_order_acq_rel);
}

bool SelectTransitionFilter(const TTransitionDef& def, TSize size, TFilterRequest& request) {
  TFilterRequest& r = request;
  r = TFilterRequest{};
  r.Size = {std::max(size.cx, 0), std::max(size.cy, 0)};
  const float w = static_cast<float>(r.Size.cx), h = static_cast<float>(r.Size.cy);
  const auto flag = [&](int i) { return def.Flag(static_cast<std::size_t>(i)); };
  const auto fl = [&](int i) { return Finite(def.Float(static_cast<std::size_t>(i))); };
  int k;
  switch (def.Kind) {
    case 1: r.Class = TFilterClass::Alpha; return true;
    case 2:
      if (flag(6)) {
        r.Class = TFilterClass::Clock;
        r.Mirror = flag(1);
        return true;
      }
      k = FirstSet(def, {2, 3, 4, 5, 7, 8, 9, 10});
      if (k < 0) return false;
      r.Class = TFilterClass::Broom;
      r.Direction = kBroomCodes[k] + (flag(1) ? 8 : 0);
      r.Offset = Finite((w + h) * 0.5f * fl(0));
      return true;
    case 3:
      k = FirstSet(def, {2, 3, 4});
      if (k < 0) return false;
      r.Class = k == 0 ? TFilterClass::Circle : k == 1 ? TFilterClass::Rhomb : TFilterClass::Square;
      // Percent of the area; far-off centres are kept to where the maths stays finite.
      r.Centre = {std::clamp(static_cast<float>(def.Int(0)) * 0.01f, -100.0f, 100.0f),
                  std::clamp(static_cast<float>(def.Int(1)) * 0.01f, -100.0f, 100.0f)};
      r.Reverse = flag(0);
      return true;
    case 4:
      switch (FirstSet(def, {0, 1, 2, 3, 4, 5, 6, 7})) {
        case 0: Lines(r, TFilterClass::HLines, 0.5f, 0.5f, true); return true;
        case 1: Lines(r, TFilterClass::VLines, 0.5f, 0.5f, true); return true;
        case 2: Diag(r, 8, 1); return true;
        case 3: Diag(r, 8, 3); return true;
        case 4: Lines(r, TFilterClass::HLines, 0.5f, 0.5f, false); return true;
        case 5: Lines(r, TFilterClass::VLines, 0.5f, 0.5f, false); return true;
        case 6: Diag(r, 8, 2); return true;
        case 7: Diag(r, 8, 4); return true;
        default: return false;
      }
    case 5:
      switch (FirstSet(def, {0, 1, 2, 3, 4, 5, 6, 7})) {
        case 0: Diag(r, 10, 2); return true;
        case 1: Lines(r, TFilterClass::VLines, 0, 1, false); return true;
        case 2: Diag(r, 10, 3); return true;
        case 3: Lines(r, TFilterClass::HLines, 1, 0, false); return true;
        case 4: Lines(r, TFilterClass::HLines, 0, 0, false); return true;
        case 5: Diag(r, 10, 4); return true;
        case 6: Lines(r, TFilterClass::VLines, 0, 0, false); return true;
        case 7: Diag(r, 10, 1); return true;
        default: return false;
      }
    case 6: {
      r.Class = TFilterClass::Random;
      r.Cols = std::clamp(def.Int(0), 1, kMaxMosaicSide);
      r.Rows = std::clamp(def.Int(1), 1, kMaxMosaicSide);
      const std::int32_t spread = def.Int(2);
      r.Spread = spread < 0 ? 0.0f : spread < 100 ? static_cast<float>(spread) : 1000.0f;
      r.Seed = static_cast<std::uint32_t>(def.Int(3));
      return true;
    }
    case 7:
    case 8:
    case 10:
    case 11:
      k = FirstSet(def, {0, 1, 2, 3});
      if (k < 0) return false;
      r.Direction = kFourWay[k];
      if (def.Kind == 7) {
        r.Class = TFilterClass::Push;
      } else if (def.Kind == 8) {
        r.Class = TFilterClass::Slide;
      } else if (def.Kind == 10) {
        r.Class = TFilterClass::Overturn;
        r.Spin = flag(4);
        r.NonLinear = flag(5);
        r.Depth = fl(0);
      } else {
        r.Class = TFilterClass::TwoSlides;
        r.Depth = fl(0);
        r.Distance = fl(1);
        r.Angle = fl(2);
      }
      return true;
    case 9: {
      if (FirstSet(def, {2, 3, 4, 5, 6, 7, 8, 9}) < 0) return false;
      r.Class = TFilterClass::Roll;
      r.Style = flag(2) || flag(4) || flag(7) || flag(9) ? 15 : 14;
      std::int32_t base = 1;
      if (flag(2))
        base = 3;
      else if (flag(3) || flag(4))
        base = 4;
      else if (flag(5))
        base = 3;
      else if (flag(6))
        base = 1;
      else if (flag(7) || flag(8))
        base = 2;
      r.Direction = base + (flag(1) ? 4 : 0);
      r.Tube = def.Int(0) == 1;
      r.Radius = std::clamp(RoundHalfEven(static_cast<double>(w) * fl(0)), 0, 1 << 20);
      r.UseColor = flag(10);
      // A colour word with red in the low byte.
      const auto c = static_cast<std::uint32_t>(def.Int(1));
      r.Red = static_cast<std::uint8_t>(c);
      r.Green = static_cast<std::uint8_t>(c >> 8);
      r.Blue = static_cast<std::uint8_t>(c >> 16);
      r.UseVolume = flag(11);
      r.Volume = fl(1);
      return true;
    }
    case 12:
      r.Class = TFilterClass::SlideEffect;
      r.CustomObject = def.CustomObject.get();
      return true;
    default: r.Class = TFilterClass::Alpha; return true;
  }
}

TRef<TDrawFilter> CreateTransitionFilter(TSize size, TRefObject* effect, TDrawItem* owner, bool ownerFlag) {
  return CreateFromDef(size, ReadDef(effect).get(), owner, ownerFlag);
}

TRef<TDrawFilter> CreateEffectFilter(const TRect& rect, TRefObject* effect, TDrawItem* owner, bool ownerFlag,
                                     float edgeScale, float duration) {
  if (!effect) return nullptr;
  const std::int64_t w64 = std::max<std::int64_t>(std::int64_t(rect.Right) - rect.Left, 0);
  const std::int64_t h64 = std::max<std::int64_t>(std::int64_t(rect.Bottom) - rect.Top, 0);
  const TSize size{static_cast<std::int32_t>(std::min<std::int64_t>(w64, INT32_MAX)),
                   static_cast<std::int32_t>(std::min<std::int64_t>(h64, INT32_MAX))};
  TRef<TDrawFilter> f = CreateTransitionFilter(size, effect, owner, ownerFlag);
  if (f) f->Init(rect, static_cast<float>(static_cast<double>(w64) * static_cast<double>(edgeScale)), duration);
  return f;
}

TRef<TDrawFilter> CreateDrawerEffectFilter(const TRect& rect, TRefObject* effect, TDrawItem* owner, bool ownerFlag) {
  const TRef<TTransitionDef> def = ReadDef(effect);
  const float scale = def ? static_cast<float>(def->Smoothline) : 0.0f;
  return CreateEffectFilter(rect, effect, owner, ownerFlag, scale, 1.0f);
}

}  // namespace oru
