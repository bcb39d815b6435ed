#pragma once
// The slide: the root of one slide's object tree. It knows the slide's place
// on the show's time line, scales the key-frame times to the slide's span,
// draws its background (solid, two gradients or a tiled picture, with the
// cross-fade of two backgrounds that slide-based transitions use), lays the
// tree out for the camera with a measuring pass over the key-frame times,
// and turns mouse events into button and text states and actions. The
// dialog slide differs in its drawing and its opacity.
//
// Times are milliseconds of show time held as doubles.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruActions.h"
#include "OruLib2/OruClasses/OruObjectProps.h"
#include "OruLib2/OruClasses/OruObjects.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace zm {
class TSysBitmap;
}

namespace oru {

using zm::WideString;

// ---- Time line ---------------------------------------------------------------------------

struct TSlideBeginTimes {
  double Begin = 0;
  double NextBegin = 0;
};
// Begin and next begin of slide Index from the `Times` section (nil: both 0).
TSlideBeginTimes ReadSlideTimes(const zm::TIniList* times, std::int32_t index);

// The scale of the key-frame times ("ScaleMode", "ScaleTimes" a, b, c of the
// slide's section). False when the times stay as loaded (mode 0, an unknown
// mode, a zero reference span or unusable numbers); else the factor and the
// time frame the scaled times count from.
bool SlideTimeScale(const zm::TIniList* section, double begin, double nextBegin, double outDuration, double& factor,
                    TOruTimeFrame& frame);

// The perspective depth factor for an eye point at depth EyeZ (negative in
// front of the screen) over a slide of the height.
float PerspectiveDepthFactor(float eyeZ, float slideHeight);

// ---- Background ----------------------------------------------------------------------------

constexpr std::uint8_t kSlideBgSolid = 0;
constexpr std::uint8_t kSlideBgGradient1 = 1;  // drawn right to left
constexpr std::uint8_t kSlideBgGradient2 = 2;  // drawn top to bottom
constexpr std::uint8_t kSlideBgPicture = 3;

struct TSlideBackground {
  std::uint8_t Kind = kSlideBgSolid;
  WideString PictureName;
  float PictureSize = 100;  // percent of the slide
  std::uint32_t Colour1 = 0, Colour2 = 0;  // 0xRRGGBB as read
  std::uint32_t DisplayColour1 = 0, DisplayColour2 = 0;  // corrected for the display
  float Blend = 0;  // the second background's cross-fade position, 0 to 1
};

// Reads the background keys ("bstyle", "bcolor", "bfn", "bsize",
// "bcolorstyle", "bcolor1", "bcolor2") over Background's current values:
// from the slide's section when its own "bstyle" is set and not 0, else from
// Main with "opt_" before each key. Correct: colours are corrected for the
// display profile.
void ReadSlideBackground(const zm::TIniList* main, const zm::TIniList* slide, TSlideBackground& background,
                         bool correct);

// The size of a picture of PictureW x PictureH scaled to fit inside a slide
// at SizePercent of the slide; (0, 0) for unusable sizes.
zm::TFloatPoint FitBackgroundPicture(float slideW, float slideH, float pictureW, float pictureH, float sizePercent);
// "SlideBg: <size>:<name>".
WideString BackgroundPictureKey(float sizePercent, const WideString& name);

// A background picture loaded for one size and name: the picture, its
// colour table when the picture's profile differs from the display's, and
// the size it is drawn at.
class TSlideBgPicture : public zm::TRefObject {
public:
  void Dispose() override;
  WideString Key;
  zm::TRef<zm::TImage> Image;
  zm::TRef<zm::TSysBitmap> ColourTable;  // 32 x 1024 cube, nil when none is needed
  // The table on the device, made and kept here by SlideColourTableHook;
  // let go with the picture's textures.
  zm::TRef<zm::TCustomColorGradeTexture> GradeTexture;
  float Percent = 100;   // the background's picture size
  zm::TFloatPoint Size;  // in slide pixels
};

// The slide's rectangle on the screen (parallelogram corners).
struct TSlideCorners {
  zm::TFloatPoint TopLeft, TopRight, BottomLeft;
};

// Tiled copies are limited to this many on each side of the centre: a
// picture shrunk to nothing must not flood the drawer.
constexpr std::int32_t kMaxBgTilesPerSide = 32;

// Draws one background at Alpha (nothing at 0) over the quad from -2 to 2
// half-slides around the slide's centre. SlideSize is the slide's size in
// its own pixels; Picture is the kind-3 picture (nil: nothing is drawn).
// Hole (virtual units, whole pixels), when given for a solid background of
// an axis-aligned slide, is left out: an opaque picture paints it over.
void DrawSlideBackground(zm::TDeviceDrawer& drawer, const TSlideBackground& background, std::uint8_t alpha,
                         const TSlideCorners& corners, zm::TFloatPoint slideSize, TSlideBgPicture* picture,
                         const zm::TFloatRect* hole = nullptr);

// ---- Seams to the drawer --------------------------------------------------------------------

// The off-screen layer of the cross-fade: Begin redirects drawing into a
// layer (false: no layer could be had; nothing is redirected), End stops
// the redirection, Blend puts the layer over the surface at Alpha and lets
// it go. The 3D engine fills it; empty, the second background is drawn
// straight over the first instead.
struct TSlideLayerHooks {
  bool (*Begin)(zm::TDeviceDrawer& drawer) = nullptr;
  void (*End)(zm::TDeviceDrawer& drawer) = nullptr;
  void (*Blend)(zm::TDeviceDrawer& drawer, std::uint8_t alpha) = nullptr;
};
extern TSlideLayerHooks SlideLayerHooks;

// The grade texture through which a background picture's colour table is
// drawn (nil: drawn as it is). The 3D engine fills it.
using TSlideColourTableProc = zm::TCustomColorGradeTexture* (*)(zm::TDeviceDrawer& drawer, TSlideBgPicture* picture);
extern TSlideColourTableProc SlideColourTableHook;

// ---- Seams to the kinds that come later ------------------------------------------------------

// Objects that show a mouse state (buttons and texts derive from it as well
// as from TOruObject): 0 normal, 1 hover, 2 pressed.
class TOruMouseStateItem {
public:
  virtual void SetMouseState(std::uint8_t state) = 0;
  virtual std::uint8_t GetMouseState() = 0;
  // The caption whose state follows this one's (a button's text); nil when none.
  virtual TOruObject* MouseCaption() { return nullptr; }

protected:
  ~TOruMouseStateItem() = default;
};

class TOruSlide;
class TOruEffect;

// Makes the transition filter of a slide that carries its own slide-based
// effect and prepares it on the drawer (the slide-based transition unit
// fills it; empty: no filter is made).
using TSlideEffectFilterProc = zm::TRef<zm::TRefObject> (*)(TOruSlide* slide, zm::TDeviceDrawer& drawer);
extern TSlideEffectFilterProc SlideEffectFilterHook;
// Prepares that filter on the drawer, each time the slide is prepared (the
// slide-based transition unit fills it; empty: nothing more is done).
using TSlideEffectPrepareProc = void (*)(zm::TRefObject* filter, zm::TDeviceDrawer& drawer);
extern TSlideEffectPrepareProc SlideEffectPrepareHook;

// ---- The slide --------------------------------------------------------------------------------

// Mouse events and key flags of HandleMouse.
constexpr std::int32_t kSlideMouseMove = 0, kSlideMouseDown = 1, kSlideMouseUp = 2;
constexpr std::int32_t kSlideMouseLeft = 0;
constexpr std::uint32_t kSlideMouseLeftHeld = 16;

class TOruSlideHost;

// What a slide is loaded from.
struct TSlideLoadArgs {
  const zm::TIniList* Main = nullptr;   // the show's `main` section
  const zm::TIniList* Times = nullptr;  // the show's `Times` section
  zm::TIniList* Section = nullptr;      // the slide's own section
  std::int32_t Index = 0;
  std::int32_t SlideCount = 0;
  double InDuration = 0;   // the incoming transition
  double OutDuration = 0;  // the outgoing transition
  TOruEffect* Effect = nullptr;  // the slide's own transition (nil: none)
};

class TOruSlide : public TOruObject {
public:
  // Asserts a host. The slide makes its own properties and has no parent.
  static TRef<TOruSlide> Create(TOruSlideHost* host, zm::TRefObject* producer, bool flag);

