#include "Platform/User/PlatDialogs.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatClipboard.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"

using namespace plat;

namespace dialog_manager_test {

struct TBytes {
  std::vector<std::uint8_t> B;
  TBytes& W(std::uint16_t v) {
    B.push_back(std::uint8_t(v));
    B.push_back(std::uint8_t(v >> 8));
    return *this;
  }
  TBytes& D(std::uint32_t v) { return W(std::uint16_t(v)).W(std::uint16_t(v >> 16)); }
  TBytes& S(const std::u16string& s) {
    for (char16_t c : s) W(c);
    return W(0);
  }
  TBytes& Align() {
    while (B.size() % 4) B.push_back(0);
    return *this;
  }
  TBytes& Item(DWORD style, WORD id, WORD atom, const std::u16string& title, short x = 0, short y = 0) {
    return Align().D(style).D(0).W(WORD(x)).W(WORD(y)).W(60).W(20).W(id).W(0xFFFF).W(atom).S(title).W(0);
  }
};

// A dialog: an edit box (id 10), a check box (id 11), OK as the default
// button and Cancel.
TBytes Sample(std::u16string title = u"T") {
  TBytes b;
  b.D(0x94C809C5).D(0).W(4).W(0).W(0).W(200).W(100).W(0).W(0).S(title).W(8).S(u"MS Shell Dlg 2");
  b.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | 0x04800040 | ES_AUTOHSCROLL, 10, kEditClassAtom, u"", 0, 0);
  b.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 11, kButtonClassAtom, u"c", 0, 25);
  b.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, kButtonClassAtom, u"OK", 0, 50);
  b.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP, IDCANCEL, kButtonClassAtom, u"Cancel", 70, 50);
  return b;
}

struct TProcLog {
  static TProcLog& Get() {
    static TProcLog l;
    return l;
  }
  std::vector<UINT> Msgs;
  std::vector<WPARAM> Commands;
};

INT_PTR LoggingProc(HWND h, UINT m, WPARAM w, LPARAM) {
  TProcLog::Get().Msgs.push_back(m);
  if (m == WM_COMMAND) {
    TProcLog::Get().Commands.push_back(w);
    if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) EndDialog(h, LOWORD(w));
  }
  return 0;
}

struct TScriptDriver : IDialogDriver {
  std::function<void(HWND)> Steps;
  explicit TScriptDriver(std::function<void(HWND)> s) : Steps(std::move(s)) { SetDialogDriver(this); }
  ~TScriptDriver() override { SetDialogDriver(nullptr); }
  void Drive(HWND dialog) override { Steps(dialog); }
};

class DialogManager : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(InitWindowSystem());
    headless::ResetForTests();
    TProcLog::Get() = TProcLog{};
  }
  void TearDown() override {
    SetDialogDriver(nullptr);
    headless::ResetForTests();
    ShutdownWindowSystem();
  }
  INT_PTR Run(const TBytes& t, HWND owner = nullptr) {
    return DialogBoxIndirectParamW(ModuleInstance(), t.B.data(), t.B.size(), owner, &LoggingProc, 0);
  }
};

