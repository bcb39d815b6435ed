#include "OruLib2/OruClasses/OruObjects.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "OruLib2/OruClasses/OruCoverMap.h"
#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruObjectReader.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmLog.h"

namespace oru {

using zm::TFloatBasis3;
using zm::TFloatPoint;
using zm::TFloatPoint3;

namespace {

double FiniteOr0(double v) { return std::isfinite(v) ? v : 0.0; }

// Doubles beyond the float range would not convert.
float ToSingle(double v) {
  if (!std::isfinite(v)) return 0.0f;
  constexpr double kMax = 3.0e38;
  return static_cast<float>(v > kMax ? kMax : (v < -kMax ? -kMax : v));
}

TFloatBasis3 IdentityBasis() {
  TFloatBasis3 b;
  zm::MakeFloatBasis3(b, {}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  return b;
}

zm::TPoint3F To3F(const TFloatPoint3& p) { return {p.X, p.Y, p.Z}; }

TFloatPoint3 Cross3(const TFloatPoint3& a, const TFloatPoint3& b) {
  return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X};
}

}  // namespace

TOruObject* BoundOruObject(const TOruObjectProps* props) { return props ? props->BoundObject() : nullptr; }

// ---- TOruParams -------------------------------------------------------------------------

void TOruParams::Dispose() {
  props_ = nullptr;
  TDrawItem::Dispose();
}

bool TOruParams::IsChanged() { return Changed || StateChanged; }

float TOruParams::GetBlurRadius() { return ToSingle(Blur()); }

void TOruParams::Reset(zm::TDeviceDrawer& drawer) { TDrawItem::Reset(drawer); }

float TOruParams::GetOpacity() { return ToSingle(OpacityParam()); }

double TOruParams::Param(std::int32_t i) const { return props_ ? FiniteOr0(props_->Param(i)) : 0.0; }

double TOruParams::ParamValue(std::int32_t i) const {
  if (i < 0 || i >= kKeyFrameParamCount) return 0.0;
  const double v = Param(i);
  if (i == kParamBlur) return v;
  // The scales carry the aspect factors (0.01 without aspect) in place of
  // their multiplier, so percent is the working value times 100 for them too.
  return FiniteOr0(v / KeyFrameParams[static_cast<std::size_t>(i)].Multiplier);
}

// ---- TOruObject: creation and disposal -------------------------------------------------

void TOruObject::Attach(TOruObject* parent, TOruObjectProps* props) {
  if (props) {
    ZM_ASSERT(props->BoundObject() == nullptr && props->Bind(this), "Props already bound to an object");
    props_ = TRef<TOruObjectProps>(props);
  }
  hasChildList_ = true;
  children_.clear();
  ColorGradings.clear();
  parent_ = parent;
  if (parent) {
    parent->hasChildList_ = true;
    parent->children_.push_back(TRef<TOruObject>(this));
  }
  FitMode = kFitPlaceInto;
  PosMode = kPosPercent;
  CenterMode = kPosPercent;
  ShadowEnable = 0;
  ShadowSize = 16;
  ShadowColor = {0, 0, 0};
  ShadowColorCorrected = {0, 0, 0};
  ShadowOpacity = 59;
  ShadowDistance = 1.5f;
  ShadowAngle = 45;
  ShadowSpreadIndex = 0;
  Shadow3D = 0;
  Basis = IdentityBasis();
  InitState();
}

void TOruObject::Dispose() {
  ColorGradings.clear();
  if (props_) props_->Unbind(this);
  // Children still held elsewhere must not point at this object once it is
  // gone; the others are disposed now, with the tree above still in place.
  std::vector<TRef<TOruObject>> old = std::move(children_);
  children_.clear();
  hasChildList_ = false;
  for (auto& c : old) {
    if (c && c->RefCount() > 1 && c->parent_ == this) c->parent_ = nullptr;
    c = nullptr;
  }
  // The text-bitmap store is reached through the tree, so ask before leaving it.
  if (parent_ && !Key.IsEmpty()) parent_->ForgetObjectKey(Key);
  if (parent_) {
    auto& list = parent_->children_;
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->get() == this) {
        // Only an explicit Dispose gets here with the parent's reference
        // still held; that reference is spent on this disposal.
        it->Detach();
        list.erase(it);
        break;
      }
    }
    parent_ = nullptr;
  }
  TOruParams::Dispose();
}

