#pragma once
// TThirdSlide: the overlay layer the root item draws above the slides. It
// holds the show's logo, the navigation panel's pictures and the open
// custom dialogs; it fades the panel in on pointer movement and out when
// the pointer rests, fades dialogs in and out, and sees pointer events
// before the slides do. Only the engine thread uses it.
#include <cstdint>
#include <functional>
#include <vector>

#include "OruLib2/NavPanel/MouseMoveDetector.h"
#include "OruLib2/OruClasses/OruActions.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruRootItem.h"
#include "OruLib2/OruClasses/OruSlide.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/zmIni.h"

namespace oru {

// A panel picture changed: the image (not owned), its drawing parameters,
// the overlay item index (-1 until the overlay fills it) and the rectangle.
using TOverlayPictureEvent = std::function<void(zm::TImage* image, const zm::TImageDrawParams& params,
                                                std::int32_t& index, const zm::TRect& rect)>;

// Everything the overlay hands its navigation panel when it makes one.
struct TOverlayPanelSetup {
  std::vector<WideString> Buttons;  // "home", "backward", ... in order
  bool ShowBackground = false;
  std::int32_t Hue = 0;
  float ViewScale = 10.0f;  // bar height, percent of the container's
  zm::TFloatPoint Position;
  zm::TFloatPoint Anchor;
  zm::TRect Container;
  WideString SkinFile;
  bool UseVideoScale = false;
  bool VideoExit = true;
  double Volume = 0;
  double ShowEnd = 0;
  std::function<bool()> IsPlaying;
  std::function<void(double)> Seek;
  std::function<void(double)> SetVolume;
  TFileAccessor* FileAccess = nullptr;  // not owned
  TOverlayPictureEvent OnBarPicture;
  TOverlayPictureEvent OnExitPicture;
};

// What the overlay needs of its navigation panel. Points are in the
// overlay's (device) pixels; a button click fills Action.
class TOverlayPanel : public zm::TRefObject {
public:
  virtual void Tick(double time) = 0;
  virtual void MouseDown(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                         TOruActionInfo& action) = 0;
  virtual void MouseMove(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                         TOruActionInfo& action) = 0;
  virtual void MouseUp(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                       TOruActionInfo& action) = 0;
  // The pointer was over the panel at the last event.
  virtual bool PointerOver() = 0;
};

// Makes, places and opens the panel; the navigation panel by default.
// Nil: shows get no panel.
using TCreateOverlayPanelProc = zm::TRef<TOverlayPanel> (*)(const TOverlayPanelSetup& setup);
extern TCreateOverlayPanelProc CreateOverlayPanelHook;

// One picture the overlay draws.
struct TOverlayImageItem {
  zm::TRef<zm::TImage> Image;
  zm::TImageDrawParams Params;  // Opacity in percent
  zm::TFloatPoint Position;     // the rectangle's top-left corner
  zm::TFloatPoint Offset;
  zm::TFloatPoint Scale;  // rectangle size / image size
};

using TOverlayQueryBool = std::function<bool()>;
using TOverlayValueEvent = std::function<void(double)>;

class TThirdSlide : public zm::TDrawItem {
public:
  // The overlay of a show. Description's "main" section gives the logo
  // and the panel; DeviceSize sides are at least 10; Reserved set (or
  // Option not 0) makes no panel. Assertion without FileAccess.
  static zm::TRef<TThirdSlide> Build(TFileAccessor* fileAccess, zm::TIniFile* description, const zm::TRect& slideRect,
                                     double showEnd, double volume, const zm::TSize& slideSize,
                                     const zm::TSize& deviceSize, TOverlayQueryBool isPlaying, TOverlayValueEvent seek,
                                     TOverlayValueEvent setVolume, std::uint8_t reserved, std::uint8_t option,
                                     TRootItem* rootItem, zm::TColorProfile* outputProfile);
  TThirdSlide();
  void Dispose() override;

  void Draw(zm::TDeviceDrawer& drawer) override;
  // Once per engine pass with the show time (ms).
  void Tick(double time);
  // Kind 0 move, 1 down, 2 up, 3 only dialogs and detector; other kinds
  // raise an assertion. Hit: the dialog object under the pointer.
  void MouseEvent(std::uint8_t shift, std::int32_t x, std::int32_t y, bool& handled, TOruObject*& hit,
                  TOruActionInfo& action, std::int32_t kind, std::int32_t button);
  // 0 no panel or resting pointer, 1 pointer moving, 2 pointer over the panel.
  std::int32_t PanelState();

