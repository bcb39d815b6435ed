#pragma once
// The slide object tree: TOruParams, the drawable parameters read from an
// object's animation properties, and TOruObject, the node with its parent,
// children, placement in the slide's 3D space, per-frame evaluation and hit
// testing. Each kind of object overrides a few virtual operations.
//
// One thread evaluates and draws a tree at a time (the slide's loader, then
// the engine); nothing here takes a lock.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "OruLib2/OruClasses/OruObjectProps.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmTypes.h"

namespace zm {
class TCustomColorGradeTexture;
}

namespace oru {

class TOruObject;
class TOruSlide;      // the root of a slide's tree
class TOruSlideHost;  // the one host of a show

// Fit of an object's own size into its container.
constexpr std::uint8_t kFitNone = 0, kFitPlaceInto = 1, kFitCover = 2;
// Position and centre modes.
constexpr std::uint8_t kPosAbsolute = 0, kPosPercent = 1;
// ImageIndex of an object that does not carry the slide's main picture.
constexpr std::int32_t kImageIndexNone = -2147483647;

// The drawable parameters: the changed flags (Changed: appearance,
// StateChanged: frame) and the animation properties whose 15 current values
// the drawer reads.
class TOruParams : public zm::TDrawItem {
public:
  // ---- Virtual operations, in slot order ------------------------------------------
  void Dispose() override;
  bool IsChanged() override;
  float GetBlurRadius() override;
  void Reset(zm::TDeviceDrawer& drawer) override;
  void Draw(zm::TDeviceDrawer& drawer) override = 0;
  virtual float GetOpacity();  // the Opacity parameter, percent
  virtual void UpdateLayout(bool recursive) = 0;
  // Time points 0..3 of the slide (begin, begin + transition in, next
  // begin, next begin + transition out), milliseconds.
  virtual double GetTimePoint(std::int32_t kind) = 0;

  // ---- Current animated values (0 without properties) ------------------------------
  // The properties hold working values (stored value times the parameter's
  // multiplier: 1 for 100 %, turns for angles). The named accessors give
  // the units the layout works in: percent, degrees, and the blur as a
  // fraction of the slide width.
  TOruObjectProps* Props() const { return props_.get(); }
  double Param(std::int32_t i) const;       // working value, 0 when not finite
  double ParamValue(std::int32_t i) const;  // in layout units
  double OpacityParam() const { return ParamValue(kParamOpacity); }
  double PosX() const { return ParamValue(kParamPosX); }
  double PosY() const { return ParamValue(kParamPosY); }
  double PosZ() const { return ParamValue(kParamPosZ); }
  double ScaleX() const { return ParamValue(kParamScaleX); }
  double ScaleY() const { return ParamValue(kParamScaleY); }
  double Angle() const { return ParamValue(kParamAngle); }
  double AngleX() const { return ParamValue(kParamAngleX); }
  double AngleY() const { return ParamValue(kParamAngleY); }
  double CenterX() const { return ParamValue(kParamCenterX); }
  double CenterY() const { return ParamValue(kParamCenterY); }
  double Blur() const { return ParamValue(kParamBlur); }
  double FrameZoom() const { return ParamValue(kParamFrameZoom); }
  double FrameX() const { return ParamValue(kParamFrameX); }
  double FrameY() const { return ParamValue(kParamFrameY); }

protected:
  // Shared with the properties' owner (the show document); the object only
  // borrows them, bound one to one.
  TRef<TOruObjectProps> props_;
};

// Accepts or refuses an object found under the pointer.
using TOruHitFilter = std::function<bool(TOruObject* object)>;

class TOruObject : public TOruParams {
public:
  // Binds Props (asserted unbound) to the new object, appends it to Parent's
  // children (Parent may be nil for a root), sets the creation defaults and
  // ends with InitState. The caller holds the initial reference; the parent
  // holds one of its own. Kinds keep a public default constructor.
  template <class T>
  static TRef<T> Create(TOruObject* parent, TOruObjectProps* props) {
    TRef<T> obj = TRef<T>::Adopt(new T());
    obj->AfterConstruction();
    obj->Attach(parent, props);
    return obj;
  }

