#include "OruLib2/NavPanel/VideoNavBar.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string>

#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/VectorGraphics/zmVectorText.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmStringList.h"

namespace oru {

using zm::TRect;
using zm::TRef;
using zm::TSysBitmap;
using zm::WideString;

namespace {

// Skin sizes are held far from the 64-bit limits so that layout sums never
// overflow, and far from the 32-bit ones where they become coordinates.
constexpr std::int64_t kMaxScaled = std::int64_t(1) << 28;
constexpr double kTinyDuration = 0.000001;
constexpr std::int32_t kCellCount = 7;
constexpr std::int32_t kExitCell = 6;

std::int64_t Half(std::int64_t v) { return v / 2; }

std::int32_t C32(std::int64_t v) { return std::int32_t(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX)); }

TRect R(std::int64_t l, std::int64_t t, std::int64_t r, std::int64_t b) { return {C32(l), C32(t), C32(r), C32(b)}; }

// Trunc that gives 0 for what is not a number and stays inside int64.
std::int64_t TruncClamp(double v) {
  if (!std::isfinite(v)) return 0;
  return std::int64_t(std::trunc(std::clamp(v, -9.0e15, 9.0e15)));
}

std::int64_t Nearest(double v) {
  if (!std::isfinite(v)) return 0;
  return std::int64_t(std::nearbyint(std::clamp(v, -9.0e15, 9.0e15)));
}

bool ToInt(const WideString& s, std::int32_t& out) {
  std::string a;
  for (char16_t c : zm::Trim(s)) {
    if (c > 127) return false;
    a += char(c);
  }
  std::size_t i = a.size() > 0 && a[0] == '+' ? 1 : 0;
  const char* end = a.data() + a.size();
  auto [p, ec] = std::from_chars(a.data() + i, end, out);
  return ec == std::errc() && p == end && a.size() > i;
}

// "width,height"; anything but exactly two integers keeps the defaults.
void ReadSize(zm::TIniFile& ini, const WideString& section, const WideString& key, std::int32_t& w,
              std::int32_t& h) {
  w = h = 0;
  const WideString v = ini.ReadString(section, key, u"");
  const std::size_t comma = v.find(u',');
  if (comma == WideString::npos || v.find(u',', comma + 1) != WideString::npos) return;
  std::int32_t a = 0, b = 0;
  if (!ToInt(v.substr(0, comma), a) || !ToInt(v.substr(comma + 1), b)) return;
  w = a;
  h = b;
}

std::uint32_t ElementFlag(std::size_t element) {
  switch (element) {
    case vePlayPause: return vrPlayPause;
    case veSound: return vrSound;
    case veExit: return vrExit;
    default: return vrButtons;
  }
}

// A picture of the size, cleared to transparent; nil when no picture can
// have that size.
TRef<TSysBitmap> NewPicture(std::int64_t w, std::int64_t h) {
  if (w < 1 || h < 1 || w > INT_MAX || h > INT_MAX ||
      !zm::BitmapSizeAllowed(std::int32_t(w), std::int32_t(h), zm::pfA8R8G8B8))
    return nullptr;
  TRef<TSysBitmap> b = zm::CreateSysBitmap(std::int32_t(w), std::int32_t(h), zm::pfA8R8G8B8);
  if (b) b->FillRect(TRect{0, 0, b->Width(), b->Height()}, zm::TColor32{});
  return b;
}

void Blend(TSysBitmap* target, TSysBitmap* source, std::int64_t x, std::int64_t y) {
  if (!target || !source) return;
  zm::DrawBitmapOver32(target, source, TRect{0, 0, source->Width(), source->Height()},
                       zm::TPoint{C32(x), C32(y)});
}

// Calls a copy: the owner may clear the callback (disposing the bar) from
// inside it.
template <class F, class... A>
void Fire(const F& f, A... a) {
  if (!f) return;
  F copy = f;
  copy(a...);
}

std::int32_t gInitCount = 0;
zm::THookInstall<TCreateNavBarProc> gVideoNavBarHook;

TRef<TCustomNavBar> MakeVideoNavBar(const WideString& kind) {
  if (kind == u"video") return zm::MakeRef<TVideoNavBar>();
  return gVideoNavBarHook.Saved() ? gVideoNavBarHook.Saved()(kind) : nullptr;
}

}  // namespace