TEST_F(DialogManager, DamagedTemplatesAreRefused) {
  TBytes good = Sample();
  TDialogDesc d;
  ASSERT_TRUE(ParseDialogTemplate(good.B.data(), good.B.size(), d));
  ASSERT_EQ(d.Items.size(), 4u);
  EXPECT_EQ(d.Items[3].X, 70);
  EXPECT_EQ(d.Items[2].Title, u"OK");
  // Cut anywhere, the template is refused and no window is left behind.
  for (std::size_t n = 0; n < good.B.size(); ++n) {
    EXPECT_FALSE(ParseDialogTemplate(good.B.data(), n, d)) << n;
    EXPECT_EQ(DialogBoxIndirectParamW(ModuleInstance(), good.B.data(), n, nullptr, &LoggingProc, 0), -1) << n;
  }
  EXPECT_EQ(FindWindowExW(nullptr, nullptr, u"#32770", nullptr), nullptr);
  EXPECT_TRUE(TProcLog::Get().Msgs.empty());
  EXPECT_FALSE(ParseDialogTemplate(nullptr, 100, d));

  auto refused = [&](TBytes t) { return !ParseDialogTemplate(t.B.data(), t.B.size(), d); };
  TBytes head;
  head.D(0x94C809C5).D(0).W(1).W(0).W(0).W(10).W(10);
  EXPECT_TRUE(refused(TBytes(head).W(0xFFFF).W(5).W(0).S(u"").W(8).S(u"F").Item(0, 1, 0x80, u"")));  // a menu
  EXPECT_TRUE(refused(TBytes(head).W(0).S(u"MyClass").S(u"").W(8).S(u"F").Item(0, 1, 0x80, u"")));
  EXPECT_TRUE(refused(TBytes(head).W(0).W(0).S(u"").W(8).S(u"F").Item(0, 1, 0x85, u"")));  // a combo box
  // A count larger than the items present.
  TBytes more = Sample();
  more.B[8] = 9;
  EXPECT_TRUE(refused(more));
  // The extended layout.
  TBytes ex;
  ex.W(1).W(0xFFFF).D(0).D(0).D(0x94C809C5).W(0).W(0).W(0).W(10).W(10).W(0).W(0).W(0);
  EXPECT_TRUE(refused(ex));
  // Creation data longer than what is there; a class given by name is fine.
  TBytes extra = TBytes(head).W(0).W(0).S(u"").W(8).S(u"F");
  extra.Align().D(WS_CHILD).D(0).W(0).W(0).W(5).W(5).W(3).S(u"button").S(u"b").W(40).W(1);
  EXPECT_TRUE(refused(extra));
  TBytes named = TBytes(head).W(0).W(0).S(u"").W(8).S(u"F");
  named.Align().D(WS_CHILD).D(0).W(0).W(0).W(5).W(5).W(3).S(u"Static").W(0xFFFF).W(7).W(4).W(0xABCD);
  ASSERT_FALSE(refused(named));
  EXPECT_EQ(d.Items[0].ClassAtom, kStaticClassAtom);
  EXPECT_EQ(d.Items[0].CreationData, (std::vector<std::uint8_t>{0xCD, 0xAB}));
}

TEST_F(DialogManager, DriverSetsTextsTogglesAndPressesIds) {
  HWND dlg = nullptr;
  std::u16string text;
  TScriptDriver driver([&](HWND h) {
    dlg = h;
    EXPECT_TRUE(SetDlgItemTextW(h, 10, u"abc"));
    EXPECT_EQ(IsDlgButtonChecked(h, 11), 0u);
    EXPECT_TRUE(PressDialogId(h, 11));
    EXPECT_EQ(IsDlgButtonChecked(h, 11), BST_CHECKED);
    EXPECT_EQ(GetDlgItem(h, 99), nullptr);
    EXPECT_FALSE(SetDlgItemTextW(h, 99, u"x"));
    PressDialogId(h, IDOK);
    text = DlgItemText(h, 10);
  });
  EXPECT_EQ(Run(Sample()), IDOK);
  EXPECT_EQ(text, u"abc");
  EXPECT_FALSE(IsWindow(dlg));
  auto& log = TProcLog::Get();
  ASSERT_FALSE(log.Msgs.empty());
  EXPECT_NE(std::find(log.Msgs.begin(), log.Msgs.end(), WM_INITDIALOG), log.Msgs.end());
  EXPECT_NE(std::find(log.Msgs.begin(), log.Msgs.end(), WM_DESTROY), log.Msgs.end());
  ASSERT_EQ(log.Commands.size(), 2u);
  EXPECT_EQ(log.Commands[0], MAKEWPARAM(11, BN_CLICKED));
  // A dialog gone, its handle no longer ends anything.
  EXPECT_FALSE(EndDialog(dlg, 5));
}

TEST_F(DialogManager, EditKeysAndPasswordMask) {
  TBytes t = Sample();
  // The edit box becomes a password box.
  TDialogDesc d;
  ASSERT_TRUE(ParseDialogTemplate(t.B.data(), t.B.size(), d));
  std::u16string shown, typed;
  TScriptDriver driver([&](HWND h) {
    HWND e = GetDlgItem(h, 10);
    SetWindowLongW(e, GWL_STYLE, GetWindowLongW(e, GWL_STYLE) | LONG(ES_PASSWORD));
    SetFocus(e);
    headless::Type(u"bd");
    headless::PumpUntilIdle();
    headless::Key(VK_HOME, true);
    headless::Type(u"a");
    headless::Key(VK_END, true);
    headless::Key(VK_LEFT, true);
    headless::Key(VK_DELETE, true);  // removes "d"
    headless::Key(VK_RIGHT, true);
    headless::Key(VK_RIGHT, true);  // past the end: stays
    headless::Type(u"z");
    headless::Key(VK_BACK, true);
    headless::Key(VK_BACK, true);
    headless::Key(VK_BACK, true);
    headless::Key(VK_BACK, true);  // nothing left to delete
    headless::Type(u"xy\x7f");
    headless::PumpUntilIdle();
    shown = EditDisplayText(e);
    typed = WindowText(e);
    PressDialogId(h, IDCANCEL);
  });
  EXPECT_EQ(Run(t), IDCANCEL);
  EXPECT_EQ(typed, u"xy");
  EXPECT_EQ(shown, u"**");
}

