#include "Platform/User/PlatMessageBoxes.h"

#include <algorithm>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatDialogs.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUser.h"

namespace plat::user {

namespace {

struct TButtons {
  int Ids[3] = {IDOK, 0, 0};
  const char16_t* Labels[3] = {u"OK", nullptr, nullptr};
  int Count = 1;
  bool Has(int id) const { return std::find(Ids, Ids + Count, id) != Ids + Count; }
};

TButtons ButtonsOf(UINT type) {
  TButtons b;
  auto set = [&b](std::initializer_list<std::pair<int, const char16_t*>> list) {
    b.Count = 0;
    for (auto [id, label] : list) b.Ids[b.Count] = id, b.Labels[b.Count++] = label;
  };
  switch (type & 0xF) {
    case MB_OKCANCEL: set({{IDOK, u"OK"}, {IDCANCEL, u"Cancel"}}); break;
    case MB_ABORTRETRYIGNORE: set({{IDABORT, u"Abort"}, {IDRETRY, u"Retry"}, {IDIGNORE, u"Ignore"}}); break;
    case MB_YESNOCANCEL: set({{IDYES, u"Yes"}, {IDNO, u"No"}, {IDCANCEL, u"Cancel"}}); break;
    case MB_YESNO: set({{IDYES, u"Yes"}, {IDNO, u"No"}}); break;
    case MB_RETRYCANCEL: set({{IDRETRY, u"Retry"}, {IDCANCEL, u"Cancel"}}); break;
    default: break;
  }
  return b;
}

bool IsLineEnd(char16_t c) { return c == u'\r' || c == u'\n'; }

// The longest start of word no wider than maxWidth; at least one character,
// and never half a surrogate pair.
std::size_t FittingPrefix(const std::u16string& word, int maxWidth,
                          const std::function<int(const std::u16string&)>& width) {
  // No character is narrower than a pixel: longer starts need no measuring.
  std::size_t lo = 1, hi = std::min(word.size(), std::size_t(std::max(maxWidth, 1)));
  while (lo < hi) {
    std::size_t mid = (lo + hi + 1) / 2;
    if (width(word.substr(0, mid)) <= maxWidth) lo = mid;
    else hi = mid - 1;
  }
  if (lo < word.size() && lo > 1 && word[lo - 1] >= 0xD800 && word[lo - 1] <= 0xDBFF) --lo;
  return lo;
}

void WrapParagraph(const std::u16string& p, int maxWidth, const std::function<int(const std::u16string&)>& width,
                   std::vector<std::u16string>& out) {
  std::u16string line;
  bool first = true;  // the paragraph's own leading blanks stay
  std::size_t i = 0;
  while (i < p.size()) {
    std::size_t j = i;
    while (j < p.size() && p[j] == u' ') ++j;
    std::size_t k = j;
    while (k < p.size() && p[k] != u' ') ++k;
    if (j == k) break;  // blanks at the end
    std::u16string word = p.substr(j, k - j);
    std::u16string joined = line.empty() && !first ? word : line + p.substr(i, j - i) + word;
    i = k;
    first = false;
    if (width(joined) <= maxWidth) {
      line = std::move(joined);
      continue;
    }
    if (!line.empty()) out.push_back(std::move(line));
    line.clear();
    while (word.size() > 1 && width(word) > maxWidth) {
      std::size_t cut = FittingPrefix(word, maxWidth, width);
      std::size_t sep = word.find_last_of(u"/\\", cut - 1);
      if (sep != std::u16string::npos && sep > 0) cut = sep + 1;
      out.push_back(word.substr(0, cut));
      word.erase(0, cut);
    }
    line = std::move(word);
  }
  out.push_back(std::move(line));
}

struct TBoxState {
  TButtons Buttons;
  int Default = IDOK;
};

INT_PTR BoxProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  auto* s = reinterpret_cast<TBoxState*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  switch (m) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(h, GWLP_USERDATA, l);
      if (HWND b = GetDlgItem(h, reinterpret_cast<TBoxState*>(l)->Default)) SetFocus(b);
      return 0;
    case WM_CLOSE:
      // Asked to end by a terminating signal: the default answer.
      if (s && TerminationRequested()) {
        EndDialog(h, s->Default);
        return 1;
      }
      return 0;
    case WM_COMMAND: {
      if (!s) return 0;
      const int id = LOWORD(w);
      if (s->Buttons.Has(id)) EndDialog(h, id);
      else if (TerminationRequested()) EndDialog(h, s->Default);
      else if (id == IDCANCEL && s->Buttons.Count == 1) EndDialog(h, s->Buttons.Ids[0]);  // Escape on an OK box
      return 1;
    }
    default: return 0;
  }
}

