#pragma once
// Button objects: a skinned push button on a slide. The body is a face made
// by the button producer of the skin for each of the three mouse states
// ("Button: " names resolved by the slide host); the caption is the first
// child, a text object. The slide's mouse handling switches the state.
#include <cstdint>

#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruSlide.h"
#include "ZmLib/Graphics/zmColorTypes.h"

namespace oru {

// The skin description in every skin's folder, under the host's name prefix.
extern WideString ButtonSkinFileName;
// The skin a button falls back to when the show does not carry its own.
inline constexpr char16_t kFallbackButtonSkin[] = u"aqua";

// The text unit gives the caption the skin's caption colour (all three
// colours) through this hook; empty: the caption keeps its colours.
using TSetCaptionColourProc = void (*)(TOruObject* caption, zm::TColor24 colour);
extern TSetCaptionColourProc SetCaptionColourHook;

// The width of a face of skin height H for a caption whose ink is
// InkRatio (width / height) wide, the caption's Scale.X in percent and the
// button's minimum width and offset in percent of H; at least H and at most
// the producer's limit. 0 for H below 1.
std::int32_t ButtonFaceWidth(std::int32_t height, double inkRatio, double captionScaleX, double minWidth,
                             double offsetX);

namespace objects {

// The global setting the mouse state of a new button starts from.
extern std::uint8_t DefaultButtonMouseState;

class TOruButton : public TOruImage, public TOruMouseStateItem {
public:
  static constexpr std::uint8_t kNormal = 0, kHover = 1, kPressed = 2;

  // ---- Overrides -------------------------------------------------------------------
  void Dispose() override;
  void UpdateLayout(bool recursive) override;
  void ReadProps(TOruObjectProps* props, bool reload) override;
  void InitState() override;
  void PrepareResources(zm::TDeviceDrawer& drawer) override;
  void ReleaseResources(zm::TDeviceDrawer& drawer) override;
  void RequestImage() override;
  float GetDrawOpacity() override;
  TImageKind ImageKind() const override { return TImageKind::Button; }

  // ---- Mouse state -----------------------------------------------------------------
  // States above 2 are ignored.
  void SetMouseState(std::uint8_t state) override;
  std::uint8_t GetMouseState() override { return MouseState; }
  TOruObject* MouseCaption() override { return CaptionObject(); }

  // ---- Its own ---------------------------------------------------------------------
  // Loads the skin (letter case ignored when comparing with the current
  // one); a skin the show lacks falls back to "aqua". Without any skin, and
  // with an empty name, the button shows no body.
  void SetTheme(const WideString& skinName);
  void SetHue(std::int32_t value);
  void SetSaturation(std::int32_t value);
  void SetLightness(std::int32_t value);
  // The caption (the first child text) makes itself known; nil forgets it.
  void SetCaption(TOruObject* caption);
  // The caption while it is still the first child; else a first child of
  // the text kind; nil when none.
  TOruObject* CaptionObject() const;
  // The colour the skin gives its captions.
  zm::TColor24 CaptionColour() const { return {SkinCaptionColour.B, SkinCaptionColour.G, SkinCaptionColour.R}; }

  // The face of each state as prepared, with the name it was fetched by.
  struct TStatePicture {
    TRef<zm::TImage> Picture;
    WideString Key;
  };

  WideString Theme;
  std::int32_t SkinWidth = 0, SkinHeight = 0;
  std::uint8_t SkinFiltering = 2;
  zm::TColor32 SkinCaptionColour = zm::TColor32::FromValue(0xFF000000u);
  TStatePicture StatePictures[3];  // normal, hover, pressed
  std::uint8_t MouseState = 0;
  float BtnOpacity = 100, TxtOpacity = 100;
  float BtnOffsetX = 100, BtnMinWidth = 0;
  std::int32_t Hue = 0, Saturation = 0, Lightness = 0;
  std::int32_t PixelWidth = 0, PixelHeight = 0;  // of the face the producer makes
  std::uint8_t NeedsNewPictures = 1;

private:
  // Scale.X of the caption's first key frame (100 without one).
  double CaptionScaleX() const;
  void ApplySkinToCaption(float captionPercent);

  TOruObject* caption_ = nullptr;  // a child, held by the child list
};

}  // namespace objects

// Registers the button kind (code 7) with the object module.
void InitOruButtonKind();
void FiniOruButtonKind();

}  // namespace oru
