#include "OruLib2/OruClasses/OruRootItem.h"

#include "OruLib2/OruClasses/OruSlideProducer.h"

namespace oru {

using zm::TDeviceDrawer;
using zm::TDrawItem;
using zm::TRef;

TResetTransitionFilterProc ResetTransitionFilterHook = nullptr;

zm::TRef<TRootItem> TRootItem::Create(bool fillOutside) { return zm::MakeRef<TRootItem>(fillOutside); }

void TRootItem::Dispose() {
  drawList_.clear();
  held_.clear();
  previousList_.clear();
  previousHeld_.clear();
  filter_ = nullptr;
  TDrawItem::Dispose();
}

bool TRootItem::IsChanged() {
  if (Changed || StateChanged) return true;
  for (TDrawItem* item : drawList_)
    if (item && item->IsChanged()) return true;
  return false;
}

void TRootItem::Reset(TDeviceDrawer& drawer) {
  for (TDrawItem* item : drawList_)
    if (item) item->Reset(drawer);
  if (filter_ && ResetTransitionFilterHook) ResetTransitionFilterHook(filter_.get(), drawer);
}

void TRootItem::SetItem(std::size_t index, TDrawItem* item) {
  if (drawList_.size() <= index) drawList_.resize(index + 1, nullptr);
  drawList_[index] = item;
  const TDrawItem* before = index < previousList_.size() ? previousList_[index] : nullptr;
  if (item != before) Changed = true;
}

void TRootItem::SetFilter(TOruFilter* filter) {
  filter_ = TRef<TOruFilter>(filter);
  if (!filter) {
    progress_ = 0;
    return;
  }
  const double p = filter->Progress;
  // NaN never equals the kept value: such a frame always counts as changed.
  if (!Changed && !(p == progress_)) Changed = true;
  progress_ = p;
}

bool TRootItem::Update(const TRef<TDrawContainer>* slides, std::int32_t count, TDrawItem* overlay) {
  std::vector<TDrawContainer*> raw;
  if (slides && count > 0) {
    raw.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) raw.push_back(slides[i].get());
  }
  return Update(raw.data(), static_cast<std::int32_t>(raw.size()), overlay);
}

bool TRootItem::Update(TDrawContainer* const* slides, std::int32_t count, TDrawItem* overlay) {
  previousList_.swap(drawList_);
  previousHeld_.swap(held_);
  drawList_.clear();
  held_.clear();
  filter_ = nullptr;
  Changed = false;
  StateChanged = false;
  // Itself as its overlay would make IsChanged and Reset recurse for ever.
  if (overlay == this) overlay = nullptr;

  std::vector<TDrawContainer*> entries;
  if (slides && count > 0)
    for (std::int32_t i = 0; i < count; ++i)
      if (slides[i]) entries.push_back(slides[i]);
  if (entries.empty()) {
    SetFilter(nullptr);
    transition_ = false;
    previousHeld_.clear();
    return false;
  }

  // The last entry that has begun; a NaN time never has.
  std::ptrdiff_t current = -1;
  for (std::size_t i = entries.size(); i-- > 0;) {
    if (entries[i]->CurrentTime() >= entries[i]->Times.Start) {
      current = static_cast<std::ptrdiff_t>(i);
      break;
    }
  }
  if (current < 0) {
    transition_ = false;
    previousHeld_.clear();
    return false;
  }

  // An entry's end is the end of the time it is on screen, its outgoing
  // transition included: the previous slide is still visible while the
  // current one's transition runs.
  std::ptrdiff_t first = current;
  if (current > 0 && entries[current]->Filter) {
    TDrawContainer* prev = entries[current - 1];
    const double t = prev->CurrentTime();
    if (t >= prev->Times.Start && t <= prev->Times.VisibleUntil) first = current - 1;
  }

  for (std::ptrdiff_t i = first; i <= current; ++i) {
    TDrawContainer* e = entries[i];
    double t = e->CurrentTime();
    if (i == current && t > e->Times.VisibleUntil) t = e->Times.VisibleUntil;
    e->SetTime(t);
  }

  TDrawContainer* cur = entries[current];
  const auto hold = [this](TDrawContainer* e) {
    held_.emplace_back(e->Slide);
    return static_cast<TDrawItem*>(e->Slide.get());
  };
  if (first == current) {
    SetItem(0, hold(cur));
    SetItem(1, overlay);
    SetFilter(nullptr);
    transition_ = false;
  } else {
    auto* filter = dynamic_cast<TOruFilter*>(cur->Filter.get());
    if (filter && filter->Effect) {
      SetItem(0, hold(entries[first]));
      SetItem(1, hold(cur));
      SetItem(2, overlay);
      SetFilter(filter);
      transition_ = true;
    } else {
      // Without an effect the outgoing slide stays until its end.
      SetItem(0, hold(entries[first]));
      SetItem(1, overlay);
      SetFilter(nullptr);
      transition_ = false;
    }
  }
  // Compared, the old slides can go.
  previousHeld_.clear();
  return true;
}

void TRootItem::FillOutside(TDeviceDrawer& drawer) {
  if (fillOutside_) drawer.FillOutsideVisible(OutsideColour & 0x00FFFFFFu);
}

void TRootItem::Draw(TDeviceDrawer& drawer) {
  const float sharpen = SharpenAmount;
  const bool sharpening = sharpen > 0.0f;
  if (sharpening) drawer.BeginSharpen();
  const std::size_t n = drawList_.size();
  std::size_t from = 0;
  if (filter_ && n >= 2) {
    drawer.DrawTransition(drawList_[0], drawList_[1], filter_.get());
    from = 2;
  }
  for (std::size_t i = from; i + 1 < n; ++i)
    if (drawList_[i]) drawer.Draw(drawList_[i]);
  if (sharpening) drawer.EndSharpen(sharpen);
  if (n > 0 && drawList_[n - 1])
    drawer.Draw(drawList_[n - 1]);
  else
    FillOutside(drawer);
}

}  // namespace oru
