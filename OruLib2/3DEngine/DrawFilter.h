#pragma once
// The base of the transition filters: told the slide area once, given a
// progress each frame, drawing its picture through the effecter. The drawer
// never looks at a filter's class: the pass mode says how the two slides are
// to be drawn around the filter.
#include <array>
#include <cstdint>
#include <vector>

#include "ZmLib/3DBasics/DeviceDrawer.h"

namespace oru {

class TCustomD3DEffecter;

// How the drawer feeds the two slides to a filter.
enum class TFilterPassMode : std::uint8_t {
  Plain,        // the outgoing slide as background, the incoming one through the effecter
  Overturn,     // one slide through the effecter, the other from half-way on
  TwoSlides,    // both slides through the effecter, the order swapping half-way
  Push,         // as Plain, the background moved by the filter's draw offset
  SlideEffect,  // both slides rendered first; the filter draws an item of its own
};

// A band of target rows and what the filter's draw makes of its pixels:
// the picture whole (full coverage on every pixel: the slide may be drawn
// there straight), none of it (the target left as it is), opaque (every
// pixel painted over whatever is under it: the other slide need not be drawn
// there) and up to two unread (whatever the draw shows there, the picture
// there is not needed for it). Each interval is empty when its left is not
// below its right.
struct TDirectSpan {
  std::int32_t Left = 0, Right = 0;
};
struct TDirectBand {
  std::int32_t Top = 0, Bottom = 0;
  std::int32_t WholeLeft = 0, WholeRight = 0;
  std::int32_t ClearLeft = 0, ClearRight = 0;
  std::int32_t OpaqueLeft = 0, OpaqueRight = 0;
  std::array<TDirectSpan, 2> Unread{};
};

class TDrawFilter : public zm::TRefObject {
public:
  float Duration = 0;      // the progress at which the transition is complete
  double InvDuration = 0;  // 1 / Duration, 0 for 0
  float Progress = 0;      // within [0, Duration]
  float EdgeWidth = 0;     // pixels of the soft edge
  zm::TRect Rect;          // the slide area in target pixels
  bool Reverse = false;
  bool IsAlpha = false;
  bool MovesSlides = false;
  zm::TRect TargetRect;  // copied in by the holder before every Draw

  virtual void Init(const zm::TRect& rect, float edgeWidth, float duration);
  // Clamped to [0, Duration]; NaN counts as 0.
  virtual void SetProgress(float value);
  // Draws the picture of the current progress through the effecter's
  // controller; nothing without an effecter.
  virtual void Draw(TCustomD3DEffecter* controller) = 0;
  virtual void Reset(float value) { (void)value; }

  virtual TFilterPassMode PassMode() const { return TFilterPassMode::Plain; }
  // The fraction of the transition, 0 at the start and 1 at the end.
  virtual float Value() const { return static_cast<float>(Progress * InvDuration); }
  // The progress from which the transition counts as done.
  virtual float EndValue() const { return Duration; }
  // The part of TargetRect (target pixels) that Draw reads of the picture
  // at the current progress; false when it may read all of it.
  virtual bool ReadBounds(zm::TRect& reads) {
    (void)reads;
    return false;
  }
  // TargetRect as bands (ascending, apart) of what Draw makes of the picture
  // at the current progress; false when the filter cannot tell. Draw reads
  // the picture only outside the whole, clear and unread intervals and 2
  // pixels round them (a filter that moves its slide included).
  virtual bool DirectBands(std::vector<TDirectBand>& bands) {
    (void)bands;
    return false;
  }
  // True when Draw paints the picture over the whole of TargetRect with one
  // coverage (0-255, as the tiles take it) at the current progress.
  virtual bool UniformCoverage(float& coverage) const {
    (void)coverage;
    return false;
  }
  // The option byte handed to the effecter with each slide.
  virtual std::uint8_t OptionByte() const { return 0; }
  // Push mode: where the outgoing slide is drawn within Visible.
  virtual zm::TFloatPoint PushOffset(const zm::TRect& visible) const {
    (void)visible;
    return {};
  }

  // Slide-effect mode, in the order the drawer calls them.
  virtual bool SlideFlag() const { return false; }
  virtual void SetSlideValue(float value) { (void)value; }
  virtual void SetSlides(zm::TDrawItem* slideA, zm::TDrawItem* slideB) {
    (void)slideA;
    (void)slideB;
  }
  virtual void SetEffecter(TCustomD3DEffecter* effecter) { (void)effecter; }
  virtual zm::TDrawItem* SlideDrawItem() { return nullptr; }
  virtual void FinishSlideEffect() {}
};

// ---- The ease curve shared by the filters --------------------------------------------------------

// Quadratic ease-in/ease-out on [0, 255]: x^2 / 127.5 below 127.5, then
// 255 - (255 - x)^2 / 127.5, so 0, 127.5 and 255 stay where they are and the
// halves meet without a step. Inputs outside are clamped.
float EaseByte(float x);
// The same on [0, 1]: 2x^2 below 0.5, 1 - 2(1 - x)^2 from there on.
float EaseUnit(float x);

struct TEasePoint {
  float X = 0, Y = 0;
};
constexpr int kEaseBands = 14;
// kEaseBands + 1 points x_i = i * 255 / 14, y_i = EaseByte(x_i): the soft edge
// of the shape filters is drawn as one band between each pair.
using TEaseTable = std::array<TEasePoint, kEaseBands + 1>;
const TEaseTable& EaseTable();

// The squared distance of two points.
float Dist2(zm::TFloatPoint a, zm::TFloatPoint b);
// 1 / v, 0 for 0.
double SafeInv(double v);

// Makes the filter of an effect for a slide area (Owner and OwnerFlag go to
// the slide-based kind); nil when the effect selects no transition. The
// factory's CreateDrawerEffectFilter from the start; with nil the drawer
// shows the incoming slide.
using TCreateEffectFilterProc = zm::TRef<TDrawFilter> (*)(const zm::TRect& rect, zm::TRefObject* effect,
                                                          zm::TDrawItem* owner, bool ownerFlag);
extern TCreateEffectFilterProc CreateEffectFilterHook;

}  // namespace oru
