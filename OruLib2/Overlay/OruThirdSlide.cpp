#include "OruLib2/Overlay/OruThirdSlide.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "OruLib2/NavPanel/NavPanel.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Win32/winInput.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmMath.h"

namespace oru {

using zm::TFloatPoint;
using zm::TImageDrawParams;
using zm::TRect;
using zm::TRef;

namespace {

// The navigation panel as the overlay drives it.
class TNavOverlayPanel : public TOverlayPanel {
public:
  explicit TNavOverlayPanel(const TOverlayPanelSetup& s) : panel_(zm::MakeRef<TNavPanel>()) {
    panel_->ButtonNames = s.Buttons;
    panel_->ShowBackground = s.ShowBackground;
    panel_->Hue = s.Hue;
    panel_->OnIsPlaying = s.IsPlaying;
    if (s.Seek) panel_->OnSeek = [f = s.Seek](TCustomNavBar*, double v) { f(v); };
    if (s.SetVolume) panel_->OnSetVolume = [f = s.SetVolume](TCustomNavBar*, double v) { f(v); };
    panel_->SetFileAccess(s.FileAccess);
    panel_->SetPlacement(s.ViewScale, s.Position, s.Anchor, s.Container);
    if (s.OnBarPicture)
      panel_->OnBarPictureChanged = [f = s.OnBarPicture](TNavPanel*, zm::TImage* image, const TImageDrawParams& p,
                                                         std::int32_t& index, const TRect& r) { f(image, p, index, r); };
    if (s.OnExitPicture)
      panel_->OnExitPictureChanged = [f = s.OnExitPicture](TNavPanel*, zm::TImage* image, const TImageDrawParams& p,
                                                           std::int32_t& index, const TRect& r) { f(image, p, index, r); };
    panel_->Open(s.SkinFile, s.UseVideoScale, s.VideoExit, s.Volume, s.ShowEnd);
  }
  void Dispose() override {
    // Its callbacks lead into the overlay, which is going.
    panel_ = nullptr;
    TOverlayPanel::Dispose();
  }
  void Tick(double time) override { panel_->Tick(time); }
  void MouseDown(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                 TOruActionInfo& action) override {
    panel_->MouseDown(button, shift, x, y, action);
  }
  void MouseMove(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                 TOruActionInfo& action) override {
    panel_->MouseMove(button, shift, x, y, action);
  }
  void MouseUp(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
               TOruActionInfo& action) override {
    panel_->MouseUp(button, shift, x, y, action);
  }
  bool PointerOver() override { return panel_->OverPanel(); }

private:
  TRef<TNavPanel> panel_;
};

TRef<TOverlayPanel> CreateNavOverlayPanel(const TOverlayPanelSetup& setup) {
  return zm::MakeRef<TNavOverlayPanel>(setup);
}

constexpr std::uint32_t kDialogFadeMs = 200;

std::int32_t Nearest(double v) { return zm::RoundHalfEven(v); }

// The logo's position numbers as the show stores them.
std::int32_t LogoPositionKind(std::int32_t pos) {
  switch (pos) {
    case 0: return npLeft;
    case 1: return npTop;
    case 2: return npRight;
    case 3: return npBottom;
    case 5: return npLeftTop;
    case 6: return npRightTop;
    case 7: return npRightBottom;
    case 8: return npLeftBottom;
    default: return npCenter;
  }
}

WideString NumberText(std::int32_t n) {
  const std::string s = std::to_string(n);
  return WideString(s.begin(), s.end());
}

// Saturating, so that absurd option values cannot overflow the clock sums.
std::int32_t ClampMs(std::int32_t v) { return std::clamp(v, 0, 24 * 3600 * 1000); }

}  // namespace

TCreateOverlayPanelProc CreateOverlayPanelHook = &CreateNavOverlayPanel;

TThirdSlide::TThirdSlide() : detector_(zm::MakeRef<TMouseMoveDetector>()) { Changed = true; }

void TThirdSlide::Dispose() {
  panel_ = nullptr;  // its callbacks point here
  dialogs_.clear();
  drawn_.clear();
  items_.clear();
  logoGrade_ = nullptr;
  logoImage_ = nullptr;
  logoLookup_ = nullptr;
  detector_ = nullptr;
  fileAccess_ = nullptr;
  root_ = nullptr;
  zm::TDrawItem::Dispose();
}

TRef<TThirdSlide> TThirdSlide::Build(TFileAccessor* fileAccess, zm::TIniFile* description, const TRect& slideRect,
                                     double showEnd, double volume, const zm::TSize& slideSize,
                                     const zm::TSize& deviceSize, TOverlayQueryBool isPlaying, TOverlayValueEvent seek,
                                     TOverlayValueEvent setVolume, std::uint8_t reserved, std::uint8_t option,
                                     TRootItem* rootItem, zm::TColorProfile* outputProfile) {
  ZM_ASSERT(fileAccess != nullptr, "File access not assigned");
  TRef<TThirdSlide> o = zm::MakeRef<TThirdSlide>();
  o->isPlaying_ = std::move(isPlaying);
  o->seek_ = std::move(seek);
  o->setVolume_ = std::move(setVolume);
  o->fileAccess_ = TRef<TFileAccessor>(fileAccess);
  o->slideRect_ = slideRect;
  o->deviceSize_ = deviceSize;
  o->root_ = rootItem;
  const double rw = double(slideRect.Right) - slideRect.Left, rh = double(slideRect.Bottom) - slideRect.Top;
  const double aspect = rw / slideSize.cx * slideSize.cy / rh;
  o->aspect_ = std::isfinite(aspect) && aspect > 0 ? float(aspect) : 1.0f;

  if (!description) return o;
  zm::TIniSection* main = description->FindSection(u"main");
  if (!main || main == description) return o;
  const auto str = [&](const char16_t* key, const WideString& def) { return description->ReadString(u"main", key, def); };
  const auto flag = [&](const char16_t* key, bool def) { return description->ReadBool(u"main", key, def); };
  const auto num = [&](const char16_t* key, std::int32_t def) { return description->ReadInteger(u"main", key, def); };
  const auto real = [&](const char16_t* key, double def) {
    const double v = description->ReadFloat(u"main", key, def);
    return std::isfinite(v) ? v : def;
  };

  const WideString logo = str(u"opt_logo_fn", {});
  if (!logo.empty() && flag(u"opt_logo", false)) {
    const TPercentPlacement p =
        AnchorFromPosition(LogoPositionKind(num(u"opt_logo_pos", 4)), float(real(u"opt_logo_offset", 0)));
    TImageDrawParams params;
    params.Opacity = float(real(u"opt_logo_opacity", 100));
    o->AddLogo(logo, params, p.Position, p.Anchor, real(u"opt_logo_size", 10), outputProfile);
  }

  if (option == 0 && reserved == 0 && flag(u"opt_fcp", false)) o->BuildPanel(description, showEnd, volume);
  return o;
}

void TThirdSlide::AddLogo(const WideString& fileName, const TImageDrawParams& params, const TFloatPoint& position,
                          const TFloatPoint& anchor, double size, zm::TColorProfile* outputProfile) {
  TRef<zm::TImage> loaded = fileAccess_->GetImage(fileName);
  if (!loaded) return;
  zm::TBitmap* source = loaded->GetBitmap();
  if (!source || source->Width() < 1 || source->Height() < 1) return;
  // The drawer takes system bitmaps only.
  TRef<zm::TImage> sysImage = zm::GetSysBitmapHook ? zm::GetSysBitmapHook(source, false, fileName)
                                                   : zm::SysBitmapToImage(source, false, fileName);
  auto* bitmap = sysImage ? dynamic_cast<zm::TSysBitmap*>(sysImage->GetBitmap()) : nullptr;
  if (!bitmap) return;

  if (!ShowNotColorManaged()) logoLookup_ = MakeProfileLookup(loaded.get(), outputProfile);

  if (!(size > 0) || !std::isfinite(size)) return;
  const double ht = size / 100 * (double(slideRect_.Bottom) - slideRect_.Top);
  const double wt = double(bitmap->Width()) / bitmap->Height() * ht;
  std::int32_t w = bitmap->Width(), h = bitmap->Height();
  // Halving keeps the picture at least twice the size it is drawn at, so
  // the drawer's bilinear filter never skips source pixels.
  while (wt * 2 < w && ht * 2 < h) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
  }
  if (w != bitmap->Width() || h != bitmap->Height()) {
    const bool alpha = bitmap->PixelFormat() && bitmap->PixelFormat()->HasAlpha;
    TRef<zm::TSysBitmap> small = zm::CreateSysBitmap(w, h, alpha ? zm::pfA8R8G8B8 : zm::pfR8G8B8);
    TRef<zm::TSysBitmap> from(bitmap);
    if (!alpha && bitmap->PixelFormat() != zm::pfR8G8B8) {
      // Any other layout goes through a 24-bit copy first.
      from = zm::CreateSysBitmap(bitmap->Width(), bitmap->Height(), zm::pfR8G8B8);
      if (from) from->CopyFrom(bitmap);
    } else if (alpha && bitmap->PixelFormat() != zm::pfA8R8G8B8) {
      from = zm::CreateSysBitmap(bitmap->Width(), bitmap->Height(), zm::pfA8R8G8B8);
      if (from) from->CopyFrom(bitmap);
    }
    if (!small || !from) return;
    const bool ok = alpha ? zm::ResizeBilinear32(from.get(), small.get()) : zm::ResizeBilinear24(from.get(), small.get());
    if (!ok) return;
    logoImage_ = zm::GetSysBitmapHook ? zm::GetSysBitmapHook(small.get(), false, fileName)
                                      : zm::SysBitmapToImage(small.get(), false, fileName);
  } else {
    logoImage_ = sysImage;
  }
  if (!logoImage_) return;
  zm::TBitmap* shown = logoImage_->GetBitmap();
  if (!shown || shown->Width() < 1 || shown->Height() < 1) return;

