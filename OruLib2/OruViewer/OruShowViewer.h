#pragma once
// TOruShowViewer binds the show engine to the player's form: it makes the
// form's draw device and the engine, turns the form's requests into engine
// events and the engine's answers into form callbacks on the UI thread, and
// sets the show window up from the show's options and the switches
// "display", "desktopalign" and "resize".
#include <cstdint>
#include <functional>
#include <vector>

#include "OruLib2/OruViewer/OruEngine.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmIni.h"

namespace oru {

// The draw device of the form's window that the engine draws on.
class TSysDevice : public zm::TZmFormDevice {
public:
  using zm::TZmFormDevice::TZmFormDevice;
};

// Window kinds of the set-up: 0 full screen, 1 framed, 2 without frame.
constexpr std::int32_t wkFullScreen = 0, wkFramed = 1, wkBorderless = 2;

// Where a window of W x H and a kind goes on a monitor rectangle.
struct TWindowPlacement {
  std::uint8_t BorderStyle = 0;
  zm::TSize Content;  // the drawn area
  zm::TRect Outer;    // the form's bounds: content plus frame, centred
};
// NonClient is the frame of a framed window (borders and caption).
TWindowPlacement PlaceShowWindow(std::int32_t width, std::int32_t height, std::int32_t kind, bool resize,
                                 const zm::TRect& monitor, const zm::TSize& nonClient);

// The monitor chosen by the switch "display" (its 1-based number; 0 when it
// is not one) when it names one of Count; else the primary among the
// monitors from the last down to the second, else 0.
std::int32_t ChooseDisplay(zm::TCommandsStorage* commands, std::int32_t count,
                           const std::function<bool(std::int32_t)>& isPrimary);

class TOruShowViewer : public zm::TRefObject {
public:
  using TPositionCallback = std::function<void(TOruShowViewer* sender, bool ended)>;
  // ByUser: a click or a key of the user asked for the action (not the show
  // on its own, as a program run at a slide's start).
  using TActionCallback = std::function<void(TOruShowViewer* sender, const TOruActionInfo& action, bool byUser)>;
  using TImageCallback = std::function<void(TOruShowViewer* sender, zm::TRefObject* image)>;
  using TRefusedCallback = std::function<void(TOruShowViewer* sender, const WideString& why)>;

  // Form must be given (assertion).
  explicit TOruShowViewer(zm::TZmForm* form);
  void Dispose() override;
  // Runs on the show description before the engine opens it.
  virtual void ApplyShowOptions(zm::TIniFile* ini);

  // Makes the device and the engine on the first call; with Ini the window
  // is set up at once from the show's options.
  void CreateEngine(zm::TIniFile* ini);
  // Opens the show at Time: on the calling thread before the engine thread
  // runs, else through the engine's queue. False when the first open failed.
  // The engine plays the show's own source, with its description and file
  // accessor: nothing of the show is copied.
  bool Open(TOruSource* show, std::int32_t time);
  void SetPaused(bool on);
  void SetPosition(std::int32_t time);
  void SetPositionAndPause(std::int32_t time, bool on);
  // Dropped while the engine thread does not run.
  void PointerEvent(std::uint8_t kind, std::int32_t x, std::int32_t y, std::int32_t buttons, std::uint8_t shift);
  void PointerEventWithAction(std::uint8_t kind, std::int32_t x, std::int32_t y, std::int32_t buttons,
                              std::uint8_t shift, const TOruActionInfo& action);
  void ShowHelp();
  void CloseDialog();
  // Whether the show's overlay shows a dialog.
  bool DialogShown() const;
  void RequestImage();
  void SetBarriersEnabled(bool on);
  void SetOutsideColor(std::uint32_t color);
  // Stops the engine thread (the show stays as drawn last).
  void StopEngine();

  // The window set-up of engine event 17.
  void SetupWindow(std::int32_t width, std::int32_t height, std::int32_t kind);
  std::int32_t DisplayIndex();

  zm::TZmForm* Form() const { return form_; }
  TOruEngine* Engine() const { return engine_.get(); }
  TSysDevice* Device() const { return device_.get(); }
  bool Paused() const { return paused_; }
  std::int32_t Time() const { return time_; }
  std::int32_t EndTime() const { return endTime_; }
  bool BarriersEnabled() const { return barriersEnabled_; }
  bool EngineRunning() const { return engine_ && engine_->Running(); }

  // Slides are laid out to cover the output (set before the first open).
  bool CoverLayout = false;
  TPositionCallback OnPosition;
  TActionCallback OnAction;
  TImageCallback OnImage;
  // The show cannot be held (its slides would take more memory than the
  // player may take): it plays no further.
  TRefusedCallback OnRefused;

private:
  void ShowWindowStep();
  void PositionStep(std::int32_t time, bool ended, std::int32_t endTime);
  void EventStep(TOruEventData* data);
  void ReleaseEngine();

  zm::TZmForm* form_;
  zm::TRef<TOruEngine> engine_;
  zm::TRef<TSysDevice> device_;
  bool paused_ = true;
  std::int32_t time_ = 0;
  std::int32_t endTime_ = 0;
  bool outsideOverride_ = false;
  std::uint32_t outsideColor_ = 0;
  bool barriersEnabled_ = false;
};

}  // namespace oru
