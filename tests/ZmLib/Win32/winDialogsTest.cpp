#include "ZmLib/Win32/winDialogs.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "Platform/User/PlatUserHeadless.h"

using namespace zm;
using namespace plat;

namespace template_dialog_test {

using plat::IDCANCEL;
using plat::IDOK;

// Answers every dialog with the given steps.
struct TScriptDriver : IDialogDriver {
  std::function<void(HWND)> Steps;
  explicit TScriptDriver(std::function<void(HWND)> steps) : Steps(std::move(steps)) { SetDialogDriver(this); }
  ~TScriptDriver() override { SetDialogDriver(nullptr); }
  void Drive(HWND dialog) override {
    if (Steps) Steps(dialog);
  }
};

// A stream that takes only part of a write, as a full disk would.
class TShortStream : public TMemoryStream {
public:
  std::int32_t Budget = 0;
  std::int32_t Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) override {
    std::int32_t n = std::min(count, Budget);
    Budget -= n;
    return TMemoryStream::Write(buffer, n, offset);
  }
  using TMemoryStream::Write;
};

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
};

std::vector<std::uint8_t> TemplateOf(TDialog* d) {
  auto s = MakeRef<TDialogStream>();
  d->WriteTemplate(s.get());
  return {s->Memory(), s->Memory() + s->GetSize()};
}

class DialogTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(InitWindowSystem());
    headless::ResetForTests();
    InitWinDialogs();
  }
  void TearDown() override {
    SetDialogDriver(nullptr);
    headless::ResetForTests();
    ShutdownWindowSystem();
  }
  void SetDpi(int dpi) {
    headless::TMonitorDesc m;
    m.Bounds = {0, 0, 1920, 1080};
    m.Work = {0, 0, 1920, 1040};
    m.Primary = true;
    m.Dpi = dpi;
    headless::SetMonitors({m});
  }
  HWND MakeOwner(RECT r) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &DefWindowProcW;
    wc.lpszClassName = u"DlgOwner";
    RegisterClassW(&wc);
    HWND h = CreateWindowExW(0, u"DlgOwner", u"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, r.left, r.top,
                             r.right - r.left, r.bottom - r.top, nullptr, nullptr, ModuleInstance(), nullptr);
    EXPECT_NE(h, nullptr);
    return h;
  }
};

// The password layout: a text, a masked edit box, OK (default) and Cancel.
struct TPasswordDialog {
  TRef<TDialog> D = MakeRef<TDialog>();
  TDialogStatic* Label;
  TDialogEdit* Edit;
  TDialogButton* Ok;
  TDialogButton* Cancel;
  TPasswordDialog() {
    D->Caption = u"Password required";
    D->Width = 260, D->Height = 98;
    Label = D->Add<TDialogStatic>();
    Label->Caption = u"Enter password:";
    Label->X = 12, Label->Y = 12, Label->Width = 244, Label->Height = 16;
    Edit = D->Add<TDialogEdit>();
    Edit->Password = 1;
    Edit->X = 12, Edit->Y = 32, Edit->Width = 236, Edit->Height = 21;
    Ok = D->Add<TDialogButton>();
    Ok->Caption = u"OK", Ok->Id = IDOK, Ok->Default = 1;
    Ok->X = 52, Ok->Y = 62, Ok->Width = 75, Ok->Height = 25;
    Cancel = D->Add<TDialogButton>();
    Cancel->Caption = u"Cancel", Cancel->Id = IDCANCEL;
    Cancel->X = 133, Cancel->Y = 62, Cancel->Width = 75, Cancel->Height = 25;
  }
};

// ---- the template -----------------------------------------------------------------------