TOruObject* TOruObject::Child(std::int32_t i) const {
  return i >= 0 && i < ChildCount() ? children_[static_cast<std::size_t>(i)].get() : nullptr;
}

TOruObject* TOruObject::Root() {
  TOruObject* o = this;
  while (o->parent_) o = o->parent_;
  return o;
}

std::int32_t TOruObject::Depth() const {
  std::int32_t d = 0;
  for (const TOruObject* o = parent_; o; o = o->parent_) ++d;
  return d;
}

// ---- Loading -------------------------------------------------------------------------------

void TOruObject::Load(TOruObjectProps* props, bool reload) {
  ReadProps(props, reload);
  CreateChildren();
}

void TOruObject::ReadProps(TOruObjectProps* props, bool reload) {
  (void)reload;
  Key = props ? props->GUID() : zm::TByteString();
  ReadOruObjectBaseKeys(*this, props, ShadowOnByDefault());
}

void TOruObject::CreateChildren() {
  ZM_ASSERT(hasChildList_, "Children list not assigned");
  // The old list is held until the walk is done, so that children whose
  // properties are still bound survive being appended again.
  std::vector<TRef<TOruObject>> old = std::move(children_);
  children_.clear();
  TOruObjectProps* props = props_.get();
  if (props && Depth() < kMaxOruObjectDepth) {
    for (std::int32_t i = 0; i < props->ChildCount(); ++i) {
      // A slide being built for a loader that is told to stop ends between
      // two objects.
      zm::CheckLoadStop();
      TOruObjectProps* cp = props->Child(i);
      ZM_ASSERT(cp != nullptr, "Nil child entry");
      if (TOruObject* bound = BoundOruObject(cp)) {
        // A bound object that is this one or above it would make the tree a cycle.
        bool ancestor = false;
        for (TOruObject* o = this; o; o = o->parent_)
          if (o == bound) ancestor = true;
        if (ancestor) continue;
        if (bound->parent_ && bound->parent_ != this) {
          auto& list = bound->parent_->children_;
          TRef<TOruObject> keep(bound);
          for (auto it = list.begin(); it != list.end(); ++it)
            if (it->get() == bound) {
              list.erase(it);
              break;
            }
          bound->parent_ = this;
          children_.push_back(keep);
        } else {
          bound->parent_ = this;
          children_.push_back(TRef<TOruObject>(bound));
        }
        bound->Load(cp, true);
        continue;
      }
      TRef<TOruObject> obj = CreateOruObjectHook ? CreateOruObjectHook(cp->ObjectType(), this, cp) : nullptr;
      if (obj) obj->Load(cp, false);
    }
  }
  for (auto& c : old) {
    // Children not taken again leave the tree.
    bool kept = false;
    for (auto& n : children_)
      if (n.get() == c.get()) kept = true;
    if (!kept && c && c->parent_ == this && c->RefCount() > 1) c->parent_ = nullptr;
    c = nullptr;
  }
}

void TOruObject::InitState() {}

// ---- Questions the tree answers ----------------------------------------------------------

zm::TFloatPoint TOruObject::GetContainerSize() {
  return parent_ ? TFloatPoint{parent_->Width, parent_->Height} : TFloatPoint{Width, Height};
}

TFloatBasis3 TOruObject::GetParentTransform() { return parent_ ? parent_->Basis : IdentityBasis(); }

double TOruObject::GetTimePoint(std::int32_t kind) {
  TOruObject* root = Root();
  return root != this ? root->GetTimePoint(kind) : 0.0;
}

TOruSlideHost* TOruObject::GetHost() { return parent_ ? parent_->GetHost() : nullptr; }

TOruSlide* TOruObject::GetSlide() {
  TOruSlide* slide = Root()->AsSlide();
  ZM_ASSERT(slide != nullptr, "Root is not a slide");
  return slide;
}

float TOruObject::GetOpacityPercent() { return parent_ ? parent_->GetOpacityPercent() : 100.0f; }

float TOruObject::GetPerspectiveFactor() { return parent_ ? parent_->GetPerspectiveFactor() : 1.0f; }

bool TOruObject::GetEyePoint(zm::TFloatPoint3& eye) { return parent_ ? parent_->GetEyePoint(eye) : false; }

void TOruObject::ObjectChanged(TOruObject* object) {
  if (parent_) parent_->ObjectChanged(object);
}

void TOruObject::ForgetObjectKey(const zm::TByteString& key) {
  if (parent_) parent_->ForgetObjectKey(key);
}