// A box given no owner belongs to the window the user works in: the
// thread's active window, else its frontmost one on screen. It stays above
// that window (also over a full screen) and gives the keyboard back to it.
HWND DefaultBoxOwner(TWindowManager& wm) {
  const std::uint32_t me = CurrentThreadId();
  const auto usable = [&](HWND h) {
    auto w = h ? wm.Find(h) : nullptr;
    return w && w->Life == TWindowLife::Alive && w->Tid == me && !(w->Style & WS_CHILD) &&
           (w->Style & WS_VISIBLE) && !(w->Style & WS_DISABLED) && !(w->ExStyle & WS_EX_TOOLWINDOW);
  };
  if (usable(wm.Input.Active)) return wm.Input.Active;
  for (HWND t : wm.Windows.TopZ)
    if (usable(t)) return t;
  return nullptr;
}

// The box as a dialog of the window manager: one line of text per static
// control, the buttons centred below. Other windows of the thread wait.
int ShowBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type, int answer) {
  RECT work{0, 0, 1024, 768};
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  HMONITOR mon = owner ? MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY)
                       : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  if (GetMonitorInfoA(mon, &mi)) work = mi.rcWork;
  const int screenW = std::max<int>(work.right - work.left, 200), screenH = std::max<int>(work.bottom - work.top, 150);

  constexpr int kMargin = 12, kButtonW = 75, kButtonH = 23, kGap = 6, kFrame = 16, kCaption = 40, kIcon = 32;
  constexpr int kCaptionButtons = 4;
  HDC dc = GetDC(nullptr);
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  auto width = [dc](const std::u16string& s) {
    SIZE z{};
    GetTextExtentPoint32W(dc, s.c_str(), int(s.size()), &z);
    return int(z.cx);
  };
  SIZE em{};
  GetTextExtentPoint32W(dc, u"Xg", 2, &em);
  const int lineH = std::max<int>(em.cy, 8) + 2;
  // The warning sign stands left of the text.
  const bool exclamation = (type & 0xF0) == MB_ICONEXCLAMATION;
  const int iconW = exclamation ? kIcon + kMargin : 0;
  // The whole box, its frame, margins and sign with the text, takes two
  // thirds of the screen at most: the text gets what is left of them.
  const int maxBox = screenW * 2 / 3 - kFrame;
  const int maxText = std::max(40, maxBox - 2 * kMargin - iconW);
  // More than a screen holds is never shown: long texts are cut first.
  std::vector<std::u16string> lines = WrapMessageText(text.substr(0, 16384), maxText, width);
  const std::size_t maxLines = std::size_t(std::max(1, (screenH - kCaption - 3 * kMargin - kButtonH) / lineH));
  if (lines.size() > maxLines) {
    lines.resize(maxLines);
    lines.back() = u"...";
  }
  int textW = 0;
  for (const auto& l : lines) textW = std::max(textW, std::min(width(l), maxText));
  // The title shows whole: the window manager writes it in a bold caption
  // font beside its buttons (the window's menu, minimise, maximise, close).
  int titleW = 0;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
    if (HFONT captionFont = CreateFontIndirectW(&metrics.lfCaptionFont)) {
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(captionFont));
      titleW = width(caption) + kCaptionButtons * GetSystemMetrics(SM_CYCAPTION);
      SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      DeleteObject(reinterpret_cast<HGDIOBJ>(captionFont));
    }
  SelectObject(dc, oldFont);
  ReleaseDC(nullptr, dc);

  TBoxState state;
  state.Buttons = ButtonsOf(type);
  state.Default = answer;
  const int n = state.Buttons.Count;
  const int buttonsW = n * kButtonW + (n - 1) * kGap;
  const int textH = std::max(int(lines.size()) * lineH, exclamation ? kIcon : 0);
  // Only the buttons may widen a box past its two thirds (a tiny screen),
  // never past the screen.
  const int cx = std::min(std::max(std::min(std::max(iconW + textW, titleW) + 2 * kMargin, maxBox), buttonsW + 2 * kMargin),
                          screenW - kFrame);
  const int cy = kMargin + textH + kMargin + kButtonH + kMargin;

  TDialogDesc d;
  d.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME | DS_CENTER;
  d.Cx = std::int16_t(cx);
  d.Cy = std::int16_t(cy);
  d.Title = caption;
  if (exclamation) {
    TDialogItemDesc it;
    it.Style = WS_CHILD | WS_VISIBLE | SS_ICON;
    it.X = kMargin;
    it.Y = kMargin;
    it.Cx = it.Cy = kIcon;
    it.Id = 0xFFFF;
    it.ClassAtom = kStaticClassAtom;
    it.Title = u"#" + FromUtf8(std::to_string(IDI_EXCLAMATION));
    d.Items.push_back(std::move(it));
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    TDialogItemDesc it;
    it.Style = WS_CHILD | WS_VISIBLE;
    it.X = std::int16_t(kMargin + iconW);
    it.Y = std::int16_t(kMargin + int(i) * lineH);
    it.Cx = std::int16_t(textW);
    it.Cy = std::int16_t(lineH);
    it.Id = 0xFFFF;
    it.ClassAtom = kStaticClassAtom;
    it.Title = lines[i];
    d.Items.push_back(std::move(it));
  }
  for (int i = 0; i < n; ++i) {
    TDialogItemDesc it;
    const int id = state.Buttons.Ids[i];
    it.Style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (id == answer ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    it.X = std::int16_t((cx - buttonsW) / 2 + i * (kButtonW + kGap));
    it.Y = std::int16_t(cy - kMargin - kButtonH);
    it.Cx = kButtonW;
    it.Cy = kButtonH;
    it.Id = WORD(id);
    it.ClassAtom = kButtonClassAtom;
    it.Title = state.Buttons.Labels[i];
    d.Items.push_back(std::move(it));
  }

  std::vector<HWND> waiting;
  const DWORD me = CurrentThreadId();
  for (HWND t = FindWindowExW(nullptr, nullptr, nullptr, nullptr); t; t = FindWindowExW(nullptr, t, nullptr, nullptr))
    if (t != owner && GetWindowThreadProcessId(t, nullptr) == me && IsWindowVisible(t) && IsWindowEnabled(t))
      waiting.push_back(t);
  for (HWND t : waiting) EnableWindow(t, 0);
  const INT_PTR r = DialogBoxFromDesc(d, owner, &BoxProc, LPARAM(&state));
  for (HWND t : waiting)
    if (IsWindow(t)) EnableWindow(t, 1);
  return state.Buttons.Has(int(r)) ? int(r) : answer;
}

}  // namespace

