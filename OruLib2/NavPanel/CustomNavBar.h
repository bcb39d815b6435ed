#pragma once
// TCustomNavBar: the abstract navigation bar that the navigation panel owns.
// A bar draws a strip of buttons into a picture of its own, is fed with mouse
// events in that picture's pixels and reports button clicks through the
// owner's callbacks. Bars are made through CreateNavBarHook, so the panel
// never names a class; bar modules chain their factories into it.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

class TCustomNavBar;

// Mouse event kinds of MouseEvent.
constexpr std::int32_t nmMove = 0;
constexpr std::int32_t nmDown = 1;
constexpr std::int32_t nmUp = 2;

// Click indexes beyond the buttons (the video bar).
constexpr std::int32_t kNavClickPlayPause = -1;
constexpr std::int32_t kNavClickExit = -2;

// The owner's callbacks; each may be empty.
using TNavBarChangeEvent = std::function<void(TCustomNavBar* bar, const zm::TRect& rect)>;
using TNavBarClickEvent = std::function<void(TCustomNavBar* bar, std::int32_t index)>;
using TNavBarQueryBool = std::function<bool()>;
// The loaded picture of a file path, or nil.
using TNavBarBitmapLoader = std::function<zm::TRef<zm::TBitmap>(TCustomNavBar* bar, const zm::WideString& path)>;
using TNavBarQueryDouble = std::function<double()>;
using TNavBarValueEvent = std::function<void(TCustomNavBar* bar, double value)>;

class TCustomNavBar : public zm::TRefObject {
public:
  // Reads the bar's settings (a skin document and the folder of its
  // textures) and builds the controls.
  virtual void Load(zm::TIniFile* skin, const zm::WideString& folder) = 0;
  // Copies the button command codes (display order); descendants call it
  // first, then build their buttons.
  virtual void SetButtons(std::span<const std::int32_t> codes);
  void SetButtons(std::initializer_list<std::int32_t> codes) {
    SetButtons(std::span<const std::int32_t>(codes.begin(), codes.size()));
  }
  // Button 1 is the left button (moves pass 1 too); X and Y are pixels of
  // the bar's picture; Kind nmMove, nmDown or nmUp.
  virtual void MouseEvent(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                          std::int32_t kind) = 0;
  // On every overlay tick, with the show time in milliseconds.
  virtual void UpdatePlayState(double time) = 0;
  // The current volume, once after the buttons are set.
  virtual void SetVolume(double volume) = 0;
  // The width in pixels of the owner's container, right after Load.
  virtual void SetContainerWidth(std::int32_t width) = 0;
  // A height in pixels, when the owner uses the view scale.
  virtual void SetHeight(std::int32_t height) = 0;
  // The screen's DPI ratio, when the owner doesn't use the view scale.
  virtual void SetScale(double scale) = 0;

  const std::vector<std::int32_t>& Buttons() const { return buttons_; }
  // The action names that button command codes index, so the owner can map
  // its button names to codes and clicks back to names without knowing the
  // kind of bar; empty unless the kind fills it.
  virtual const std::vector<zm::WideString>& AvailableActions() const;
  // The bar's picture ("A8R8G8B8", straight alpha); nil until first drawn.
  zm::TSysBitmap* Bitmap() const { return bitmap_.get(); }
  // The picture of the separate exit part (video bar only).
  zm::TSysBitmap* ExitBitmap() const { return exitBitmap_.get(); }
  float RecommendedScale() const { return recommendedScale_; }

  TNavBarChangeEvent OnChange;
  TNavBarChangeEvent OnExitChange;
  TNavBarClickEvent OnClick;
  TNavBarQueryBool OnIsPlaying;
  TNavBarBitmapLoader OnLoadBitmap;
  TNavBarQueryDouble OnGetDuration;
  TNavBarValueEvent OnSeek;
  TNavBarValueEvent OnSetVolume;
  TNavBarQueryBool OnIsUpperHalf;

  bool ShowBackground = false;
  std::int32_t Hue = 0;

  void Dispose() override;

protected:
  std::vector<std::int32_t> buttons_;
  zm::TRef<zm::TSysBitmap> bitmap_;
  zm::TRef<zm::TSysBitmap> exitBitmap_;
  float recommendedScale_ = 0.0f;
};

// A new bar for a kind ("video" for the video bar, empty for the default
// one); nil while no bar module is initialised.
using TCreateNavBarProc = zm::TRef<TCustomNavBar> (*)(const zm::WideString& kind);
extern TCreateNavBarProc CreateNavBarHook;

// Through the hook; nil when none is set.
zm::TRef<TCustomNavBar> CreateNavBar(const zm::WideString& kind);

}  // namespace oru
