#pragma once
// Tab themes: every metric and bitmap a themed tab control shows. The
// classic theme draws with the style colours; the visual-style theme asks
// the theme services and, operation by operation, answers like the classic
// one whenever visual styles are off at the time of the call (always here).
// UI thread only.
#include <cstdint>
#include <string>

#include "ZmLib/Composite/zmControlThemes.h"
#include "ZmLib/Graphics/zmBitmap.h"

namespace zm {

// State flags the tab control passes.
constexpr std::uint32_t tsHot = 2;
constexpr std::uint32_t tsPressed = 4;  // pressed, or the active tab
// Cut flags of a tab.
constexpr std::uint32_t tcCutLeft = 1;
constexpr std::uint32_t tcCutRight = 2;

// A bitmap and where it goes relative to the part it shows.
struct TTabBitmap {
  TRef<TDirectBitmap> Bitmap;
  TPoint Offset;
};

class TFrameTabControlTheme : public TFrameControlTheme {
public:
  using TFrameControlTheme::TFrameControlTheme;
  virtual std::uint8_t GetDefaultAlignment() = 0;
  virtual bool Flag2() { return true; }
  virtual TFontParams GetFont();
  virtual std::int32_t GetRepeatInterval() = 0;
  // Whether a tab at Tab touches the end of Strip.
  virtual bool TouchesEdge(const TRect& tab, const TRect& strip, bool arrows) = 0;
  virtual std::int32_t GetTabHeight() = 0;
  virtual TRect GetTextRect(std::int32_t width, std::int32_t height) = 0;
  virtual TPoint GetSelectedOffset(bool selected) = 0;
  // Control size and tab position (0 top, else bottom).
  virtual TRect GetPageRect(std::int32_t width, std::int32_t height, std::uint8_t position) = 0;
  virtual TRect GetArrowRect(std::int32_t index, std::int32_t width, std::int32_t height, std::uint8_t position) = 0;
  virtual TRect GetStripRect(std::int32_t width, std::int32_t height, std::uint8_t position, bool arrows) = 0;
  virtual std::int32_t GetTabWidth(std::int32_t textWidth) = 0;
  virtual TPoint GetTabOffset() = 0;
  virtual std::string GetStateKey(std::int32_t kind, std::uint32_t flags) = 0;
  virtual TTabBitmap DrawPage(std::int32_t width, std::int32_t height) = 0;
  virtual TTabBitmap DrawArrow(const std::string& key, std::int32_t index, std::int32_t width,
                               std::int32_t height) = 0;
  // Kind is the neighbour mode (0 left end, 1 middle, 2 right end, 3 alone,
  // 4 and 5 ends touching the strip's edges).
  virtual TTabBitmap DrawTab(const std::string& key, std::int32_t kind, std::int32_t width, std::int32_t height,
                             std::uint32_t cut) = 0;
  virtual std::int32_t Query0() { return 0; }
  virtual std::int32_t GetSingleKind(std::uint8_t alignment) = 0;
};

class TWin9xTabsTheme : public TFrameTabControlTheme {
public:
  using TFrameTabControlTheme::TFrameTabControlTheme;
  std::uint8_t GetDefaultAlignment() override { return 0; }
  std::int32_t GetRepeatInterval() override { return 120; }
  bool TouchesEdge(const TRect& tab, const TRect& strip, bool arrows) override;
  std::int32_t GetTabHeight() override;
  TRect GetTextRect(std::int32_t width, std::int32_t height) override;
  TPoint GetSelectedOffset(bool selected) override;
  TRect GetPageRect(std::int32_t width, std::int32_t height, std::uint8_t position) override;
  TRect GetArrowRect(std::int32_t index, std::int32_t width, std::int32_t height, std::uint8_t position) override;
  TRect GetStripRect(std::int32_t width, std::int32_t height, std::uint8_t position, bool arrows) override;
  std::int32_t GetTabWidth(std::int32_t textWidth) override { return textWidth + 2 * 7; }
  TPoint GetTabOffset() override { return {0, 0}; }
  std::string GetStateKey(std::int32_t kind, std::uint32_t flags) override;
  TTabBitmap DrawPage(std::int32_t width, std::int32_t height) override;
  TTabBitmap DrawArrow(const std::string& key, std::int32_t index, std::int32_t width, std::int32_t height) override;
  TTabBitmap DrawTab(const std::string& key, std::int32_t kind, std::int32_t width, std::int32_t height,
                     std::uint32_t cut) override;
  std::int32_t GetSingleKind(std::uint8_t) override { return 3; }

protected:
  // Height of "Wg" in the theme font; 0 when no text can be measured.
  std::int32_t TextHeight();
};

class TWinXPTabsTheme : public TWin9xTabsTheme {
public:
  using TWin9xTabsTheme::TWin9xTabsTheme;
  bool TouchesEdge(const TRect& tab, const TRect& strip, bool arrows) override;
  std::int32_t GetTabHeight() override;
  TRect GetTextRect(std::int32_t width, std::int32_t height) override;
  TRect GetPageRect(std::int32_t width, std::int32_t height, std::uint8_t position) override;
  TRect GetArrowRect(std::int32_t index, std::int32_t width, std::int32_t height, std::uint8_t position) override;
  TRect GetStripRect(std::int32_t width, std::int32_t height, std::uint8_t position, bool arrows) override;
  TPoint GetTabOffset() override;
  TTabBitmap DrawPage(std::int32_t width, std::int32_t height) override;
  TTabBitmap DrawArrow(const std::string& key, std::int32_t index, std::int32_t width, std::int32_t height) override;
  TTabBitmap DrawTab(const std::string& key, std::int32_t kind, std::int32_t width, std::int32_t height,
                     std::uint32_t cut) override;
  std::int32_t GetSingleKind(std::uint8_t alignment) override;

private:
  // Renders a tab-class element; an empty result when the services refuse.
  TRef<TDirectBitmap> RenderTabElement(std::int32_t kind, std::int32_t element, std::int32_t width,
                                       std::int32_t height);
};

}  // namespace zm