bool TOruObject::GetMainPicture(WideString& fileName, zm::TSize& size) {
  (void)fileName;
  (void)size;
  return false;
}

float TOruObject::GetOpacity() { return ToSingle(GetOpacityPercent() * OpacityParam() / 100.0); }

float TOruObject::GetBlurRadius() { return ToSingle(static_cast<double>(Root()->Width) * Blur()); }

bool TOruObject::IsChanged() {
  if (Changed || StateChanged) return true;
  for (auto& c : children_)
    if (c && c->IsChanged()) return true;
  return false;
}

zm::TCustomColorGradeTexture* TOruObject::GetColorGrading() { return nullptr; }

zm::TSize TOruObject::GetImageSize() { return {}; }

void TOruObject::SetPressed(bool flag) { Pressed = flag ? 1 : 0; }

void TOruObject::NotifyChanged() { ObjectChanged(this); }

void TOruObject::PrepareDraw(zm::TDeviceDrawer& drawer) { (void)drawer; }

// ---- Resources, passed down the tree ---------------------------------------------------------

void TOruObject::Reset(zm::TDeviceDrawer& drawer) {
  std::vector<TRef<TOruObject>> list = children_;
  for (auto& c : list) c->Reset(drawer);
}

void TOruObject::PrepareResources(zm::TDeviceDrawer& drawer) {
  if (!drawer.CanDraw()) return;
  std::vector<TRef<TOruObject>> list = children_;
  // A slide tells the memory its build may hold how far it got.
  const bool slide = !parent_;
  std::int64_t done = 0;
  for (auto& c : list) {
    if (slide) zm::NoteLoadProgress(done++, std::int64_t(list.size()));
    zm::CheckLoadStop();
    c->PrepareResources(drawer);
  }
}

void TOruObject::PrepareAtTime(zm::TDeviceDrawer& drawer, double t) {
  if (!drawer.CanDraw()) return;
  std::vector<TRef<TOruObject>> list = children_;
  for (auto& c : list) c->PrepareAtTime(drawer, t);
}

void TOruObject::ReleaseResources(zm::TDeviceDrawer& drawer) {
  std::vector<TRef<TOruObject>> list = children_;
  for (auto& c : list) c->ReleaseResources(drawer);
}

// ---- Per-frame evaluation ---------------------------------------------------------------------

void TOruObject::SetTimeAndLayout(bool recursive, double t) {
  SetTime(recursive, t);
  UpdateLayout(recursive);
}

void TOruObject::SetTime(bool recursive, double t) {
  const double begin0 = GetTimePoint(0);
  if (props_) props_->UpdateAtTime(t - begin0, false);
  if (recursive) {
    std::vector<TRef<TOruObject>> list = children_;
    for (auto& c : list) {
      zm::CheckLoadStop();
      c->SetTime(true, t);
    }
  }
  const double begin = begin0 + (props_ ? props_->DeltaTime1() : 0.0);
  const double end = GetTimePoint(3) - (props_ ? props_->DeltaTime2() : 0.0);
  const std::uint8_t active = (t - begin > -0.00001 && t - end < 0.00001) ? 1 : 0;
  if (active != Active) StateChanged = true;
  Active = active;
}

void TOruObject::GetWorldCorners(zm::TFloatPoint3 (&corners)[4]) const {
  corners[0] = zm::FloatBasis3ToWorld(Basis, {X0, Y0, 0});
  corners[1] = zm::FloatBasis3ToWorld(Basis, {X0 + Width, Y0, 0});
  corners[2] = zm::FloatBasis3ToWorld(Basis, {X0, Y0 + Height, 0});
  corners[3] = zm::FloatBasis3ToWorld(Basis, {X0 + Width, Y0 + Height, 0});
}

bool TOruObject::FacingVisible() {
  TFloatPoint3 eye;
  if (!GetEyePoint(eye)) return true;
  TFloatPoint3 c[4];
  GetWorldCorners(c);
  const TFloatPoint3 n = Cross3(zm::SubFloatPoints3(c[0], c[1]), zm::SubFloatPoints3(c[0], c[2]));
  const TFloatPoint3 d = zm::SubFloatPoints3(c[0], eye);
  const double side = static_cast<double>(d.X) * n.X + static_cast<double>(d.Y) * n.Y + static_cast<double>(d.Z) * n.Z;
  if (side >= 0) return !HideNonNegative;
  return !HideNegative;
}