TVideoNavBar::TVideoNavBar() : producer_(zm::MakeRef<zm::TTextProducer>()) {}

void TVideoNavBar::Dispose() {
  Discard();
  disposed_ = true;
  producer_ = nullptr;
  names_.clear();
  TCustomNavBar::Dispose();
}

void TVideoNavBar::Discard() {
  skin_ = nullptr;
  folder_.clear();
  line_ = {};
  back_ = {};
  knob_ = {};
  for (auto& c : cells_) c.clear();
  names_.clear();
  backCache_ = nullptr;
  trackCache_ = nullptr;
  glyphs_.clear();
  bitmap_ = nullptr;
  exitBitmap_ = nullptr;
}

void TVideoNavBar::Load(zm::TIniFile* skin, const WideString& folder) {
  Discard();
  if (!skin) return;
  ZM_ASSERT(!folder.empty() && (folder.back() == u'/' || folder.back() == u'\\'), "Path delimiter nof found!");
  ZM_ASSERT(bool(OnLoadBitmap), "TVideoNavBar.Load - Bitmap loader not Assigned");
  skin_ = TRef<zm::TIniFile>(skin);
  folder_ = folder;
  zm::TIniFile& ini = *skin_;

  recommendedScale_ = float(ini.ReadFloat(u"Common", u"DefaultScale", 10.0));
  const WideString px = u"Pixel positions";
  ReadSize(ini, px, u"BarSize", width_, height_);
  trackHeight_ = ini.ReadInteger(px, u"TrackHeight", 0);
  ReadSize(ini, px, u"BtnSize", btnW_, btnH_);
  ReadSize(ini, px, u"DigitSize", digitW_, digitH_);
  volumeLength_ = ini.ReadInteger(px, u"VolumeControlLength", 0);
  leftSpace_ = ini.ReadInteger(px, u"LeftSpace", 0);
  buttonsTrackSpace_ = ini.ReadInteger(px, u"ButtonsTrackSpace", 0);
  trackDigitsSpace_ = ini.ReadInteger(px, u"TrackDigitsSpace", 0);
  digitsSoundSpace_ = ini.ReadInteger(px, u"DigitsSoundBtnSpace", 0);
  soundTrackSpace_ = ini.ReadInteger(px, u"SoundBtnTrackSpace", 0);
  rightSpace_ = ini.ReadInteger(px, u"RightSpace", 0);
  bgLeft_ = ini.ReadInteger(u"Common", u"BgLeft", 0);
  bgRight_ = ini.ReadInteger(u"Common", u"BgRight", 0);
  lineLeft_ = ini.ReadInteger(u"Common", u"TrackLineLeft", 0);
  lineRight_ = ini.ReadInteger(u"Common", u"TrackLineRight", 0);
  scale_ = 1.0f;

  TRef<TVideoNavBar> keep(this);  // the loader is the owner's code
  auto load = [&](const WideString& section, const WideString& key) -> TRef<zm::TBitmap> {
    const WideString name = ini.ReadString(section, key, u"");
    return OnLoadBitmap ? OnLoadBitmap(this, folder_ + name) : nullptr;
  };
  TRef<zm::TBitmap> pic = load(u"Common", u"flnm_back");
  zm::LoadNinePatch(back_, pic.get(), bgLeft_, 0, bgRight_, 0);
  pic = load(u"Trackbar", u"flnm_Line");
  zm::LoadNinePatch(line_, pic.get(), lineLeft_, 0, lineRight_, 0);
  pic = load(u"Trackbar", u"flnm_Polzun");
  zm::LoadNinePatch(knob_, pic.get(), 0, 0, 0, 0);
  // Without a knob picture the knob has no size: the track still seeks.
  knobW_ = pic && !pic->IsEmpty() ? pic->Width() : 0;
  knobH_ = pic && !pic->IsEmpty() ? pic->Height() : 0;
  const WideString stateKeys[3] = {u"flnm_Normal", u"flnm_Hover", u"flnm_Click"};
  for (std::int32_t s = 0; s < 3; ++s) {
    pic = load(u"Buttons", stateKeys[s]);
    cells_[s].assign(kCellCount, zm::TNinePatch{});
    for (std::int32_t c = 0; c < kCellCount; ++c) {
      const TRect cell = R(std::int64_t(c) * btnW_, 0, std::int64_t(c + 1) * btnW_, btnH_);
      zm::LoadNinePatchCell(cells_[s][std::size_t(c)], pic.get(), cell, 0, 0, 0, 0);
    }
  }
  pic = nullptr;
  if (disposed_) return;
  names_ = {u"backward", u"forward"};
}

