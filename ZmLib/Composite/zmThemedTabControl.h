#pragma once
// The self-drawn tab control: a row of tabs, one per page, scroll arrows
// when the tabs do not fit, the active page in the page area, Ctrl+Tab
// switching and hot-tracking. Every metric and bitmap comes from its tab
// theme. Made through AllocFrameTabControl. UI thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ZmLib/Composite/zmStdFrameControls.h"
#include "ZmLib/Composite/zmThemedTabsTheme.h"

namespace zm {

class TFrameCaption;
class TThemedTabControl;
class TThemedPage;

// The abstract tab control the allocator hands out.
class TFrameTabControl : public TStdFrameControl {
public:
  using TStdFrameControl::TStdFrameControl;
  virtual TThemedPage* AddPage(const std::u16string& caption) = 0;
  virtual std::int32_t PageCount() const = 0;
  virtual TThemedPage* Page(std::int32_t index) const = 0;
  virtual TThemedPage* ActivePage() const = 0;
  virtual void SetActivePage(TThemedPage* page) = 0;
};

using TAllocFrameTabControlProc = TFrameTabControl* (*)(TFrameControl* parent, TControlStyles* styles);
// Nil until the themed unit installs its factory.
extern TAllocFrameTabControlProc AllocFrameTabControl;

// A pressable part with a state bitmap the theme makes, dropped on every
// state change.
class TPushControl : public TFrameControl {
public:
  explicit TPushControl(TFrameControl* parent) : TFrameControl(parent) {}
  void Dispose() override;
  void MouseEvent(TMouseData& mouse) override;
  void MouseLeave() override;
  void Paint(TDrawSurface* surface) override;
  bool Hot() const { return hot_; }
  bool Pressed() const { return pressed_; }
  // Drops the bitmap and repaints.
  void Rebuild();
  // The bitmap (made when missing); nil when the theme makes none.
  TDirectBitmap* Bitmap();
  TPoint BitmapOffset() const { return offset_; }

protected:
  virtual TTabBitmap BuildBitmap() = 0;
  virtual void Pushed() {}   // left button went down
  virtual void Clicked() {}  // released inside
  std::uint32_t StateFlags() const { return (hot_ ? tsHot : 0) | (pressed_ ? tsPressed : 0); }
  bool hot_ = false;
  bool pressed_ = false;

private:
  TRef<TDirectBitmap> bitmap_;
  TPoint offset_;
};

// Neighbour modes of a tab.
constexpr std::int32_t nbLeftEnd = 0;
constexpr std::int32_t nbMiddle = 1;
constexpr std::int32_t nbRightEnd = 2;
constexpr std::int32_t nbAlone = 3;
constexpr std::int32_t nbLeftEdge = 4;
constexpr std::int32_t nbRightEdge = 5;

class TThemedTabButton : public TPushControl {
public:
  TThemedTabButton(TThemedTabControl* control, TThemedPage* page);
  bool AcceptsMouse(const TMouseData& mouse) override;
  void AfterResize() override;
  void SetCaption(const std::u16string& text);
  TFrameCaption* Caption() const { return caption_; }
  // The caption's width through the theme; settable for captions measured elsewhere.
  std::int32_t PreferredWidth() const { return preferredWidth_; }
  void SetPreferredWidth(std::int32_t width);
  std::int32_t NeighbourMode() const { return neighbour_; }
  std::uint32_t CutFlags() const { return cut_; }
  void SetNeighbourMode(std::int32_t mode);
  void SetCutFlags(std::uint32_t cut);
  TThemedPage* OwnerPage() const { return page_; }
  void PlaceCaption();

protected:
  TTabBitmap BuildBitmap() override;
  void Pushed() override;

private:
  TThemedTabControl* control_;
  TThemedPage* page_;
  TFrameCaption* caption_ = nullptr;
  std::int32_t neighbour_ = nbAlone;
  std::uint32_t cut_ = 0;
  std::int32_t preferredWidth_ = 0;
};

class TThemedTabArrow : public TPushControl {
public:
  TThemedTabArrow(TThemedTabControl* control, std::int32_t index);
  std::int32_t Index() const { return index_; }
  // While held, repeats every interval of the theme.
  void NotifyRefresh() override;

protected:
  TTabBitmap BuildBitmap() override;
  void Pushed() override;
  void Clicked() override;

private:
  TThemedTabControl* control_;
  std::int32_t index_;
  std::uint32_t lastRepeat_ = 0;
};

class TThemedPage : public TFramePage {
public:
  explicit TThemedPage(TFrameControl* parent);
  virtual TThemedTabButton* TabButton() const { return button_; }
  virtual bool IsTabVisible() const { return tabVisible_; }
  void SetTabVisible(bool on);
  bool TabHidden() const { return hidden_; }
  bool IsActive() const { return active_; }
  // The union of the child controls' rectangles.
  TRect ChildBounds();

private:
  friend class TThemedTabControl;
  TThemedTabButton* button_ = nullptr;
  bool tabVisible_ = true;
  bool hidden_ = false;
  bool active_ = false;
};

// A page without tab that fills the page area.
class TCommonThemedPage : public TThemedPage {
public:
  using TThemedPage::TThemedPage;
  TThemedTabButton* TabButton() const override { return nullptr; }
  bool IsTabVisible() const override { return true; }
};

// Auto-size flags.
constexpr std::uint8_t asWidth = 1;
constexpr std::uint8_t asHeight = 2;

class TThemedTabControl : public TFrameTabControl {
public:
  // A nil theme is an assertion.
  TThemedTabControl(TFrameControl* parent, TControlStyles* styles, TFrameTabControlTheme* theme);
  void Dispose() override;
  void AfterResize() override;
  void Paint(TDrawSurface* surface) override;
  void KeyNotify(TKeyboardData* key) override;

