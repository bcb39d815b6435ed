#pragma once
// Boxes (type codes 1 to 3): a rectangle filled with a colour or a
// two-colour gradient, with an optional drop shadow; also the frame that
// holds other objects. A box of type code 3 is never drawn: it marks where
// a slide's background objects end.
#include <array>
#include <cstdint>

#include "OruLib2/OruClasses/OruObjects.h"
#include "ZmLib/Graphics/zmShadows.h"

namespace oru {

// Fill modes.
constexpr std::uint8_t kFillSolid = 0, kFillHGradient = 1, kFillVGradient = 2, kFillTLBRGradient = 3,
                       kFillTRBLGradient = 4;
inline constexpr std::array<const char16_t*, 5> FillModeNames = {u"Solid", u"HGradient", u"VGradient",
                                                                 u"TLBRGradient", u"TRBLGradient"};

// Below this opacity (percent) a box is not drawn.
constexpr float kBoxMinOpacity = 0.00196f;

// Whether a box draws anything at Opacity (percent).
bool BoxVisible(bool splitter, std::uint8_t fillMode, std::uint8_t alpha1, std::uint8_t alpha2, float opacity);
// The drawer's fill record of a box; a fill mode out of range fails an
// assertion.
zm::TGradientFill MakeBoxFill(std::uint8_t fillMode, zm::TColor24 colour1, std::uint8_t alpha1, zm::TColor24 colour2,
                              std::uint8_t alpha2, bool antialiased, float opacity);

// A world point as the drawer sees it: through the eye point of the host's
// camera when the point is off the slide's plane, else as it stands.
zm::TFloatPoint ProjectObjectPoint(TOruObject& object, const zm::TFloatPoint3& p);

// Shadow pictures drawn through a device drawer, tinted and placed.
class TObjectShadowDrawer : public zm::ShadowDrawer {
public:
  explicit TObjectShadowDrawer(zm::TDeviceDrawer& drawer) : drawer_(drawer) {}
  void DrawImage(zm::TImage* image, const zm::TShadowDrawRecord& record, const zm::TFloatPoint3& origin,
                 const zm::TFloatPoint3& xAxis, const zm::TFloatPoint3& yAxis, float texScale) override;
  void Precache(zm::TImage* image) override;
  void ReleaseCache(zm::TImage* image) override;

private:
  zm::TDeviceDrawer& drawer_;
};

// How an object's shadow pictures are fetched: through the host when there
// is one, else made here.
zm::TImageAccessor ObjectShadowAccessor(TOruObject& object, zm::TImage* picture);

class TOruBox : public TOruObject {
public:
  void Dispose() override;  // releases the shadow
  void PrepareDraw(zm::TDeviceDrawer& drawer) override;
  void ReadProps(TOruObjectProps* props, bool reload) override;
  void PrepareResources(zm::TDeviceDrawer& drawer) override;
  void ReleaseResources(zm::TDeviceDrawer& drawer) override;

  bool Visible();
  // Brings the shadow up to date; true when there is one to draw.
  bool PrepareShadow();

  std::uint8_t Splitter = 0;
  std::uint8_t FillMode = kFillSolid;
  zm::TColor24 Color1{0, 0, 0}, Color2{0, 0, 0};
  std::uint8_t Alpha1 = 255, Alpha2 = 255;
  zm::TColor24 Color1Corrected{0, 0, 0}, Color2Corrected{0, 0, 0};
  std::uint8_t Antialiased = 0;
  zm::TGradientFill Fill;
  zm::TShadowParams ShadowParams;
  TRef<zm::TShadow> Shadow;
};

}  // namespace oru
