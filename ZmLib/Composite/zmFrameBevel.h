#pragma once
// Bevels: frame controls that draw a border (a line, a sunken edge or an
// etched groove) on chosen sides, alone or wrapped around another control.
// A wrapped control is followed: when it moves or changes size the bevel
// moves and sizes itself around it, and when the bevel is resized the
// control is fitted into its client area. The control and the bevel share
// a parent. TDefFrameBevel has no border; the themed bevels derive from
// TFrameBevel and draw through their theme. UI thread only.
#include <cstdint>

#include "ZmLib/Composite/zmStdFrameControls.h"

namespace zm {

// Edge bits.
constexpr std::uint8_t beLeft = 1;
constexpr std::uint8_t beTop = 2;
constexpr std::uint8_t beRight = 4;
constexpr std::uint8_t beBottom = 8;
constexpr std::uint8_t beAll = 15;
// Styles; 0 takes the theme's default.
constexpr std::uint8_t bsDefault = 0;
constexpr std::uint8_t bsFlat = 1;
constexpr std::uint8_t bsSunken = 2;
constexpr std::uint8_t bsEtched = 3;

class TFrameBevel : public TStdFrameControl {
public:
  explicit TFrameBevel(TFrameControl* parent, TControlStyles* styles = nullptr);
  void Dispose() override;
  void HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) override;
  void AfterResize() override;
  // Never while mouse transparent (the default).
  bool HitTest(std::int32_t x, std::int32_t y) override;

  virtual std::uint8_t GetEdges() = 0;
  virtual void SetEdges(std::uint8_t edges) = 0;
  // The area inside the border for a bevel of Size.
  virtual void ClientRect(const TSize& size, TRect& rect) = 0;
  // The bevel size around Inner and where the inside starts.
  virtual void OuterSize(const TSize& inner, TPoint& offset, TSize& size) = 0;
  virtual void SetNoFill(bool on);
  virtual void SetStyle(std::uint8_t style);
  // (0, 0, width, height).
  virtual TRect WholeRect();

  // Wraps Control (nil: none; not owned). With auto size the bevel takes
  // its size plus the border and fits it inside.
  void SetControl(TFrameControl* control);
  TFrameControl* Control() const { return control_; }
  void SetAutoSize(bool on);
  bool AutoSize() const { return autoSize_; }
  bool Follow = false;
  bool MouseTransparent = true;
  std::uint8_t Style() const { return style_; }
  bool NoFill() const { return noFill_; }

protected:
  // Moves and sizes the control into the client area.
  void FitControl();

private:
  static constexpr std::int32_t kControlEvent = 1000;  // subscription codes: kControlEvent + tag
  void Unwrap();
  void ControlResized();
  void ControlMoved();
  TFrameControl* control_ = nullptr;
  bool autoSize_ = false;
  std::int32_t updateCount_ = 0;
  bool busy_ = false;
  std::uint8_t style_ = bsDefault;
  bool noFill_ = false;
  bool sizeLock_ = false;
};

// No border: the client rectangle is the whole bevel.
class TDefFrameBevel : public TFrameBevel {
public:
  using TFrameBevel::TFrameBevel;
  std::uint8_t GetEdges() override { return edges_; }
  void SetEdges(std::uint8_t edges) override { edges_ = edges; }
  void ClientRect(const TSize& size, TRect& rect) override;
  void OuterSize(const TSize& inner, TPoint& offset, TSize& size) override;

private:
  std::uint8_t edges_ = 0;
};

using TAllocFrameBevelProc = TFrameBevel* (*)(TFrameControl* parent);
// The default bevel until a themed unit installs its factory.
extern TAllocFrameBevelProc AllocFrameBevel;
TFrameBevel* AllocDefFrameBevel(TFrameControl* parent);

void InitFrameBevel();
void FiniFrameBevel();

}  // namespace zm
