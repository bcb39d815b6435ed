#include "Platform/User/PlatDialogs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/User/PlatClipboard.h"
#include "Platform/User/PlatMessageBoxes.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUser.h"

namespace plat {

namespace {

// ---- template reading -------------------------------------------------------------

class TTemplateReader {
public:
  TTemplateReader(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  bool Word(WORD& v) {
    if (n_ - pos_ < 2 || pos_ > n_) return false;
    v = WORD(p_[pos_] | (p_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
  }
  bool DWord(DWORD& v) {
    WORD lo, hi;
    if (!Word(lo) || !Word(hi)) return false;
    v = DWORD(lo) | (DWORD(hi) << 16);
    return true;
  }
  bool Short(std::int16_t& v) {
    WORD w;
    if (!Word(w)) return false;
    v = std::int16_t(w);
    return true;
  }
  bool String(std::u16string& s) {
    s.clear();
    for (WORD c; Word(c);) {
      if (c == 0) return true;
      s.push_back(char16_t(c));
    }
    return false;
  }
  // A string or an ordinal (0xFFFF and a word); the ordinal, or -1 for a
  // string, or 0 for none.
  bool StringOrOrdinal(int& ordinal, std::u16string& s) {
    WORD first;
    if (!Word(first)) return false;
    s.clear();
    if (first == 0) return ordinal = 0, true;
    if (first == 0xFFFF) {
      WORD o;
      if (!Word(o)) return false;
      return ordinal = o, true;
    }
    ordinal = -1;
    s.push_back(char16_t(first));
    std::u16string rest;
    if (!String(rest)) return false;
    s += rest;
    return true;
  }
  bool AlignDWord() {
    std::size_t to = (pos_ + 3) & ~std::size_t(3);
    if (to > n_) return false;
    pos_ = to;
    return true;
  }
  bool Bytes(std::size_t count, std::vector<std::uint8_t>& out) {
    if (count > n_ - pos_) return false;
    out.assign(p_ + pos_, p_ + pos_ + count);
    pos_ += count;
    return true;
  }

private:
  const std::uint8_t* p_;
  std::size_t n_;
  std::size_t pos_ = 0;
};

bool SameNoCase(const std::u16string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = a[i];
    if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
    if (c != char16_t(b[i])) return false;
  }
  return true;
}

// ---- modal state -------------------------------------------------------------------

struct TDialogState {
  DLGPROC Proc = nullptr;
  bool Ended = false;
  INT_PTR Result = 0;
  HWND Focus = nullptr;  // the control that had the focus when the dialog was last active
};

enum class TControlKind { None, Button, Edit, Static };

struct TControlState {
  TControlKind Kind = TControlKind::None;
  bool Checked = false;
  bool Pressed = false;
  // An edit box: the caret, the other end of the selection (the anchor; the
  // caret itself when nothing is selected), and how far the text is
  // scrolled to the left, in pixels.
  std::size_t Caret = 0, Anchor = 0;
  int Scroll = 0;
  bool Dragging = false;
};

std::mutex gMutex;
std::map<HWND, std::shared_ptr<TDialogState>> gDialogs;
std::map<HWND, TControlState> gControls;
IDialogDriver* gDriver = nullptr;

std::shared_ptr<TDialogState> DialogState(HWND h) {
  std::lock_guard<std::mutex> l(gMutex);
  auto it = gDialogs.find(h);
  return it == gDialogs.end() ? nullptr : it->second;
}

// A dialog remembers the control that last had the focus, for when it is
// active again.
void RememberFocus(HWND control) {
  const HWND dialog = GetParent(control);
  std::lock_guard<std::mutex> l(gMutex);
  auto it = gDialogs.find(dialog);
  if (it != gDialogs.end()) it->second->Focus = control;
}

template <class F>
auto OnControl(HWND h, F f) {
  std::lock_guard<std::mutex> l(gMutex);
  return f(gControls[h]);
}

void DropControl(HWND h) {
  std::lock_guard<std::mutex> l(gMutex);
  gControls.erase(h);
}

TControlKind KindOf(HWND h) {
  std::lock_guard<std::mutex> l(gMutex);
  auto it = gControls.find(h);
  return it == gControls.end() ? TControlKind::None : it->second.Kind;
}

void SetKind(HWND h, TControlKind kind) {
  OnControl(h, [kind](TControlState& s) { return s.Kind = kind; });
}

LRESULT ButtonProc(HWND h, UINT m, WPARAM w, LPARAM l);
LRESULT EditProc(HWND h, UINT m, WPARAM w, LPARAM l);
LRESULT StaticProc(HWND h, UINT m, WPARAM w, LPARAM l);
LRESULT DialogWindowProc(HWND h, UINT m, WPARAM w, LPARAM l);
void EndUnanswered(HWND dialog, const std::shared_ptr<TDialogState>& s);
std::vector<HWND> Children(HWND dialog);
HWND FocusTarget(HWND dialog, HWND remembered);

constexpr const char16_t* kDialogClass = u"#32770";

bool IsButton(HWND h) { return h && KindOf(h) == TControlKind::Button; }
// No button, or one that takes input.
bool Available(HWND button) { return !button || IsWindowEnabled(button); }
bool IsEdit(HWND h) { return h && KindOf(h) == TControlKind::Edit; }

DWORD StyleOf(HWND h) { return DWORD(GetWindowLongW(h, GWL_STYLE)); }

void RegisterClasses() {
  struct TCls {
    const char16_t* Name;
    WNDPROC Proc;
  };
  const TCls classes[] = {{kDialogClass, &DialogWindowProc},
                          {u"BUTTON", &ButtonProc},
                          {u"EDIT", &EditProc},
                          {u"STATIC", &StaticProc}};
  for (const TCls& c : classes) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = c.Proc;
    // Double clicks select words in an edit box.
    if (c.Proc == &EditProc) wc.style = CS_DBLCLKS;
    wc.hInstance = ModuleInstance();
    wc.lpszClassName = c.Name;
    RegisterClassW(&wc);  // already there after the first dialog
  }
}

void Notify(HWND control, WORD code) {
  HWND parent = GetParent(control);
  if (parent) SendMessageW(parent, WM_COMMAND, MAKEWPARAM(WORD(GetDlgCtrlID(control)), code), LPARAM(control));
}

void ClickButton(HWND h) {
  if ((StyleOf(h) & BS_TYPEMASK) == BS_AUTOCHECKBOX) OnControl(h, [](TControlState& s) { return s.Checked = !s.Checked; });
  InvalidateRect(h, nullptr, 0);
  Notify(h, BN_CLICKED);
}

bool InsideClient(HWND h, LPARAM l) {
  RECT r;
  GetClientRect(h, &r);
  int x = std::int16_t(LOWORD(std::uintptr_t(l))), y = std::int16_t(HIWORD(std::uintptr_t(l)));
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// ---- classic drawing --------------------------------------------------------------------

COLORREF Sys(int index) { return COLORREF(GetSysColor(index)); }

void Fill(HDC dc, RECT r, COLORREF c) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  SetBkColor(dc, c);
  ExtTextOutW(dc, r.left, r.top, ETO_OPAQUE, &r, u"", 0, nullptr);
}

// One ring of a 3-D edge: top and left in one colour, bottom and right in the other.
RECT Ring(HDC dc, RECT r, COLORREF topLeft, COLORREF bottomRight) {
  Fill(dc, {r.left, r.top, r.right - 1, r.top + 1}, topLeft);
  Fill(dc, {r.left, r.top, r.left + 1, r.bottom - 1}, topLeft);
  Fill(dc, {r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
  Fill(dc, {r.right - 1, r.top, r.right, r.bottom}, bottomRight);
  return {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
}

RECT Sunken(HDC dc, RECT r) {
  r = Ring(dc, r, Sys(COLOR_BTNSHADOW), Sys(COLOR_BTNHIGHLIGHT));
  return Ring(dc, r, Sys(COLOR_3DDKSHADOW), Sys(COLOR_3DLIGHT));
}

// The text's width; drawn when draw is set, vertically centred in r.
int Text(HDC dc, RECT r, int x, const std::u16string& t, COLORREF color, bool draw = true) {
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SIZE size{};
  GetTextExtentPoint32W(dc, t.c_str(), int(t.size()), &size);
  if (draw && !t.empty()) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    ExtTextOutW(dc, x, (r.top + r.bottom - size.cy) / 2, ETO_CLIPPED, &r, t.c_str(), UINT(t.size()), nullptr);
  }
  SelectObject(dc, old);
  return size.cx;
}

template <class F>
LRESULT Paint(HWND h, F draw) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT r;
  GetClientRect(h, &r);
  if (dc) draw(dc, r);
  EndPaint(h, &ps);
  return 0;
}

void DrawButton(HWND h, HDC dc, RECT r) {
  const DWORD style = StyleOf(h);
  const std::u16string text = WindowText(h);
  const COLORREF ink = Sys(IsWindowEnabled(h) ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
  Fill(dc, r, Sys(COLOR_BTNFACE));
  if ((style & BS_TYPEMASK) == BS_AUTOCHECKBOX || (style & BS_TYPEMASK) == BS_CHECKBOX) {
    const int box = std::min<int>(13, r.bottom - r.top);
    RECT b{r.left, (r.top + r.bottom - box) / 2, r.left + box, (r.top + r.bottom - box) / 2 + box};
    RECT inner = Sunken(dc, b);
    Fill(dc, inner, Sys(COLOR_WINDOW));
    if (OnControl(h, [](TControlState& s) { return s.Checked; })) {
      // The tick: a short stroke down and a long one up, three pixels thick.
      const int x0 = inner.left + 2, y0 = inner.top + 4;
      for (int i = 0; i < 7; ++i) {
        const int y = i < 3 ? y0 + i : y0 + 4 - i;
        Fill(dc, {x0 + i, y, x0 + i + 1, y + 3}, Sys(COLOR_WINDOWTEXT));
      }
    }
    Text(dc, r, r.left + box + 4, text, ink);
    return;
  }
  const bool down = OnControl(h, [](TControlState& s) { return s.Pressed; }) && GetCapture() == h;
  if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON || GetFocus() == h) r = Ring(dc, r, 0, 0);
  if (down) {
    r = Ring(dc, r, Sys(COLOR_BTNSHADOW), Sys(COLOR_BTNSHADOW));
  } else {
    r = Ring(dc, r, Sys(COLOR_BTNHIGHLIGHT), Sys(COLOR_3DDKSHADOW));
    r = Ring(dc, r, Sys(COLOR_3DLIGHT), Sys(COLOR_BTNSHADOW));
  }
  const int w = Text(dc, r, 0, text, ink, false);
  Text(dc, r, (r.left + r.right - w) / 2 + (down ? 1 : 0), text, ink);
}

// The edit box's frame and the rectangle its text is drawn in.
RECT EditFrame(HWND h, HDC dc, RECT r, bool draw) {
  const DWORD style = StyleOf(h);
  if (GetWindowLongW(h, GWL_EXSTYLE) & LONG(WS_EX_CLIENTEDGE))
    r = draw ? Sunken(dc, r) : RECT{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
  else if (style & WS_BORDER)
    r = draw ? Ring(dc, r, Sys(COLOR_WINDOWFRAME), Sys(COLOR_WINDOWFRAME))
             : RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
  if (draw) Fill(dc, r, Sys(style & ES_READONLY ? COLOR_BTNFACE : COLOR_WINDOW));
  return {r.left + 2, r.top, std::max(r.left + 2, r.right - 2), r.bottom};
}

// The width of the start of an edit box's shown text.
int PrefixWidth(const std::u16string& shown, std::size_t n) {
  if (n == 0) return 0;
  HDC dc = GetDC(nullptr);
  RECT none{};
  const int w = Text(dc, none, 0, shown.substr(0, std::min(n, shown.size())), 0, false);
  ReleaseDC(nullptr, dc);
  return w;
}

// Scrolls the text so that the caret is in view, and no further than the
// text needs; the scroll is kept for the next time.
int ScrollToCaret(HWND h, const std::u16string& shown, std::size_t caret, int viewWidth) {
  const int caretX = PrefixWidth(shown, caret), textW = PrefixWidth(shown, shown.size());
  int scroll = OnControl(h, [](TControlState& s) { return s.Scroll; });
  const int view = std::max(1, viewWidth - 1);  // the caret's own pixel stays inside
  if (caretX - scroll > view) scroll = caretX - view;
  // Going left out of view, a third of the box shows what lies before the caret.
  if (caretX < scroll) scroll = caretX - view / 3;
  scroll = std::max(0, std::min(scroll, textW - view));
  OnControl(h, [scroll](TControlState& s) { return s.Scroll = scroll; });
  return scroll;
}

void DrawEdit(HWND h, HDC dc, RECT r) {
  const RECT t = EditFrame(h, dc, r, true);
  const std::u16string shown = EditDisplayText(h);
  const bool focused = GetFocus() == h;
  auto [caret, anchor] = OnControl(h, [](TControlState& s) { return std::pair(s.Caret, s.Anchor); });
  caret = std::min(caret, shown.size());
  anchor = std::min(anchor, shown.size());
  const int scroll = ScrollToCaret(h, shown, caret, t.right - t.left);
  const int x0 = t.left - scroll;
  Text(dc, t, x0, shown, Sys(COLOR_WINDOWTEXT));
  if (!focused) return;
  if (caret != anchor) {
    // The selection in the highlight colours, over the text drawn plainly.
    const std::size_t a = std::min(caret, anchor), b = std::max(caret, anchor);
    RECT sel{std::max<int>(t.left, x0 + PrefixWidth(shown, a)), t.top + 2,
             std::min<int>(t.right, x0 + PrefixWidth(shown, b)), t.bottom - 2};
    Fill(dc, sel, Sys(COLOR_HIGHLIGHT));
    Text(dc, sel, x0, shown, Sys(COLOR_HIGHLIGHTTEXT));
  }
  const int x = x0 + PrefixWidth(shown, caret);
  if (x >= t.left && x < t.right) Fill(dc, {x, t.top + 2, x + 1, t.bottom - 2}, Sys(COLOR_WINDOWTEXT));
}

LRESULT ButtonProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  switch (m) {
    case WM_NCCREATE: SetKind(h, TControlKind::Button); break;
    case BM_GETCHECK: return OnControl(h, [](TControlState& s) { return s.Checked; }) ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
      OnControl(h, [w](TControlState& s) { return s.Checked = (w == BST_CHECKED); });
      InvalidateRect(h, nullptr, 0);
      return 0;
    case BM_CLICK: ClickButton(h); return 0;
    case WM_LBUTTONDOWN:
      OnControl(h, [](TControlState& s) { return s.Pressed = true; });
      SetCapture(h);
      InvalidateRect(h, nullptr, 0);
      if (StyleOf(h) & WS_TABSTOP) SetFocus(h);
      return 0;
    case WM_LBUTTONUP: {
      bool was = OnControl(h, [](TControlState& s) { return std::exchange(s.Pressed, false); });
      if (GetCapture() == h) ReleaseCapture();
      InvalidateRect(h, nullptr, 0);
      if (was && InsideClient(h, l)) ClickButton(h);
      return 0;
    }
    case WM_PAINT: return Paint(h, [h](HDC dc, RECT r) { DrawButton(h, dc, r); });
    case WM_SETFOCUS: RememberFocus(h); [[fallthrough]];
    case WM_KILLFOCUS:
    case WM_SETTEXT: InvalidateRect(h, nullptr, 0); break;
    case WM_NCDESTROY: DropControl(h); break;
  }
  return DefWindowProcW(h, m, w, l);
}

// The warning sign: a yellow triangle edged in black with a black "!",
// standing on the bottom of r and centred in it.
void DrawExclamation(HDC dc, RECT r) {
  const int side = std::min<int>(r.right - r.left, r.bottom - r.top);
  if (side < 8) return;
  const int cx = (r.left + r.right) / 2, top = r.bottom - side;
  const COLORREF black = 0x000000, yellow = 0x0000D7FF;
  for (int y = 0; y < side; ++y) {
    const int half = y * (side / 2) / (side - 1);
    Fill(dc, {cx - half - 1, top + y, cx + half + 1, top + y + 1}, black);
    if (y > 1 && y < side - 1 && half >= 1) Fill(dc, {cx - half, top + y, cx + half, top + y + 1}, yellow);
  }
  const int bar = std::max(2, side / 10);
  Fill(dc, {cx - bar / 2, top + side * 3 / 8, cx - bar / 2 + bar, top + side * 11 / 16}, black);
  Fill(dc, {cx - bar / 2, top + side * 25 / 32, cx - bar / 2 + bar, top + side * 25 / 32 + bar}, black);
}

LRESULT StaticProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_NCCREATE) SetKind(h, TControlKind::Static);
  if (m == WM_NCDESTROY) DropControl(h);
  if (m == WM_SETTEXT) InvalidateRect(h, nullptr, 0);
  if (m == WM_PAINT && (StyleOf(h) & SS_TYPEMASK) == SS_ICON)
    return Paint(h, [h](HDC dc, RECT r) {
      Fill(dc, r, Sys(COLOR_BTNFACE));
      if (WindowText(h) == u"#32515") DrawExclamation(dc, r);
    });
  if (m == WM_PAINT)
    return Paint(h, [h](HDC dc, RECT r) {
      Fill(dc, r, Sys(COLOR_BTNFACE));
      // Line ends break the text, and so does the right edge (at blanks):
      // the lines stand centred when they fit, else from the top.
      RECT none{};
      const auto width = [dc, &none](const std::u16string& t) { return Text(dc, none, 0, t, 0, false); };
      const std::vector<std::u16string> lines =
          user::WrapMessageText(WindowText(h), std::max<int>(1, r.right - r.left), width);
      if (lines.size() <= 1) {
        Text(dc, r, r.left, lines.empty() ? std::u16string() : lines[0], Sys(COLOR_WINDOWTEXT));
        return;
      }
      SIZE em{};
      HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      GetTextExtentPoint32W(dc, u"Xg", 2, &em);
      SelectObject(dc, old);
      const int lineH = std::max<int>(em.cy, 1);
      const int total = lineH * int(lines.size());
      int y = total <= r.bottom - r.top ? r.top + (r.bottom - r.top - total) / 2 : r.top;
      for (const std::u16string& line : lines) {
        if (y >= r.bottom) break;
        Text(dc, RECT{r.left, y, r.right, std::min<int>(y + lineH, r.bottom)}, r.left, line, Sys(COLOR_WINDOWTEXT));
        y += lineH;
      }
    });
  return DefWindowProcW(h, m, w, l);
}

// The text after an edit: the caret at Caret and nothing selected.
void EditChanged(HWND h, const std::u16string& text, std::size_t caret) {
  SetWindowTextW(h, text.c_str());
  InvalidateRect(h, nullptr, 0);
  OnControl(h, [caret](TControlState& s) { return s.Caret = s.Anchor = caret; });
  Notify(h, EN_CHANGE);
}

// The whole text selected, the caret at its end: how a dialog that opens
// gives an edit box the focus.
void SelectAllText(HWND edit) {
  const std::size_t n = WindowText(edit).size();
  OnControl(edit, [n](TControlState& s) { return s.Caret = n, s.Anchor = 0; });
  InvalidateRect(edit, nullptr, 0);
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// One character to the left or right of i, a surrogate pair counting as one.
std::size_t StepLeft(const std::u16string& t, std::size_t i) {
  if (i == 0) return 0;
  --i;
  if (i > 0 && IsLowSurrogate(t[i]) && IsHighSurrogate(t[i - 1])) --i;
  return i;
}
std::size_t StepRight(const std::u16string& t, std::size_t i) {
  if (i >= t.size()) return t.size();
  ++i;
  if (i < t.size() && IsLowSurrogate(t[i]) && IsHighSurrogate(t[i - 1])) ++i;
  return i;
}

// Blanks, word characters (letters, digits, "_" and every character past
// ASCII), and the other signs, which break words (a path's "/" and ".").
int CharClass(char16_t c) {
  if (c == u' ' || c == u'\t') return 0;
  if ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c > 0x7F)
    return 1;
  return 2;
}

// The run of one class around a position: a double click's word.
void WordAt(const std::u16string& t, std::size_t at, std::size_t& from, std::size_t& to) {
  from = to = std::min(at, t.size());
  if (t.empty()) return;
  const std::size_t probe = at < t.size() ? at : t.size() - 1;
  const int k = CharClass(t[probe]);
  from = probe;
  while (from > 0 && CharClass(t[from - 1]) == k) --from;
  to = probe + 1;
  while (to < t.size() && CharClass(t[to]) == k) ++to;
}

// The character boundary nearest to a client x of the edit box, found by
// halves: a long text is measured a few times, not once per character.
std::size_t CaretAtX(HWND h, int x) {
  RECT cr;
  GetClientRect(h, &cr);
  const RECT t = EditFrame(h, nullptr, cr, false);
  const std::u16string shown = EditDisplayText(h);
  const int scroll = OnControl(h, [](TControlState& s) { return s.Scroll; });
  const int target = x - t.left + scroll;
  std::size_t lo = 0, hi = shown.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (PrefixWidth(shown, mid) < target) lo = mid + 1;
    else hi = mid;
  }
  // Never between the halves of a surrogate pair.
  if (lo > 0 && lo < shown.size() && IsLowSurrogate(shown[lo]) && IsHighSurrogate(shown[lo - 1])) ++lo;
  const std::size_t before = StepLeft(shown, lo);
  return std::abs(PrefixWidth(shown, before) - target) <= std::abs(PrefixWidth(shown, lo) - target) ? before : lo;
}

void PutOnClipboard(HWND h, const std::u16string& text) {
  if (text.empty() || !OpenClipboard(h)) return;
  EmptyClipboard();
  if (HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(char16_t))) {
    if (auto* p = static_cast<char16_t*>(GlobalLock(g))) {
      std::copy(text.begin(), text.end(), p);
      p[text.size()] = 0;
      GlobalUnlock(g);
    }
    if (!SetClipboardData(CF_UNICODETEXT, g)) GlobalFree(g);
  }
  CloseClipboard();
}