  // ---- Dialogs (bottom first) ----
  void ShowDialog(TOruDialog* dialog);
  void CloseDialog(std::int32_t index);
  // -1: the top one; assertion when there is no such dialog.
  void RemoveDialog(std::int32_t index);
  TOruDialog* TopDialog() const;
  TOruDialog* FindDialog(const WideString& name, std::int32_t& index) const;
  void CloseHoldingDialogs();
  bool HasHoldingDialog() const;
  std::int32_t DialogCount() const { return static_cast<std::int32_t>(dialogs_.size()); }
  TOruDialog* Dialog(std::int32_t i) const;
  bool DialogClosing() const { return closing_; }

  // ---- The panel's picture callbacks ----
  void BarPictureChanged(zm::TImage* image, const zm::TImageDrawParams& params, std::int32_t& index,
                         const zm::TRect& rect);
  void ExitPictureChanged(zm::TImage* image, const zm::TImageDrawParams& params, std::int32_t& index,
                          const zm::TRect& rect);

  // Set by the engine while it renders a frame into an image.
  bool HidePanel = false;

  // ---- Read by the engine and tests ----
  const std::vector<TOverlayImageItem>& Items() const { return items_; }
  std::int32_t LogoIndex() const { return logoIndex_; }
  std::int32_t BarIndex() const { return barIndex_; }
  std::int32_t ExitIndex() const { return exitIndex_; }
  TOverlayPanel* Panel() const { return panel_.get(); }
  TMouseMoveDetector* Detector() const { return detector_.get(); }
  float AspectFactor() const { return aspect_; }
  float PanelOpacity() const { return panelOpacity_; }
  bool PanelHidden() const { return hidden_; }
  bool HideWhenIdle() const { return hideWhenIdle_; }
  zm::TSysBitmap* LogoLookup() const { return logoLookup_.get(); }
  bool WindowBottom() const { return windowBottom_; }

private:
  void AddLogo(const WideString& fileName, const zm::TImageDrawParams& params, const zm::TFloatPoint& position,
               const zm::TFloatPoint& anchor, double size, zm::TColorProfile* outputProfile);
  void BuildPanel(zm::TIniFile* description, double showEnd, double volume);
  void PictureChanged(zm::TImage* image, const zm::TImageDrawParams& params, std::int32_t& index,
                      const zm::TRect& rect);
  void SetPanelItemsOpacity(float opacity);
  bool IsPanelItem(std::size_t i) const;

  float aspect_ = 1.0f;
  bool windowBottom_ = true;
  zm::TRect slideRect_;
  zm::TSize deviceSize_;
  TRootItem* root_ = nullptr;  // not owned: it draws the overlay
  zm::TRef<TOverlayPanel> panel_;
  zm::TRef<TMouseMoveDetector> detector_;
  TOverlayQueryBool isPlaying_;
  TOverlayValueEvent seek_;
  TOverlayValueEvent setVolume_;
  std::vector<TOverlayImageItem> items_;
  bool hideWhenIdle_ = false;
  std::int32_t fadeOutMs_ = 1000;
  std::int32_t fadeInMs_ = 500;
  float panelOpacity_ = 100.0f;
  std::int32_t barIndex_ = -1;
  std::int32_t exitIndex_ = -1;
  std::int32_t logoIndex_ = -1;
  zm::TRef<TFileAccessor> fileAccess_;
  zm::TRef<zm::TImage> logoImage_;
  zm::TRef<zm::TSysBitmap> logoLookup_;
  zm::TRef<TColorGradeWrapper> logoGrade_;
  std::vector<zm::TRef<TOruDialog>> dialogs_;
  std::vector<bool> drawn_;  // per dialog: drawn at least once
  std::uint32_t dialogStart_ = 0;
  std::uint32_t dialogEnd_ = 0;
  bool restart_ = false;
  bool closing_ = false;
  std::int32_t activeDialog_ = -1;
  float dialogOpacity_ = 0;
  bool hidden_ = false;
  std::uint32_t fadeStart_ = 0;
  std::uint32_t fadeEnd_ = 0;
};

}  // namespace oru