TEST_F(DialogTest, TemplateBytesAreExactWithAlignedItems) {
  SetDpi(96);
  auto d = MakeRef<TDialog>();
  d->Caption = u"Hi";
  d->X = 10, d->Y = 20, d->Width = 200, d->Height = 100;
  auto* ok = d->Add<TDialogButton>();
  ok->Caption = u"OK", ok->Id = 1, ok->Default = 1, ok->X = 1, ok->Y = 2;
  auto* check = d->Add<TDialogCheckBox>();  // empty caption, id 0
  check->X = 3, check->Y = 4;
  auto* edit = d->Add<TDialogEdit>();
  edit->Password = 1, edit->Id = 5, edit->X = 5, edit->Y = 6;

  TBytes e;
  e.D(0x94C809C5).D(0).W(3).W(10).W(20).W(200).W(100).W(0).W(0).S(u"Hi").W(8).S(u"MS Shell Dlg 2");
  e.Align().D(0x50010001).D(0).W(1).W(2).W(50).W(14).W(1).W(0xFFFF).W(0x80).S(u"OK").W(0);
  e.Align().D(0x50010003).D(0).W(3).W(4).W(50).W(8).W(0).W(0xFFFF).W(0x80).W(0).W(0);
  e.Align().D(0x548100E0).D(0x200).W(5).W(6).W(50).W(12).W(5).W(0xFFFF).W(0x81).W(0).W(0);
  EXPECT_EQ(TemplateOf(d.get()), e.B);
  EXPECT_EQ(e.B.size(), 146u);

  // Parsed back, every field comes out as written.
  std::vector<std::uint8_t> t = TemplateOf(d.get());
  TDialogDesc desc;
  ASSERT_TRUE(ParseDialogTemplate(t.data(), t.size(), desc));
  EXPECT_EQ(desc.Title, u"Hi");
  EXPECT_EQ(desc.PointSize, 8);
  EXPECT_EQ(desc.FaceName, u"MS Shell Dlg 2");
  ASSERT_EQ(desc.Items.size(), 3u);
  EXPECT_EQ(desc.Items[0].Title, u"OK");
  EXPECT_EQ(desc.Items[1].Style, 0x50010003u);
  EXPECT_EQ(desc.Items[2].ClassAtom, kEditClassAtom);
  EXPECT_EQ(desc.Items[2].ExStyle, WS_EX_CLIENTEDGE);
  EXPECT_EQ(desc.Items[2].Id, 5);
}

TEST_F(DialogTest, ItemStylesFollowTheirOptions) {
  auto d = MakeRef<TDialog>();
  auto* e = d->Add<TDialogEdit>();
  EXPECT_EQ(e->GetStyle(), 0x548100C0u);  // tab stop, auto scroll both ways
  e->WordWrap = 1, e->MultiLine = 1, e->ReadOnly = 1, e->ScrollBars = 3, e->ClientEdge = 0;
  EXPECT_EQ(e->GetStyle(), 0x50010000u | 0x04800040u | 0x4u | 0x800u | 0x00300000u);
  EXPECT_EQ(e->GetExStyle(), 0u);
  e->ScrollBars = 2;
  EXPECT_EQ(e->GetStyle() & 0x00300000u, 0x00100000u);
  auto* s = d->Add<TDialogStatic>();
  EXPECT_EQ(s->GetStyle(), 0x50000000u);
  EXPECT_EQ(s->Width * 100 + s->Height, 5008);
  auto* b = d->Add<TDialogButton>();
  EXPECT_EQ(b->GetStyle(), 0x50010000u);
  EXPECT_EQ(b->Width * 100 + b->Height, 5014);
  b->TabStop = 0;
  EXPECT_EQ(b->GetStyle(), 0x50000000u);
  EXPECT_EQ(e->Width * 100 + e->Height, 5012);
  EXPECT_EQ(d->ItemCount(), 3);
  // An item freed alone leaves the dialog's list.
  s->Free();
  EXPECT_EQ(d->ItemCount(), 2);
  EXPECT_EQ(d->Item(1), b);
}

TEST_F(DialogTest, FontSizeFollowsTheScreenDensity) {
  EXPECT_EQ(DialogFontPointSize(120, 120), 9);
  EXPECT_EQ(DialogFontPointSize(144, 144), 12);
  EXPECT_EQ(DialogFontPointSize(96, 96), 8);
  EXPECT_EQ(DialogFontPointSize(18, 18), 2);  // 1.5 rounds to even
  EXPECT_EQ(DialogFontPointSize(30, 30), 2);  // 2.5 rounds to even
  EXPECT_EQ(DialogFontPointSize(96, 0), 8);
  for (int dpi : {120, 144}) {
    SetDpi(dpi);
    auto d = MakeRef<TDialog>();
    std::vector<std::uint8_t> t = TemplateOf(d.get());
    TDialogDesc desc;
    ASSERT_TRUE(ParseDialogTemplate(t.data(), t.size(), desc));
    EXPECT_EQ(desc.PointSize, dpi == 120 ? 9 : 12);
  }
}