std::int64_t TVideoNavBar::Scaled(std::int32_t v) const {
  return std::clamp<std::int64_t>(Nearest(double(v) * double(scale_)), -kMaxScaled, kMaxScaled);
}

TVideoNavLayout TVideoNavBar::Layout() const {
  TVideoNavLayout l;
  l.H = Scaled(height_);
  l.bw = Scaled(btnW_);
  l.bh = Scaled(btnH_);
  l.dw = Scaled(digitW_);
  l.dh = Scaled(digitH_);
  l.th = Scaled(trackHeight_);
  l.vl = Scaled(volumeLength_);
  l.kw = Scaled(knobW_);
  l.kh = Scaled(knobH_);
  const std::int64_t n = std::int64_t(buttons_.size());
  const std::int64_t W = width_;
  l.TS = l.bw * (n + 1) + leftSpace_ + buttonsTrackSpace_;
  l.VS = W - rightSpace_ - l.vl;
  l.VE = W - rightSpace_;
  l.DE = W - rightSpace_ - l.vl - soundTrackSpace_ - l.bw - digitsSoundSpace_;
  l.TE = l.DE - l.dw * (showHours_ ? 18 : 12);
  return l;
}

void TVideoNavBar::FitScale() {
  TVideoNavLayout l = Layout();
  tooNarrow_ = l.TS + l.kw >= l.TE;
  if (tooNarrow_) return;
  // Halve until the track keeps 100 pixels. When even a vanishing scale
  // cannot give that (the fixed spaces take the room), halving gains
  // nothing and the asked scale stays.
  const float asked = scale_;
  for (std::int32_t i = 0; i < 64; ++i) {
    if (l.TS + l.kw + 100 < l.TE) return;
    scale_ *= 0.5f;
    l = Layout();
  }
  scale_ = asked;
}

void TVideoNavBar::SetHeight(std::int32_t height) {
  const double s = double(height) / double(height_);
  if (!std::isfinite(s) || s <= 0 || !std::isfinite(float(s))) return;
  scale_ = float(s);
  FitScale();
}

void TVideoNavBar::SetScale(double scale) {
  if (!std::isfinite(scale) || scale <= 0 || !std::isfinite(float(scale)) || float(scale) <= 0) return;
  scale_ = float(scale);
  FitScale();
}

const TBtnState* TVideoNavBar::State(std::int32_t element) const {
  return element >= 0 && std::size_t(element) < states_.size() ? &states_[std::size_t(element)] : nullptr;
}

double TVideoNavBar::EffectivePosition() const {
  if (std::fabs(duration_) < kTinyDuration) return 0;
  const double k = std::trunc(position_ / duration_);
  return k > 0 ? position_ - k * duration_ : position_;
}

std::int64_t TVideoNavBar::ShownSecond() const {
  return std::max<std::int64_t>(0, TruncClamp(EffectivePosition() * 0.001));
}

std::int64_t TVideoNavBar::KnobCentre() const {
  const TVideoNavLayout l = Layout();
  if (std::fabs(duration_) < kTinyDuration || position_ < 0) return Half(l.kw) + l.TS;
  return Half(l.kw) + TruncClamp(double(l.TS) + double(l.TE - l.kw - l.TS) * EffectivePosition() / duration_);
}