TEST_F(DialogManager, OwnerIsDisabledWhileRunningAndBadOwnerRefused) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &DefWindowProcW;
  wc.lpszClassName = u"Own";
  RegisterClassW(&wc);
  HWND owner = CreateWindowExW(0, u"Own", u"o", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 300, nullptr, nullptr,
                               ModuleInstance(), nullptr);
  bool enabledDuring = true;
  {
    TScriptDriver driver([&](HWND h) {
      enabledDuring = IsWindowEnabled(owner) != 0;
      EXPECT_EQ(GetParent(h) == owner || GetWindowOwner(h) == owner, true);
    });
    EXPECT_EQ(Run(Sample(), owner), IDCANCEL);
  }
  EXPECT_FALSE(enabledDuring);
  EXPECT_TRUE(IsWindowEnabled(owner));
  DestroyWindow(owner);
  EXPECT_EQ(Run(Sample(), owner), -1);  // a stale owner
}

TEST_F(DialogManager, ControlsAreDrawnClassic) {
  auto at = [](const std::vector<std::uint32_t>& px, int w, int x, int y) {
    std::uint32_t p = px[std::size_t(y) * w + x];  // B, G, R, A in memory
    return DWORD(((p >> 16) & 0xFF) | (p & 0xFF00) | ((p & 0xFF) << 16));
  };
  int inkUnchecked = -1, inkChecked = -1;
  DWORD blank = 0, field = 0;
  TScriptDriver driver([&](HWND h) {
    auto ink = [&] {
      headless::PumpUntilIdle();
      int w = 0, hh = 0;
      std::vector<std::uint32_t> px = headless::CaptureClient(h, w, hh);
      if (w < 200 || hh < 100) return -1;
      blank = at(px, w, 150, 10);
      field = at(px, w, 50, 10);
      int n = 0;
      for (int y = 30; y < 40; ++y)
        for (int x = 2; x < 12; ++x) n += at(px, w, x, y) == GetSysColor(COLOR_WINDOWTEXT);
      return n;
    };
    inkUnchecked = ink();
    PressDialogId(h, 11);
    inkChecked = ink();
  });
  Run(Sample());
  EXPECT_EQ(inkUnchecked, 0);
  EXPECT_GT(inkChecked, 10);
  EXPECT_EQ(blank, GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(field, GetSysColor(COLOR_WINDOW));
}

// Keys as the display delivers them: down and up.
void Press(UINT vk) {
  headless::Key(vk, true);
  headless::Key(vk, false);
}
void WithKey(UINT modifier, UINT vk) {
  headless::Key(modifier, true);
  Press(vk);
  headless::Key(modifier, false);
}

// The client x in the Sample's edit box where the start of its text ends
// (the box's one-pixel border and the text's two-pixel margin, no scroll).
int EditX(const std::u16string& start) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SIZE size{};
  GetTextExtentPoint32W(dc, start.c_str(), int(start.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return 3 + size.cx;
}

void ClickAt(HWND control, int x, bool twice = false) {
  POINT p{x, 10};
  ClientToScreen(control, &p);
  headless::MoveMouse(p);
  for (int i = 0; i < (twice ? 2 : 1); ++i) {
    headless::Press(1);
    headless::Release(1);
  }
}

// Steps that run inside the modal loop, each once the input queued before
// it has been handled (keys the dialog itself takes, such as Tab and Enter,
// reach it only there).
struct TLoopSteps {
  static TLoopSteps*& Current() {
    static TLoopSteps* c = nullptr;
    return c;
  }
  std::vector<std::function<void(HWND)>> Steps;
  std::size_t Next = 0;
  static constexpr UINT kStep = WM_USER + 77;
  static INT_PTR Proc(HWND h, UINT m, WPARAM w, LPARAM) {
    TLoopSteps* self = Current();
    if (m == kStep && self && self->Next < self->Steps.size()) {
      self->Steps[self->Next++](h);
      if (self->Next < self->Steps.size()) PostMessageW(h, kStep, 0, 0);
    }
    if (m == WM_COMMAND && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) EndDialog(h, LOWORD(w));
    return 0;
  }
  INT_PTR Run(const TBytes& t, HWND owner) {
    Current() = this;
    TScriptDriver driver([](HWND h) { PostMessageW(h, kStep, 0, 0); });
    const INT_PTR r = DialogBoxIndirectParamW(ModuleInstance(), t.B.data(), t.B.size(), owner, &Proc, 0);
    Current() = nullptr;
    return r;
  }
};

// A dialog opens active, the keyboard on its first box to type into (else
// its default button): typing at once and Enter answer it. Deactivated and
// activated again, the typing goes back where it was; a click on the
// disabled owner brings the dialog back; the owner has the keyboard again
// when it closes.
TEST_F(DialogManager, KeyboardGoesToTheFirstBoxAndBackToTheOwner) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &DefWindowProcW;
  wc.lpszClassName = u"Own";
  RegisterClassW(&wc);
  HWND owner = CreateWindowExW(0, u"Own", u"o", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 300, nullptr, nullptr,
                               ModuleInstance(), nullptr);
  ASSERT_EQ(GetActiveWindow(), owner);
  HWND dialog = nullptr, afterOwnerClick = nullptr;
  int focusAtOpen = -1, focusBack = -1;
  std::u16string typed;
  TLoopSteps steps;
  steps.Steps = {
      [&](HWND) {
        dialog = GetActiveWindow();
        focusAtOpen = GetDlgCtrlID(GetFocus());
        headless::Type(u"se");
        Press(VK_TAB);  // to the check box
      },
      [&](HWND h) {
        // Another program, then the dialog again.
        headless::ActivateOtherProgram();
        headless::Activate(h);
        focusBack = GetDlgCtrlID(GetFocus());
        // The user clicks the owner, which the dialog keeps disabled.
        headless::ActivateOtherProgram();
        headless::Click(1, POINT{250, 250});
      },
      [&](HWND) {
        afterOwnerClick = GetActiveWindow();
        WithKey(VK_SHIFT, VK_TAB);
      },
      [&](HWND) { headless::Type(u"cret"); },
      [&](HWND h) {
        typed = DlgItemText(h, 10);
        Press(VK_RETURN);
      },
  };
  EXPECT_EQ(steps.Run(Sample(), owner), IDOK);
  ASSERT_NE(dialog, nullptr);
  EXPECT_NE(dialog, owner);
  EXPECT_EQ(focusAtOpen, 10);
  EXPECT_EQ(focusBack, 11);
  EXPECT_EQ(afterOwnerClick, dialog);
  EXPECT_EQ(typed, u"secret");
  EXPECT_EQ(GetActiveWindow(), owner);
  EXPECT_EQ(GetFocus(), owner);

  // Without a box to type into, the default button has the keyboard: Space
  // presses it. A dialog without an owner opens active as well.
  TBytes noEdit;
  noEdit.D(0x94C809C5).D(0).W(2).W(0).W(0).W(200).W(100).W(0).W(0).S(u"N").W(8).S(u"MS Shell Dlg 2");
  noEdit.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP, IDCANCEL, kButtonClassAtom, u"Cancel", 0, 0);
  noEdit.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, kButtonClassAtom, u"OK", 70, 0);
  HWND active = nullptr, shown = nullptr;
  int focused = -1;
  TLoopSteps second;
  second.Steps = {[&](HWND h) {
    focused = GetDlgCtrlID(GetFocus());
    active = GetActiveWindow();
    shown = h;
    Press(VK_SPACE);
  }};
  EXPECT_EQ(second.Run(noEdit, nullptr), IDOK);
  EXPECT_EQ(active, shown);
  EXPECT_EQ(focused, IDOK);
  DestroyWindow(owner);
}