std::u16string ClipboardText(HWND h, bool singleLine) {
  std::u16string insert;
  if (OpenClipboard(h)) {
    if (HGLOBAL g = GetClipboardData(CF_UNICODETEXT)) {
      if (auto* p = static_cast<const char16_t*>(GlobalLock(g))) {
        std::size_t n = GlobalSize(g) / 2, k = 0;
        while (k < n && p[k]) ++k;
        insert.assign(p, k);
        GlobalUnlock(g);
      }
    }
    CloseClipboard();
  }
  if (singleLine) {
    // A single line keeps the first line only.
    std::size_t eol = insert.find_first_of(u"\r\n");
    if (eol != std::u16string::npos) insert.resize(eol);
  }
  return insert;
}

LRESULT EditProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  const auto selection = [h](const std::u16string& text) {
    auto [c, a] = OnControl(h, [](TControlState& s) { return std::pair(s.Caret, s.Anchor); });
    return std::pair(std::min(c, text.size()), std::min(a, text.size()));
  };
  const auto select = [h](std::size_t caret, std::size_t anchor) {
    OnControl(h, [=](TControlState& s) { return s.Caret = caret, s.Anchor = anchor; });
    InvalidateRect(h, nullptr, 0);
  };
  const bool readOnly = (StyleOf(h) & ES_READONLY) != 0;
  // What is typed, pasted or deleted replaces the selection.
  const auto replace = [&](const std::u16string& with) {
    std::u16string text = WindowText(h);
    auto [caret, anchor] = selection(text);
    const std::size_t a = std::min(caret, anchor), b = std::max(caret, anchor);
    if (a == b && with.empty()) return;
    EditChanged(h, text.replace(a, b - a, with), a + with.size());
  };
  switch (m) {
    case WM_NCCREATE: SetKind(h, TControlKind::Edit); break;
    case WM_SETTEXT: {
      LRESULT r = DefWindowProcW(h, m, w, l);
      std::size_t n = WindowText(h).size();
      OnControl(h, [n](TControlState& s) { return s.Caret = s.Anchor = n; });
      InvalidateRect(h, nullptr, 0);
      return r;
    }
    case WM_LBUTTONDOWN: {
      SetFocus(h);
      const std::u16string text = WindowText(h);
      const std::size_t at = CaretAtX(h, std::int16_t(LOWORD(std::uintptr_t(l))));
      // Shift extends the selection to the click; else the caret goes there.
      select(at, (w & MK_SHIFT) ? selection(text).second : at);
      OnControl(h, [](TControlState& s) { return s.Dragging = true; });
      SetCapture(h);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (OnControl(h, [](TControlState& s) { return s.Dragging; }) && GetCapture() == h) {
        const std::u16string text = WindowText(h);
        select(CaretAtX(h, std::int16_t(LOWORD(std::uintptr_t(l)))), selection(text).second);
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (OnControl(h, [](TControlState& s) { return std::exchange(s.Dragging, false); }) && m == WM_LBUTTONUP &&
          GetCapture() == h)
        ReleaseCapture();
      return 0;
    case WM_LBUTTONDBLCLK: {
      SetFocus(h);
      // A password box has no words to show: it selects all.
      const std::u16string text = WindowText(h);
      std::size_t from = 0, to = text.size();
      if (!(StyleOf(h) & ES_PASSWORD)) WordAt(text, CaretAtX(h, std::int16_t(LOWORD(std::uintptr_t(l)))), from, to);
      select(to, from);
      return 0;
    }
    case WM_CHAR:
      if (!readOnly && w >= 0x20 && w != 0x7F && w <= 0xFFFF) replace(std::u16string(1, char16_t(w)));
      return 0;
    case WM_KEYDOWN: {
      const std::u16string text = WindowText(h);
      const auto sel = selection(text);
      const std::size_t caret = sel.first, anchor = sel.second;
      const bool shift = GetKeyState(VK_SHIFT) < 0, ctrl = GetKeyState(VK_CONTROL) < 0;
      const std::size_t a = std::min(caret, anchor), b = std::max(caret, anchor);
      // Moves the caret; Shift keeps the anchor, so that the selection grows.
      const auto move = [&](std::size_t to) { select(to, shift ? anchor : to); };
      switch (w) {
        case VK_LEFT:
          if (!shift && a != b) return select(a, a), 0;
          return move(StepLeft(text, caret)), 0;
        case VK_RIGHT:
          if (!shift && a != b) return select(b, b), 0;
          return move(StepRight(text, caret)), 0;
        case VK_HOME: return move(0), 0;
        case VK_END: return move(text.size()), 0;
        case 'A':
          if (!ctrl) break;
          select(text.size(), 0);
          return 0;
        case 'C':
        case 'X':
          if (!ctrl) break;
          // A password is never copied.
          if (a != b && !(StyleOf(h) & ES_PASSWORD)) {
            PutOnClipboard(h, text.substr(a, b - a));
            if (w == 'X' && !readOnly) replace(u"");
          }
          return 0;
        case 'V':
          if (!ctrl) break;
          if (!readOnly) {
            std::u16string insert = ClipboardText(h, !(StyleOf(h) & ES_MULTILINE));
            if (!insert.empty()) replace(insert);
          }
          return 0;
        case VK_BACK:
          // Taken here, not as a character, so that it works with or without translation.
          if (readOnly) return 0;
          if (a == b && caret > 0) select(StepLeft(text, caret), caret);
          replace(u"");
          return 0;
        case VK_DELETE:
          if (readOnly) return 0;
          if (a == b && caret < text.size()) select(StepRight(text, caret), caret);
          replace(u"");
          return 0;
        default: break;
      }
      return DefWindowProcW(h, m, w, l);
    }
    case WM_PAINT: return Paint(h, [h](HDC dc, RECT r) { DrawEdit(h, dc, r); });
    case WM_SETFOCUS: RememberFocus(h); [[fallthrough]];
    case WM_KILLFOCUS: InvalidateRect(h, nullptr, 0); break;
    case WM_NCDESTROY: DropControl(h); break;
  }
  return DefWindowProcW(h, m, w, l);
}

LRESULT DialogWindowProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  auto state = DialogState(h);
  if (state && state->Proc) {
    INT_PTR r = state->Proc(h, m, w, l);
    if (r != 0 && m != WM_INITDIALOG) return r;
  }
  switch (m) {
    case WM_ACTIVATE:
      if (!state) break;
      if (LOWORD(w) == WA_INACTIVE) return 0;
      // The typing goes back where it was when the dialog was last active.
      if (HWND to = FocusTarget(h, state->Focus)) {
        SetFocus(to);
        return 0;
      }
      break;
    case WM_CLOSE:
      // The close box answers as the Cancel button does; not while that is
      // unavailable, unless the program is ending (a terminating signal, the
      // display gone): the dialog then ends cancelled all the same.
      if (Available(GetDlgItem(h, IDCANCEL)))
        SendMessageW(h, WM_COMMAND, MAKEWPARAM(WORD(IDCANCEL), BN_CLICKED), LPARAM(GetDlgItem(h, IDCANCEL)));
      else if (state && TerminationRequested())
        EndUnanswered(h, state);
      return 0;
    case WM_PAINT:
      return Paint(h, [h](HDC dc, RECT r) {
        // The face around the controls only: they may have been painted already.
        HRGN face = CreateRectRgnIndirect(&r);
        for (HWND c : Children(h)) {
          if (!IsWindowVisible(c)) continue;
          RECT cr;
          GetWindowRect(c, &cr);
          POINT tl{cr.left, cr.top};
          ScreenToClient(h, &tl);
          HRGN hole = CreateRectRgn(tl.x, tl.y, tl.x + cr.right - cr.left, tl.y + cr.bottom - cr.top);
          CombineRgn(face, face, hole, RGN_DIFF);
          DeleteObject(reinterpret_cast<HGDIOBJ>(hole));
        }
        SelectClipRgn(dc, face);
        Fill(dc, r, Sys(COLOR_BTNFACE));
        SelectClipRgn(dc, nullptr);
        DeleteObject(reinterpret_cast<HGDIOBJ>(face));
      });
  }
  return DefWindowProcW(h, m, w, l);
}