  // ---- Virtual operations, in slot order -------------------------------------------
  void Dispose() override;
  bool IsChanged() override;
  float GetBlurRadius() override;
  void Reset(zm::TDeviceDrawer& drawer) override;
  void Draw(zm::TDeviceDrawer& drawer) override;
  float GetOpacity() override;
  void UpdateLayout(bool recursive) override;
  double GetTimePoint(std::int32_t kind) override;
  // Width and height of the container (the parent's own size).
  virtual zm::TFloatPoint GetContainerSize();
  // A copy of the parent's world basis (the identity at the origin for a root).
  virtual zm::TFloatBasis3 GetParentTransform();
  // The point of the object's plane seen at the screen point, in local
  // coordinates; false when there is no camera or the basis is singular.
  virtual bool ScreenToLocal(const zm::TFloatPoint& screen, zm::TFloatPoint3& local);
  virtual void PrepareDraw(zm::TDeviceDrawer& drawer);
  virtual zm::TCustomColorGradeTexture* GetColorGrading();
  virtual void CreateChildren();
  // Reads the object's keys (see OruObjectReader.h); the base reads the
  // keys every object has and ends every class's chain.
  virtual void ReadProps(TOruObjectProps* props, bool reload);
  virtual void Load(TOruObjectProps* props, bool reload);
  // T: show time in milliseconds.
  virtual void SetTime(bool recursive, double t);
  virtual void InitState();
  virtual zm::TSize GetImageSize();
  virtual void SetPressed(bool flag);
  virtual TOruSlideHost* GetHost();
  // The root, asserted to be a slide.
  virtual TOruSlide* GetSlide();
  virtual void NotifyChanged();
  virtual void PrepareResources(zm::TDeviceDrawer& drawer);
  virtual void PrepareAtTime(zm::TDeviceDrawer& drawer, double t);
  virtual void ReleaseResources(zm::TDeviceDrawer& drawer);
  // The topmost object of the subtree under the screen point that Filter (when
  // given) accepts, with the local point of the hit; nil when none.
  virtual TOruObject* HitTest(const zm::TFloatPoint& point, const TOruHitFilter& filter, float& x, float& y);
  virtual TOruObject* ObjectAt(const zm::TFloatPoint& point, bool deep, float& x, float& y);
  virtual void SetTimeAndLayout(bool recursive, double t);
  virtual void CommitFrame(bool recursive);

  // ---- What the slide answers for its tree ----------------------------------------------
  // The base asks the parent; a root that does not override gives the value
  // after the colon. TOruSlide overrides them.
  virtual TOruSlide* AsSlide() { return nullptr; }         // nil
  virtual float GetOpacityPercent();                       // 100
  virtual float GetPerspectiveFactor();                    // 1
  // The eye point of the host's camera; false: no camera (everything faces it).
  virtual bool GetEyePoint(zm::TFloatPoint3& eye);        // false
  // The host's object-changed callback, when it has one.
  virtual void ObjectChanged(TOruObject* object);         // nothing
  // The host drops what its text-bitmap store holds for the key.
  virtual void ForgetObjectKey(const zm::TByteString& key);  // nothing

  // ---- Steps of the layout that kinds extend ------------------------------------------
  // Between the placement and the hidden test: picture kinds choose their
  // mip level and refresh CropRect and DrawnSize here.
  virtual void UpdateContentLayout() {}
  // The object carries the slide's main picture (an image, not a text or a
  // button, with ImageIndex set): its name and, when loaded, its size.
  virtual bool GetMainPicture(WideString& fileName, zm::TSize& size);
  // The default of ShadowEnable (on for text objects).
  virtual bool ShadowOnByDefault() const { return false; }
  // Where its next draw changes pixels (TDeviceDrawer::ImagePixels: reach,
  // inside, opaque cover), for the objects below it to be left out where it
  // paints over them; false when it cannot tell (the base: any object that
  // is not one plain picture).
  virtual bool ScreenPixels(zm::TDeviceDrawer& drawer, zm::TRect& reach, zm::TRect& inner, zm::TRect& cover);

  // ---- Tree -----------------------------------------------------------------------------
  TOruObject* Parent() const { return parent_; }
  std::int32_t ChildCount() const { return static_cast<std::int32_t>(children_.size()); }
  TOruObject* Child(std::int32_t i) const;  // nil out of range
  const std::vector<TRef<TOruObject>>& Children() const { return children_; }
  // The root of the tree (this object without a parent).
  TOruObject* Root();
  std::int32_t Depth() const;  // 0 for a root