// The text a dialog proposes in the box it opens with is selected: what is
// typed at once replaces it whole (a path, a count), while a click places
// the caret and types into it.
TEST_F(DialogManager, ProposedTextIsTypedOverAndAClickPlacesTheCaret) {
  TBytes t;
  t.D(0x94C809C5).D(0).W(2).W(0).W(0).W(200).W(100).W(0).W(0).S(u"P").W(8).S(u"MS Shell Dlg 2");
  t.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | 0x04800040 | ES_AUTOHSCROLL, 10, kEditClassAtom, u"/root/Slide1.bmp");
  t.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, kButtonClassAtom, u"OK", 0, 50);
  std::u16string typed, clicked;
  TLoopSteps steps;
  steps.Steps = {[](HWND) { headless::Type(u"/tmp/a.bmp"); },
                 [&](HWND h) {
                   typed = DlgItemText(h, 10);
                   Press(VK_RETURN);
                 }};
  EXPECT_EQ(steps.Run(t, nullptr), IDOK);
  EXPECT_EQ(typed, u"/tmp/a.bmp");
  TLoopSteps click;
  click.Steps = {[](HWND h) {
                   SetWindowPos(GetDlgItem(h, 10), nullptr, 0, 0, 180, 20, SWP_NOMOVE | SWP_NOZORDER);
                   ClickAt(GetDlgItem(h, 10), EditX(u"/root"));
                   headless::Type(u"2");
                 },
                 [&](HWND h) {
                   clicked = DlgItemText(h, 10);
                   Press(VK_RETURN);
                 }};
  plat::TManualClock clock(1000);
  EXPECT_EQ(click.Run(t, nullptr), IDOK);
  EXPECT_EQ(clicked, u"/root2/Slide1.bmp");
}

