#include "OruLib2/NavPanel/NavPanel.h"

#include <algorithm>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Win32/winScreen.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmMath.h"

namespace oru {

using zm::TRect;
using zm::TRef;

namespace {

constexpr double kReferenceDpi = 96.0;

const char16_t* const kPositionNames[] = {u"Left-Top", u"Top",         u"Right-Top", u"Right", u"Right-Bottom",
                                          u"Bottom",   u"Left-Bottom", u"Left",      u"Center"};

bool Inside(const TRect& r, std::int32_t x, std::int32_t y) {
  return r.Left <= x && x < r.Right && r.Top <= y && y < r.Bottom;
}

// One coordinate of the rectangle into the picture's pixels; an empty
// rectangle maps everything to 0. Rounding would take the rectangle's last
// pixels to the picture's size, one past its last pixel: a point inside
// the rectangle stays inside the picture. Points outside keep their
// distance so the bar can tell they are off it.
std::int32_t ToPicture(std::int32_t v, std::int32_t lo, std::int32_t hi, std::int32_t size) {
  if (hi <= lo) return 0;
  const std::int32_t p = zm::RoundHalfEven((double(v) - lo) / (double(hi) - lo) * size);
  return v >= lo && v < hi && size > 0 ? std::min(p, size - 1) : p;
}

// The image over a picture the bar keeps drawing into.
TRef<zm::TImage> ImageOf(zm::TSysBitmap* bitmap) {
  return zm::GetSysBitmapHook ? zm::GetSysBitmapHook(bitmap, false, {}) : zm::SysBitmapToImage(bitmap, false, {});
}

}  // namespace

TPercentPlacement AnchorFromPosition(std::int32_t kind, float offset) {
  const float lo = -100.0f + offset, hi = 100.0f - offset;
  switch (kind) {
    case npLeftTop: return {{lo, lo}, {-100, -100}};
    case npTop: return {{0, lo}, {0, -100}};
    case npRightTop: return {{hi, lo}, {100, -100}};
    case npRight: return {{hi, 0}, {100, 0}};
    case npRightBottom: return {{hi, hi}, {100, 100}};
    case npBottom: return {{0, hi}, {0, 100}};
    case npLeftBottom: return {{lo, hi}, {-100, 100}};
    case npLeft: return {{lo, 0}, {-100, 0}};
    default: return {{0, 0}, {0, 0}};
  }
}

std::int32_t PositionKindFromName(const WideString& name) {
  for (std::int32_t k = 0; k < npCenter; ++k)
    if (zm::SameText(name, kPositionNames[k])) return k;
  return npCenter;
}

TRect PlaceRectByPercent(const zm::TFloatPoint& position, const zm::TFloatPoint& anchor, const TRect& container,
                         std::int32_t width, std::int32_t height) {
  const double cw = double(container.Right) - container.Left, ch = double(container.Bottom) - container.Top;
  TRect r;
  r.Left = zm::RoundHalfEven((double(position.X) / 100 + 1) * cw / 2) + container.Left -
           zm::RoundHalfEven(double(width) * (double(anchor.X) + 100) / 200);
  r.Top = zm::RoundHalfEven((double(position.Y) / 100 + 1) * ch / 2) + container.Top -
          zm::RoundHalfEven(double(height) * (double(anchor.Y) + 100) / 200);
  r.Right = r.Left + width;
  r.Bottom = r.Top + height;
  return r;
}

void TNavPanel::Dispose() {
  ReleaseBar();
  barImage_ = nullptr;
  exitImage_ = nullptr;
  ButtonNames.clear();
  OnIsPlaying = nullptr;
  OnSeek = nullptr;
  OnSetVolume = nullptr;
  OnBarPictureChanged = nullptr;
  OnExitPictureChanged = nullptr;
  fileAccess_ = nullptr;
  TRefObject::Dispose();
}

void TNavPanel::SetPlacement(float viewScale, const zm::TFloatPoint& position, const zm::TFloatPoint& anchor,
                             const TRect& container) {
  viewScale_ = viewScale;
  position_ = position;
  anchor_ = anchor;
  container_ = container;
  placed_ = true;
}

void TNavPanel::ReleaseBar() {
  TRef<TCustomNavBar> bar = std::move(bar_);
  if (!bar) return;
  // Someone else may still hold the bar: it must not call back into us.
  bar->OnChange = nullptr;
  bar->OnExitChange = nullptr;
  bar->OnClick = nullptr;
  bar->OnIsPlaying = nullptr;
  bar->OnLoadBitmap = nullptr;
  bar->OnGetDuration = nullptr;
  bar->OnSeek = nullptr;
  bar->OnSetVolume = nullptr;
  bar->OnIsUpperHalf = nullptr;
  videoStyle_ = false;
  hasExitPart_ = false;
  pressedOnBar_ = false;
  overPanel_ = false;
  upperHalf_ = false;
  barRect_ = {};
  exitRect_ = {};
}

void TNavPanel::Open(const WideString& skinFileName, bool useVideoScale, bool videoExit, double volume,
                     double showLength) {
  TRef<TNavPanel> keep(this);  // the overlay may drop us from a picture callback
  ReleaseBar();
  showLength_ = showLength;
  ZM_ASSERT(fileAccess_, "TNavPanel.Open - FileAccess not assigned");
  TRef<zm::TStream> stream = TRef<zm::TStream>::Adopt(fileAccess_->OpenFile(skinFileName));
  if (!stream) return;
  TRef<zm::TIniFile> skin = zm::MakeRef<zm::TIniFile>();
  if (!skin->LoadFromStream(stream.get())) return;
  stream = nullptr;

  const bool videoStyle = skin->ReadBool(u"Common", u"VideoStyle", false);
  TRef<TCustomNavBar> bar = CreateNavBar(videoStyle ? WideString(u"video") : WideString());
  if (!bar) return;
  bar_ = bar;
  videoStyle_ = videoStyle;
  hasExitPart_ = videoStyle && videoExit;

  bar->OnChange = [this](TCustomNavBar*, const TRect&) { BarPictureChanged(); };
  if (hasExitPart_) bar->OnExitChange = [this](TCustomNavBar*, const TRect&) { ExitPictureChanged(); };
  bar->OnLoadBitmap = [this](TCustomNavBar*, const WideString& path) { return LoadTexture(path); };
  bar->OnClick = [this](TCustomNavBar*, std::int32_t index) { Click(index); };
  bar->OnIsPlaying = OnIsPlaying;
  bar->OnSeek = OnSeek;
  bar->OnSetVolume = OnSetVolume;
  bar->OnGetDuration = [this] { return showLength_; };
  if (hasExitPart_) bar->OnIsUpperHalf = [this] { return upperHalf_; };
  bar->ShowBackground = ShowBackground;
  bar->Hue = Hue;

  try {
    const std::size_t slash = skinFileName.rfind(u'\\');
    bar->Load(skin.get(), slash == WideString::npos ? WideString() : skinFileName.substr(0, slash + 1));
    const std::int32_t width = container_.Right - container_.Left;
    bar->SetContainerWidth(width);
    if (useVideoScale) {
      bar->SetHeight(zm::RoundHalfEven((double(container_.Bottom) - container_.Top) * viewScale_ * 0.01));
    } else {
      const std::int32_t dpi = zm::PixelsPerInch().Y;
      bar->SetScale(dpi > 0 ? dpi / kReferenceDpi : 1.0);
    }
    // Show button names not in the skin are left out; the rest move up.
    std::vector<std::int32_t> codes;
    const std::vector<WideString>& available = bar->AvailableActions();
    for (const WideString& name : ButtonNames)
      for (std::size_t i = 0; i < available.size(); ++i)
        if (zm::SameText(name, available[i])) {
          codes.push_back(std::int32_t(i));
          break;
        }
    bar->SetButtons(std::span<const std::int32_t>(codes));
    bar->UpdatePlayState(0);
    bar->SetVolume(volume);
  } catch (...) {
    ReleaseBar();
    throw;
  }
}

TRef<zm::TBitmap> TNavPanel::LoadTexture(const WideString& path) {
  ZM_ASSERT(fileAccess_, "TNavPanel.LoadTexture - FileAccess not assigned");
  try {
    TRef<zm::TStream> stream = TRef<zm::TStream>::Adopt(fileAccess_->OpenFile(path));
    if (!stream) return nullptr;
    TRef<zm::TImage> image = zm::LoadImageFromStreamEx(stream.get(), path, false);
    zm::TBitmap* source = image ? image->GetBitmap() : nullptr;
    if (!source) return nullptr;
    TRef<zm::TSysBitmap> copy = zm::CreateSysBitmap(source->Width(), source->Height(), zm::pfA8R8G8B8);
    copy->CopyFrom(source);
    return copy;
  } catch (const zm::EAbort&) {
    throw;
  } catch (const zm::Exception&) {
    // A damaged texture is a missing one: the bar draws without it.
    return nullptr;
  }
}

void TNavPanel::BarPictureChanged() {
  if (!OnBarPictureChanged || !placed_ || !bar_) return;
  zm::TSysBitmap* picture = bar_->Bitmap();
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) return;
  const std::int32_t pw = picture->Width(), ph = picture->Height();
  if (videoStyle_) {
    barRect_ = PlaceRectByPercent({0, 100}, {0, 100}, container_, pw, ph);
  } else {
    const std::int32_t h = zm::RoundHalfEven((double(container_.Bottom) - container_.Top) * viewScale_ / 100);
    const std::int32_t w = zm::RoundHalfEven(double(pw) * h / ph);
    barRect_ = PlaceRectByPercent(position_, anchor_, container_, w, h);
  }
  barImage_ = nullptr;
  barImage_ = ImageOf(picture);
  TRef<TNavPanel> keep(this);  // the overlay may drop the panel
  OnBarPictureChanged(this, barImage_.get(), zm::TImageDrawParams{}, barIndex_, barRect_);
}

