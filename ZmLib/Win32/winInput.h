#pragma once
// Translation of raw keyboard and mouse messages into the framework's key,
// character, mouse and wheel calls.
#include <cstdint>

#include "Platform/User/PlatUserTypes.h"
#include "ZmLib/zmTypes.h"

namespace zm {

using TShiftState = std::uint8_t;
constexpr TShiftState ssWin = 1, ssShift = 2, ssAlt = 4, ssCtrl = 8, ssLeft = 16, ssRight = 32, ssMiddle = 64;

enum class TMouseKind { Move, Down, Up, DoubleClick };

class TInputReceiver {
public:
  virtual ~TInputReceiver() = default;
  virtual void Key(std::uint16_t key, TShiftState shift, bool down) = 0;
  virtual void Char(WideChar c) = 0;
  // button: 1 left, 4 right, 5 middle (0 for a move).
  virtual void Mouse(TShiftState shift, TPoint pos, TMouseKind kind, int button) = 0;
  virtual void Wheel(int notches, TShiftState shift, TPoint pos) = 0;
};

class TInputTranslator {
public:
  TInputTranslator();
  // True when the message was an input message and went to the receiver.
  bool Translate(plat::HWND window, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam, TInputReceiver& r);
  // The framework's own character translation (ToUnicode at key-down); off.
  bool OwnCharTranslation = false;
  int WheelTotal() const { return wheelTotal_; }

private:
  int wheelTotal_ = 0;
  plat::UINT wheelMsg_;
};

// The shift state of the keyboard (Windows keys, Shift, Ctrl, Alt).
TShiftState KeyboardShiftState();

}  // namespace zm
