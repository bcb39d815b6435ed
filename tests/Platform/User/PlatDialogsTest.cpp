#include "Platform/User/PlatDialogs.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

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

}  // namespace dialog_manager_test