TEST_F(DialogTest, DamagedCaptionsAndShortWrites) {
  auto d = MakeRef<TDialog>();
  d->Caption = std::u16string(u"A\0B", 3);
  auto* b = d->Add<TDialogButton>();
  b->Caption = std::u16string(u"x\0y", 3);
  b->Id = 7;
  auto* s = d->Add<TDialogStatic>();
  s->Id = 8;
  // A zero inside a caption must not shift the items behind it.
  std::vector<std::uint8_t> t = TemplateOf(d.get());
  TDialogDesc desc;
  ASSERT_TRUE(ParseDialogTemplate(t.data(), t.size(), desc));
  EXPECT_EQ(desc.Title, u"A");
  ASSERT_EQ(desc.Items.size(), 2u);
  EXPECT_EQ(desc.Items[0].Title, u"x");
  EXPECT_EQ(desc.Items[1].Id, 8);

  // Every budget short of the whole template raises the stream write error.
  for (std::int32_t budget : {0, 1, 17, 40, int(t.size()) - 1}) {
    auto out = MakeRef<TShortStream>();
    out->Budget = budget;
    EXPECT_THROW(d->WriteTemplate(out.get()), EStreamWriteError) << budget;
  }
  EXPECT_THROW(b->ApplyBounds(), EAbort);  // the assertion
}

// ---- running dialogs -----------------------------------------------------------------------

TEST_F(DialogTest, PasswordIsTypedMaskedAndReturned) {
  TPasswordDialog p;
  std::u16string shown;
  TScriptDriver driver([&](HWND dialog) {
    ASSERT_NE(p.Edit->Handle, nullptr);
    // The bounds are pixels: the client is exactly as asked, items where asked.
    RECT c;
    GetClientRect(dialog, &c);
    EXPECT_EQ(c.right, 260);
    EXPECT_EQ(c.bottom, 98);
    RECT r;
    GetWindowRect(p.Ok->Handle, &r);
    POINT o{0, 0};
    ClientToScreen(dialog, &o);
    EXPECT_EQ(r.left - o.x, 52);
    EXPECT_EQ(r.right - r.left, 75);
    SetFocus(p.Edit->Handle);
    headless::Type(u"s3cx");
    headless::Key(VK_BACK, true);
    headless::Key(VK_BACK, false);
    headless::Type(u"ret");
    headless::PumpUntilIdle();
    shown = EditDisplayText(p.Edit->Handle);
    headless::Key(VK_RETURN, true);
    headless::Key(VK_RETURN, false);
  });
  EXPECT_EQ(p.D->ShowModal(nullptr), IDOK);
  EXPECT_EQ(p.D->ModalResult, IDOK);
  EXPECT_EQ(shown, u"******");
  EXPECT_EQ(p.Edit->Caption, u"s3cret");
  EXPECT_EQ(p.Edit->Handle, nullptr);
  EXPECT_EQ(p.D->Handle, nullptr);
}

// An edit box with an id of its own notifies every change it makes: typing
// and Backspace reach its OnChange and never end the dialog; only a button
// (here Enter pressing the default one) does.
TEST_F(DialogTest, TypingInAnEditWithAnIdKeepsTheDialogOpen) {
  TPasswordDialog p;
  p.Edit->Password = 0;
  p.Edit->Id = 100;
  p.Edit->Caption = u"x";
  int changes = 0;
  p.Edit->OnChange = [&](TCustomDialogItem* item) {
    EXPECT_EQ(item, p.Edit);
    ++changes;
  };
  bool openAfterTyping = false;
  TScriptDriver driver([&](HWND dialog) {
    SetFocus(p.Edit->Handle);
    headless::Key(VK_END, true);
    headless::Key(VK_BACK, true);
    headless::Type(u"ab");
    headless::Key(VK_BACK, true);
    headless::Type(u"c");
    headless::PumpUntilIdle();
    openAfterTyping = IsWindow(dialog) && p.D->Handle == dialog;
    headless::Key(VK_RETURN, true);
    headless::Key(VK_RETURN, false);
  });
  EXPECT_EQ(p.D->ShowModal(nullptr), IDOK);
  EXPECT_TRUE(openAfterTyping);
  EXPECT_EQ(p.Edit->Caption, u"ac");
  EXPECT_EQ(changes, 5);
}

