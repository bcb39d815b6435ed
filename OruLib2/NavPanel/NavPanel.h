#pragma once
// TNavPanel: puts a navigation bar over the show. It opens the skin the show
// names, gets a bar of the kind the skin asks for through CreateNavBarHook,
// keeps the bar's pictures as image items of the overlay, maps pointer
// events from the overlay's coordinates into the bar's picture and turns a
// button click into an action record for the engine.
//
// The two placement helpers are shared with the overlay's logo. Positions
// and anchors are percent: position -100 is the container's left (top)
// edge, 0 its centre, 100 its right (bottom) edge; anchor -100 puts the
// rectangle's left (top) edge at the position, 0 its centre, 100 its right
// (bottom) edge. Rectangles have exclusive right and bottom edges.
#include <cstdint>
#include <functional>
#include <vector>

#include "OruLib2/NavPanel/CustomNavBar.h"
#include "OruLib2/OruClasses/OruActions.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmRectUtils.h"

namespace oru {

// Named positions of AnchorFromPosition.
constexpr std::int32_t npLeftTop = 0;
constexpr std::int32_t npTop = 1;
constexpr std::int32_t npRightTop = 2;
constexpr std::int32_t npRight = 3;
constexpr std::int32_t npRightBottom = 4;
constexpr std::int32_t npBottom = 5;
constexpr std::int32_t npLeftBottom = 6;
constexpr std::int32_t npLeft = 7;
constexpr std::int32_t npCenter = 8;

// The action code of a pointer event that only lies on the panel.
constexpr std::uint8_t acOverPanel = 20;

struct TPercentPlacement {
  zm::TFloatPoint Position;
  zm::TFloatPoint Anchor;
  friend bool operator==(const TPercentPlacement&, const TPercentPlacement&) = default;
};

// Position and anchor of a named position; Offset (percent) moves the
// rectangle in from the edges it touches. Unknown kinds are the centre.
TPercentPlacement AnchorFromPosition(std::int32_t kind, float offset);
// The kind of "Left-Top", "Top", ... "Center", letter case ignored; any
// other text is the centre.
std::int32_t PositionKindFromName(const WideString& name);
// A Width x Height rectangle placed in Container; halves round to even.
zm::TRect PlaceRectByPercent(const zm::TFloatPoint& position, const zm::TFloatPoint& anchor,
                             const zm::TRect& container, std::int32_t width, std::int32_t height);

class TNavPanel;
// A picture of the panel changed: the overlay shows Image (the panel keeps
// its own reference) in Rect. Index is the overlay's item index of that
// picture, -1 until the overlay has added the item.
using TNavPictureEvent = std::function<void(TNavPanel* panel, zm::TImage* image, const zm::TImageDrawParams& params,
                                            std::int32_t& index, const zm::TRect& rect)>;

class TNavPanel : public zm::TRefObject {
public:
  TNavPanel() = default;
  void Dispose() override;

  // View scale: the bar's height in percent of the container's height.
  void SetPlacement(float viewScale, const zm::TFloatPoint& position, const zm::TFloatPoint& anchor,
                    const zm::TRect& container);
  // Builds the bar from the skin file of the show (a name for the file
  // access; "\" separates its folder). No file access is an assertion. A
  // skin that cannot be opened, or no bar module, leaves the panel without
  // a bar. Exceptions of the bar's loading pass on, and the bar is dropped.
  void Open(const WideString& skinFileName, bool useVideoScale, bool videoExit, double volume, double showLength);

  // Pointer events in the overlay's coordinates; Action becomes the
  // panel's record: empty, a button's action, or acOverPanel.
  void MouseDown(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y, TOruActionInfo& action) {
    PointerEvent(nmDown, button, shift, x, y, action);
  }
  // Moves reach the bar as button 1 whatever Button is.
  void MouseMove(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y, TOruActionInfo& action) {
    PointerEvent(nmMove, button, shift, x, y, action);
  }
  void MouseUp(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y, TOruActionInfo& action) {
    PointerEvent(nmUp, button, shift, x, y, action);
  }
  // The show time in milliseconds, on every overlay tick.
  void Tick(double time);
  // Whether the last pointer event went to the exit part.
  bool IsUpperHalf() const { return upperHalf_; }

  // Set by the overlay before Open; handed to the bar.
  std::vector<WideString> ButtonNames;
  bool ShowBackground = false;
  std::int32_t Hue = 0;
  TNavBarQueryBool OnIsPlaying;
  TNavBarValueEvent OnSeek;
  TNavBarValueEvent OnSetVolume;
  TNavPictureEvent OnBarPictureChanged;
  TNavPictureEvent OnExitPictureChanged;
  void SetFileAccess(TFileAccessor* access) { fileAccess_ = zm::TRef<TFileAccessor>(access); }
  TFileAccessor* FileAccess() const { return fileAccess_.get(); }

  TCustomNavBar* Bar() const { return bar_.get(); }
  bool VideoStyle() const { return videoStyle_; }
  bool Placed() const { return placed_; }
  bool OverPanel() const { return overPanel_; }
  bool PressedOnBar() const { return pressedOnBar_; }
  const zm::TRect& BarRect() const { return barRect_; }
  const zm::TRect& ExitRect() const { return exitRect_; }
  std::int32_t BarIndex() const { return barIndex_; }
  std::int32_t ExitIndex() const { return exitIndex_; }
  zm::TImage* BarImage() const { return barImage_.get(); }
  zm::TImage* ExitImage() const { return exitImage_.get(); }
  double ShowLength() const { return showLength_; }

private:
  void ReleaseBar();
  zm::TRef<zm::TBitmap> LoadTexture(const WideString& path);
  void BarPictureChanged();
  void ExitPictureChanged();
  void Click(std::int32_t index);
  bool OnPanel(std::int32_t x, std::int32_t y) const;
  bool UpperHalfTest(std::int32_t y);
  void Forward(std::int32_t kind, std::uint8_t shift, std::int32_t x, std::int32_t y);
  void PointerEvent(std::int32_t kind, std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                    TOruActionInfo& action);

  zm::TRef<zm::TImage> barImage_, exitImage_;
  std::int32_t barIndex_ = -1, exitIndex_ = -1;
  zm::TRef<TCustomNavBar> bar_;
  zm::TRect barRect_, exitRect_;
  float viewScale_ = 0.0f;
  zm::TFloatPoint position_, anchor_;
  zm::TRect container_;
  bool placed_ = false;
  bool pressedOnBar_ = false, overPanel_ = false, upperHalf_ = false;
  TOruActionInfo action_;
  bool videoStyle_ = false;
  bool hasExitPart_ = false;
  zm::TRef<TFileAccessor> fileAccess_;
  double showLength_ = 0.0;
};

}  // namespace oru
