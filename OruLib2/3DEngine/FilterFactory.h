#pragma once
// Turns one slide's transition definition into a ready filter. The factory
// reads the definition, picks the filter class and its settings by the first
// selection flag that is set, and asks that class's maker for the object.
// A class whose maker is not registered gets the cross-fade instead, so a
// show plays every transition kind, if plainly, before all filters exist.
//
// The engine does not know the show's effect objects: it reads a neutral
// TTransitionDef, and ReadTransitionDefHook turns any other object (the
// show's TOruEffect) into one. CopyTransitionDef does that for any type with
// the same fields.
#include <atomic>
#include <cstdint>
#include <vector>

#include "OruLib2/3DEngine/DrawFilter.h"

namespace oru {

// A transition definition: Kind 1-12 and its parameters, by index.
class TTransitionDef : public zm::TRefObject {
public:
  void Dispose() override {
    CustomObject = nullptr;
    zm::TRefObject::Dispose();
  }
  // 0 / false past the end of a list.
  std::int32_t Int(std::size_t i) const { return i < Ints.size() ? Ints[i] : 0; }
  float Float(std::size_t i) const { return i < Floats.size() ? Floats[i] : 0.0f; }
  bool Flag(std::size_t i) const { return i < Flags.size() && Flags[i] != 0; }

  std::int32_t Kind = 0;
  std::vector<std::int32_t> Ints;
  std::vector<float> Floats;
  std::vector<std::uint8_t> Flags;
  zm::TRef<zm::TRefObject> CustomObject;  // the slide-based kind's description
  double Smoothline = 0;                  // soft edge as a fraction of the slide width
};

template <class TEffect>
void CopyTransitionDef(const TEffect& e, TTransitionDef& d) {
  d.Kind = e.Kind;
  d.Ints.assign(e.Ints.begin(), e.Ints.end());
  d.Floats.assign(e.Floats.begin(), e.Floats.end());
  d.Flags.assign(e.Flags.begin(), e.Flags.end());
  d.CustomObject = e.CustomObject;
  d.Smoothline = e.Smoothline;
}

// Fills Def from an effect object that is not a TTransitionDef; false when
// it cannot. Set once at start-up by whoever knows the show's effect type.
using TReadTransitionDefProc = bool (*)(zm::TRefObject* effect, TTransitionDef& def);
extern std::atomic<TReadTransitionDefProc> ReadTransitionDefHook;

// Installs a reader for effects of class TEffect (a TRefObject with the
// fields of TTransitionDef); other objects stay unreadable.
template <class TEffect>
void InstallTransitionDefReader() {
  ReadTransitionDefHook = [](zm::TRefObject* o, TTransitionDef& d) {
    auto* e = dynamic_cast<TEffect*>(o);
    if (e) CopyTransitionDef(*e, d);
    return e != nullptr;
  };
}

// The filter classes the definitions select.
enum class TFilterClass : std::uint8_t {
  Alpha,       // cross-fade
  Clock,       // hand sweeping about the centre
  Broom,       // hand sweeping about a pivot outside the area
  Circle,
  Rhomb,
  Square,
  HLines,
  VLines,
  DiagLines,
  Random,      // mosaic
  Push,
  Slide,
  Roll,
  Overturn,
  TwoSlides,
  SlideEffect,  // the slide-based kind, made through SlideEffectHook
  Count
};

// Which filter a definition selects, with the settings of that class (the
// others keep their defaults).
struct TFilterRequest {
  TFilterClass Class = TFilterClass::Alpha;
  zm::TSize Size;                    // the slide area
  zm::TFloatPoint Centre{0.5f, 0.5f};  // fractions of the area
  bool Reverse = false;
  bool Mirror = false;               // clock
  std::int32_t Direction = 0;        // broom, lines' group direction, push, slide, roll, overturn, two slides
  std::int32_t Group = 0;            // diagonal lines
  float Offset = 0;                  // broom pivot distance, pixels
  // Mosaic.
  std::int32_t Cols = 1, Rows = 1;
  std::uint32_t Seed = 0;
  float Spread = 0;
  // Roll.
  std::int32_t Style = 0;
  bool Tube = false;
  std::int32_t Radius = 0;  // pixels
  bool UseColor = false;
  std::uint8_t Red = 0, Green = 0, Blue = 0;
  bool UseVolume = false;
  float Volume = 0;
  // Overturn and two slides.
  bool Spin = false, NonLinear = false;
  float Depth = 0, Distance = 0, Angle = 0;  // angle in degrees
  // Slide-based kind.
  zm::TDrawItem* Owner = nullptr;
  zm::TRefObject* CustomObject = nullptr;
  bool OwnerFlag = false;
};

// The mosaic's grid sides are kept within 1 .. this.
constexpr std::int32_t kMaxMosaicSide = 512;

// The request the definition selects for an area of Size; false when no
// flag of its kind is set (no transition is drawn).
bool SelectTransitionFilter(const TTransitionDef& def, zm::TSize size, TFilterRequest& request);

// Makes a filter of one class; nil when it cannot.
using TFilterMaker = zm::TRef<TDrawFilter> (*)(const TFilterRequest& request);
// Installs the maker of a class (nil removes it) and gives the previous one.
// The cross-fade, mosaic, slide and push makers are there from the start.
TFilterMaker RegisterFilterMaker(TFilterClass cls, TFilterMaker maker);

// The slide-based kind: the slide-object subsystem fills this at start-up.
using TSlideEffectProc = zm::TRef<TDrawFilter> (*)(zm::TDrawItem* owner, zm::TRefObject* customObject,
                                                   bool ownerFlag);
extern std::atomic<TSlideEffectProc> SlideEffectHook;

// The filter of Effect for an area of Size: nil when its kind's flags select
// nothing; the cross-fade for an unknown kind, a class without a maker, or
// an effect that cannot be read.
zm::TRef<TDrawFilter> CreateTransitionFilter(zm::TSize size, zm::TRefObject* effect, zm::TDrawItem* owner,
                                             bool ownerFlag);
// CreateTransitionFilter for the size of Rect, then Init(Rect, width of Rect
// x EdgeScale, Duration); nil for a nil effect.
zm::TRef<TDrawFilter> CreateEffectFilter(const zm::TRect& rect, zm::TRefObject* effect, zm::TDrawItem* owner,
                                         bool ownerFlag, float edgeScale, float duration);
// The drawer's default CreateEffectFilterHook: the effect's own smooth-line
// fraction as edge scale and a duration of 1 (the drawer's progress runs 0..1).
zm::TRef<TDrawFilter> CreateDrawerEffectFilter(const zm::TRect& rect, zm::TRefObject* effect, zm::TDrawItem* owner,
                                               bool ownerFlag);

}  // namespace oru
