#pragma once
// TVideoNavBar: the playback bar of a video show. From left to right a
// play/pause button, the show's own buttons, a seek track with its knob, the
// elapsed and total time, a sound (mute) button and a volume track. Drawn
// from a skin of nine-patch pictures; the spaces between the parts are fixed
// pixels while every skin size is multiplied by the scale. With the owner's
// upper-half query a second, square picture carries an exit button.
//
// Clicks report the show's button index, -1 for play/pause (also when a
// knob drag starts and ends on a playing show) and -2 for exit.
#include <cstdint>
#include <vector>

#include "OruLib2/NavPanel/CustomNavBar.h"
#include "ZmLib/Graphics/zmNinePatchUtils.h"
#include "ZmLib/VectorGraphics/zmTextProducer.h"

namespace oru {

using TBtnState = std::uint8_t;
constexpr TBtnState bs_Normal = 0;
constexpr TBtnState bs_Hover = 1;
constexpr TBtnState bs_Click = 2;

// Redraw flags.
constexpr std::uint32_t vrPlayPause = 1;
constexpr std::uint32_t vrButtons = 2;
constexpr std::uint32_t vrTrack = 4;  // track, knob and time digits
constexpr std::uint32_t vrSound = 8;
constexpr std::uint32_t vrVolume = 16;
constexpr std::uint32_t vrExit = 32;
constexpr std::uint32_t vrBar = 31;
constexpr std::uint32_t vrAll = 63;

// Element indexes of the state array; show's button i is 3 + i.
constexpr std::int32_t vePlayPause = 0;
constexpr std::int32_t veSound = 1;
constexpr std::int32_t veExit = 2;
constexpr std::int32_t veFirstButton = 3;

// The layout at the current scale and width (pixels).
struct TVideoNavLayout {
  std::int64_t H = 0, bw = 0, bh = 0, dw = 0, dh = 0, th = 0, vl = 0, kw = 0, kh = 0;
  std::int64_t TS = 0, TE = 0, VS = 0, VE = 0, DE = 0;
};

class TVideoNavBar : public TCustomNavBar {
public:
  TVideoNavBar();
  void Dispose() override;

  // Discards what a previous Load built, then reads the skin and loads its
  // pictures through OnLoadBitmap (required). Folder must end with "/" or
  // "\". A nil skin leaves the bar empty.
  void Load(zm::TIniFile* skin, const zm::WideString& folder) override;
  // Codes index AvailableActions(): 0 backward, 1 forward.
  void SetButtons(std::span<const std::int32_t> codes) override;
  using TCustomNavBar::SetButtons;
  void MouseEvent(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                  std::int32_t kind) override;
  // Time in milliseconds; a time that is not a number is ignored.
  void UpdatePlayState(double time) override;
  // 0 silent, 1 full; not a number is ignored.
  void SetVolume(double volume) override;
  void SetContainerWidth(std::int32_t width) override { width_ = width; }
  // A height (or scale) that gives no positive, finite scale is ignored.
  void SetHeight(std::int32_t height) override;
  void SetScale(double scale) override;

  const std::vector<zm::WideString>& AvailableActions() const override { return names_; }
  TVideoNavLayout Layout() const;
  float Scale() const { return scale_; }
  bool TooNarrow() const { return tooNarrow_; }
  double Position() const { return position_; }
  double Duration() const { return duration_; }
  double Volume() const { return volume_; }
  bool Paused() const { return paused_; }
  bool ShowHours() const { return showHours_; }
  // Nil out of range.
  const TBtnState* State(std::int32_t element) const;
  // Knob centres as the next redraw would place them.
  std::int64_t KnobCentre() const;
  std::int64_t VolumeKnobCentre() const;
  // The time the digits show: "mm:ss / mm:ss", or "hh:mm:ss / hh:mm:ss".
  zm::WideString TimeText() const;

private:
  void Discard();
  void FitScale();
  std::int64_t Scaled(std::int32_t v) const;
  double EffectivePosition() const;
  std::int64_t ShownSecond() const;
  double PositionAt(std::int32_t x) const;
  bool VolumeAt(std::int32_t x, double& volume) const;
  bool OnExitButton(std::int32_t x, std::int32_t y, const TVideoNavLayout& l) const;
  std::uint32_t ResetStates(bool onlyClicked);
  bool UpperHalf() const { return OnIsUpperHalf && OnIsUpperHalf(); }
  void Seek(std::int32_t x, std::uint32_t& flags);
  void FollowVolume(std::int32_t x, std::uint32_t& flags);

  void Press(std::int32_t x, std::int32_t y);
  void Move(std::int32_t x, std::int32_t y);
  void Release(std::int32_t x, std::int32_t y);

  void Redraw(std::uint32_t flags);
  void RestoreBackground(std::int64_t x1, std::int64_t x2, const TVideoNavLayout& l);
  void DrawCell(std::int32_t cell, TBtnState state, std::int64_t x, const TVideoNavLayout& l);
  void DrawTrack(const TVideoNavLayout& l);
  void DrawDigits(const TVideoNavLayout& l);
  void DrawVolume(const TVideoNavLayout& l);
  void DrawExit(const TVideoNavLayout& l);
  void MakeGlyphs(const TVideoNavLayout& l);

  zm::TRef<zm::TIniFile> skin_;
  zm::WideString folder_;
  std::int32_t width_ = 0, height_ = 0;
  float scale_ = 1.0f;
  std::int32_t btnW_ = 0, btnH_ = 0, digitW_ = 0, digitH_ = 0;
  std::int32_t trackHeight_ = 0, volumeLength_ = 0;
  std::int32_t knobW_ = 0, knobH_ = 0;
  std::int32_t leftSpace_ = 0, buttonsTrackSpace_ = 0, trackDigitsSpace_ = 0, digitsSoundSpace_ = 0,
               soundTrackSpace_ = 0, rightSpace_ = 0;
  std::int32_t lineLeft_ = 0, lineRight_ = 0, bgLeft_ = 0, bgRight_ = 0;
  double position_ = -1, duration_ = 0, volume_ = -1, savedVolume_ = 0;
  bool draggingKnob_ = false, draggingVolume_ = false;
  std::int32_t knobGrab_ = 0, volumeGrab_ = 0;
  std::vector<TBtnState> states_;
  bool paused_ = false, pausedBefore_ = false, showHours_ = false;
  std::int64_t lastKnob_ = 0, lastSecond_ = 0;
  zm::TRef<zm::TTextProducer> producer_;
  zm::TNinePatch line_, back_, knob_;
  std::vector<zm::TNinePatch> cells_[3];  // by state, 7 each
  zm::TRef<zm::TSysBitmap> backCache_, trackCache_;
  std::vector<zm::TRef<zm::TSysBitmap>> glyphs_;  // 12 once made
  bool tooNarrow_ = false;
  bool disposed_ = false;
  std::vector<zm::WideString> names_;
};

// Module start and end: the "video" kind in CreateNavBarHook.
void InitVideoNavBar();
void FiniVideoNavBar();

}  // namespace oru