// The children in creation order.
std::vector<HWND> Children(HWND dialog) {
  std::vector<HWND> r;
  for (HWND c = FindWindowExW(dialog, nullptr, nullptr, nullptr); c; c = FindWindowExW(dialog, c, nullptr, nullptr))
    r.push_back(c);
  return r;
}

bool IsTabStop(HWND c) {
  DWORD s = StyleOf(c);
  return (s & WS_TABSTOP) && (s & WS_VISIBLE) && !(s & WS_DISABLED);
}

void MoveFocus(HWND dialog, bool back) {
  std::vector<HWND> stops;
  for (HWND c : Children(dialog))
    if (IsTabStop(c)) stops.push_back(c);
  if (stops.empty()) return;
  HWND focus = GetFocus();
  auto it = std::find(stops.begin(), stops.end(), focus);
  std::size_t n = stops.size(), i;
  if (it == stops.end())
    i = back ? n - 1 : 0;
  else
    i = back ? (std::size_t(it - stops.begin()) + n - 1) % n : (std::size_t(it - stops.begin()) + 1) % n;
  SetFocus(stops[i]);
}

HWND DefaultButton(HWND dialog) {
  for (HWND c : Children(dialog))
    if (IsButton(c) && (StyleOf(c) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return c;
  return nullptr;
}

bool CanTakeFocus(HWND c) {
  const DWORD s = StyleOf(c);
  return (s & WS_VISIBLE) && !(s & WS_DISABLED);
}

// Where the typing goes in a dialog: the control remembered, else the first
// box to type into, else the default button, else the first tab stop.
HWND FocusTarget(HWND dialog, HWND remembered) {
  if (remembered && IsChild(dialog, remembered) && CanTakeFocus(remembered)) return remembered;
  const std::vector<HWND> children = Children(dialog);
  for (HWND c : children)
    if (IsEdit(c) && CanTakeFocus(c) && !(StyleOf(c) & ES_READONLY)) return c;
  if (HWND b = DefaultButton(dialog); b && CanTakeFocus(b)) return b;
  for (HWND c : children)
    if (IsTabStop(c)) return c;
  return nullptr;
}

// The dialog keys; true when the message was used.
bool DialogKey(HWND dialog, const MSG& msg) {
  if (msg.message != WM_KEYDOWN || !(msg.hwnd == dialog || IsChild(dialog, msg.hwnd))) return false;
  HWND focus = GetFocus();
  switch (msg.wParam) {
    case VK_TAB: MoveFocus(dialog, GetKeyState(VK_SHIFT) < 0); return true;
    case VK_ESCAPE:
      // A button that is unavailable is not pressed by its key either.
      if (Available(GetDlgItem(dialog, IDCANCEL)))
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(WORD(IDCANCEL), BN_CLICKED), LPARAM(GetDlgItem(dialog, IDCANCEL)));
      return true;
    case VK_RETURN: {
      if (focus && IsEdit(focus) && (StyleOf(focus) & ES_MULTILINE)) return false;
      HWND target = nullptr;
      if (focus && IsChild(dialog, focus) && IsButton(focus) && (StyleOf(focus) & BS_TYPEMASK) <= BS_DEFPUSHBUTTON)
        target = focus;
      else
        target = DefaultButton(dialog);
      int id = target ? GetDlgCtrlID(target) : IDOK;
      if (Available(target)) SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(WORD(id), BN_CLICKED), LPARAM(target));
      return true;
    }
    case VK_SPACE:
      if (focus && IsChild(dialog, focus) && IsButton(focus)) {
        ClickButton(focus);
        return true;
      }
      return false;
  }
  return false;
}

