#include "OruLib2/OruClasses/OruImage.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>
#include <vector>

#include "OruLib2/OruClasses/OruBox.h"
#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruObjectReader.h"
#include "OruLib2/OruClasses/OruPropValues.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruSlide.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmStrUtils.h"

namespace oru {

using namespace zm;

TFloatRect StripCellRect(std::int32_t width, std::int32_t height, std::int32_t columns, std::int32_t rows,
                         std::int32_t row, std::int32_t column) {
  columns = std::max(columns, 1);
  rows = std::max(rows, 1);
  const std::int32_t cw = std::max(width / columns, 1), ch = std::max(height / rows, 1);
  column = std::clamp(column, 0, columns - 1);
  row = std::clamp(row, 0, rows - 1);
  const float l = float(std::int64_t(column) * (cw + 2) + 1), t = float(std::int64_t(row) * (ch + 2) + 1);
  return {l, t, l + float(cw), t + float(ch)};
}

WideString EffectBufferImageName(std::int32_t size1, std::int32_t size2) {
  return IntToStr(size1) + u", " + IntToStr(size2);
}

WideString ImageRequestKey(const WideString& imageName, std::int32_t replaceWithEffectBuffer,
                           const WideString& bufferName, bool effectSlide, bool restoreAlpha, bool animated) {
  if (replaceWithEffectBuffer != 0)
    return WideString(effectSlide ? u"SlideEffectBuffer:" : u"EffectResource:") + IntToStr(replaceWithEffectBuffer) +
           u", " + bufferName;
  WideString key = imageName;
  if (restoreAlpha) key = u"Mask: " + key;
  if (animated && TextEndsWith(key, u".gif")) key += u"|framesatlas";
  return key;
}

double ImageShadowScale(TImageKind kind, std::int32_t level, double width, double height, double lineHeight) {
  level = std::clamp(level, 0, 30);
  const double half = std::pow(0.5, level);
  double scale = 0;
  switch (kind) {
    case TImageKind::Image:
      scale = std::sqrt(std::max(0.0, half * half * width * height)) / 400;
      break;
    case TImageKind::Button:
      scale = half * height / 400 * 1.1;
      break;
    case TImageKind::Text:
      scale = lineHeight * half / 400 * 1.1;
      break;
  }
  return std::isfinite(scale) ? scale : 0.0;
}

float ImageShadowDrawSize(TImageKind kind, float width, float height, double lineHeight) {
  switch (kind) {
    case TImageKind::Button:
      return height * 3;
    case TImageKind::Text: {
      const double size = std::nearbyint(lineHeight * 3.0);
      return std::isfinite(size) ? float(std::clamp(size, -3.0e38, 3.0e38)) : 0.0f;
    }
    case TImageKind::Image:
      break;
  }
  return std::sqrt(std::max(0.0f, width * height));
}

TRef<TSysBitmap> MakeProfileLookup(TImage* picture, TColorProfile* target) {
  if (!picture || !picture->Store()) return nullptr;
  TColorProfile* source = picture->Store()->ColorProfile.get();
  if (!source) return nullptr;
  TRef<TColorTransform> transform = CreateColorTransform(source, target);
  if (!transform) return nullptr;
  TRef<TSysBitmap> table = CreateSysBitmap(kGradeCubeSize, kGradeCubeRows, pfA8R8G8B8);
  if (!table) return nullptr;
  FillIdentityCube32(table.get());
  transform->TransformBitmap(table.get());
  return table;
}

TBorderParams ToBorderParams(const TImageBorder& border) {
  TBorderParams p = DefaultBorderParams;
  p.RadiusOn = border.BorderOn;
  p.Radius = border.BorderWidth;
  p.Color = border.BorderColor;
  p.MarginsOn = border.CropOn;
  p.MarginLeft = border.CropRect.Left;
  p.MarginTop = border.CropRect.Top;
  p.MarginRight = border.CropRect.Right;
  p.MarginBottom = border.CropRect.Bottom;
  p.AspectCropOn = border.AspectOn;
  p.Aspect = border.Aspect;
  p.Zoom = border.Zoom;
  p.OffsetX = border.OffsetX;
  p.OffsetY = border.OffsetY;
  return p;
}

void ImageBorderGeometry(const TImageBorder& border, const TSize& size, TFloatRect& crop, float& margin) {
  margin = 0;
  CalcBorderGeometry(ToBorderParams(border), size, margin, crop, 1.0f);
  if (!std::isfinite(margin) || margin < 0) margin = 0;
}

}  // namespace oru

