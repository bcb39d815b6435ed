#pragma once
// TInputMappingClass turns keys and mouse events into show actions by the
// show's options: the player's fixed keyboard, the show's mouse-button
// choices, the screen-saver mode and the exit on a pointer move.
#include <cstdint>

#include "OruLib2/NavPanel/MouseMoveDetector.h"
#include "OruLib2/OruClasses/OruActions.h"
#include "ZmLib/Win32/winInput.h"
#include "ZmLib/zmIni.h"

namespace oru {

// Shift bits of the bindings: 1 Windows key, 2 Shift, 4 Alt, 8 Ctrl.
constexpr std::uint8_t kShiftAltCtrl = 14;

// One key binding in a chain: it applies when the event's KeyState equals
// KeyState (1 pressed, 0 released) and Shift & ShiftMask equals ShiftValue.
class TKeyMap : public zm::TRefObject {
 public:
  zm::TRef<TKeyMap> Next;
  std::uint8_t ShiftMask = 0;
  std::uint8_t ShiftValue = 0;
  std::uint8_t KeyState = 1;
  TOruActionInfo Action;
};

class TInputMappingClass : public zm::TRefObject {
 public:
  // Reads "Main" of the show description; nil gives the defaults. A program
  // run as the system's screen saver is in screen-saver mode whatever the
  // show says.
  explicit TInputMappingClass(zm::TIniFile* ini, bool screenSaver = false);
  void Dispose() override;

  // The binding's action for a key code; nil when none applies (and for
  // codes of 256 and above). Every pressed key ends a screen-saver show.
  const TOruActionInfo* MapKey(zm::TShiftState shift, std::uint32_t key, std::uint8_t keyState);
  // The action of a mouse event (empty when none). Button: 1 left, 4 right.
  TOruActionInfo MapMouse(zm::TShiftState shift, zm::TPoint pos, zm::TMouseKind kind, int button);

  // "Exit", "Next slide", "Prev. slide", "Help", "Pause", "Go to first";
  // any other name gives the empty action.
  static TOruActionInfo ActionByName(const WideString& name);

  // A key binding, put at the head of its key's chain (codes below 256).
  void AddBinding(std::uint32_t key, std::uint8_t mask, std::uint8_t value, std::uint8_t keyState,
                  const TOruActionInfo& action);

  bool ScreenSaver() const { return screenSaver_; }
  bool SyncPermitControl() const { return syncPermitControl_; }
  TMouseMoveDetector* MoveDetector() const { return moveDetector_.get(); }
  std::int32_t MoveThreshold() const { return moveThreshold_; }
  const TOruActionInfo& LeftClick() const { return leftClick_; }
  const TOruActionInfo& RightClick() const { return rightClick_; }
  const TOruActionInfo& DoubleClick() const { return doubleClick_; }

 private:
  zm::TRef<TKeyMap> keys_[256];
  TOruActionInfo leftClick_, rightClick_, doubleClick_;
  zm::TRef<TMouseMoveDetector> moveDetector_;
  std::int32_t moveThreshold_ = 10;
  bool syncPermitControl_ = true;
  bool screenSaver_ = false;
  zm::TRef<TKeyMap> anyKey_;
  // Where the pointer was first seen: a move beyond the threshold from
  // there ends the show, so a trembling hand never does.
  bool anchored_ = false;
  zm::TPoint anchor_;
};

}  // namespace oru
