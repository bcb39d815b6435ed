#pragma once
// The one draw item of a frame. Before every frame the engine hands it the
// prepared slides and the overlay; it picks what is visible at the show time
// (the current slide, during a transition also the previous one and the
// transition), brings those slides to their time, notes whether anything
// changed, and draws the slides, the optional sharpening, the overlay last,
// and the bands outside the slide when there is no overlay.
//
// Only the engine thread updates and draws it.
#include <cstdint>
#include <vector>

// The drawer's filter parameters are declarations only: nothing of the 3D
// engine is linked for them.
#include "OruLib2/3DEngine/OruFilter.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"

namespace oru {

class TDrawContainer;

// Lets the transition's filter reset after a frame. The filter classes live
// with the 3D engine, which fills the hook; empty, filters are not reset.
using TResetTransitionFilterProc = void (*)(TOruFilter* filter, zm::TDeviceDrawer& drawer);
extern TResetTransitionFilterProc ResetTransitionFilterHook;

class TRootItem : public zm::TDrawItem {
public:
  // The engine makes it with FillOutside true.
  static zm::TRef<TRootItem> Create(bool fillOutside);
  explicit TRootItem(bool fillOutside) : fillOutside_(fillOutside) {}

  void Dispose() override;
  bool IsChanged() override;
  // Resets every item of the draw list, then the transition filter.
  void Reset(zm::TDeviceDrawer& drawer) override;
  void Draw(zm::TDeviceDrawer& drawer) override;

  // Rebuilds the draw list from the prepared slides (nil entries are
  // skipped) and the overlay (may be nil); false when nothing is visible.
  // A slide counts as shown from its Start to its VisibleUntil: the
  // previous slide stays while the current one's transition runs.
  bool Update(TDrawContainer* const* slides, std::int32_t count, zm::TDrawItem* overlay);
  bool Update(const zm::TRef<TDrawContainer>* slides, std::int32_t count, zm::TDrawItem* overlay);
  // The bands outside the visible rect in OutsideColour, when made with
  // FillOutside.
  void FillOutside(zm::TDeviceDrawer& drawer);

  // Set by the engine before each frame: the colour of the area outside
  // the slide as FillOutsideVisible takes it (0xRRGGBB) and the unsharp
  // amount (0 or less: none).
  std::uint32_t OutsideColour = 0;
  float SharpenAmount = 0;

  // What the last Update chose, for the engine and tests.
  const std::vector<zm::TDrawItem*>& DrawList() const { return drawList_; }
  TOruFilter* Filter() const { return filter_.get(); }
  double FilterProgress() const { return progress_; }
  bool HasTransition() const { return transition_; }
  bool FillsOutside() const { return fillOutside_; }

private:
  void SetItem(std::size_t index, zm::TDrawItem* item);
  void SetFilter(TOruFilter* filter);

  // The slides are held until the next Update, so that a slide list freed
  // between Update and Draw cannot leave them dangling, and a new slide
  // made at a freed one's address still counts as a change. The overlay is
  // not held: it holds the root item.
  std::vector<zm::TDrawItem*> drawList_;
  std::vector<zm::TRef<zm::TRefObject>> held_;
  std::vector<zm::TDrawItem*> previousList_;  // the list before the last Update
  std::vector<zm::TRef<zm::TRefObject>> previousHeld_;
  bool fillOutside_ = false;
  zm::TRef<TOruFilter> filter_;
  double progress_ = 0;
  bool transition_ = false;
};

}  // namespace oru