namespace oru {

using namespace zm;

std::int32_t ColorGradingMode(TObjectFilter* a, TObjectFilter* b, bool hasTable) {
  if (hasTable) return 3;
  if (!a && !b) return 0;
  return std::max(GetFilterChainKind(a), GetFilterChainKind(b));
}

}  // namespace oru

// ---- The image object ------------------------------------------------------------------------------

namespace oru::objects {

namespace {

bool ColourManaged() { return ColorManagementEnabled.load() && !NoColorManagement; }

TFloatPoint3 LocalToWorld(const TOruObject& o, float x, float y) { return FloatBasis3ToWorld(o.Basis, {x, y, 0}); }

TFloatPoint Sub(const TFloatPoint& a, const TFloatPoint& b) { return {a.X - b.X, a.Y - b.Y}; }

float Length(const TFloatPoint& v) { return float(std::sqrt(double(v.X) * v.X + double(v.Y) * v.Y)); }

bool IsPictureType(const TOruObjectProps* props) {
  const std::int32_t t = props ? props->ObjectType() : 0;
  return t == kOruObjImage || t == kOruObjAniImage;
}

}  // namespace

void TOruImage::Dispose() {
  lastGrade_ = nullptr;
  Picture = nullptr;
  PrevPicture = nullptr;
  ColorTable = nullptr;
  Shadow = nullptr;
  TOruObject::Dispose();
}

void TOruImage::InitState() {
  Antialiased = 1;
  Filtering = 2;
  Border = TImageBorder{};
  LayoutBorder = Border;
  Animation = TImageAnimationParams{};
  ImageIndex = kImageIndexNone;
  PreparedLevel = -1;
}

void TOruImage::ReadProps(TOruObjectProps* props, bool reload) {
  Antialiased = ReadPropBool(props, u"Antialiased", true) ? 1 : 0;
  Filtering = std::uint8_t(ReadPropEnum(props, u"Filtering", SamplingModeNames, 2));
  const WideString name = ReadPropString(props, u"ImageName");
  MipLodBias = float(ReadPropFloat(props, u"MipLodBias", 0));
  ReplaceWithEffectBuffer = ReadPropInt(props, u"ReplaceWithEffectBuffer", 0);

  TImageBorder b;
  b.BorderOn = ReadPropBool(props, u"EnableBorder", false);
  b.CropOn = ReadPropBool(props, u"EnableCrop", false);
  b.AspectOn = ReadPropBool(props, u"EnableAspect", false);
  b.BorderWidth = float(ReadPropFloat(props, u"BorderWidth", 1.5));
  b.BorderColor = ReadPropColor(props, u"BorderColor", TColor32::FromValue(0xFFFFFFFFu));
  b.CropRect = ReadPropRectF(props, u"CropRect", TFloatRect{});
  b.Aspect = float(ReadPropFloat(props, u"Aspect", 0));
  BorderColorCorrected = b.BorderOn ? CorrectDisplayColor32(b.BorderColor) : b.BorderColor;

  TImageAnimationParams a;
  a.Enabled = ReadPropBool(props, u"AnimEnable", false) ? 1 : 0;
  a.Columns = ReadPropInt(props, u"AnimColumns", 1);
  a.Rows = ReadPropInt(props, u"AnimRows", 1);
  a.RepCount = ReadPropInt(props, u"AnimRepCount", 0);
  a.Offset = ReadPropFloat(props, u"AnimOffset", 0);
  a.Count = ReadPropInt(props, u"AnimCount", 0);
  ParseFrameDelays(ReadPropString(props, u"AnimInterval"), a);
  ImageIndex = ReadPropInt(props, u"ImageIndex", kImageIndexNone);
  // Key frames may be made anew: their holders go with them.
  lastGrade_ = nullptr;
  ColorGradings.clear();
  const std::uint8_t restore = ReadPropBool(props, u"RestoreAlpha", false) ? 1 : 0;

  // A new name keeps the old picture on screen until the new one is there.
  if (name != ImageName || restore != RestoreAlpha) {
    if (Picture) PrevPicture = Picture;
    Picture = nullptr;
    Changed = true;
  }
  ImageName = name;
  RestoreAlpha = restore;
  const bool geometry = !(b == Border) || !SameAnimationParams(a, Animation);
  Border = b;
  Animation = std::move(a);
  if (geometry) {
    CalcGeometry();
    Changed = true;
  }
  if (props && Picture) props->ApplyAspect(PictureWidth, PictureHeight);
  TOruObject::ReadProps(props, reload);
}

void TOruImage::SetTime(bool recursive, double t) {
  TOruObject::SetTime(recursive, t);
  localTime_ = t - GetTimePoint(0);
}

TSize TOruImage::GetImageSize() { return Picture ? TSize{PictureWidth, PictureHeight} : TSize{}; }

bool TOruImage::IsChanged() { return TOruObject::IsChanged() || DueFrame() != LastFrame; }

void TOruImage::CommitFrame(bool recursive) {
  LastFrame = DueFrame();
  TOruObject::CommitFrame(recursive);
}

TCustomColorGradeTexture* TOruImage::GetColorGrading() { return ColorTable ? lastGrade_ : nullptr; }

TColorGradeWrapper* TOruImage::GradeHolder(const void* keyFrame) {
  for (const TRef<TRefObject>& h : ColorGradings)
    if (auto* g = dynamic_cast<TColorGradeWrapper*>(h.get()); g && g->KeyFrame == keyFrame) return g;
  TRef<TColorGradeWrapper> g = MakeRef<TColorGradeWrapper>();
  g->KeyFrame = keyFrame;
  ColorGradings.push_back(TRef<TRefObject>(g.get()));
  return g.get();
}

void TOruImage::ApplyColorGrading(TDeviceDrawer& drawer, TImageDrawParams& params) {
  lastGrade_ = nullptr;
  if (!props_) return;
  TOruKeyFrame* a = props_->GroupFrameA(kGroupColor);
  TOruKeyFrame* b = props_->GroupFrameB(kGroupColor);
  if (!a || !b) return;
  const std::int32_t mode = ColorGradingMode(a->Filters(), b->Filters(), ColorTable != nullptr);
  if (mode < 2) return;
  const bool volume = mode == 3;
  TColorGradeWrapper* g1 = GradeHolder(a);
  TColorGradeWrapper* g2 = GradeHolder(b);
  g1->SetSource(ColorTable.get(), a->Filters());
  g2->SetSource(ColorTable.get(), b->Filters());
  TCustomColorGradeTexture* t1 = g1->Prepare(drawer, volume);
  TCustomColorGradeTexture* t2 = g2->Prepare(drawer, volume);
  if (!t1 || !t2) return;
  const double mix = props_->GroupFraction(kGroupColor);
  params.GradeTable1 = t1;
  params.GradeTable2 = t2;
  params.GradeMix = std::isfinite(mix) ? float(std::clamp(mix, 0.0, 1.0)) : 0.0f;
  params.GradeMode = volume ? 1 : 2;
  lastGrade_ = t1;
}

bool TOruImage::GetMainPicture(WideString& fileName, TSize& size) {
  if (typeid(*this) != typeid(TOruImage) || ImageIndex == kImageIndexNone) return false;
  fileName = ImageName;
  size = GetImageSize();
  return true;
}

void TOruImage::RequestImage() {
  if (Picture) return;
  TOruSlideHost* host = GetHost();
  if (!host) return;
  TRef<TOruSlideHost> keep(host);
  TOruSlide* slide = Root()->AsSlide();
  const bool effectSlide = slide && slide->EffectSlide;
  const WideString buffer = EffectBufferImageName(host->BufferSize1, host->BufferSize2);
  if (ReplaceWithEffectBuffer != 0) ImageName = buffer;
  RequestKey = ImageRequestKey(ImageName, ReplaceWithEffectBuffer, buffer, effectSlide, RestoreAlpha, Animated());
  if (RequestKey.empty()) return;
  TRef<TImage> picture = host->GetImage(RequestKey);
  AssignPicture(picture.get(), ReplaceWithEffectBuffer != 0);
}

void TOruImage::AssignPicture(TImage* picture, bool effectBuffer) {
  if (picture && props_) props_->ApplyAspect(picture->Params.Width, picture->Params.Height);
  PrevPicture = nullptr;
  ColorTable = nullptr;
  Picture = TRef<TImage>(picture);
  if (picture) {
    PictureWidth = std::max(0, picture->Params.Width);
    PictureHeight = std::max(0, picture->Params.Height);
    Width = float(PictureWidth);
    Height = float(PictureHeight);
    if (!effectBuffer && ColourManaged()) ColorTable = MakeProfileLookup(picture, ForcedOutputProfile());
  } else {
    PictureWidth = PictureHeight = 0;
  }
  CalcGeometry();
  NeedsTextures = 1;
  Changed = true;
}

std::int32_t TOruImage::StripColumns() const { return std::clamp(Animation.Columns, 1, std::max(PictureWidth, 1)); }

std::int32_t TOruImage::StripRows() const { return std::clamp(Animation.Rows, 1, std::max(PictureHeight, 1)); }

void TOruImage::CalcGeometry() {
  if (!Picture || PictureWidth <= 0 || PictureHeight <= 0) {
    CropRect = TFloatRect{};
    DrawnSize = TFloatPoint{};
    Margin = 0;
    return;
  }
  if (Animated()) {
    Width = float(PictureWidth) / float(StripColumns());
    Height = float(PictureHeight) / float(StripRows());
    DrawnSize = {Width, Height};
    CropRect = {0, 0, float(PictureWidth), float(PictureHeight)};
    Margin = 0;
    return;
  }
  ImageBorderGeometry(Border, TSize{PictureWidth, PictureHeight}, CropRect, Margin);
  DrawnSize = {FloatRectWidth(CropRect) + 2 * Margin, FloatRectHeight(CropRect) + 2 * Margin};
  Width = DrawnSize.X;
  Height = DrawnSize.Y;
  LayoutBorder = Border;
}

void TOruImage::UpdateContentLayout() {
  if (!Picture || !(DrawnSize.X > 0) || !(DrawnSize.Y > 0)) return;
  if (!Animated() && IsPictureType(props_.get())) {
    LayoutBorder = Border;
    if (!Border.AspectOn) LayoutBorder.Aspect = 0;
    const double zoom = 100.0 / (0.01 * FrameZoom());
    LayoutBorder.Zoom = std::isfinite(zoom) ? float(zoom) : 100.0f;
    LayoutBorder.OffsetX = float(FrameX());
    LayoutBorder.OffsetY = float(FrameY());
    LayoutBorder.AspectOn = Border.AspectOn || LayoutBorder.Zoom != 100.0f || LayoutBorder.OffsetX != 0 ||
                            LayoutBorder.OffsetY != 0;
    ImageBorderGeometry(LayoutBorder, TSize{PictureWidth, PictureHeight}, CropRect, Margin);
    DrawnSize = {FloatRectWidth(CropRect) + 2 * Margin, FloatRectHeight(CropRect) + 2 * Margin};
  }
  std::int32_t level = 0;
  if (!Animated()) {
    // The picture's size on screen: the object's, widened by what the crop cuts away.
    const TFloatPoint o = ProjectObjectPoint(*this, LocalToWorld(*this, X0, Y0));
    const float w = Length(Sub(ProjectObjectPoint(*this, LocalToWorld(*this, X0 + Width, Y0)), o));
    const float h = Length(Sub(ProjectObjectPoint(*this, LocalToWorld(*this, X0, Y0 + Height)), o));
    const double cw = std::max(1.0f, FloatRectWidth(CropRect)), chh = std::max(1.0f, FloatRectHeight(CropRect));
    const double sw = double(w) * PictureWidth / cw, sh = double(h) * PictureHeight / chh;
    const auto px = [](double v) {
      return std::isfinite(v) ? std::int32_t(std::clamp(v, 1.0, 1e9)) : std::int32_t(1);
    };
    level = MipLevelForSize(TPoint{PictureWidth, PictureHeight}, px(sw), px(sh));
  }
  if (PreparedLevel > 0 && level < PreparedLevel) level = PreparedLevel;
  MipLevel = level;
}

TImageDrawParams TOruImage::GetDrawParams(TDeviceDrawer& drawer) {
  TImageDrawParams p;
  p.Antialiased = Antialiased && !Animated();
  p.Opacity = GetDrawOpacity();
  p.Filtering = Filtering;
  p.Tiled = Animated();
  p.Level = MipLevel;
  p.MipLodBias = MipLodBias;
  if (Animated()) {
    p.Columns = StripColumns();
    p.Rows = StripRows();
  }
  if (Border.BorderOn && !Animated()) p.BorderColour = BorderColorCorrected;
  TColor24 colour;
  if (GetDrawColour(colour)) {
    p.Tinted = true;
    p.TintColour = colour;
  }
  ApplyColorGrading(drawer, p);
  return p;
}

bool TOruImage::PrepareShadow() {
  if (!ShadowEnable || !Picture || !(Width > 0) || !(Height > 0)) return false;
  TShadowParams p;
  p.Name = RequestKey.empty() ? ImageName : RequestKey;
  p.Left = CropRect.Left;
  p.Top = CropRect.Top;
  p.Right = CropRect.Right;
  p.Bottom = CropRect.Bottom;
  p.MarginX = p.MarginY = Margin;
  p.Blur = ShadowSize;
  p.Contour = ShadowSpreadIndex;
  p.MipLevel = MipLevel;
  if (Shadow && !NeedsTextures && Shadow->SameParams(p)) return Shadow->Image() != nullptr;
  ShadowParams = p;
  const double scale = ImageShadowScale(ImageKind(), MipLevel, Width, Height, ShadowLineHeight());
  // A picture whose store makes it again (a text) tells its format without
  // being made for the question.
  TBitmapStore* store = Picture->Store();
  const TPixelFormat* format = store && store->RemakesLevels() ? Picture->Params.PixelFormat
                               : Picture->GetBitmap()                ? Picture->GetBitmap()->PixelFormat()
                                                                      : nullptr;
  Shadow = TShadow::CreateImageShadowOfFormat(p, format, ObjectShadowAccessor(*this, Picture.get()), float(scale));
  return Shadow && Shadow->Image() != nullptr;
}

void TOruImage::LayOutFromRoot() {
  std::vector<TOruObject*> chain;
  for (TOruObject* o = this; o; o = o->Parent()) chain.push_back(o);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->UpdateLayout(false);
}

namespace {

// Whether the object and every container above it keep their place, size
// and turn for good: no key frames that move them and no modifiers on them.
bool KeepsGeometry(const TOruObject* object) {
  constexpr std::uint8_t kGeometry =
      1u << kGroupPos | 1u << kGroupScale | 1u << kGroupAngle | 1u << kGroupCenter | 1u << kGroupFrame;
  for (const TOruObject* o = object; o; o = o->Parent()) {
    const TOruObjectProps* props = o->Props();
    if (!props) continue;
    int keyed = 0;
    for (const TOruKeyFrame* k : props->KeyFrames().Items) {
      if (!k) continue;
      if (k->Groups() & kGeometry) ++keyed;
      for (std::int32_t g = 0; g < kKeyFrameGroupCount; ++g)
        if ((kGeometry >> g & 1) && !k->GroupMods(g).empty()) return false;
      for (std::int32_t i = 0; i < kKeyFrameParamCount; ++i)
        if ((kGeometry >> KeyFrameParams[std::size_t(i)].Group & 1) && !k->ParamMods(i).empty()) return false;
    }
    if (keyed > 1) return false;
  }
  return true;
}

}  // namespace

void TOruImage::PictureAxes(const TFloatRect& source, float margin, TFloatPoint3& origin, TFloatPoint3& axisX,
                            TFloatPoint3& axisY) {
  const bool animated = Animated();
  const float sx = animated ? 1.0f : Width / DrawnSize.X, sy = animated ? 1.0f : Height / DrawnSize.Y;
  // Picture pixel (0, 0) of the source, wherever the crop puts it.
  const float lx = X0 + (margin - source.Left) * sx, ly = Y0 + (margin - source.Top) * sy;
  origin = LocalToWorld(*this, lx, ly);
  // SubFloatPoints3 gives its second argument minus its first.
  axisX = SubFloatPoints3(origin, LocalToWorld(*this, lx + sx, ly));
  axisY = SubFloatPoints3(origin, LocalToWorld(*this, lx, ly + sy));
}

void TOruImage::PrepareResources(TDeviceDrawer& drawer) {
  const bool fetched = !Picture;
  RequestImage();
  // A picture fetched just now has no mip level chosen yet: lay the object
  // out (its ancestors first) so that its textures are made at the level it
  // is drawn at, not at full size and then again.
  if (fetched && Picture) LayOutFromRoot();
  if (Width > 0 && Height > 0 && Picture && drawer.CanDraw() && !ShowsNothing()) {
    TImageDrawParams params = GetDrawParams(drawer);
    // A picture that holds still is readied at the size it is drawn at.
    if (!Animated() && ReplaceWithEffectBuffer == 0 && DrawnSize.X > 0 && DrawnSize.Y > 0 && KeepsGeometry(this)) {
      TFloatPoint3 o, ax, ay;
      PictureAxes(CropRect, Margin, o, ax, ay);
      // Only a picture lying flat on the slide lands on whole screen pixels.
      if (o.Z == 0 && ax.Z == 0 && ay.Z == 0) {
        params.SourceRect = CropRect;
        params.Still = true;
        params.StillOrigin = {o.X, o.Y};
        params.StillAxisX = {ax.X, ax.Y};
        params.StillAxisY = {ay.X, ay.Y};
      }
    }
    drawer.PrepareImage(Picture.get(), params);
    PreparedLevel = MipLevel;
    if (PrepareShadow()) {
      TObjectShadowDrawer sd(drawer);
      Shadow->Precache(&sd);
      drawer.LetLevelsGo(Shadow->Image());
    }
    // The shadow was made from the picture's pixels; the textures hold them now.
    drawer.LetLevelsGo(Picture.get());
    NeedsTextures = 0;
  }
  TOruObject::PrepareResources(drawer);
}

void TOruImage::ReleaseResources(TDeviceDrawer& drawer) {
  if (Picture) drawer.ReleaseImageTextures(Picture.get());
  if (Shadow) {
    TObjectShadowDrawer sd(drawer);
    Shadow->ReleaseCache(&sd);
  }
  PreparedLevel = -1;
  NeedsTextures = 1;
  TOruObject::ReleaseResources(drawer);
}

bool TOruImage::OpaqueScreenRect(TDeviceDrawer& drawer, TFloatRect& rect) {
  // Drawn as TOruObject::Draw and PrepareDraw draw it: plainly (no blur
  // pass), at full opacity, one picture that is not an animation strip
  // (texts and buttons draw their own ways).
  if (typeid(*this) != typeid(TOruImage) || !Active || Hidden || !FacingVisible() || GetBlurRadius() != 0.0f || Animated() || !Picture) return false;
  if (GetDrawOpacity() < 100.0f || !(DrawnSize.X > 0) || !(DrawnSize.Y > 0)) return false;
  TImageDrawParams params = GetDrawParams(drawer);
  params.SourceRect = CropRect;
  TFloatPoint3 o, ax, ay;
  PictureAxes(CropRect, Margin, o, ax, ay);
  // A turned picture is drawn in perspective: no whole pixels to tell.
  if (o.Z != 0 || ax.Z != 0 || ay.Z != 0) return false;
  return drawer.OpaqueImageRect(Picture.get(), {o.X, o.Y}, params, {ax.X, ax.Y}, {ay.X, ay.Y}, rect);
}

bool TOruImage::ScreenPixels(TDeviceDrawer& drawer, TRect& reach, TRect& inner, TRect& cover) {
  // Other kinds of pictures (buttons, clips) draw their own ways.
  return typeid(*this) == typeid(TOruImage) && PictureScreenPixels(drawer, reach, inner, cover);
}

bool TOruImage::PictureScreenPixels(TDeviceDrawer& drawer, TRect& reach, TRect& inner, TRect& cover) {
  // Drawn as TOruObject::Draw, the drawer's Draw and PrepareDraw draw it:
  // plainly (no blur pass), one picture, nothing drawn before or after it.
  if (!Active || Hidden || !FacingVisible() || !children_.empty() || Animated() || !Picture) return false;
  const float r = GetBlurRadius();
  if (!(r >= 0.0f && r < 0.00001f)) return false;
  if (!(GetDrawOpacity() > 0) || !(DrawnSize.X > 0) || !(DrawnSize.Y > 0)) return false;
  if ((ShadowEnable && PrepareShadow()) || (Border.BorderOn && Margin > 0)) return false;
  TImageDrawParams params = GetDrawParams(drawer);
  params.SourceRect = CropRect;
  TFloatPoint3 o, ax, ay;
  PictureAxes(CropRect, Margin, o, ax, ay);
  return drawer.ImagePixels(Picture.get(), o, params, ax, ay, reach, inner, cover);
}

void TOruImage::PrepareDraw(TDeviceDrawer& drawer) {
  const float opacity = GetDrawOpacity();
  if (opacity == 0 || !Picture || !(DrawnSize.X > 0) || !(DrawnSize.Y > 0)) return;
  const bool animated = Animated();
  const float sx = animated ? 1.0f : Width / DrawnSize.X, sy = animated ? 1.0f : Height / DrawnSize.Y;

  if (ShadowEnable && PrepareShadow()) {
    const float size = ImageShadowDrawSize(ImageKind(), Width, Height, ShadowLineHeight());
    const TFloatPoint3 origin = LocalToWorld(*this, X0, Y0);
    // SubFloatPoints3 gives its second argument minus its first.
    const TFloatPoint3 ax = SubFloatPoints3(origin, LocalToWorld(*this, X0 + sx, Y0));
    const TFloatPoint3 ay = SubFloatPoints3(origin, LocalToWorld(*this, X0, Y0 + sy));
    const std::uint32_t colour = std::uint32_t(ShadowColorCorrected.R) << 16 |
                                 std::uint32_t(ShadowColorCorrected.G) << 8 | ShadowColorCorrected.B;
    TObjectShadowDrawer sd(drawer);
    // The axes are one picture pixel long: the distance counts in the shadow's size.
    Shadow->Draw(&sd, origin, ax, ay, colour, opacity * ShadowOpacity / 100.0f / 100.0f, float(ShadowAngle),
                 ShadowDistance * size, size);
  }

  TImageDrawParams params = GetDrawParams(drawer);
  TFloatRect source = CropRect;
  if (animated) {
    const std::int32_t frame = DueFrame();
    std::int32_t row = 0, column = 0;
    TImageAnimationParams grid;
    grid.Columns = StripColumns();
    grid.Rows = StripRows();
    AnimationFrameCell(grid, frame, row, column);
    source = StripCellRect(PictureWidth, PictureHeight, grid.Columns, grid.Rows, row, column);
  }
  params.SourceRect = source;

  const float margin = animated ? 0.0f : Margin;
  if (Border.BorderOn && !animated && margin > 0) {
    const TFloatPoint o = ProjectObjectPoint(*this, LocalToWorld(*this, X0, Y0));
    const TFloatPoint r = ProjectObjectPoint(*this, LocalToWorld(*this, X0 + Width, Y0 + Height));
    const TFloatPoint b = ProjectObjectPoint(*this, LocalToWorld(*this, X0 + margin * sx, Y0 + margin * sy));
    drawer.DrawGradientFrame(true, o, Antialiased != 0, GetOpacity(), BorderColorCorrected, Sub(r, o), Sub(b, o));
  }

  // Placed in 3D: the drawer sees a turned picture in perspective.
  TFloatPoint3 o, ax, ay;
  PictureAxes(source, margin, o, ax, ay);
  drawer.DrawImage3D(Picture.get(), o, params, ax, ay);
}

}  // namespace oru::objects

namespace oru {

void InitOruImageKinds() {
  SetOruObjectClass(kOruObjFrame, &MakeOruObject<TOruBox>);
  SetOruObjectClass(kOruObjBox, &MakeOruObject<TOruBox>);
  SetOruObjectClass(kOruObjSplitter, &MakeOruObject<TOruBox>);
  SetOruObjectClass(kOruObjImage, &MakeOruObject<objects::TOruImage>);
  SetOruObjectClass(kOruObjAniImage, &MakeOruObject<objects::TOruImage>);
}

void FiniOruImageKinds() {
  for (std::int32_t code = kOruObjFrame; code <= kOruObjAniImage; ++code) SetOruObjectClass(code, nullptr);
}

}  // namespace oru