bool Ended(const std::shared_ptr<TDialogState>& s) {
  std::lock_guard<std::mutex> l(gMutex);
  return s->Ended;
}

// Nobody answers: the dialog is cancelled as by its close box, and ended
// anyway if its procedure ignores that.
void EndUnanswered(HWND dialog, const std::shared_ptr<TDialogState>& s) {
  if (!Ended(s) && IsWindow(dialog))
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(WORD(IDCANCEL), BN_CLICKED), LPARAM(GetDlgItem(dialog, IDCANCEL)));
  if (!Ended(s)) EndDialog(dialog, IDCANCEL);
}

}  // namespace

// ---- public ------------------------------------------------------------------------

bool ParseDialogTemplate(const void* data, std::size_t size, TDialogDesc& desc) {
  desc = TDialogDesc{};
  if (!data) return false;
  TTemplateReader r(static_cast<const std::uint8_t*>(data), size);
  WORD count = 0;
  if (!r.DWord(desc.Style) || !r.DWord(desc.ExStyle)) return false;
  // An extended template starts with version 1 and 0xFFFF.
  if (desc.Style == 0xFFFF0001u) return false;
  if (!r.Word(count) || !r.Short(desc.X) || !r.Short(desc.Y) || !r.Short(desc.Cx) || !r.Short(desc.Cy)) return false;
  int ordinal;
  std::u16string s;
  if (!r.StringOrOrdinal(ordinal, s) || ordinal != 0) return false;  // menu
  if (!r.StringOrOrdinal(ordinal, s) || ordinal != 0) return false;  // class
  if (!r.String(desc.Title)) return false;
  if (desc.Style & DS_SETFONT) {
    if (!r.Word(desc.PointSize) || !r.String(desc.FaceName)) return false;
  }
  for (WORD i = 0; i < count; ++i) {
    TDialogItemDesc it;
    if (!r.AlignDWord() || !r.DWord(it.Style) || !r.DWord(it.ExStyle) || !r.Short(it.X) || !r.Short(it.Y) ||
        !r.Short(it.Cx) || !r.Short(it.Cy) || !r.Word(it.Id))
      return false;
    if (!r.StringOrOrdinal(ordinal, s)) return false;
    if (ordinal == -1) {
      if (SameNoCase(s, "BUTTON")) ordinal = kButtonClassAtom;
      else if (SameNoCase(s, "EDIT")) ordinal = kEditClassAtom;
      else if (SameNoCase(s, "STATIC")) ordinal = kStaticClassAtom;
    }
    if (ordinal != kButtonClassAtom && ordinal != kEditClassAtom && ordinal != kStaticClassAtom) return false;
    it.ClassAtom = WORD(ordinal);
    if (!r.StringOrOrdinal(ordinal, it.Title)) return false;  // an ordinal title (an icon) shows nothing
    WORD extra = 0;
    if (!r.Word(extra)) return false;
    // The size word counts itself.
    if (extra != 0 && (extra < 2 || !r.Bytes(extra - 2u, it.CreationData))) return false;
    desc.Items.push_back(std::move(it));
  }
  return true;
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE, const void* dialogTemplate, std::size_t size, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam) {
  TDialogDesc d;
  if (!ParseDialogTemplate(dialogTemplate, size, d)) {
    return -1;
  }
  return DialogBoxFromDesc(d, owner, dialogProc, initParam);
}