bool TOruObject::ModifierRunning() const {
  if (!props_) return false;
  for (std::int32_t g = 0; g < kKeyFrameGroupCount; ++g) {
    TOruKeyFrame* a = props_->GroupFrameA(g);
    TOruKeyFrame* b = props_->GroupFrameB(g);
    if (!a || !b || a == b) continue;
    auto hasMod = [g](TOruKeyFrame* k) {
      if (!k->GroupMods(g).empty() || k->Filters()) return true;
      for (std::int32_t i = 0; i < kKeyFrameParamCount; ++i)
        if (KeyFrameParams[static_cast<std::size_t>(i)].Group == g && !k->ParamMods(i).empty()) return true;
      return false;
    };
    if ((hasMod(a) || hasMod(b)) && props_->GroupFraction(g) != CommittedPosition[static_cast<std::size_t>(g)])
      return true;
  }
  return false;
}

bool TOruObject::FrameUnchanged(const TFloatBasis3& previous, float prevX0, float prevY0,
                                const zm::TFloatRect& prevCrop) {
  return !StateChanged && GetOpacity() == CommittedOpacity && GetBlurRadius() == CommittedBlur && !ModifierRunning() &&
         zm::SameFloatBasis3(Basis, previous) && X0 == prevX0 && Y0 == prevY0 && zm::SameFloatRect(CropRect, prevCrop);
}

void TOruObject::UpdateLayout(bool recursive) {
  const TFloatPoint container = GetContainerSize();
  // A show file may ask for no fit or an absolute centre, which the layout
  // has no rule for: lay the object out as placed into its container with
  // a centre in percent rather than failing every frame.
  if (((FitMode != kFitPlaceInto && FitMode != kFitCover) || CenterMode != kPosPercent) && !badModeLogged_) {
    badModeLogged_ = true;
    const auto num = [](int v) {
      const std::string d = std::to_string(v);
      return WideString(d.begin(), d.end());
    };
    zm::LogLine(u"TOruObject.UpdateLayout - FitMode " + num(FitMode) + u", CenterMode " + num(CenterMode) +
                u" laid out as PlaceInto, Percent: " + Key.ToWide());
  }
  const double cw = container.X, ch = container.Y;
  double fit = 0;
  if (Width != 0 && Height != 0) {
    const double rx = cw / Width, ry = ch / Height;
    fit = FitMode == kFitCover ? std::max(rx, ry) : std::min(rx, ry);
  }
  fit = FiniteOr0(fit);
  ZoomX = FiniteOr0(0.01 * ScaleX() * fit);
  ZoomY = FiniteOr0(0.01 * ScaleY() * fit);

  constexpr double kRad = std::numbers::pi / 180.0;
  const double a = FiniteOr0(AngleX()) * kRad, b = FiniteOr0(AngleY()) * kRad, c = FiniteOr0(Angle()) * kRad;
  SinA = std::sin(a), CosA = std::cos(a);
  SinB = std::sin(b), CosB = std::cos(b);
  SinC = std::sin(c), CosC = std::cos(c);
  double m[3][3] = {
      {ZoomX * CosB * CosC, ZoomX * CosB * SinC, ZoomX * SinB},
      {ZoomY * (SinA * SinB * CosC - CosA * SinC), ZoomY * (SinA * SinB * SinC + CosA * CosC), ZoomY * -SinA * CosB},
      // The depth row takes zoom Y as well.
      {ZoomY * -(CosA * SinB * CosC + SinA * SinC), ZoomY * (-CosA * SinB * SinC + SinA * CosC), ZoomY * CosA * CosB},
  };
  if (parent_) {
    double w[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double s = 0;
        for (int k = 0; k < 3; ++k) s += m[i][k] * parent_->WorldMatrix[k][j];
        w[i][j] = s;
      }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] = w[i][j];
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) WorldMatrix[i][j] = ToSingle(m[i][j]);
  const float persp = GetPerspectiveFactor();
  TFloatPoint3 axes[3];
  for (int i = 0; i < 3; ++i)
    axes[i] = {WorldMatrix[i][0], WorldMatrix[i][1], ToSingle(static_cast<double>(WorldMatrix[i][2]) * persp)};

  const TFloatBasis3 parentBasis = GetParentTransform();
  double x = PosX(), y = PosY();
  if (PosMode == kPosPercent) {
    x = x * cw / 200.0;
    y = y * ch / 200.0;
  }
  const double z = PosZ() * ch / 200.0;
  const TFloatPoint3 origin = zm::FloatBasis3ToWorld(parentBasis, {ToSingle(x), ToSingle(y), ToSingle(z)});

  const TFloatBasis3 previous = Basis;
  BasisValid = zm::MakeFloatBasis3(Basis, origin, axes[0], axes[1], axes[2]) ? 1 : 0;

  const float prevX0 = X0, prevY0 = Y0;
  X0 = ToSingle(-Width / 2.0 - Width * CenterX() / 200.0);
  Y0 = ToSingle(-Height / 2.0 - Height * CenterY() / 200.0);

  const zm::TFloatRect prevCrop = CropRect;
  UpdateContentLayout();

  Hidden = ((ChildInvis && !FacingVisible()) || (parent_ && parent_->Hidden)) ? 1 : 0;

  if (!FrameUnchanged(previous, prevX0, prevY0, prevCrop)) StateChanged = true;

  if (recursive) {
    std::vector<TRef<TOruObject>> list = children_;
    for (auto& ch2 : list) {
      zm::CheckLoadStop();
      ch2->UpdateLayout(true);
    }
  }
}

