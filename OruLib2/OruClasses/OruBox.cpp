#include "OruLib2/OruClasses/OruBox.h"

#include <cmath>

#include "OruLib2/OruClasses/OruObjectReader.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/Graphics/zmGeneratorKeys.h"

namespace oru {

using namespace zm;

bool BoxVisible(bool splitter, std::uint8_t fillMode, std::uint8_t alpha1, std::uint8_t alpha2, float opacity) {
  if (splitter) return false;
  if (!(opacity > kBoxMinOpacity)) return false;  // NaN too
  if (fillMode == kFillSolid) return alpha1 != 0;
  return alpha1 != 0 || alpha2 != 0;
}

TGradientFill MakeBoxFill(std::uint8_t fillMode, TColor24 colour1, std::uint8_t alpha1, TColor24 colour2,
                          std::uint8_t alpha2, bool antialiased, float opacity) {
  TGradientFill f;
  f.Opacity = opacity;
  f.Colour1 = TColor32{colour1.B, colour1.G, colour1.R, alpha1};
  f.Colour2 = TColor32{colour2.B, colour2.G, colour2.R, alpha2};
  for (bool& e : f.Edges) e = antialiased;
  switch (fillMode) {
    case kFillSolid:
      f.Kind = 8;
      f.Colour2 = f.Colour1;
      break;
    case kFillHGradient: f.Kind = 6; break;
    case kFillVGradient: f.Kind = 5; break;
    case kFillTLBRGradient: f.Kind = 0; break;
    case kFillTRBLGradient: f.Kind = 1; break;
    default: ZM_FAIL("TOruBox - Invalid FillMode");
  }
  return f;
}

TFloatPoint ProjectObjectPoint(TOruObject& object, const TFloatPoint3& p) {
  TFloatPoint3 eye;
  if (p.Z == 0 || !object.GetEyePoint(eye) || !(eye.Z < 0)) return {p.X, p.Y};
  const double depth = double(p.Z) - eye.Z;
  // A point at or behind the eye has no picture; keep it where it stands.
  if (!(depth > 1e-6)) return {p.X, p.Y};
  const double t = -double(eye.Z) / depth;
  const double x = eye.X + (double(p.X) - eye.X) * t, y = eye.Y + (double(p.Y) - eye.Y) * t;
  if (!std::isfinite(x) || !std::isfinite(y)) return {p.X, p.Y};
  return {float(x), float(y)};
}

void TObjectShadowDrawer::DrawImage(TImage* image, const TShadowDrawRecord& record, const TFloatPoint3& origin,
                                    const TFloatPoint3& xAxis, const TFloatPoint3& yAxis, float texScale) {
  (void)texScale;
  if (!image) return;
  TImageDrawParams p;
  p.Opacity = record.Opacity * 100.0f;
  p.Tinted = true;
  p.TintColour = TColor24{record.Blue, record.Green, record.Red};
  p.Antialiased = true;
  drawer_.DrawImage3D(image, origin, p, xAxis, yAxis);
}

void TObjectShadowDrawer::Precache(TImage* image) {
  if (image) drawer_.PrepareImage(image, TImageDrawParams{});
}

void TObjectShadowDrawer::ReleaseCache(TImage* image) {
  if (image) drawer_.ReleaseImageTextures(image);
}

TImageAccessor ObjectShadowAccessor(TOruObject& object, TImage* picture) {
  if (TOruSlideHost* host = object.GetHost()) {
    TRef<TOruSlideHost> keep(host);
    return [keep](const WideString& name) { return keep->GetImage(name); };
  }
  // Without a host the shadow is rendered here, from the object's own picture.
  TRef<TImage> pic(picture);
  return [pic](const WideString& name) -> TRef<TImage> {
    if (GeneratedImageKind(name) != TGeneratedImageKind::Shadow) return pic;
    TShadowParams params;
    ParseShadowKey(name, params);
    TRef<TShadowGenerator> gen = MakeRef<TShadowGenerator>();
    TRef<TImage> made = gen->MakeShadow(params, [pic](const WideString&) { return pic; });
    return made;
  };
}

// ---- TOruBox ----------------------------------------------------------------------------------

void TOruBox::Dispose() {
  Shadow = nullptr;
  TOruObject::Dispose();
}

void TOruBox::ReadProps(TOruObjectProps* props, bool reload) {
  Splitter = props && props->ObjectType() == kOruObjSplitter ? 1 : 0;
  const TPoint size = ReadPropPoint(props, u"Size", TPoint{0, 0});
  Width = float(size.X);
  Height = float(size.Y);
  FillMode = std::uint8_t(ReadPropEnum(props, u"FillMode", FillModeNames, kFillSolid));
  Color1 = ReadPropRGB(props, u"Color1", TColor24{0, 0, 0});
  Color2 = ReadPropRGB(props, u"Color2", TColor24{0, 0, 0});
  Alpha1 = std::uint8_t(std::clamp(ReadPropInt(props, u"Alpha1", 255), 0, 255));
  Alpha2 = std::uint8_t(std::clamp(ReadPropInt(props, u"Alpha2", 255), 0, 255));
  Antialiased = ReadPropBool(props, u"Antialiased", false) ? 1 : 0;
  Color1Corrected = Alpha1 != 0 ? CorrectDisplayColor(Color1) : Color1;
  if (Alpha2 > 0 && FillMode != kFillSolid && !(Color2.R == Color1.R && Color2.G == Color1.G && Color2.B == Color1.B))
    Color2Corrected = CorrectDisplayColor(Color2);
  else
    Color2Corrected = Color1Corrected;
  Changed = true;
  TOruObject::ReadProps(props, reload);
}

bool TOruBox::Visible() { return BoxVisible(Splitter, FillMode, Alpha1, Alpha2, GetOpacity()); }

bool TOruBox::PrepareShadow() {
  if (!ShadowEnable || !(Width > 0) || !(Height > 0)) return false;
  TShadowParams p;
  p.Name = kNoPictureName;
  p.Right = Width;
  p.Bottom = Height;
  p.Blur = ShadowSize;
  p.Contour = ShadowSpreadIndex;
  p.Direction = FillMode == kFillSolid ? 8 : MakeBoxFill(FillMode, {}, 0, {}, 0, false, 0).Kind;
  p.StartOpacity = Alpha1;
  p.EndOpacity = FillMode == kFillSolid ? Alpha1 : Alpha2;
  p.IgnoreAlpha = Antialiased;
  p.MipLevel = 0;
  if (Shadow && Shadow->SameParams(p)) return Shadow->Image() != nullptr;
  ShadowParams = p;
  Shadow = TShadow::CreateRectShadow(p, ObjectShadowAccessor(*this, nullptr));
  return Shadow && Shadow->Image() != nullptr;
}

void TOruBox::PrepareResources(TDeviceDrawer& drawer) {
  if (drawer.CanDraw() && PrepareShadow()) {
    TObjectShadowDrawer sd(drawer);
    Shadow->Precache(&sd);
    drawer.LetLevelsGo(Shadow->Image());
  }
  TOruObject::PrepareResources(drawer);
}

void TOruBox::ReleaseResources(TDeviceDrawer& drawer) {
  if (Shadow) {
    TObjectShadowDrawer sd(drawer);
    Shadow->ReleaseCache(&sd);
  }
  TOruObject::ReleaseResources(drawer);
}

void TOruBox::PrepareDraw(TDeviceDrawer& drawer) {
  if (!Visible()) return;
  TFloatPoint3 c[4];
  GetWorldCorners(c);
  const float opacity = GetOpacity();
  const TFloatPoint3 xa{c[1].X - c[0].X, c[1].Y - c[0].Y, c[1].Z - c[0].Z};
  const TFloatPoint3 ya{c[2].X - c[0].X, c[2].Y - c[0].Y, c[2].Z - c[0].Z};
  Fill = MakeBoxFill(FillMode, Color1Corrected, Alpha1, Color2Corrected, Alpha2, Antialiased != 0, opacity);
  if (PrepareShadow()) {
    const TShadowParams& sp = Shadow->Params();
    const float size = float(std::sqrt(std::max(0.0, double(sp.Right) * sp.Bottom)));
    TObjectShadowDrawer sd(drawer);
    const std::uint32_t colour = std::uint32_t(ShadowColorCorrected.R) << 16 |
                                 std::uint32_t(ShadowColorCorrected.G) << 8 | ShadowColorCorrected.B;
    // The distance counts in the box's own size, as a picture's does in its.
    const float own = std::sqrt(std::max(0.0f, Width * Height));
    Shadow->Draw(&sd, c[0], xa, ya, colour, opacity * ShadowOpacity / 100.0f / 100.0f, float(ShadowAngle),
                 ShadowDistance * own, size);
  }
  drawer.FillGradientQuad3D(c[0], Fill, xa, ya);
}

}  // namespace oru