// The edit box keeps a selection: Shift with the arrows, Home and End,
// Ctrl+A, a double click on a word; a click places the caret, Shift+click
// extends; what is typed, pasted or deleted replaces the selection; the
// text scrolls to keep the caret in view.
TEST_F(DialogManager, EditSelectsAndScrollsToTheCaret) {
  auto at = [](const std::vector<std::uint32_t>& px, int w, int x, int y) {
    std::uint32_t p = px[std::size_t(y) * w + x];
    return DWORD(((p >> 16) & 0xFF) | (p & 0xFF00) | ((p & 0xFF) << 16));
  };
  // Columns of the edit box showing the selection's colour.
  auto highlighted = [&](HWND e) {
    headless::PumpUntilIdle();
    int w = 0, hh = 0;
    std::vector<std::uint32_t> px = headless::CaptureClient(e, w, hh);
    std::vector<int> cols;
    for (int x = 0; x < w; ++x)
      if (hh > 10 && at(px, w, x, hh / 2) == GetSysColor(COLOR_HIGHLIGHT)) cols.push_back(x);
    return cols;
  };
  std::vector<std::u16string> texts;
  std::vector<int> scrolledEnd, scrolledHome;
  int boxWidth = 0;
  TScriptDriver driver([&](HWND h) {
    HWND e = GetDlgItem(h, 10);
    SetWindowPos(e, nullptr, 0, 0, 180, 20, SWP_NOMOVE | SWP_NOZORDER);
    auto text = [&] {
      headless::PumpUntilIdle();
      texts.push_back(WindowText(e));
    };
    SetDlgItemTextW(h, 10, u"alpha beta");
    Press(VK_HOME);
    for (int i = 0; i < 5; ++i) WithKey(VK_SHIFT, VK_RIGHT);
    headless::Type(u"X");
    text();  // "X beta"
    WithKey(VK_SHIFT, VK_END);
    Press(VK_LEFT);  // a plain arrow ends the selection at its start
    headless::Type(u"Y");
    text();  // "XY beta"
    WithKey(VK_SHIFT, VK_HOME);
    Press(VK_DELETE);
    text();  // " beta"
    WithKey(VK_CONTROL, 'A');
    headless::Type(u"one two three");
    text();
    // A double click selects the word under it; typing replaces it.
    ClickAt(e, EditX(u"one t"), true);
    headless::Type(u"2");
    text();  // "one 2 three"
    // A click places the caret; Shift+click extends from there.
    ClickAt(e, EditX(u"one"));
    headless::Key(VK_SHIFT, true);
    ClickAt(e, EditX(u"one 2"));
    headless::Key(VK_SHIFT, false);
    WithKey(VK_CONTROL, 'X');
    Press(VK_END);
    WithKey(VK_CONTROL, 'V');
    text();  // "one three 2"
    // Far wider than the box: at the end the selected last character is in
    // view at the right, at the start the first one at the left.
    SetDlgItemTextW(h, 10, std::u16string(40, u'W').c_str());
    headless::PumpUntilIdle();
    WithKey(VK_SHIFT, VK_LEFT);
    scrolledEnd = highlighted(e);
    Press(VK_HOME);
    WithKey(VK_SHIFT, VK_RIGHT);
    scrolledHome = highlighted(e);
    RECT r;
    GetClientRect(e, &r);
    boxWidth = r.right;
    // A click in a very long text finds its place by a few measures.
    SetDlgItemTextW(h, 10, std::u16string(8000, u'i').c_str());
    headless::PumpUntilIdle();
    ClickAt(e, 40);
    headless::Type(u"!");
    headless::PumpUntilIdle();
    const std::u16string longText = WindowText(e);
    EXPECT_EQ(longText.size(), 8001u);
    EXPECT_NE(longText.find(u'!'), std::u16string::npos);
    EXPECT_NE(longText.back(), u'!');
    // A password box is never copied; a double click selects all of it.
    SetWindowLongW(e, GWL_STYLE, GetWindowLongW(e, GWL_STYLE) | LONG(ES_PASSWORD));
    SetDlgItemTextW(h, 10, u"pa ss");
    OpenClipboard(nullptr);
    EmptyClipboard();
    CloseClipboard();
    ClickAt(e, EditX(u"*"), true);
    WithKey(VK_CONTROL, 'C');
    headless::Type(u"q");
    text();
    PressDialogId(h, IDCANCEL);
  });
  plat::TManualClock clock(1000);  // the two presses of a double click come at once
  EXPECT_EQ(Run(Sample()), IDCANCEL);
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"X beta", u"XY beta", u" beta", u"one two three", u"one 2 three",
                                                u"one three 2", u"q"}));
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  ASSERT_FALSE(scrolledEnd.empty());
  ASSERT_FALSE(scrolledHome.empty());
  EXPECT_GT(scrolledEnd.front(), boxWidth / 2);
  EXPECT_LT(scrolledEnd.back(), boxWidth - 1);
  EXPECT_LT(scrolledHome.back(), boxWidth / 2);
  EXPECT_GE(scrolledHome.front(), 1);
}