  const std::int32_t hh = Nearest((double(slideRect_.Bottom) - slideRect_.Top) * size / 100);
  const std::int32_t ww = Nearest(double(hh) * shown->Width() / shown->Height() * aspect_);
  const TRect r = PlaceRectByPercent(position, anchor, slideRect_, ww, hh);
  TOverlayImageItem item;
  item.Image = logoImage_;
  item.Params = params;
  item.Position = {float(r.Left), float(r.Top)};
  item.Scale = {float(double(r.Right - r.Left) / shown->Width()), float(double(r.Bottom - r.Top) / shown->Height())};
  logoIndex_ = static_cast<std::int32_t>(items_.size());
  items_.push_back(std::move(item));
}

void TThirdSlide::BuildPanel(zm::TIniFile* description, double showEnd, double volume) {
  const auto key = [&](const WideString& k, const WideString& def) { return description->ReadString(u"main", k, def); };
  const auto flag = [&](const WideString& k, bool def) { return description->ReadBool(u"main", k, def); };
  const auto num = [&](const WideString& k, std::int32_t def) { return description->ReadInteger(u"main", k, def); };
  const auto real = [&](const WideString& k, double def) {
    const double v = description->ReadFloat(u"main", k, def);
    return std::isfinite(v) ? v : def;
  };
  TOverlayPanelSetup s;
  const std::int32_t count = std::clamp(num(u"opt_newnavbuttons_count", 0), 0, 64);
  for (std::int32_t i = 1; i <= count; ++i) s.Buttons.push_back(key(u"opt_newnavbutton" + NumberText(i), {}));
  s.ShowBackground = flag(u"opt_nav_showbg", false);
  s.Hue = num(u"opt_nav_hue", 0);
  s.ViewScale = float(real(u"opt_nav_viewscale", 10.0));
  s.UseVideoScale = flag(u"opt_nav_usevideoscale", false);
  const TPercentPlacement p =
      AnchorFromPosition(PositionKindFromName(key(u"opt_cp", u"Center")), float(real(u"opt_nav_offset", 0)));
  s.Position = p.Position;
  s.Anchor = p.Anchor;
  hideWhenIdle_ = flag(u"opt_hidenavbar", false);
  const std::int32_t interval = std::clamp(num(u"opt_nav_hideinterval", 0), 0, 24 * 3600);
  fadeOutMs_ = ClampMs(num(u"opt_nav_hidefadeout", 1000));
  fadeInMs_ = ClampMs(num(u"opt_nav_fadein", 500));
  windowBottom_ = flag(u"opt_nav_wndbottom", true);
  s.VideoExit = flag(u"opt_nav_videoexit", true);
  s.SkinFile = key(u"opt_nav_inifile", {});

  detector_->SetInterval(std::uint32_t(interval) * 1000u);
  detector_->SetIdle(true);
  hidden_ = hideWhenIdle_;
  panelOpacity_ = hideWhenIdle_ ? 0.0f : 100.0f;

  s.Container = windowBottom_ ? TRect{0, 0, deviceSize_.cx, deviceSize_.cy} : slideRect_;
  s.Volume = volume;
  s.ShowEnd = showEnd;
  s.IsPlaying = isPlaying_;
  s.Seek = seek_;
  s.SetVolume = setVolume_;
  s.FileAccess = fileAccess_.get();
  s.OnBarPicture = [this](zm::TImage* image, const TImageDrawParams& params, std::int32_t& index, const TRect& r) {
    BarPictureChanged(image, params, index, r);
  };
  s.OnExitPicture = [this](zm::TImage* image, const TImageDrawParams& params, std::int32_t& index, const TRect& r) {
    ExitPictureChanged(image, params, index, r);
  };
  if (!CreateOverlayPanelHook) return;
  const std::size_t itemsBefore = items_.size();
  try {
    panel_ = CreateOverlayPanelHook(s);
  } catch (const zm::EAbort&) {
    throw;
  } catch (const std::exception&) {
    // A damaged skin costs the show its panel, not the overlay.
    panel_ = nullptr;
    items_.resize(itemsBefore);
    barIndex_ = exitIndex_ = -1;
  }
}