std::int64_t TVideoNavBar::VolumeKnobCentre() const {
  const TVideoNavLayout l = Layout();
  if (volume_ >= 0 && volume_ <= 1) return Half(l.kw) + Nearest(double(l.VS) + double(l.VE - l.kw - l.VS) * volume_);
  return Half(l.kw) + l.VS;
}

double TVideoNavBar::PositionAt(std::int32_t x) const {
  const TVideoNavLayout l = Layout();
  const std::int64_t h = Half(l.kw), g = knobGrab_;
  const std::int64_t c = std::max(std::min((-h <= g && g <= h ? x - g : x), l.TE - h), l.TS + h);
  const std::int64_t length = l.TE - l.TS - l.kw;
  if (length <= 0) return 0;
  return double(c - l.TS - h) / double(length) * duration_;
}

bool TVideoNavBar::VolumeAt(std::int32_t x, double& volume) const {
  const TVideoNavLayout l = Layout();
  const std::int64_t h = Half(l.kw), g = volumeGrab_;
  const std::int64_t c = std::max(std::min((-h <= g && g <= h ? x - g : x), l.VE - h), l.VS + h);
  // A volume track no longer than its knob has no place to give a volume.
  const std::int64_t length = l.VE - l.VS - l.kw;
  if (length <= 0) return false;
  volume = std::min(1.0, std::max(0.0, double(c - l.VS - h) / double(length)));
  return true;
}

bool TVideoNavBar::OnExitButton(std::int32_t x, std::int32_t y, const TVideoNavLayout& l) const {
  const std::int64_t ew = exitBitmap_ ? exitBitmap_->Width() : l.H;
  const std::int64_t eh = exitBitmap_ ? exitBitmap_->Height() : l.H;
  const std::int64_t dx = x - Half(ew - l.bw), dy = y - Half(eh - l.bh);
  return 0 <= dx && dx <= l.bw && 0 <= dy && dy <= l.bh;
}

std::uint32_t TVideoNavBar::ResetStates(bool onlyClicked) {
  std::uint32_t flags = 0;
  for (std::size_t i = 0; i < states_.size(); ++i) {
    if (onlyClicked ? states_[i] == bs_Click : states_[i] != bs_Normal) flags |= ElementFlag(i);
    states_[i] = bs_Normal;
  }
  return flags;
}

void TVideoNavBar::SetButtons(std::span<const std::int32_t> codes) {
  if (tooNarrow_) return;
  TRef<TVideoNavBar> keep(this);
  TCustomNavBar::SetButtons(codes);
  states_.assign(buttons_.size() + 3, bs_Normal);
  if (OnGetDuration) {
    const double d = OnGetDuration();
    if (disposed_) return;
    // A duration the show cannot have counts as unknown.
    duration_ = std::isfinite(d) && d > 0 ? d : 0;
  }
  showHours_ = duration_ >= 3600000.0;
  Redraw(OnIsUpperHalf ? vrAll : vrBar);
}

void TVideoNavBar::MouseEvent(std::int32_t button, std::uint8_t, std::int32_t x, std::int32_t y,
                              std::int32_t kind) {
  // Before the buttons are set there is nothing to press.
  if (tooNarrow_ || disposed_ || states_.size() < 3) return;
  TRef<TVideoNavBar> keep(this);  // a callback may drop the owner's reference
  if (kind == nmDown && button == 1)
    Press(x, y);
  else if (kind == nmMove)
    Move(x, y);
  else if (kind == nmUp && button == 1)
    Release(x, y);
}

void TVideoNavBar::Seek(std::int32_t x, std::uint32_t& flags) {
  position_ = PositionAt(x);
  Fire(OnSeek, this, position_);
  flags |= vrTrack;
}

void TVideoNavBar::FollowVolume(std::int32_t x, std::uint32_t& flags) {
  double v = 0;
  if (!VolumeAt(x, v)) return;
  const bool wasZero = volume_ == 0;
  volume_ = v;
  Fire(OnSetVolume, this, v);
  if (wasZero != (v == 0)) flags |= vrSound;
  flags |= vrVolume;
}

