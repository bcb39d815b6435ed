#include "Platform/User/PlatMessageBoxes.h"

#include "Platform/PlatUtf8.h"

namespace plat::user {

int DefaultMessageBoxAnswer(UINT type) {
  int buttons[3];
  int n = 1;
  switch (type & 0xF) {
    case MB_OKCANCEL: buttons[0] = IDOK, buttons[1] = IDCANCEL, n = 2; break;
    case MB_ABORTRETRYIGNORE: buttons[0] = IDABORT, buttons[1] = IDRETRY, buttons[2] = IDIGNORE, n = 3; break;
    case MB_YESNOCANCEL: buttons[0] = IDYES, buttons[1] = IDNO, buttons[2] = IDCANCEL, n = 3; break;
    case MB_YESNO: buttons[0] = IDYES, buttons[1] = IDNO, n = 2; break;
    case MB_RETRYCANCEL: buttons[0] = IDRETRY, buttons[1] = IDCANCEL, n = 2; break;
    default: buttons[0] = IDOK; break;
  }
  int d = int((type >> 8) & 0xF);
  return buttons[d < n ? d : 0];
}

}  // namespace plat::user

namespace plat {

using namespace user;

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
  TWindowManager& wm = WindowManager();
  std::u16string t = FromChars(text), c = caption ? std::u16string(caption) : std::u16string(u"Error");
  int answer = DefaultMessageBoxAnswer(type);
  NativeWin native = 0;
  bool scripted = false;
  {
    auto l = wm.Lock();
    std::string line = ToUtf8(c) + ": " + ToUtf8(t);
    for (char& ch : line)
      if (ch == '\r' || ch == '\n') ch = ' ';
    wm.MessageBoxes.Shown.push_back(line);
    if (!wm.MessageBoxes.Script.empty()) {
      answer = wm.MessageBoxes.Script.front();
      wm.MessageBoxes.Script.pop_front();
      scripted = true;
    }
    if (auto w = wm.Find(owner)) native = TopLevelOf(w)->Native;
  }
  if (scripted) return answer;
  if (wm.Backend && wm.OnUiThread()) return wm.Backend->MessageBox(native, t, c, type, answer);
  std::string line = ToUtf8(c) + ": " + ToUtf8(t);
  for (char& ch : line)
    if (ch == '\r' || ch == '\n') ch = ' ';
  WriteStdErr(line + "\n");
  return answer;
}

BOOL WTSRegisterSessionNotification(HWND hwnd, DWORD) {
  return OnWindow(hwnd, BOOL(0), [](TWindow& w) { return BOOL(w.Wts = true); });
}

BOOL WTSUnRegisterSessionNotification(HWND hwnd) {
  return OnWindow(hwnd, BOOL(0), [](TWindow& w) {
    w.Wts = false;
    return BOOL(1);
  });
}

}  // namespace plat

namespace plat::headless {

using namespace user;

void SetSessionLocked(bool locked) {
  TWindowManager& wm = WindowManager();
  std::vector<HWND> targets;
  {
    auto l = wm.Lock();
    for (auto& w : wm.Windows.Slots)
      if (w && w->Life == TWindowLife::Alive && w->Wts) targets.push_back(w->H);
  }
  for (HWND h : targets) SendMessageW(h, WM_WTSSESSION_CHANGE, locked ? WTS_SESSION_LOCK : WTS_SESSION_UNLOCK, 1);
}

void ScriptMessageBox(int answer) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  wm.MessageBoxes.Script.push_back(answer);
}

std::vector<std::string> MessageBoxesShown() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.MessageBoxes.Shown;
}

}  // namespace plat::headless