// ---- Drawing -------------------------------------------------------------------------------------

bool TThirdSlide::IsPanelItem(std::size_t i) const {
  const auto n = static_cast<std::int32_t>(i);
  return n == barIndex_ || n == exitIndex_;
}

void TThirdSlide::Draw(zm::TDeviceDrawer& drawer) {
  const std::vector<TRef<TOruDialog>> held(dialogs_);
  for (std::size_t i = 0; i < held.size(); ++i) {
    drawer.Draw(held[i].get());
    // Drawing may have removed dialogs; only the one still in place counts.
    if (i < dialogs_.size() && dialogs_[i] == held[i]) drawn_[i] = true;
  }
  // The letterbox bands go beneath the panel, else over everything else.
  bool filled = false;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const TOverlayImageItem& item = items_[i];
    if (IsPanelItem(i)) {
      if (HidePanel) continue;
      if (!filled && root_) root_->FillOutside(drawer);
      filled = true;
    }
    if (!item.Image) continue;
    TImageDrawParams params = item.Params;
    if (static_cast<std::int32_t>(i) == logoIndex_ && logoLookup_) {
      if (!logoGrade_) logoGrade_ = zm::MakeRef<TColorGradeWrapper>();
      logoGrade_->SetSource(logoLookup_.get(), nullptr);
      if (zm::TCustomColorGradeTexture* t = logoGrade_->Prepare(drawer, true)) {
        params.GradeTable1 = t;
        params.GradeTable2 = t;
        params.GradeMix = 0;
        params.GradeMode = 1;
      }
    }
    const TFloatPoint at{item.Position.X + item.Offset.X, item.Position.Y + item.Offset.Y};
    drawer.DrawImage(item.Image.get(), at, params, {item.Scale.X, 0}, {0, item.Scale.Y});
  }
  // Also when the panel has no pictures (a skin that did not open).
  if (!filled && root_) root_->FillOutside(drawer);
  Changed = false;
  StateChanged = false;
}