void TVideoNavBar::Press(std::int32_t x, std::int32_t y) {
  const TVideoNavLayout l = Layout();
  std::uint32_t flags = ResetStates(false);
  if (UpperHalf()) {
    if (OnExitButton(x, y, l)) {
      states_[veExit] = bs_Click;
      Fire(OnClick, this, kNavClickExit);
      flags |= vrExit;
    }
    Redraw(flags);
    return;
  }
  if (Half(l.H - l.th) <= y && y <= Half(l.H + l.th)) {
    if (l.TS <= x && x <= l.TE) {
      const std::int64_t kc = KnobCentre();
      draggingKnob_ = true;
      pausedBefore_ = paused_;
      paused_ = true;
      knobGrab_ = C32(x - kc);
      if (!pausedBefore_) {
        Fire(OnClick, this, kNavClickPlayPause);
        if (disposed_) return;
        flags |= vrPlayPause;
      }
    }
    if (l.VS <= x && x <= l.VE) {
      volumeGrab_ = C32(x - VolumeKnobCentre());
      draggingVolume_ = true;
      return;
    }
  }
  if (Half(l.H - l.bh) <= y && y <= Half(l.bh + l.H)) {
    const std::int64_t sound = l.DE + digitsSoundSpace_;
    if (leftSpace_ <= x && x < leftSpace_ + l.bw) {
      states_[vePlayPause] = bs_Click;
      paused_ = !paused_;
      Fire(OnClick, this, kNavClickPlayPause);
      flags |= vrPlayPause;
    } else if (sound <= x && x < sound + l.bw) {
      states_[veSound] = bs_Click;
      if (volume_ == 0) {
        // A volume never set (or out of range) comes back full.
        volume_ = savedVolume_ > 0 && savedVolume_ <= 1 ? savedVolume_ : 1.0;
      } else {
        savedVolume_ = volume_;
        volume_ = 0;
      }
      Fire(OnSetVolume, this, volume_);
      flags |= vrSound | vrVolume;
    } else if (leftSpace_ + l.bw <= x && x < l.TS - buttonsTrackSpace_) {
      const std::int64_t index = (x - leftSpace_) / l.bw + 2;
      ZM_ASSERT(index >= veFirstButton && std::size_t(index) < states_.size(),
                "TVideoNavBar.MouseDown - Invalid button index " + std::to_string(index));
      states_[std::size_t(index)] = bs_Click;
      Fire(OnClick, this, std::int32_t(index - veFirstButton));
      flags |= vrButtons;
    }
  }
  if (disposed_) return;
  Redraw(flags);
}

void TVideoNavBar::Move(std::int32_t x, std::int32_t y) {
  if (std::find(states_.begin(), states_.end(), bs_Click) != states_.end()) return;
  const TVideoNavLayout l = Layout();
  std::uint32_t flags = ResetStates(false);
  if (draggingKnob_ && l.TS <= x && x <= l.TE) {
    Seek(x, flags);
    if (disposed_) return;
  }
  if (draggingVolume_ && l.VS <= x && x <= l.VE) {
    FollowVolume(x, flags);
    if (disposed_) return;
  }
  if (UpperHalf()) {
    if (OnExitButton(x, y, l)) {
      states_[veExit] = bs_Hover;
      flags |= vrExit;
    }
  } else if (Half(l.H - l.bh) <= y && y <= Half(l.bh + l.H) && !draggingKnob_ && !draggingVolume_) {
    const std::int64_t sound = l.DE + digitsSoundSpace_;
    if (leftSpace_ <= x && x < leftSpace_ + l.bw) {
      states_[vePlayPause] = bs_Hover;
      flags |= vrPlayPause;
    } else if (sound <= x && x < sound + l.bw) {
      states_[veSound] = bs_Hover;
      flags |= vrSound;
    } else if (leftSpace_ + l.bw <= x && x < l.TS - buttonsTrackSpace_) {
      const std::int64_t index = (x - leftSpace_) / l.bw + 2;
      if (index >= veFirstButton && std::size_t(index) < states_.size()) {
        states_[std::size_t(index)] = bs_Hover;
        flags |= vrButtons;
      }
    }
  }
  if (disposed_) return;
  Redraw(flags);
}