  // ---- Overrides ----------------------------------------------------------------------
  void Dispose() override;
  void Draw(zm::TDeviceDrawer& drawer) override;
  // Its own solid background is drawn first, opaque and past every edge.
  bool CoversOpaque(const zm::TFloatRect& rect) override;
  void UpdateLayout(bool recursive) override;
  double GetTimePoint(std::int32_t kind) override;
  zm::TFloatPoint GetContainerSize() override;
  zm::TFloatBasis3 GetParentTransform() override;
  bool ScreenToLocal(const zm::TFloatPoint& screen, zm::TFloatPoint3& local) override;  // never hits
  // The base keys, with the slide's own fit, position and centre modes kept.
  void ReadProps(TOruObjectProps* props, bool reload) override;
  void SetTime(bool recursive, double t) override;
  TOruSlideHost* GetHost() override;
  TOruSlide* GetSlide() override { return this; }
  void PrepareResources(zm::TDeviceDrawer& drawer) override;
  void ReleaseResources(zm::TDeviceDrawer& drawer) override;
  void SetTimeAndLayout(bool recursive, double t) override;
  TOruSlide* AsSlide() override { return this; }
  float GetOpacityPercent() override { return 100.0f; }
  float GetPerspectiveFactor() override { return PerspectiveFactor; }
  bool GetEyePoint(zm::TFloatPoint3& eye) override;
  void ObjectChanged(TOruObject* object) override;

