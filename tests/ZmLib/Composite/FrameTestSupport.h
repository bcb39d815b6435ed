#pragma once
// A coloured box control that records what reaches it.
#include <functional>
#include <vector>

#include "ZmLib/Composite/zmFrameControls.h"

namespace frametest {

class TBox : public zm::TFrameControl {
public:
  using zm::TFrameControl::TFrameControl;
  zm::TColor32 Color{0, 0, 255, 255};  // red
  int Paints = 0, Leaves = 0, Refreshes = 0;
  std::vector<zm::TMouseData> Events;
  std::function<void(zm::TMouseData&)> OnMouse;
  std::function<void()> OnRefresh;
  void Paint(zm::TDrawSurface* s) override {
    ++Paints;
    s->FillRect({0, 0, Width(), Height()}, Color);
  }
  void MouseEvent(zm::TMouseData& m) override {
    Events.push_back(m);
    if (OnMouse) OnMouse(m);
  }
  void MouseLeave() override { ++Leaves; }
  void NotifyRefresh() override {
    ++Refreshes;
    if (OnRefresh) OnRefresh();
  }
};

inline TBox* AddBox(zm::TFrameControl* parent, int x, int y, int w, int h, zm::TColor32 c) {
  TBox* b = zm::NewControl<TBox>(parent);
  b->Color = c;
  b->SetPosition(x, y);
  b->SetSize(w, h);
  return b;
}

}  // namespace frametest