// ---- Fades ---------------------------------------------------------------------------------------

void TThirdSlide::SetPanelItemsOpacity(float opacity) {
  for (const std::int32_t i : {barIndex_, exitIndex_}) {
    if (i < 0 || i >= static_cast<std::int32_t>(items_.size())) continue;
    if (std::fabs(items_[std::size_t(i)].Params.Opacity - opacity) > 0.001f) {
      items_[std::size_t(i)].Params.Opacity = opacity;
      StateChanged = true;
    }
  }
}

void TThirdSlide::Tick(double time) {
  if (activeDialog_ >= 0 && activeDialog_ < DialogCount() && drawn_[std::size_t(activeDialog_)]) {
    TOruDialog* d = dialogs_[std::size_t(activeDialog_)].get();
    if (closing_ && d->Opacity < 1.0f) {
      RemoveDialog(activeDialog_);
    } else {
      const std::uint32_t t = zm::GetTimeMs();
      if (restart_) {
        dialogStart_ = t;
        dialogEnd_ = t + kDialogFadeMs;
        restart_ = false;
      }
      // Signed differences keep the fade right across the clock's wrap.
      const auto since = static_cast<std::int32_t>(t - dialogStart_);
      const auto span = static_cast<std::int32_t>(dialogEnd_ - dialogStart_);
      float p = 100;
      if (static_cast<std::int32_t>(t - dialogEnd_) < 0 && span > 0)
        p = std::clamp(float(since) / float(span) * 100.0f, 0.0f, 100.0f);
      const float opacity = closing_ ? 100 - p : p;
      dialogOpacity_ = opacity;
      if (std::fabs(opacity - d->Opacity) > 0.001f) {
        d->Opacity = opacity;
        StateChanged = true;
      }
    }
  }

  if (!panel_) return;
  panel_->Tick(time);
  if (!hideWhenIdle_) return;
  const std::uint32_t t = zm::GetTimeMs();
  const auto span = static_cast<std::int32_t>(fadeEnd_ - fadeStart_);
  float p = 100;
  if (static_cast<std::int32_t>(t - fadeEnd_) < 0 && span > 0)
    p = std::clamp(float(static_cast<std::int32_t>(t - fadeStart_)) / float(span) * 100.0f, 0.0f, 100.0f);
  if (panel_->PointerOver()) detector_->SetIdle(false);
  const bool idle = detector_->IsIdle();
  if (idle == hidden_) {
    panelOpacity_ = hidden_ ? 100 - p : p;
    SetPanelItemsOpacity(panelOpacity_);
  } else {
    hidden_ = !hidden_;
    // The new fade starts from the level the old one reached.
    const std::int32_t d = hidden_ ? fadeOutMs_ : fadeInMs_;
    fadeEnd_ = t + std::uint32_t(Nearest(double(d) * p / 100));
    fadeStart_ = fadeEnd_ - std::uint32_t(d);
  }
}