TEST_F(DialogTest, KeysAndDriverAnswers) {
  // Escape gives IDCANCEL; nobody answering gives IDCANCEL too.
  {
    TPasswordDialog p;
    TScriptDriver driver([](HWND) {
      headless::Key(VK_ESCAPE, true);
      headless::Key(VK_ESCAPE, false);
    });
    EXPECT_EQ(p.D->ShowModal(nullptr), IDCANCEL);
  }
  {
    TPasswordDialog p;
    EXPECT_EQ(p.D->ShowModal(nullptr), IDCANCEL);
    EXPECT_EQ(p.D->ModalResult, IDCANCEL);
  }
  // Tab walks the tab stops in order (the static text has none) and wraps;
  // Enter on a focused push button presses that one.
  {
    TPasswordDialog p;
    std::vector<HWND> seen;
    TScriptDriver driver([&](HWND) {
      SetFocus(p.Edit->Handle);
      for (int i = 0; i < 3; ++i) {
        headless::Key(VK_TAB, true);
        headless::Key(VK_TAB, false);
      }
      headless::Key(VK_TAB, true);
      headless::Key(VK_TAB, false);
      headless::Key(VK_RETURN, true);
      headless::Key(VK_RETURN, false);
    });
    EXPECT_EQ(p.D->ShowModal(nullptr), IDOK);  // edit -> OK -> Cancel -> edit -> OK
  }
  {
    TPasswordDialog p;
    TScriptDriver driver([&](HWND) {
      SetFocus(p.Cancel->Handle);
      headless::Key(VK_RETURN, true);
    });
    EXPECT_EQ(p.D->ShowModal(nullptr), IDCANCEL);
  }
  // The close box answers as Cancel; a pressed id ends the dialog with it.
  {
    TPasswordDialog p;
    TScriptDriver driver([](HWND dialog) { headless::RequestClose(dialog); });
    EXPECT_EQ(p.D->ShowModal(nullptr), IDCANCEL);
  }
  {
    TPasswordDialog p;
    TScriptDriver driver([](HWND dialog) { PressDialogId(dialog, 1234); });
    EXPECT_EQ(p.D->ShowModal(nullptr), 1234);
  }
  // Alt+key on a focused control goes to the dialog window as a plain key.
  {
    TPasswordDialog p;
    TScriptDriver driver([&](HWND dialog) {
      SetFocus(p.Edit->Handle);
      TWndProcArgs a{dialog, WM_SYSKEYDOWN, VK_ESCAPE, 0};
      p.D->DialogProc(a);
      EXPECT_EQ(GetFocus(), dialog);
    });
    EXPECT_EQ(p.D->ShowModal(nullptr), IDCANCEL);
  }
}

TEST_F(DialogTest, CheckBoxWithIdZeroToggleKeepsTheDialogOpen) {
  auto d = MakeRef<TDialog>();
  d->Width = 200, d->Height = 80;
  auto* c = d->Add<TDialogCheckBox>();
  c->Caption = u"only main image";
  c->Checked = 1;
  auto* print = d->Add<TDialogButton>();
  print->Id = 1001;
  bool stateDuringRun = false;
  TScriptDriver driver([&](HWND dialog) {
    stateDuringRun = IsDlgButtonChecked(dialog, 0) == BST_CHECKED;
    PressDialogId(dialog, 0);  // toggles, sends id 0: the dialog stays
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(c->GetChecked());
    PressDialogId(dialog, 0);
    PressDialogId(dialog, 0);
    PressDialogId(dialog, 1001);
  });
  EXPECT_EQ(d->ShowModal(nullptr), 1001);
  EXPECT_TRUE(stateDuringRun);
  EXPECT_EQ(c->Checked, 0);
  EXPECT_FALSE(c->GetChecked());
}