  // Times, key-frame scale and background, then the properties of the
  // slide's section, the base keys and the children. A nil section leaves
  // an empty slide with the show's background.
  using TOruObject::Load;
  void Load(const TSlideLoadArgs& args);
  // Size in slide pixels and the view centre the slide's origin sits on.
  void SetSize(float width, float height);
  void SetViewCentre(float x, float y);

  // Resets every button's and text's mouse state, then finds the topmost
  // object under (X, Y) that takes clicks and applies the event; returns it
  // (nil when nothing is hit or the event is ignored). Action gets what the
  // event triggers (empty when nothing).
  TOruObject* HandleMouse(std::uint32_t keyFlags, float x, bool inside, TOruActionInfo& action, std::int32_t event,
                          std::int32_t button, float y);

  // The measuring pass (once per slide; see Measured).
  void Measure();
  // The slide times at which an object of the tree may start or stop
  // changing: its key-frame times and where it appears or goes. Finite
  // ones, sorted, each once.
  std::vector<double> ChangeTimes();
  // Whether nothing of the tree changes between those times by itself: no
  // picture that plays (an animation, a video clip) and no modifier.
  bool StillBetweenChangeTimes();
  // The slide's rectangle on the screen.
  TSlideCorners ScreenCorners();
  // Makes (or reuses) the scaled picture of the kind-3 background; a
  // picture that cannot be had is remembered too (with a nil image).
  TSlideBgPicture* BackgroundPicture(const TSlideBackground& background);

  // ---- Fields -----------------------------------------------------------------------
  // The slide producer that made it; not owned (it holds the slides it made).
  zm::TRefObject* Producer = nullptr;
  std::int32_t Index = 0;
  std::int32_t SlideCount = 0;
  double Begin = 0, NextBegin = 0, InDuration = 0, OutDuration = 0;
  double LocalTime = 0;
  double LastLayoutTime = std::numeric_limits<double>::quiet_NaN();
  TSlideBackground Background;
  TSlideBackground Background2;  // cross-fade: Blend is its position
  // The outgoing and incoming slides' objects before their first splitter
  // box, drawn with the first and second background.
  std::vector<TRef<TOruObject>> BgObjects;
  std::vector<TRef<TOruObject>> BgObjects2;
  std::vector<TRef<TSlideBgPicture>> BgPictures;
  std::uint8_t Measured = 0;
  std::uint8_t Measuring = 0;
  std::uint8_t EffectSlide = 0;
  // Set by the drawer while it renders the slide into a transition buffer
  // whose filter keeps the background transparent.
  std::uint8_t TransparentBg = 0;
  float PerspectiveFactor = 1;
  // Called after the background with the slide and the drawer.
  void (*DrawCallback)(void* data, TOruSlide* slide, zm::TDeviceDrawer& drawer) = nullptr;
  void* DrawCallbackData = nullptr;
  void (*RepaintCallback)(void* data, TOruSlide* slide) = nullptr;
  void* RepaintCallbackData = nullptr;
  // The distinct key-frame times of the tree (slide time), sorted.
  std::vector<double> KeyTimes;
  zm::TRef<TOruEffect> Effect;
  zm::TRef<zm::TRefObject> EffectFilter;
  std::uint8_t Flag = 0;

  TOruSlide() = default;

protected:
  void DrawBackgroundLayer(zm::TDeviceDrawer& drawer, const TSlideBackground& background,
                           const std::vector<TRef<TOruObject>>& objects, const TSlideCorners& corners,
                           const zm::TFloatRect* hole = nullptr);

  zm::TRef<TOruSlideHost> host_;
  zm::TDeviceDrawer* preparedOn_ = nullptr;  // compared only, never used
  double lastShowTime_ = 0;
};

// The objects of a tree before its first splitter box (type code 3).
std::vector<TRef<TOruObject>> SlideBackgroundObjects(TOruObject* slide);

// A slide shown as a custom dialog: it draws its children without a
// background and fades with its own opacity.
class TOruDialog : public TOruSlide {
public:
  static TRef<TOruDialog> Create(TOruSlideHost* host, zm::TRefObject* producer, bool flag);
  void Draw(zm::TDeviceDrawer& drawer) override;
  float GetOpacityPercent() override { return Opacity; }
  // Run after the children are drawn.
  void (*AfterDraw)(void* data, TOruDialog* dialog, zm::TDeviceDrawer& drawer) = nullptr;
  void* AfterDrawData = nullptr;
  float Opacity = 0;  // percent: the dialog's own fade
  WideString Name;
  bool Pause = true;
};

}  // namespace oru