// A static text breaks at its line ends (CR LF, CR or LF), and at blanks
// where a line is wider than the control; a single line stays centred.
TEST_F(DialogManager, StaticTextBreaksItsLines) {
  auto inkRows = [](HWND c) {
    headless::PumpUntilIdle();
    int w = 0, hh = 0;
    std::vector<std::uint32_t> px = headless::CaptureClient(c, w, hh);
    std::vector<int> rows;
    for (int y = 0; y < hh; ++y)
      for (int x = 0; x < w; ++x)
        if ((px[std::size_t(y) * w + x] & 0xFFFFFF) == (GetSysColor(COLOR_WINDOWTEXT) & 0xFFFFFF)) {
          rows.push_back(y);
          break;
        }
    return rows;
  };
  // Separate bands of rows with ink, and the widest ink of each band.
  auto bands = [](const std::vector<int>& rows) {
    int n = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) n += i == 0 || rows[i] > rows[i - 1] + 1;
    return n;
  };
  TBytes t;
  t.D(0x94C809C5).D(0).W(3).W(0).W(0).W(300).W(200).W(0).W(0).S(u"S").W(8).S(u"MS Shell Dlg 2");
  auto item = [&](const std::u16string& text, short y) {
    t.Align().D(WS_CHILD | WS_VISIBLE).D(0).W(0).W(WORD(y)).W(200).W(60).W(0xFFFF).W(0xFFFF).W(kStaticClassAtom).S(text).W(0);
  };
  item(u"one line", 0);
  item(u"first\r\nsecond\nthird", 60);
  item(u"words that are far too many for the width of this one static text control", 120);
  std::vector<int> single, broken, wrapped;
  TScriptDriver driver([&](HWND h) {
    std::vector<HWND> c;
    for (HWND x = FindWindowExW(h, nullptr, nullptr, nullptr); x; x = FindWindowExW(h, x, nullptr, nullptr))
      c.push_back(x);
    ASSERT_EQ(c.size(), 3u);
    single = inkRows(c[0]);
    broken = inkRows(c[1]);
    wrapped = inkRows(c[2]);
  });
  Run(t);
  ASSERT_FALSE(single.empty());
  EXPECT_EQ(bands(single), 1);
  EXPECT_GT(single.front(), 15);  // centred in its 60 rows
  EXPECT_EQ(bands(broken), 3);
  EXPECT_GE(bands(wrapped), 2);
}

}  // namespace dialog_manager_test
