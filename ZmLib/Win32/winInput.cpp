#include "ZmLib/Win32/winInput.h"

#include "Platform/User/PlatUser.h"

namespace zm {

using namespace plat;

namespace {
bool Down(int vk) { return (GetKeyState(vk) & 0x8000) != 0; }

TShiftState KeyShift(LPARAM lParam) {
  TShiftState s = 0;
  if (Down(VK_LWIN) || Down(VK_RWIN)) s |= ssWin;
  if (Down(VK_SHIFT)) s |= ssShift;
  if (Down(VK_CONTROL)) s |= ssCtrl;
  if ((lParam >> 29) & 1) s |= ssAlt;
  return s;
}

TShiftState MouseShift(WPARAM mk) {
  TShiftState s = 0;
  if (mk & MK_SHIFT) s |= ssShift;
  if (mk & MK_CONTROL) s |= ssCtrl;
  if (mk & MK_LBUTTON) s |= ssLeft;
  if (mk & MK_RBUTTON) s |= ssRight;
  if (mk & MK_MBUTTON) s |= ssMiddle;
  if (Down(VK_MENU)) s |= ssAlt;
  return s;
}
}  // namespace

TShiftState KeyboardShiftState() {
  TShiftState s = KeyShift(0);
  if (Down(VK_MENU)) s |= ssAlt;
  return s;
}

TInputTranslator::TInputTranslator() : wheelMsg_(RegisterWindowMessageW(u"MSWHEEL_ROLLMSG")) {}

bool TInputTranslator::Translate(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, TInputReceiver& r) {
  switch (msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      r.Key(std::uint16_t(wParam & 0xFFFF), KeyShift(lParam), true);
      if (OwnCharTranslation) {
        std::uint8_t state[256];
        char16_t chars[255];
        if (GetKeyboardState(state)) {
          int n = ToUnicode(UINT(wParam), UINT((lParam >> 16) & 0xFF), state, chars, 255, 0);
          for (int i = 0; i < n; ++i) r.Char(chars[i]);
        }
      }
      return true;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: r.Key(std::uint16_t(wParam & 0xFFFF), KeyShift(lParam), false); return true;
    case WM_CHAR:
    case WM_SYSCHAR:
      // All our windows are Unicode windows, and no character here comes
      // from the Alt key pad.
      if (!OwnCharTranslation) r.Char(WideChar(wParam & 0xFFFF));
      return true;
    case WM_MOUSEMOVE:
      r.Mouse(MouseShift(wParam), TPoint{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, TMouseKind::Move, 0);
      return true;
    case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN: case WM_MBUTTONUP: case WM_MBUTTONDBLCLK: {
      int button = msg <= WM_LBUTTONDBLCLK ? 1 : msg <= WM_RBUTTONDBLCLK ? 4 : 5;
      UINT base = button == 1 ? WM_LBUTTONDOWN : button == 4 ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
      TPoint p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      TShiftState s = MouseShift(wParam);
      if (msg == base) {
        r.Mouse(s, p, TMouseKind::Down, button);
      } else if (msg == base + 1) {
        r.Mouse(s, p, TMouseKind::Up, button);
      } else {
        // A double click first reports a down.
        r.Mouse(s, p, TMouseKind::Down, button);
        r.Mouse(s, p, TMouseKind::DoubleClick, button);
      }
      return true;
    }
    default: break;
  }
  if (msg == WM_MOUSEWHEEL || (wheelMsg_ != 0 && msg == wheelMsg_)) {
    int delta = msg == WM_MOUSEWHEEL ? GET_WHEEL_DELTA_WPARAM(wParam) : int(std::int32_t(wParam));
    POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(window, &pt);
    // Keep the total in range whatever the deltas are.
    long long total = (long long)wheelTotal_ + delta;
    if (total > 1000000000LL) total = 1000000000LL;
    if (total < -1000000000LL) total = -1000000000LL;
    wheelTotal_ = int(total);
    if (wheelTotal_ >= WHEEL_DELTA || wheelTotal_ <= -WHEEL_DELTA) {
      int notches = wheelTotal_ / WHEEL_DELTA;
      wheelTotal_ -= notches * WHEEL_DELTA;
      TShiftState s = msg == WM_MOUSEWHEEL ? MouseShift(LOWORD(wParam)) : KeyboardShiftState();
      r.Wheel(notches, s, TPoint{pt.x, pt.y});
    }
    return true;
  }
  return false;
}

}  // namespace zm