// ---- Pointer -------------------------------------------------------------------------------------

void TThirdSlide::MouseEvent(std::uint8_t shift, std::int32_t x, std::int32_t y, bool& handled, TOruObject*& hit,
                             TOruActionInfo& action, std::int32_t kind, std::int32_t button) {
  action = TOruActionInfo{};
  hit = nullptr;
  handled = false;
  if (kind < 0 || kind > 3) ZM_ASSERT(false, "Invalid mouse event kind");
  // From the top down; a dialog's handling may close dialogs, so the list is
  // held for the walk.
  const std::vector<TRef<TOruDialog>> held(dialogs_);
  // The dialogs' objects count buttons as a slide does: left is 0 there.
  const std::int32_t slideButton = button == 1 || button == 0 ? kSlideMouseLeft : kSlideMouseLeft + 1;
  for (auto it = held.rbegin(); it != held.rend() && !hit; ++it) {
    TOruDialog* d = it->get();
    const std::uint32_t keys = (shift & zm::ssLeft) ? kSlideMouseLeftHeld : 0;
    TOruActionInfo a;
    hit = d->HandleMouse(keys, float(x), true, a, kind, slideButton, float(y));
    if (hit) action = a;
    if (d->IsChanged()) StateChanged = true;
  }
  detector_->MouseMove(x, y);
  TOruActionInfo panelAction;
  if (panel_) {
    switch (kind) {
      case 0: panel_->MouseMove(button, shift, x, y, panelAction); break;
      case 1: panel_->MouseDown(button, shift, x, y, panelAction); break;
      case 2: panel_->MouseUp(button, shift, x, y, panelAction); break;
      default: break;
    }
  }
  if (panelAction.Code != acNone) {
    action = panelAction;
    hit = nullptr;
  }
  handled = hit != nullptr || (panel_ && panel_->PointerOver()) || panelAction.Code != acNone;
}

std::int32_t TThirdSlide::PanelState() {
  if (!panel_) return 0;
  if (panel_->PointerOver()) return 2;
  return detector_->IsIdle() ? 0 : 1;
}

// ---- Dialogs -------------------------------------------------------------------------------------

TOruDialog* TThirdSlide::Dialog(std::int32_t i) const {
  return i >= 0 && i < DialogCount() ? dialogs_[std::size_t(i)].get() : nullptr;
}

void TThirdSlide::ShowDialog(TOruDialog* dialog) {
  if (!dialog || closing_) return;
  std::int32_t index = -1;
  if (FindDialog(dialog->Name, index)) {
    CloseDialog(index);
    return;
  }
  dialogs_.emplace_back(dialog);
  drawn_.push_back(false);
  Changed = true;
  restart_ = true;
  activeDialog_ = DialogCount() - 1;
}