void TVideoNavBar::Release(std::int32_t x, std::int32_t y) {
  const TVideoNavLayout l = Layout();
  std::uint32_t flags = ResetStates(true);
  const bool onBar = !UpperHalf();
  if (draggingKnob_) {
    paused_ = pausedBefore_;
    if (!paused_) Fire(OnClick, this, kNavClickPlayPause);
    if (disposed_) return;
    flags |= vrPlayPause;
  }
  const bool inTrack = Half(l.H - l.th) <= y && y <= Half(l.H + l.th) && onBar;
  if ((inTrack || draggingKnob_) && l.TS <= x && x <= l.TE) {
    Seek(x, flags);
    if (disposed_) return;
  }
  if ((inTrack || draggingVolume_) && l.VS <= x && x <= l.VE) {
    FollowVolume(x, flags);
    if (disposed_) return;
  }
  Redraw(flags);
  draggingKnob_ = draggingVolume_ = false;
  // A later release on the track without a drag takes the pointer as it is.
  knobGrab_ = volumeGrab_ = 0;
}

void TVideoNavBar::UpdatePlayState(double time) {
  if (tooNarrow_ || disposed_ || !std::isfinite(time)) return;
  TRef<TVideoNavBar> keep(this);
  const bool wasPaused = paused_;
  if (OnIsPlaying) paused_ = !OnIsPlaying();
  if (disposed_ || (time == position_ && paused_ == wasPaused) || draggingKnob_) return;
  const std::int64_t knob = KnobCentre(), second = TruncClamp(0.001 * position_);
  position_ = time;
  std::uint32_t flags = 0;
  if (KnobCentre() != knob || TruncClamp(0.001 * position_) != second) flags |= vrTrack;
  if (paused_ != wasPaused) flags |= vrPlayPause;
  Redraw(flags);
}

void TVideoNavBar::SetVolume(double volume) {
  if (tooNarrow_ || disposed_ || std::isnan(volume) || volume == volume_ || draggingVolume_) return;
  TRef<TVideoNavBar> keep(this);
  const bool wasZero = volume_ == 0, nowZero = volume == 0;
  std::uint32_t flags = wasZero != nowZero ? vrSound : 0;
  const std::int64_t vc = VolumeKnobCentre();
  volume_ = volume;
  if (VolumeKnobCentre() != vc) flags = wasZero == nowZero ? vrVolume : vrSound | vrVolume;
  Redraw(flags);
}

// ---- Drawing -------------------------------------------------------------------------

void TVideoNavBar::RestoreBackground(std::int64_t x1, std::int64_t x2, const TVideoNavLayout& l) {
  TSysBitmap* bar = bitmap_.get();
  if (!bar) return;
  if (!backCache_) {
    backCache_ = NewPicture(bar->Width(), bar->Height());
    if (!backCache_) return;
    zm::DrawNinePatch(backCache_.get(), TRect{0, 0, bar->Width(), bar->Height()}, back_);
  }
  x1 = std::max<std::int64_t>(x1, 0);
  x2 = std::min<std::int64_t>(x2, bar->Width());
  const std::int64_t h = std::min<std::int64_t>(l.H, bar->Height());
  if (x2 <= x1 || h <= 0) return;
  bar->CopyRect(R(x1, 0, x2, h), backCache_.get(), zm::pmNone, zm::TPoint{C32(x1), 0});
}

void TVideoNavBar::DrawCell(std::int32_t cell, TBtnState state, std::int64_t x, const TVideoNavLayout& l) {
  if (state > bs_Click || cell < 0 || cell >= kCellCount || cells_[state].size() != std::size_t(kCellCount)) return;
  const std::int64_t y = Half(l.H - l.bh);
  zm::DrawNinePatch(bitmap_.get(), R(x, y, x + l.bw, y + l.bh), cells_[state][std::size_t(cell)]);
}