INT_PTR DialogBoxFromDesc(const TDialogDesc& d, HWND owner, DLGPROC dialogProc, LPARAM initParam) {
  if (owner && !IsWindow(owner)) {
    return -1;
  }
  RegisterClasses();
  const DWORD style = d.Style & ~(WS_VISIBLE | DS_ABSALIGN | DS_3DLOOK | DS_SETFONT | DS_MODALFRAME |
                                  DS_NOIDLEMSG | DS_CENTER | WS_CHILD);
  int cx = std::max<int>(d.Cx, 0), cy = std::max<int>(d.Cy, 0);
  HWND dialog = CreateWindowExW(d.ExStyle, kDialogClass, d.Title.c_str(), style | WS_POPUP, d.X, d.Y, cx, cy, owner,
                                nullptr, ModuleInstance(), nullptr);
  if (!dialog) return -1;
  // The template gives the client size.
  RECT wr, cr;
  GetWindowRect(dialog, &wr);
  GetClientRect(dialog, &cr);
  int w = (wr.right - wr.left) + cx - (cr.right - cr.left), h = (wr.bottom - wr.top) + cy - (cr.bottom - cr.top);
  int x = d.X, y = d.Y;
  if (d.Style & DS_CENTER) {
    MONITORINFO mi;
    HMONITOR mon = owner ? MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY) : MonitorFromPoint({}, MONITOR_DEFAULTTOPRIMARY);
    if (GetMonitorInfoA(mon, &mi)) {
      x = mi.rcWork.left + (mi.rcWork.right - mi.rcWork.left - w) / 2;
      y = mi.rcWork.top + (mi.rcWork.bottom - mi.rcWork.top - h) / 2;
    }
  }
  SetWindowPos(dialog, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);

  for (const TDialogItemDesc& it : d.Items) {
    const char16_t* cls = it.ClassAtom == kButtonClassAtom ? u"BUTTON" : it.ClassAtom == kEditClassAtom ? u"EDIT" : u"STATIC";
    HWND c = CreateWindowExW(it.ExStyle, cls, it.Title.c_str(), (it.Style & ~WS_POPUP) | WS_CHILD, it.X, it.Y,
                             std::max<int>(it.Cx, 0), std::max<int>(it.Cy, 0), dialog,
                             reinterpret_cast<HMENU>(std::uintptr_t(it.Id)), ModuleInstance(), nullptr);
    if (!c) {
      DestroyWindow(dialog);
      return -1;
    }
    SetWindowLongPtrW(c, GWLP_ID, it.Id);
  }

  auto state = std::make_shared<TDialogState>();
  state->Proc = dialogProc;
  {
    std::lock_guard<std::mutex> l(gMutex);
    gDialogs[dialog] = state;
  }
  const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, 0);
  // Also when the dialog procedure raises: no window, state or disabled owner stays behind.
  struct TCleanup {
    HWND Dialog, Owner;
    bool OwnerWasEnabled;
    ~TCleanup() {
      if (OwnerWasEnabled && IsWindow(Owner)) EnableWindow(Owner, 1);
      try {
        if (IsWindow(Dialog)) DestroyWindow(Dialog);
      } catch (...) {
        // Destruction goes on; what the procedure raised first is what counts.
      }
      {
        std::lock_guard<std::mutex> l(gMutex);
        gDialogs.erase(Dialog);
      }
      if (Owner && IsWindow(Owner)) SetActiveWindow(Owner);
    }
  } cleanup{dialog, owner, ownerWasEnabled};

  HWND firstStop = nullptr;
  for (HWND c : Children(dialog))
    if (IsTabStop(c)) {
      firstStop = c;
      break;
    }
  // Through the window procedure, so that a subclass installed meanwhile sees it too.
  SendMessageW(dialog, WM_INITDIALOG, WPARAM(firstStop), initParam);
  if (!Ended(state)) {
    // A control the procedure chose keeps the focus; else the first box to
    // type into or the default button takes it: the dialog opens active,
    // ready for the keyboard.
    HWND chosen = GetFocus();
    if (!(chosen && IsChild(dialog, chosen))) chosen = nullptr;
    state->Focus = FocusTarget(dialog, chosen);
    if (d.Style & WS_VISIBLE) ShowWindow(dialog, SW_SHOW);
    HWND focus = GetFocus();
    if (!(focus && IsChild(dialog, focus))) {
      if (GetActiveWindow() != dialog) SetActiveWindow(dialog);
      focus = GetFocus();
      if (!(focus && IsChild(dialog, focus))) SetFocus(state->Focus ? state->Focus : dialog);
    }
    // The text it proposes is typed over.
    focus = GetFocus();
    if (!chosen && focus && IsEdit(focus) && IsChild(dialog, focus)) SelectAllText(focus);
  }

  IDialogDriver* driver;
  {
    std::lock_guard<std::mutex> l(gMutex);
    driver = gDriver;
  }
  const bool answered = driver || WindowSystemBackEnd() != "sdl";
  if (driver && !Ended(state)) driver->Drive(dialog);
  MSG msg;
  while (!Ended(state) && IsWindow(dialog)) {
    if (answered) {
      if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        EndUnanswered(dialog, state);
        break;
      }
    } else if (!GetMessageW(&msg, nullptr, 0, 0)) {
      PostQuitMessage(int(msg.wParam));
      EndUnanswered(dialog, state);
      break;
    }
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));
      EndUnanswered(dialog, state);
      break;
    }
    if (DialogKey(dialog, msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  std::lock_guard<std::mutex> l(gMutex);
  return state->Ended ? state->Result : IDCANCEL;
}

BOOL IsDialogMessageW(HWND dialog, MSG* msg) {
  if (!msg || !IsWindow(dialog) || !(msg->hwnd == dialog || IsChild(dialog, msg->hwnd))) return 0;
  if (!DialogKey(dialog, *msg)) {
    TranslateMessage(msg);
    DispatchMessageW(msg);
  }
  return 1;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  {
    std::lock_guard<std::mutex> l(gMutex);
    auto it = gDialogs.find(dialog);
    if (it == gDialogs.end()) {
      return 0;
    }
    if (!it->second->Ended) {
      it->second->Ended = true;
      it->second->Result = result;
    }
  }
  // Ended from inside the pump (a close asked by the display or a signal):
  // the modal loop's wait must see it.
  PostMessageW(dialog, WM_NULL, 0, 0);
  return 1;
}

void InitCommonControls() {}

HWND GetDlgItem(HWND dialog, int id) {
  if (!IsWindow(dialog)) return nullptr;
  for (HWND c : Children(dialog))
    if (GetDlgCtrlID(c) == id) return c;
  return nullptr;
}

int GetDlgCtrlID(HWND control) { return int(GetWindowLongPtrW(control, GWLP_ID)); }

BOOL SetDlgItemTextW(HWND dialog, int id, const char16_t* text) {
  HWND c = GetDlgItem(dialog, id);
  return c ? BOOL(SendMessageW(c, WM_SETTEXT, 0, LPARAM(text ? text : u""))) : 0;
}

std::u16string DlgItemText(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  return c ? WindowText(c) : std::u16string();
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  return c ? UINT(SendMessageW(c, BM_GETCHECK, 0, 0)) : 0;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND c = GetDlgItem(dialog, id);
  if (!c) return 0;
  SendMessageW(c, BM_SETCHECK, check, 0);
  return 1;
}

std::u16string EditDisplayText(HWND edit) {
  std::u16string t = WindowText(edit);
  if (IsEdit(edit) && (StyleOf(edit) & ES_PASSWORD)) t.assign(t.size(), u'*');
  return t;
}

void SetDialogDriver(IDialogDriver* driver) {
  std::lock_guard<std::mutex> l(gMutex);
  gDriver = driver;
}

IDialogDriver* DialogDriver() {
  std::lock_guard<std::mutex> l(gMutex);
  return gDriver;
}

BOOL PressDialogId(HWND dialog, int id) {
  if (!IsWindow(dialog)) return 0;
  HWND c = GetDlgItem(dialog, id);
  if (c && IsButton(c))
    ClickButton(c);
  else
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(WORD(id), BN_CLICKED), LPARAM(c));
  return 1;
}

}  // namespace plat
