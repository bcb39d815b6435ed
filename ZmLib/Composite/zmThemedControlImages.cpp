#include "ZmLib/Composite/zmThemedControlImages.h"

#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/Graphics/zmRectUtils.h"

namespace zm {

namespace {
TPixelFormat* Argb() { return PixelFormatByName(PF_A8R8G8B8); }

// The animator blends "A8R8G8B8" pictures only.
TRef<TDirectBitmap> As32(TDirectBitmap* b) {
  if (!b || b->PixelFormat() == Argb()) return TRef<TDirectBitmap>(b);
  auto c = MakeRef<TDirectBitmap>(b->Width(), Argb(), b->Height());
  c->CopyFrom(b);
  return c;
}

bool HasArea(const TDirectBitmap* b) { return b && b->Width() > 0 && b->Height() > 0; }
}  // namespace

// ---- TThemedControlImages ---------------------------------------------------------------

void TThemedControlImages::Dispose() {
  entries_.clear();
  current_.reset();
  animator_.reset();
  OnCreateImage = nullptr;
  OnStop = OnStart = OnFinished = nullptr;
  TRefObject::Dispose();
}

void TThemedControlImages::CheckCallbacks() const {
  ZM_ASSERT(OnCreateImage && OnStop && OnStart && OnFinished, "TThemedControlImages: callbacks not assigned");
}

TThemedControlImages::TEntry& TThemedControlImages::GetImage(const std::u16string& key) {
  CheckCallbacks();
  for (auto i = entries_.size(); i-- > 0;)
    if (entries_[i].Key == key) return entries_[i];
  TPoint offset;
  TRef<TDirectBitmap> bitmap;
  OnCreateImage(key, offset, bitmap);
  entries_.push_back({key, bitmap, offset});
  return entries_.back();
}

void TThemedControlImages::Stop() {
  if (animating_) OnStop();
}

void TThemedControlImages::SetState(const std::u16string& key, std::int32_t duration, bool hold) {
  CheckCallbacks();
  Stop();
  hold_ = hold;
  TEntry entry = GetImage(key);  // a copy: the callbacks may add entries
  if (duration > 0 && HasArea(entry.Bitmap.get())) {
    TRef<TDirectBitmap> old;
    TPoint oldOffset;
    if (animating_ && animator_->Result) {
      // A fade cut short goes on from what was on screen.
      old = MakeRef<TDirectBitmap>(animator_->Result->Width(), Argb(), animator_->Result->Height());
      old->CopyFrom(animator_->Result.get());
      oldOffset = animator_->Origin;
    } else {
      old = As32(current_.get());
      oldOffset = currentOffset_;
    }
    if (HasArea(old.get())) {
      TAnimatorSlot& s0 = animator_->Slots[0];
      ClearAnimatorSlot(s0);
      s0.Bitmap = old;
      s0.X = oldOffset.X;
      s0.Y = oldOffset.Y;
      TAnimatorSlot& s1 = animator_->Slots[1];
      ClearAnimatorSlot(s1);
      s1.Bitmap = As32(entry.Bitmap.get());
      s1.X = entry.Offset.X;
      s1.Y = entry.Offset.Y;
      current_ = entry.Bitmap;
      currentOffset_ = entry.Offset;
      progress_ = 0;
      animator_->SetPhase(0);
      start_ = ControlTimeMs();
      duration_ = duration;
      animating_ = true;
      OnStart();
      return;
    }
  }
  current_ = entry.Bitmap;
  currentOffset_ = entry.Offset;
  animating_ = false;
  OnFinished();
}

void TThemedControlImages::Tick() {
  CheckCallbacks();
  if (!animating_) return;
  const std::uint32_t elapsed = ControlTimeMs() - start_;  // wraps with the clock
  if (elapsed >= std::uint32_t(duration_) && !hold_) {
    OnStop();
    progress_ = 1;
    animating_ = false;
    OnFinished();
    return;
  }
  progress_ = elapsed >= std::uint32_t(duration_) ? 1.0f : float(elapsed) / float(duration_);
  animator_->SetPhase(progress_);
}

TThemedControlImages::TFrame TThemedControlImages::CurrentFrame() {
  if (animating_ && animator_->Result) return {animator_->Result.get(), animator_->Origin};
  return {current_.get(), currentOffset_};
}

void TThemedControlImages::Clear() {
  CheckCallbacks();
  Stop();
  entries_.clear();
  current_.reset();
  currentOffset_ = {};
  animating_ = false;
  progress_ = 0;
  ClearAnimatorSlot(animator_->Slots[0]);
  ClearAnimatorSlot(animator_->Slots[1]);
}

// ---- TThemedControlAnimatedPart ---------------------------------------------------------

TThemedControlAnimatedPart::TThemedControlAnimatedPart(TFrameControl* parent, TControlStyles* styles)
    : TStdFrameControl(parent, styles), images_(MakeRef<TThemedControlImages>()) {
  images_->OnCreateImage = [this](const std::u16string& k, TPoint& o, TRef<TDirectBitmap>& b) {
    o = {};
    b.reset();
    CreateImage(k, o, b);
  };
  images_->OnStart = [this] { StartAnimation(); };
  images_->OnStop = [this] { StopAnimation(); };
  images_->OnFinished = [this] { AnimationFinished(); };
}

void TThemedControlAnimatedPart::Dispose() {
  if (images_) {
    images_->Clear();
    images_.reset();
  }
  TStdFrameControl::Dispose();
}

void TThemedControlAnimatedPart::CreateImage(const std::u16string&, TPoint& offset, TRef<TDirectBitmap>& bitmap) {
  offset = {};
  bitmap.reset();
}

void TThemedControlAnimatedPart::Paint(TDrawSurface* surface) {
  if (!images_ || !surface) return;
  auto f = images_->CurrentFrame();
  painted_ = {};
  if (!f.Bitmap) return;
  surface->DrawBitmap(f.Offset.X, f.Offset.Y, f.Bitmap);
  painted_ = {f.Offset.X, f.Offset.Y, f.Offset.X + f.Bitmap->Width(), f.Offset.Y + f.Bitmap->Height()};
}

void TThemedControlAnimatedPart::GetBounds(TRect& rect) {
  TStdFrameControl::GetBounds(rect);  // resets the invalidation
  auto f = images_ ? images_->CurrentFrame() : TThemedControlImages::TFrame{};
  rect = f.Bitmap ? TRect{f.Offset.X, f.Offset.Y, f.Offset.X + f.Bitmap->Width(), f.Offset.Y + f.Bitmap->Height()}
                  : TRect{};
  // What was drawn before has to go too when the new frame is smaller.
  UnionRectInPlace(rect, painted_);
}

void TThemedControlAnimatedPart::NotifyRefresh() {
  TKeepAlive self(this);
  TStdFrameControl::NotifyRefresh();
  if (!images_ || TornDown() || !images_->Animating()) return;
  images_->Tick();
  if (!TornDown()) InvalidateAll();
}

void TThemedControlAnimatedPart::Rebuild() {
  if (!images_ || TornDown()) return;
  images_->Clear();
  images_->SetState(key_, 0, false);
  InvalidateAll();
}

void TThemedControlAnimatedPart::AfterResize() {
  TStdFrameControl::AfterResize();
  Rebuild();
}

void TThemedControlAnimatedPart::ThemeChanged() { Rebuild(); }

void TThemedControlAnimatedPart::SetStateAnimated(const std::u16string& key, std::int32_t duration) {
  if (!images_ || TornDown()) return;
  key_ = key;
  images_->SetState(key, duration, false);
  if (!TornDown()) InvalidateAll();
}

}  // namespace zm