void TVideoNavBar::DrawTrack(const TVideoNavLayout& l) {
  const std::int64_t kc = KnobCentre();
  if (kc == lastKnob_ && trackCache_) return;
  RestoreBackground(l.TS, l.TE, l);
  if (!trackCache_) {
    trackCache_ = NewPicture(l.TE - l.TS, l.th);
    if (trackCache_)
      zm::DrawNinePatch(trackCache_.get(), TRect{0, 0, trackCache_->Width(), trackCache_->Height()}, line_);
  }
  Blend(bitmap_.get(), trackCache_.get(), l.TS, Half(l.H - l.th));
  const std::int64_t kx = kc - Half(l.kw), ky = Half(l.H - l.kh);
  zm::DrawNinePatch(bitmap_.get(), R(kx, ky, kx + l.kw, ky + l.kh), knob_);
  lastKnob_ = kc;
}

void TVideoNavBar::MakeGlyphs(const TVideoNavLayout& l) {
  static const char16_t* const kTexts[12] = {u"0", u"1", u"2", u"3", u"4", u"5",
                                             u"6", u"7", u"8", u"9", u":", u" / "};
  glyphs_.assign(12, nullptr);
  const zm::TFontParams font = zm::GetDefaultFontParams();
  for (std::size_t i = 0; i < 12; ++i) {
    TRef<zm::TStringList> lines = zm::MakeRef<zm::TStringList>();
    lines->Add(kTexts[i]);
    TRef<zm::TVectorText> text = zm::CreateVectorText(font, *lines);
    if (!text) continue;  // no vectoriser: the time is left out
    const zm::TSize size = text->GetSize(1.0);
    ZM_ASSERT(size.cy > 0, "TVideoNavBar - digit text has no height");
    producer_->SetText(text.Detach(), true);
    TRef<zm::TDirectBitmap> pic = producer_->Render(zm::TColor32::FromValue(0xFFFFFFFF),
                                                    zm::TColor32::FromValue(0x00FFFFFF), double(l.dh) / size.cy);
    if (!pic || pic->IsEmpty()) continue;
    TRef<TSysBitmap> glyph = zm::CreateSysBitmap(pic->Width(), pic->Height(), zm::pfA8R8G8B8);
    if (!glyph) continue;
    glyph->CopyRect(TRect{0, 0, pic->Width(), pic->Height()}, pic.get(), zm::pmNone, zm::TPoint{0, 0});
    glyphs_[i] = glyph;
  }
  producer_->SetText(nullptr, false);
}

WideString TVideoNavBar::TimeText() const {
  WideString s;
  auto two = [&](std::int64_t v) {
    s += char16_t(u'0' + v / 10);
    s += char16_t(u'0' + v % 10);
  };
  auto time = [&](std::int64_t t) {
    if (showHours_) {
      two((t / 3600) % 100);
      s += u':';
    }
    two((t / 60) % 60);
    s += u':';
    two(t % 60);
  };
  time(ShownSecond());
  s += u" / ";
  time(std::max<std::int64_t>(0, TruncClamp(duration_ * 0.001)));
  return s;
}

void TVideoNavBar::DrawDigits(const TVideoNavLayout& l) {
  const std::int64_t shown = ShownSecond();
  if (shown == lastSecond_ && !glyphs_.empty()) return;
  RestoreBackground(l.TE, l.DE + digitsSoundSpace_, l);
  if (glyphs_.empty()) MakeGlyphs(l);

  std::vector<std::size_t> seq;
  for (char16_t c : TimeText()) {
    if (c >= u'0' && c <= u'9')
      seq.push_back(std::size_t(c - u'0'));
    else if (c == u':')
      seq.push_back(10);
    else if (c == u'/')
      seq.push_back(11);
  }

  std::int64_t width = 0;
  for (std::size_t g : seq)
    if (glyphs_[g]) width += glyphs_[g]->Width();
  const std::int64_t start = l.TE + trackDigitsSpace_;
  std::int64_t x = start + Half((l.DE - width) - start);
  const std::int64_t y = Half(l.H - l.dh);
  for (std::size_t g : seq) {
    TSysBitmap* glyph = glyphs_[g].get();
    if (!glyph) continue;
    Blend(bitmap_.get(), glyph, x, y);
    x += glyph->Width();
  }
  lastSecond_ = shown;
}