  TThemedPage* AddPage(const std::u16string& caption) override;
  std::int32_t PageCount() const override { return std::int32_t(pages_.size()); }
  TThemedPage* Page(std::int32_t index) const override;
  TThemedPage* ActivePage() const override { return active_; }
  void SetActivePage(TThemedPage* page) override;
  std::int32_t IndexOf(const TThemedPage* page) const;

  TFrameTabControlTheme* Theme() const { return theme_.get(); }
  std::uint8_t TabPosition() const { return position_; }
  void SetTabPosition(std::uint8_t position);
  std::uint8_t Alignment() const { return alignment_; }
  void SetAlignment(std::uint8_t alignment);
  std::uint8_t LayoutMode() const { return mode_; }
  void SetLayoutMode(std::uint8_t mode);
  std::int32_t FixedTabWidth() const { return fixedWidth_; }
  void SetFixedTabWidth(std::int32_t width);
  std::uint8_t AutoSizeFlags() const { return autoSize_; }
  void SetAutoSizeFlags(std::uint8_t flags);
  TCommonThemedPage* CommonPage() const { return common_; }
  TThemedTabArrow* Arrow(std::int32_t index) const { return index == 0 ? arrows_[0] : index == 1 ? arrows_[1] : nullptr; }
  std::int32_t ScrollOffset() const { return offset_; }
  // The width a tab takes in the row.
  std::int32_t TabWidthOf(const TThemedPage* page) const;
  TRect PageArea();

  void Realign();
  void AutoSize();
  // Only for a page whose tab is cut or hidden.
  void ScrollIntoView(TThemedPage* page);
  void ArrowClicked(std::int32_t index);
  // Ctrl+Tab's search: the next (or previous) page with a visible tab.
  TThemedPage* NextPage(bool backwards) const;

  std::function<void(TThemedTabControl*, TThemedPage* old, TThemedPage* now)> OnChange;

protected:
  virtual void ActivePageChanged(TThemedPage* old, TThemedPage* now);

private:
  void RealignRow();
  void RealignShared();
  void SetNeighbours(const std::vector<TThemedPage*>& shown, const TRect& strip, bool arrows);
  void ShowArrows(bool on);
  std::vector<TThemedPage*> TabPages() const;  // pages with a visible tab, in order

  std::uint8_t mode_ = 0;
  TRef<TFrameTabControlTheme> theme_;
  std::vector<TThemedPage*> pages_;  // children, owned by the tree
  std::uint8_t position_ = 0;
  TRef<TDirectBitmap> background_;
  TPoint backgroundOffset_;
  TThemedTabArrow* arrows_[2] = {nullptr, nullptr};
  bool inLayout_ = false;
  std::uint8_t alignment_ = 0;
  std::uint8_t autoSize_ = 0;
  std::int32_t fixedWidth_ = 0;
  std::int32_t offset_ = 0;
  std::int32_t stripWidth_ = 0;  // of the last layout
  TThemedPage* active_ = nullptr;
  TCommonThemedPage* common_ = nullptr;
};

// The chained factory: the styles' tab theme, else the previous hook.
TFrameTabControl* AllocThemedTabControl(TFrameControl* parent, TControlStyles* styles);

void InitThemedTabControl();
void FiniThemedTabControl();

}  // namespace zm