void TOruObject::CommitFrame(bool recursive) {
  CommittedOpacity = GetOpacity();
  CommittedBlur = GetBlurRadius();
  CommittedCrop = CropRect;
  if (props_) {
    for (std::int32_t g = 0; g < kKeyFrameGroupCount; ++g)
      CommittedPosition[static_cast<std::size_t>(g)] = props_->GroupFraction(g);
    SetKeyFramesChanged(props_->KeyFrames(), false);
  }
  Changed = false;
  StateChanged = false;
  if (recursive) {
    std::vector<TRef<TOruObject>> list = children_;
    for (auto& c : list) c->CommitFrame(true);
  }
}

namespace {

// How an object of a list is drawn: whole; left out, as the opaque
// pictures above it paint over every pixel it may change; or without its
// inside, which they paint over (its edges may show).
enum class THiddenDraw : std::uint8_t { Whole, LeftOut, Edges };

struct THiddenPlan {
  std::vector<THiddenDraw> draw;
  std::vector<zm::TRect> inside;  // what an object drawn by its edges leaves out
};

bool HiddenRectEmpty(const zm::TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

// From the top object down, what the opaque pictures above each one cover.
// Only plain pictures tell where they draw (ScreenPixels); any other object
// is drawn whole and may show what is below it in ways of its own, so
// nothing above it hides anything below it.
void PlanHidden(zm::TDeviceDrawer& drawer, const std::vector<TRef<TOruObject>>& list, std::size_t first,
                THiddenPlan& plan) {
  plan.draw.assign(list.size(), THiddenDraw::Whole);
  plan.inside.assign(list.size(), {});
  if (list.size() < first + 2 || !drawer.CanLeaveOutHidden()) return;
  struct TPixels {
    bool known = false;
    zm::TRect reach, inner, cover;
  };
  std::vector<TPixels> pixels(list.size());
  zm::TRect bounds;
  bool covers = false;
  for (std::size_t i = first; i < list.size(); ++i) {
    TPixels& p = pixels[i];
    p.known = list[i]->ScreenPixels(drawer, p.reach, p.inner, p.cover);
    if (!p.known || HiddenRectEmpty(p.cover)) continue;
    bounds = covers ? zm::TRect{std::min(bounds.Left, p.cover.Left), std::min(bounds.Top, p.cover.Top),
                                std::max(bounds.Right, p.cover.Right), std::max(bounds.Bottom, p.cover.Bottom)}
                    : p.cover;
    covers = true;
  }
  if (!covers) return;
  TCoverMap map(bounds);
  for (std::size_t i = list.size(); i-- > first;) {
    const TPixels& p = pixels[i];
    if (!p.known) {
      map.Clear();
      continue;
    }
    if (map.Covers(p.reach)) {
      plan.draw[i] = THiddenDraw::LeftOut;
    } else if (!HiddenRectEmpty(p.inner) && map.Covers(p.inner)) {
      plan.draw[i] = THiddenDraw::Edges;
      plan.inside[i] = p.inner;
    }
    map.Mark(p.cover);
  }
}

// Draws an object leaving Rect out, and draws everywhere again after.
void DrawLeavingOut(zm::TDeviceDrawer& drawer, TOruObject* object, const zm::TRect& rect) {
  struct TAgain {
    zm::TDeviceDrawer& d;
    bool on;
    ~TAgain() {
      if (on) d.LeaveOut(nullptr);
    }
  } again{drawer, drawer.LeaveOut(&rect)};
  drawer.Draw(object);
}

}  // namespace

bool TOruObject::ScreenPixels(zm::TDeviceDrawer&, zm::TRect&, zm::TRect&, zm::TRect&) { return false; }

void TOruObject::DrawObjects(zm::TDeviceDrawer& drawer, const std::vector<TRef<TOruObject>>& list,
                             std::size_t first) {
  THiddenPlan plan;
  PlanHidden(drawer, list, first, plan);
  HiddenLeftOut = HiddenByEdges = 0;
  for (std::size_t i = first; i < list.size(); ++i) {
    // A player that ends does not wait for the rest of a heavy frame.
    if (zm::DrawStopRequested()) break;
    // An object drawn before may have begun a pass that takes what follows
    // (a trail): from there on everything is drawn.
    if (plan.draw[i] != THiddenDraw::Whole && !drawer.CanLeaveOutHidden()) plan.draw[i] = THiddenDraw::Whole;
    switch (plan.draw[i]) {
      case THiddenDraw::LeftOut:
        // As its draw would leave it (it has no objects of its own).
        list[i]->CommitFrame(false);
        ++HiddenLeftOut;
        break;
      case THiddenDraw::Edges:
        DrawLeavingOut(drawer, list[i].get(), plan.inside[i]);
        ++HiddenByEdges;
        break;
      case THiddenDraw::Whole: drawer.Draw(list[i].get()); break;
    }
  }
}

void TOruObject::Draw(zm::TDeviceDrawer& drawer) {
  if (Active && FacingVisible() && !Hidden) PrepareDraw(drawer);
  CommitFrame(false);
  std::vector<TRef<TOruObject>> list = children_;
  DrawObjects(drawer, list, 0);
}

// ---- Hit testing ----------------------------------------------------------------------------------

bool TOruObject::ScreenToLocal(const zm::TFloatPoint& screen, zm::TFloatPoint3& local) {
  TFloatPoint3 eye;
  if (!BasisValid || !GetEyePoint(eye) || eye.Z == 0) return false;
  const TFloatPoint3 n = Cross3(Basis.Axis1, Basis.Axis2);
  if (n.X == 0 && n.Y == 0 && n.Z == 0) return false;
  // A plane seen edge-on has no point under the pointer.
  const double dx = screen.X - eye.X, dy = screen.Y - eye.Y, dz = -eye.Z;
  const double denom = dx * n.X + dy * n.Y + dz * n.Z;
  const double nlen = std::sqrt(double(n.X) * n.X + double(n.Y) * n.Y + double(n.Z) * n.Z);
  const double dlen = std::sqrt(dx * dx + dy * dy + dz * dz);
  if (std::fabs(denom) <= 1e-6 * nlen * dlen) return false;
  const zm::TPoint3F p = zm::CameraRayToPlane(To3F(eye), {screen.X, screen.Y}, To3F(Basis.Origin), To3F(n));
  local = zm::FloatBasis3ToLocal(Basis, {p.X, p.Y, p.Z});
  return std::isfinite(local.X) && std::isfinite(local.Y);
}

TOruObject* TOruObject::HitTest(const zm::TFloatPoint& point, const TOruHitFilter& filter, float& x, float& y) {
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
    TRef<TOruObject> c = *it;
    if (TOruObject* hit = c->HitTest(point, filter, x, y)) return hit;
  }
  TFloatPoint3 local;
  if (!ScreenToLocal(point, local)) return nullptr;
  if (local.X >= X0 && local.X <= X0 + Width && local.Y >= Y0 && local.Y <= Y0 + Height &&
      (!filter || filter(this))) {
    x = local.X;
    y = local.Y;
    return this;
  }
  return nullptr;
}

TOruObject* TOruObject::ObjectAt(const zm::TFloatPoint& point, bool deep, float& x, float& y) {
  if (deep) return HitTest(point, nullptr, x, y);
  TFloatPoint3 local;
  if (!ScreenToLocal(point, local)) return nullptr;
  if (local.X >= X0 && local.X <= X0 + Width && local.Y >= Y0 && local.Y <= Y0 + Height) {
    x = local.X;
    y = local.Y;
    return this;
  }
  return nullptr;
}

}  // namespace oru