void TNavPanel::ExitPictureChanged() {
  if (!OnExitPictureChanged || !placed_ || !bar_) return;
  zm::TSysBitmap* picture = bar_->ExitBitmap();
  if (!picture) return;
  exitRect_ = TRect{container_.Right - picture->Width(), container_.Top, container_.Right,
                    container_.Top + picture->Height()};
  exitImage_ = nullptr;
  exitImage_ = ImageOf(picture);
  TRef<TNavPanel> keep(this);
  OnExitPictureChanged(this, exitImage_.get(), zm::TImageDrawParams{}, exitIndex_, exitRect_);
}

void TNavPanel::Click(std::int32_t index) {
  if (!bar_) return;
  if (videoStyle_ && index == kNavClickPlayPause) {
    action_.Code = acPause;
    return;
  }
  if (videoStyle_ && index == kNavClickExit) {
    action_.Code = acExit;
    return;
  }
  const std::vector<std::int32_t>& buttons = bar_->Buttons();
  if (index < 0 || std::size_t(index) >= buttons.size()) return;
  const std::int32_t code = buttons[std::size_t(index)];
  const std::vector<WideString>& available = bar_->AvailableActions();
  if (code < 0 || std::size_t(code) >= available.size()) return;
  static const struct {
    const char16_t* name;
    std::uint8_t code;
  } kClicks[] = {{u"home", acGotoSlide}, {u"forward", acNextSlide}, {u"backward", acPrevSlide},
                 {u"print", acPrint},    {u"pause", acPause},       {u"help", acHelp},
                 {u"exit", acExit}};
  const WideString name = zm::LowerCase(available[std::size_t(code)]);
  for (const auto& c : kClicks)
    if (name == c.name) {
      action_.Code = c.code;  // "home" goes to the first slide: Value stays 0
      return;
    }
}