  // The facing test of the current basis: visible unless HideMode hides the
  // side the eye is on. The plane's normal is the top edge (left to right)
  // times the left edge (top to bottom), so an unturned object seen by the
  // camera in front has the eye on its negative side: HideMode 1 hides an
  // object turned away, 2 one facing the camera.
  bool FacingVisible();
  // The four corners of the object's rectangle in world space.
  void GetWorldCorners(zm::TFloatPoint3 (&corners)[4]) const;

  // ---- Fields -------------------------------------------------------------------------
  zm::TByteString Key;  // copied from the properties
  WideString Action;
  std::uint8_t TranspForClick = 0;
  std::uint8_t ShadowEnable = 0;
  float ShadowDistance = 1.5f;
  double ShadowAngle = 45;
  zm::TColor24 ShadowColor{0, 0, 0};
  float ShadowOpacity = 59;
  float ShadowSize = 16;
  std::int32_t ShadowSpreadIndex = 0;
  std::uint8_t Shadow3D = 0;
  zm::TColor24 ShadowColorCorrected{0, 0, 0};

  zm::TFloatBasis3 Basis;               // world basis: origin and three axes
  float WorldMatrix[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double SinA = 0, CosA = 1, SinB = 0, CosB = 1, SinC = 0, CosC = 1;  // Angle.X, Angle.Y, Angle
  double ZoomX = 0, ZoomY = 0;
  float Width = 0, Height = 0;  // own size
  float X0 = 0, Y0 = 0;         // top-left corner from the rotation centre
  std::uint8_t FitMode = kFitPlaceInto;
  std::uint8_t PosMode = kPosPercent;
  std::uint8_t CenterMode = kPosPercent;

  // The slide's measuring pass.
  float MeasuredWidth = 0, MeasuredHeight = 0;
  float MeasuredDistance = 1000000.0f;

  std::uint8_t HideNegative = 0;     // HideMode above 1
  std::uint8_t HideNonNegative = 0;  // HideMode odd
  std::uint8_t ChildInvis = 0;
  std::int32_t HideMode = 0;
  std::uint8_t Hidden = 0;  // result of the last layout
  std::uint8_t Pressed = 0;
  std::uint8_t BasisValid = 0;

  // The committed frame.
  float CommittedOpacity = -1;
  float CommittedBlur = 0;
  zm::TFloatRect CommittedCrop;
  std::array<double, kKeyFrameGroupCount> CommittedPosition{};

  // Picture kinds: the crop rectangle and the drawn size of the last layout.
  zm::TFloatRect CropRect;
  zm::TFloatPoint DrawnSize;

  std::uint8_t Active = 0;

  // Colour-grading holders, one per key frame (image kinds fill it).
  std::vector<TRef<zm::TRefObject>> ColorGradings;

  // Of the last draw of its objects: those left out as the pictures above
  // them painted over them, and those drawn but for their inside.
  std::uint32_t HiddenLeftOut = 0, HiddenByEdges = 0;

  TOruObject() = default;

protected:
  void Attach(TOruObject* parent, TOruObjectProps* props);
  // Draws List[First..] in order, bottom first, leaving out what the opaque
  // pictures above an object paint over (while the drawer can tell), and
  // ending early when the frame is to stop.
  void DrawObjects(zm::TDeviceDrawer& drawer, const std::vector<TRef<TOruObject>>& list, std::size_t first);

  // The frame-changed test of the layout against what was committed.
  bool FrameUnchanged(const zm::TFloatBasis3& previous, float prevX0, float prevY0,
                      const zm::TFloatRect& prevCrop);
  bool ModifierRunning() const;

  TOruObject* parent_ = nullptr;  // not owned
  std::vector<TRef<TOruObject>> children_;
  bool hasChildList_ = false;
  bool badModeLogged_ = false;  // a fit or centre mode the layout stands in for
};

// The object bound to the properties; nil when none.
TOruObject* BoundOruObject(const TOruObjectProps* props);

// Deeper object trees are cut (their children left out) when built.
constexpr std::int32_t kMaxOruObjectDepth = 64;

}  // namespace oru