void TVideoNavBar::DrawVolume(const TVideoNavLayout& l) {
  RestoreBackground(l.VS, l.VE, l);
  const std::int64_t y = Half(l.H - l.th);
  zm::DrawNinePatch(bitmap_.get(), R(l.VS, y, l.VE, y + l.th), line_);
  const std::int64_t kx = VolumeKnobCentre() - Half(l.kw), ky = Half(l.H - l.kh);
  zm::DrawNinePatch(bitmap_.get(), R(kx, ky, kx + l.kw, ky + l.kh), knob_);
}

void TVideoNavBar::DrawExit(const TVideoNavLayout& l) {
  if (!exitBitmap_) exitBitmap_ = NewPicture(l.H, l.H);
  TSysBitmap* exit = exitBitmap_.get();
  if (!exit) return;
  exit->FillRect(TRect{0, 0, exit->Width(), exit->Height()}, zm::TColor32{});
  const TBtnState state = states_.size() > std::size_t(veExit) ? states_[veExit] : bs_Normal;
  if (state > bs_Click || cells_[state].size() != std::size_t(kCellCount)) return;
  const std::int64_t x = Half(l.H - l.bw), y = Half(l.H - l.bh);
  zm::DrawNinePatch(exit, R(x, y, x + l.bw, y + l.bh), cells_[state][kExitCell]);
}

void TVideoNavBar::Redraw(std::uint32_t flags) {
  if (flags == 0 || disposed_) return;
  const TVideoNavLayout l = Layout();
  if (!bitmap_) {
    // A width or height no picture can have leaves the bar undrawn.
    bitmap_ = NewPicture(width_, l.H);
    if (!bitmap_) return;
    RestoreBackground(0, width_, l);
  }
  auto state = [&](std::size_t element) { return element < states_.size() ? states_[element] : bs_Normal; };
  const std::int64_t L = leftSpace_;
  const std::int64_t n = std::int64_t(buttons_.size());
  if (flags & vrPlayPause) {
    RestoreBackground(L, L + l.bw, l);
    const bool playing = draggingKnob_ ? !pausedBefore_ : !paused_;
    DrawCell(playing ? 1 : 0, state(vePlayPause), L, l);
  }
  if (flags & vrButtons) {
    RestoreBackground(L + l.bw, L + l.bw * (n + 1), l);
    for (std::int64_t i = 0; i < n; ++i) {
      const std::int32_t code = buttons_[std::size_t(i)];
      // Only backward and forward have a look of their own.
      if (code < 0 || code > 1) continue;
      DrawCell(code + 4, state(std::size_t(veFirstButton + i)), L + l.bw * (i + 1), l);
    }
  }
  if (flags & vrTrack) {
    DrawTrack(l);
    DrawDigits(l);
  }
  if (flags & vrSound) {
    const std::int64_t x = l.DE + digitsSoundSpace_;
    RestoreBackground(x, x + l.bw, l);
    DrawCell(volume_ == 0 ? 3 : 2, state(veSound), x, l);
  }
  if (flags & vrVolume) DrawVolume(l);
  if (flags & vrExit) DrawExit(l);

  TRef<TVideoNavBar> keep(this);
  Fire(OnChange, this, TRect{0, 0, bitmap_->Width(), bitmap_->Height()});
  if (disposed_) return;
  if ((flags & vrExit) && exitBitmap_)
    Fire(OnExitChange, this, TRect{0, 0, exitBitmap_->Width(), exitBitmap_->Height()});
}

// ---- Module --------------------------------------------------------------------------

void InitVideoNavBar() {
  if (gInitCount++ > 0) return;
  gVideoNavBarHook.Install(CreateNavBarHook, &MakeVideoNavBar);
}

void FiniVideoNavBar() {
  if (gInitCount <= 0 || --gInitCount > 0) return;
  gVideoNavBarHook.Restore();
}

}  // namespace oru