TEST_F(DialogTest, PositionsAndOwner) {
  SetDpi(96);
  HWND owner = MakeOwner({300, 200, 1100, 800});
  RECT seen{};
  bool ownerEnabled = true;
  auto run = [&](std::uint8_t position) {
    TPasswordDialog p;
    p.D->Position = position;
    TScriptDriver driver([&](HWND dialog) {
      GetWindowRect(dialog, &seen);
      ownerEnabled = IsWindowEnabled(owner) != 0;
    });
    EXPECT_EQ(p.D->ShowModal(owner), IDCANCEL);
    return seen;
  };
  RECT r0 = run(dpWorkAreaCenter);  // centred on the work area even with an owner
  int w = r0.right - r0.left, h = r0.bottom - r0.top;
  EXPECT_EQ(r0.left, (1920 - w) / 2);
  EXPECT_EQ(r0.top, (1040 - h) / 2);
  EXPECT_FALSE(ownerEnabled);
  EXPECT_TRUE(IsWindowEnabled(owner));

  RECT r1 = run(dpOwnerCenter);
  RECT oc, ow;
  GetClientRect(owner, &oc);
  GetWindowRect(owner, &ow);
  EXPECT_EQ(r1.left, ow.left + (oc.right - w) / 2);
  EXPECT_EQ(r1.top, ow.top + (oc.bottom - h) / 2);

  // Over an owner near the screen's corner the dialog stays on the work area.
  SetWindowPos(owner, nullptr, 1800, 1000, 200, 100, SWP_NOZORDER);
  RECT r3 = run(dpOwnerCenter);
  EXPECT_EQ(r3.left, 1920 - w);
  EXPECT_EQ(r3.top, 1040 - h);

  // Wider than the work area: centring clamps to the left edge, while the
  // template position is left alone.
  auto wide = [&](std::uint8_t position) {
    TPasswordDialog p;
    p.D->Width = 2400;
    p.D->Position = position;
    TScriptDriver driver([&](HWND dialog) { GetWindowRect(dialog, &seen); });
    p.D->ShowModal(nullptr);
    return seen;
  };
  EXPECT_EQ(wide(dpWorkAreaCenter).left, 0);
  EXPECT_LT(wide(dpTemplate).left, 0);
  DestroyWindow(owner);
}

TEST_F(DialogTest, ClicksCallOnChangeOnlyWhenPressAndReleaseAreInside) {
  auto d = MakeRef<TDialog>();
  d->Width = 300, d->Height = 100;
  auto* c = d->Add<TDialogCheckBox>();
  c->X = 10, c->Y = 10, c->Width = 100, c->Height = 20;
  int changes = 0;
  c->OnChange = [&](TCustomDialogItem* item) {
    EXPECT_EQ(item, c);
    ++changes;
  };
  TScriptDriver driver([&](HWND dialog) {
    POINT o{0, 0};
    ClientToScreen(dialog, &o);
    POINT inside{o.x + 20, o.y + 15}, outside{o.x + 200, o.y + 60}, edge{o.x + 110, o.y + 15};
    std::vector<int> after;
    auto step = [&] {
      headless::PumpUntilIdle();
      after.push_back(changes);
    };
    headless::Click(1, inside);
    step();
    headless::MoveMouse(inside);  // pressed inside, released outside
    headless::Press(1);
    headless::PumpUntilIdle();  // the button takes the capture, as between real events
    headless::MoveMouse(outside);
    headless::Release(1);
    step();
    headless::MoveMouse(outside);  // pressed outside, released inside
    headless::Press(1);
    headless::PumpUntilIdle();
    headless::MoveMouse(inside);
    headless::Release(1);
    step();
    headless::Click(1, edge);  // the right edge is outside
    step();
    EXPECT_EQ(after, (std::vector<int>{1, 1, 1, 1}));
    headless::Key(VK_ESCAPE, true);
  });
  EXPECT_EQ(d->ShowModal(nullptr), IDCANCEL);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(c->Checked, 1);  // only the one full click toggled it
}

TEST_F(DialogTest, DisposingABoundDialogUnsubclassesItsWindows) {
  int records = SubclassRecordCount();
  {
    TPasswordDialog p;
    TScriptDriver driver([&](HWND) { EXPECT_EQ(SubclassRecordCount(), records + 5); });
    p.D->ShowModal(nullptr);
  }
  EXPECT_EQ(SubclassRecordCount(), records);
}

TEST_F(DialogTest, ShowModalOffTheUiThreadFailsCleanly) {
  // Without an owner nothing of the UI thread is involved, so it can simply be joined.
  TPasswordDialog p;
  bool raised = false;
  std::thread t([&] {
    try {
      p.D->ShowModal(nullptr);
    } catch (const Exception&) {
      raised = true;
    }
  });
  t.join();
  EXPECT_TRUE(raised);
  EXPECT_EQ(p.D->Handle, nullptr);
  EXPECT_EQ(FindWindowExW(nullptr, nullptr, u"#32770", nullptr), nullptr);
  // The same dialog still runs on the UI thread afterwards.
  TScriptDriver driver([](HWND dialog) { PressDialogId(dialog, IDOK); });
  EXPECT_EQ(p.D->ShowModal(nullptr), IDOK);
}

}  // namespace template_dialog_test