void TThirdSlide::CloseDialog(std::int32_t index) {
  if (closing_ || dialogs_.empty()) return;
  closing_ = true;
  restart_ = true;
  activeDialog_ = index >= 0 && index < DialogCount() ? index : DialogCount() - 1;
}

void TThirdSlide::RemoveDialog(std::int32_t index) {
  if (index == -1) index = DialogCount() - 1;
  ZM_ASSERT(index >= 0 && index < DialogCount(), "No such dialog");
  TRef<TOruDialog> gone = dialogs_[std::size_t(index)];
  dialogs_.erase(dialogs_.begin() + index);
  drawn_.erase(drawn_.begin() + index);
  Changed = true;
  closing_ = false;
  // The active dialog keeps its place in the list.
  if (activeDialog_ == index) activeDialog_ = -1;
  else if (activeDialog_ > index) --activeDialog_;
  gone = nullptr;
}

TOruDialog* TThirdSlide::TopDialog() const { return dialogs_.empty() ? nullptr : dialogs_.back().get(); }

TOruDialog* TThirdSlide::FindDialog(const WideString& name, std::int32_t& index) const {
  for (std::size_t i = 0; i < dialogs_.size(); ++i)
    if (dialogs_[i]->Name == name) {
      index = static_cast<std::int32_t>(i);
      return dialogs_[i].get();
    }
  index = -1;
  return nullptr;
}

void TThirdSlide::CloseHoldingDialogs() {
  std::int32_t lowest = -1, count = 0;
  for (std::int32_t i = 0; i < DialogCount(); ++i)
    if (dialogs_[std::size_t(i)]->Pause) {
      if (lowest < 0) lowest = i;
      ++count;
    }
  if (count == 0) return;
  // All but one go at once; the one left fades out.
  for (std::int32_t i = DialogCount() - 1; i > lowest; --i)
    if (dialogs_[std::size_t(i)]->Pause) RemoveDialog(i);
  CloseDialog(lowest);
}

bool TThirdSlide::HasHoldingDialog() const {
  return std::any_of(dialogs_.begin(), dialogs_.end(), [](const TRef<TOruDialog>& d) { return d->Pause; });
}

// ---- Panel pictures ------------------------------------------------------------------------------

void TThirdSlide::PictureChanged(zm::TImage* image, const TImageDrawParams& params, std::int32_t& index,
                                 const TRect& rect) {
  TOverlayImageItem* item = nullptr;
  if (index < 0 || index >= static_cast<std::int32_t>(items_.size())) {
    TOverlayImageItem fresh;
    fresh.Params = params;
    items_.push_back(std::move(fresh));
    index = static_cast<std::int32_t>(items_.size()) - 1;
  }
  item = &items_[std::size_t(index)];
  item->Image = TRef<zm::TImage>(image);
  item->Position = {float(rect.Left), float(rect.Top)};
  zm::TBitmap* b = image ? image->GetBitmap() : nullptr;
  const bool sized = b && b->Width() > 0 && b->Height() > 0;
  item->Scale = sized ? TFloatPoint{float(double(rect.Right - rect.Left) / b->Width()),
                                    float(double(rect.Bottom - rect.Top) / b->Height())}
                      : TFloatPoint{1, 1};
  Changed = true;
}

void TThirdSlide::BarPictureChanged(zm::TImage* image, const TImageDrawParams& params, std::int32_t& index,
                                    const TRect& rect) {
  const bool fresh = index < 0 || index >= static_cast<std::int32_t>(items_.size());
  PictureChanged(image, params, index, rect);
  // A bar added while the panel is faded out starts at the panel's level.
  if (fresh && hideWhenIdle_) items_[std::size_t(index)].Params.Opacity = panelOpacity_;
  barIndex_ = index;
}

void TThirdSlide::ExitPictureChanged(zm::TImage* image, const TImageDrawParams& params, std::int32_t& index,
                                     const TRect& rect) {
  const bool fresh = index < 0 || index >= static_cast<std::int32_t>(items_.size());
  PictureChanged(image, params, index, rect);
  if (fresh && hideWhenIdle_) items_[std::size_t(index)].Params.Opacity = panelOpacity_;
  exitIndex_ = index;
}

}  // namespace oru