int DefaultMessageBoxAnswer(UINT type) {
  const TButtons b = ButtonsOf(type);
  const int d = int((type >> 8) & 0xF);
  return b.Ids[d < b.Count ? d : 0];
}

std::vector<std::u16string> WrapMessageText(const std::u16string& text, int maxWidth,
                                            const std::function<int(const std::u16string&)>& width) {
  std::vector<std::u16string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !IsLineEnd(text[i])) continue;
    WrapParagraph(text.substr(start, i - start), maxWidth, width, out);
    if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  return out;
}

}  // namespace plat::user

namespace plat {

using namespace user;

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
  TWindowManager& wm = WindowManager();
  std::u16string t = FromChars(text), c = caption ? std::u16string(caption) : std::u16string(u"Error");
  int answer = DefaultMessageBoxAnswer(type);
  std::string line = ToUtf8(c) + ": " + ToUtf8(t);
  for (char& ch : line)
    if (ch == '\r' || ch == '\n') ch = ' ';
  bool shows = false;
  {
    auto l = wm.Lock();
    wm.MessageBoxes.Shown.push_back(line);
    if (!wm.MessageBoxes.Script.empty()) {
      answer = wm.MessageBoxes.Script.front();
      wm.MessageBoxes.Script.pop_front();
      return answer;
    }
    auto w = owner ? wm.Find(owner) : nullptr;
    owner = w ? TopLevelOf(w)->H : DefaultBoxOwner(wm);
    shows = wm.Backend && wm.OnUiThread() && wm.Backend->ShowsMessageBoxes();
  }
  // Also where a box is seen: a console or a log keeps the text.
  WriteStdErr(line + "\n");
  if (!shows || TerminationRequested()) return answer;
  return ShowBox(owner, t, c, type, answer);
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
