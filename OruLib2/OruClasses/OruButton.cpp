#include "OruLib2/OruClasses/OruButton.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruObjectReader.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/Graphics/zmGeneratorKeys.h"
#include "ZmLib/VectorGraphics/zmButtonProducer.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmLog.h"
#include "ZmLib/zmMath.h"

namespace oru {

using namespace zm;

WideString ButtonSkinFileName = u"skin.ini";
TSetCaptionColourProc SetCaptionColourHook = nullptr;

std::int32_t ButtonFaceWidth(std::int32_t height, double inkRatio, double captionScaleX, double minWidth,
                             double offsetX) {
  if (height < 1) return 0;
  const double h = height;
  if (!std::isfinite(inkRatio) || inkRatio < 0) inkRatio = 0;
  const std::int32_t m = RoundHalfEven((100.0 - captionScaleX) * h / 100.0);
  const std::int32_t byMin = RoundHalfEven(h * minWidth / 100.0);
  const std::int32_t byInk = RoundHalfEven((h - m) * inkRatio + h * offsetX / 100.0);
  return std::clamp(std::max({height, byMin, byInk}), 1, kMaxButtonWidth);
}

namespace objects {

std::uint8_t DefaultButtonMouseState = 0;

namespace {

TOruObjectProps* CaptionPropsOf(TOruObjectProps* props) {
  TOruObjectProps* child = props ? props->Child(0) : nullptr;
  return child && child->ObjectType() == kOruObjText ? child : nullptr;
}

}  // namespace

void TOruButton::Dispose() {
  for (TStatePicture& s : StatePictures) s = TStatePicture{};
  caption_ = nullptr;
  TOruImage::Dispose();
}

void TOruButton::InitState() {
  TOruImage::InitState();
  MouseState = DefaultButtonMouseState <= kPressed ? DefaultButtonMouseState : kNormal;
  BtnOpacity = 100;
  TxtOpacity = 100;
}

void TOruButton::SetCaption(TOruObject* caption) { caption_ = caption; }

TOruObject* TOruButton::CaptionObject() const {
  TOruObject* first = Child(0);
  if (!first) return nullptr;
  // A caption that left the child list is never followed.
  if (first == caption_) return first;
  TOruObjectProps* props = first->Props();
  return props && props->ObjectType() == kOruObjText ? first : nullptr;
}

double TOruButton::CaptionScaleX() const {
  TOruObject* caption = CaptionObject();
  TOruObjectProps* props = caption ? caption->Props() : nullptr;
  TOruKeyFrame* frame = props ? GetKeyFrame(props->KeyFrames(), 0) : nullptr;
  double scale = 100;
  if (frame) frame->GetParam(kParamScaleX, scale);
  return std::isfinite(scale) ? scale : 100.0;
}

void TOruButton::ApplySkinToCaption(float captionPercent) {
  TOruObject* caption = CaptionObject();
  TOruObjectProps* props = caption ? caption->Props() : CaptionPropsOf(props_.get());
  if (props) {
    // The caption is sized by its one key frame; a damaged show with more
    // or none keeps what it has rather than stopping the slide.
    if (props->KeyFrames().Items.size() == 1) {
      TOruKeyFrame* frame = GetKeyFrame(props->KeyFrames(), 0);
      const double scale = 100.0 - double(captionPercent);
      frame->SetParam(kParamScaleX, scale);
      frame->SetParam(kParamScaleY, scale);
    } else {
      LogLine(u"TOruButton - caption without exactly one key frame: " + Key.ToWide());
    }
  }
  if (caption && SetCaptionColourHook) SetCaptionColourHook(caption, CaptionColour());
}

void TOruButton::SetTheme(const WideString& skinName) {
  // The same name changes nothing; a named skin not loaded yet (no host
  // before) is tried again. No name at all is no skin: no body, no fallback.
  if (SameText(skinName, Theme) && (PixelHeight > 0 || skinName.empty())) return;
  Theme = skinName;
  TOruSlideHost* host = skinName.empty() ? nullptr : GetHost();
  if (!host) {
    SkinWidth = SkinHeight = 0;
    PixelWidth = PixelHeight = 0;
    NeedsNewPictures = 1;
    AssignPicture(nullptr, false);
    return;
  }
  TRef<TOruSlideHost> keep(host);
  // A producer other buttons already loaded is not loaded again under them;
  // slides built on two threads load a skin once.
  const auto load = [&](const WideString& name) -> TButtonProducer* {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    TButtonProducer* p = host->GetButtonProducer(name);
    if (p && p->Loaded) return p;
    return host->LoadButtonSkin(name, ButtonSkinFileName) ? host->GetButtonProducer(name) : nullptr;
  };
  TButtonProducer* producer = load(skinName);
  if (!producer && !SameText(skinName, kFallbackButtonSkin)) {
    Theme = kFallbackButtonSkin;
    producer = load(Theme);
  }
  if (producer && producer->Loaded && producer->SkinHeight > 0) {
    SkinWidth = producer->SkinWidth;
    SkinHeight = producer->SkinHeight;
    PixelWidth = std::clamp(SkinWidth, 1, kMaxButtonWidth);
    PixelHeight = std::min(SkinHeight, kMaxButtonWidth);
    SkinFiltering = producer->Filtering;
    Filtering = producer->Filtering;
    SkinCaptionColour = producer->TextColor;
    if (!Picture) {
      BtnOffsetX = 100;
      BtnMinWidth = producer->BtnMinWidth;
      ApplySkinToCaption(producer->BtnOffset);
    } else if (TOruObject* caption = CaptionObject(); caption && SetCaptionColourHook) {
      SetCaptionColourHook(caption, CaptionColour());
    }
  } else {
    // No skin at all: no body is drawn.
    SkinWidth = SkinHeight = 0;
    PixelWidth = PixelHeight = 0;
    LogLine(u"TOruButton - no button skin: " + skinName);
  }
  NeedsNewPictures = 1;
  AssignPicture(nullptr, false);
}

void TOruButton::SetHue(std::int32_t value) {
  if (value == Hue) return;
  Hue = value;
  NeedsNewPictures = 1;
}

void TOruButton::SetSaturation(std::int32_t value) {
  if (value == Saturation) return;
  Saturation = value;
  NeedsNewPictures = 1;
}

void TOruButton::SetLightness(std::int32_t value) {
  if (value == Lightness) return;
  Lightness = value;
  NeedsNewPictures = 1;
}

void TOruButton::SetMouseState(std::uint8_t state) {
  if (state > kPressed || state == MouseState) return;
  MouseState = state;
  NeedsNewPictures = 1;
  StateChanged = true;
  RequestImage();
}

void TOruButton::ReadProps(TOruObjectProps* props, bool reload) {
  if (Picture) AssignPicture(nullptr, false);
  NeedsNewPictures = 1;
  TOruButtonKeys keys;
  ReadOruButtonKeys(props, keys);
  SetTheme(keys.Theme);
  BtnOpacity = keys.BtnOpacity;
  TxtOpacity = keys.TxtOpacity;
  SetHue(keys.Hue);
  SetSaturation(keys.Saturation);
  SetLightness(keys.Lightness);
  // The image keys come after the skin: a button without Filtering has "Default".
  TOruImage::ReadProps(props, reload);
  keys.BtnMinWidth = BtnMinWidth;
  ReadOruButtonLateKeys(props, keys);
  BtnMinWidth = keys.BtnMinWidth;
  BtnOffsetX = keys.BtnOffsetX;
  MipLodBias = 0;
  Changed = true;
}

void TOruButton::RequestImage() {
  if (PixelHeight < 1) return;
  if (TOruObject* caption = CaptionObject()) {
    const double ratio = caption->Height > 0 ? double(caption->Width) / double(caption->Height) : 0.0;
    PixelWidth = ButtonFaceWidth(PixelHeight, ratio, CaptionScaleX(), BtnMinWidth, BtnOffsetX);
    if (Picture && PictureWidth != PixelWidth) NeedsNewPictures = 1;
  }
  if (Picture && !NeedsNewPictures) return;
  TOruSlideHost* host = GetHost();
  if (!host) return;
  TRef<TOruSlideHost> keep(host);
  const std::uint8_t state = MouseState <= kPressed ? MouseState : kNormal;
  const WideString key = MakeButtonKey(Theme, state, PixelWidth, Hue, Saturation, Lightness);
  // A prepared face is reused only while it is the face asked for now: the
  // width, skin and colour shifts may have changed since.
  const TStatePicture& stored = StatePictures[state];
  const bool reuse = stored.Picture && stored.Key == key;
  TRef<TImage> picture = reuse ? stored.Picture : host->GetImage(key);
  RequestKey = key;
  AssignPicture(picture.get(), false);
  if (reuse) NeedsTextures = 0;
  if (Picture) {
    CropRect = {0, 0, float(PictureWidth), float(PictureHeight)};
    Margin = 0;
    Width = float(PictureWidth);
    Height = float(PictureHeight);
    DrawnSize = {Width, Height};
  }
  NeedsNewPictures = 0;
}

float TOruButton::GetDrawOpacity() { return GetOpacity() * BtnOpacity / 100.0f; }

void TOruButton::UpdateLayout(bool recursive) {
  RequestImage();
  PrepareShadow();
  if (!Picture) MipLevel = 0;
  // A button scales with its container's height: the fit that gives
  // container height / own height.
  const TFloatPoint container = GetContainerSize();
  const bool placeInto = Height > 0 && container.Y > 0 && double(Width) / Height <= double(container.X) / container.Y;
  FitMode = placeInto ? kFitPlaceInto : kFitCover;
  TOruImage::UpdateLayout(recursive);
}

void TOruButton::PrepareResources(TDeviceDrawer& drawer) {
  if (!drawer.CanDraw() || PixelHeight < 1) {
    TOruImage::PrepareResources(drawer);
    return;
  }
  const bool fetched = !Picture;
  for (std::uint8_t state : {kHover, kPressed}) {
    MouseState = state;
    NeedsNewPictures = 1;
    RequestImage();
    if (fetched && Picture) LayOutFromRoot();
    if (!Picture) continue;
    drawer.PrepareImage(Picture.get(), GetDrawParams(drawer));
    StatePictures[state] = {Picture, RequestKey};
  }
  MouseState = kNormal;
  NeedsNewPictures = 1;
  RequestImage();
  TOruImage::PrepareResources(drawer);
  if (Picture) StatePictures[kNormal] = {Picture, RequestKey};
  StateChanged = true;
}

void TOruButton::ReleaseResources(TDeviceDrawer& drawer) {
  for (const TStatePicture& s : StatePictures)
    if (s.Picture && s.Picture.get() != Picture.get()) drawer.ReleaseImageTextures(s.Picture.get());
  TOruImage::ReleaseResources(drawer);
}

}  // namespace objects

void InitOruButtonKind() { SetOruObjectClass(kOruObjButton, &MakeOruObject<objects::TOruButton>); }

void FiniOruButtonKind() { SetOruObjectClass(kOruObjButton, nullptr); }

}  // namespace oru