bool TNavPanel::OnPanel(std::int32_t x, std::int32_t y) const {
  if (!bar_) return false;
  return Inside(barRect_, x, y) || (videoStyle_ && Inside(exitRect_, x, y));
}

bool TNavPanel::UpperHalfTest(std::int32_t y) {
  upperHalf_ = bar_ && hasExitPart_ && double(y) < (double(container_.Top) + container_.Bottom) / 2;
  return upperHalf_;
}

void TNavPanel::Forward(std::int32_t kind, std::uint8_t shift, std::int32_t x, std::int32_t y) {
  TRef<TCustomNavBar> bar = bar_;  // a callback may release it
  const bool exitPart = upperHalf_;
  const zm::TSysBitmap* picture = exitPart ? bar->ExitBitmap() : bar->Bitmap();
  const TRect& r = exitPart ? exitRect_ : barRect_;
  const std::int32_t pw = picture ? picture->Width() : 0, ph = picture ? picture->Height() : 0;
  bar->MouseEvent(1, shift, ToPicture(x, r.Left, r.Right, pw), ToPicture(y, r.Top, r.Bottom, ph), kind);
}

void TNavPanel::PointerEvent(std::int32_t kind, std::int32_t button, std::uint8_t shift, std::int32_t x,
                             std::int32_t y, TOruActionInfo& action) {
  TRef<TNavPanel> keep(this);  // the bar's callbacks may reach the overlay, which may drop us
  action_ = TOruActionInfo{};
  const bool hit = OnPanel(x, y);
  UpperHalfTest(y);
  bool forward = bar_ && (hit || overPanel_);
  switch (kind) {
    case nmDown:
      forward = forward && button == 1;
      if (forward) pressedOnBar_ = true;
      break;
    case nmMove:
      forward = bar_ && (forward || pressedOnBar_);
      break;
    default:
      // A press that began on the bar always ends there, wherever the
      // release is: a bar left pressed would take later moves for a drag.
      forward = button == 1 && bar_ && (forward || pressedOnBar_);
      if (button == 1) pressedOnBar_ = false;
      break;
  }
  if (forward) Forward(kind, shift, x, y);
  overPanel_ = hit;
  if (forward && overPanel_ && action_.Code == acNone) action_.Code = acOverPanel;
  action = action_;
}

void TNavPanel::Tick(double time) {
  if (TRef<TCustomNavBar> bar = bar_) bar->UpdatePlayState(time);
}

}  // namespace oru
