#include "ZmLib/Win32/winCommonDialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "Platform/PlatFiles.h"
#include "Platform/Print/PlatPrintRecorder.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/EnvGuard.h"

namespace zm {
namespace common_dialogs_test {

namespace pp = plat::print;
using plat::HWND;

WideString Slashed(WideString path) {
  std::replace(path.begin(), path.end(), u'\\', u'/');
  return path;
}

// Answers the n-th dialog with the n-th step; dialogs past the script are
// left alone (they end with Cancel).
struct TStepDriver : plat::IDialogDriver {
  std::vector<std::function<void(HWND)>> Steps;
  std::vector<WideString> Captions;
  TStepDriver() { plat::SetDialogDriver(this); }
  ~TStepDriver() override { plat::SetDialogDriver(nullptr); }
  void Drive(HWND dialog) override {
    Captions.push_back(plat::WindowText(dialog));
    const std::size_t i = Captions.size() - 1;
    if (i < Steps.size() && Steps[i]) Steps[i](dialog);
  }
};

struct CommonDialogTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(plat::InitWindowSystem());
    plat::headless::ResetForTests();
    InitWinDialogs();
  }
  void TearDown() override {
    plat::SetDialogDriver(nullptr);
    plat::headless::ResetForTests();
    plat::ShutdownWindowSystem();
  }
};

WideString Wide(const std::string& s) { return TByteString(s).ToWide(); }

// ---- pure parts ---------------------------------------------------------------------------

TEST(CommonDialogParts, SaveOptionFlags) {
  EXPECT_EQ(ClassicSaveFlags(kDefaultSaveOptions), 0x888024u);
  EXPECT_EQ(ItemSaveFlags(kDefaultSaveOptions), 0u);
  const std::uint32_t withPrompt = kDefaultSaveOptions | SaveOption(ofOverwritePrompt);
  EXPECT_EQ(ClassicSaveFlags(withPrompt), 0x888026u);
  EXPECT_EQ(ItemSaveFlags(withPrompt), 0x2u);
  // The strict-types bit differs between the two dialogs.
  EXPECT_EQ(ClassicSaveFlags(SaveOption(ofExtensionDifferent)), 0x88420u);
  EXPECT_EQ(ItemSaveFlags(SaveOption(ofExtensionDifferent)), 0x4u);
  EXPECT_EQ(ItemSaveFlags((1u << kSaveOptionCount) - 1), 0x1211FB0Eu);
  // Bits outside the set change nothing.
  EXPECT_EQ(ClassicSaveFlags(0xFFE00000u), 0x88020u);
  EXPECT_EQ(ItemSaveFlags(0xFFE00000u), 0u);
}

TEST(CommonDialogParts, FilterPairs) {
  // A pattern alone is a description without a pattern.
  EXPECT_EQ(SplitFilter(u"*.bmp"), (std::vector<TFilterPattern>{{u"*.bmp", u"", false}}));
  EXPECT_EQ(SplitFilter(u"Bitmaps|*.bmp|All|*.*"),
            (std::vector<TFilterPattern>{{u"Bitmaps", u"*.bmp", true}, {u"All", u"*.*", true}}));
  EXPECT_EQ(SplitFilter(u"Pictures|"), (std::vector<TFilterPattern>{{u"Pictures", u"", true}}));
  EXPECT_EQ(SplitFilter(u"A|*.a|B"), (std::vector<TFilterPattern>{{u"A", u"*.a", true}, {u"B", u"", false}}));
  EXPECT_EQ(SplitFilter(u"||"), (std::vector<TFilterPattern>{{u"", u"", true}}));
  EXPECT_TRUE(SplitFilter(u"").empty());
}

TEST(CommonDialogParts, BufferNames) {
  using V = std::vector<WideString>;
  const std::u16string multi(u"C:\\pics\0a.jpg\0b.jpg\0\0", 21);
  EXPECT_EQ(FilesFromBuffer(multi, true), (V{u"C:\\pics\\a.jpg", u"C:\\pics\\b.jpg"}));
  // Without the multi-select option the buffer is one name.
  EXPECT_EQ(FilesFromBuffer(multi, false), (V{u"C:\\pics"}));
  EXPECT_EQ(FilesFromBuffer(std::u16string(u"C:\\one.bmp\0\0", 12), true), (V{u"C:\\one.bmp"}));
  // No terminator at all, or nothing before it.
  EXPECT_EQ(FilesFromBuffer(u"x.bmp", true), (V{u"x.bmp"}));
  EXPECT_TRUE(FilesFromBuffer(std::u16string(u"\0a\0", 3), true).empty());
  EXPECT_TRUE(FilesFromBuffer(u"", false).empty());
}

TEST(CommonDialogParts, PrintFlagsPlacementAndCopies) {
  auto d = MakeRef<TPrintDialog>();
  EXPECT_EQ(PrintDialogFlags(*d), 0x10308Cu);
  d->PrintRange = 2, d->Collate = 1, d->PrintToFile = 1;
  d->Options = poPrintToFile | poPageNums | poSelection | poWarning | poHelp | poDisablePrintToFile;
  EXPECT_EQ(PrintDialogFlags(*d), 0x2u | 0x3000u | 0x10u | 0x80000u | 0x20u | 0x800u);

  std::int32_t left = 0, top = 0;
  PlaceOverOwner({100, 100, 900, 700}, {0, 0, 300, 200}, left, top);
  EXPECT_EQ(left, 350);
  EXPECT_EQ(top, 233);
  // A dialog larger than its owner: the divisions go toward zero.
  PlaceOverOwner({0, 0, 100, 100}, {5, 5, 306, 306}, left, top);
  EXPECT_EQ(left, -100);
  EXPECT_EQ(top, -67);
  // Extreme rectangles do not overflow.
  PlaceOverOwner({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, {0, 0, 0, 0}, left, top);
  EXPECT_EQ(left, -1);

  EXPECT_EQ(CopiesFromText(u" 12 "), 12);
  for (const char16_t* bad : {u"", u"0", u"-2", u"3x", u"99999", u"\u0663"}) EXPECT_EQ(CopiesFromText(bad), 1);
  EXPECT_EQ(CopiesFromText(u"9999"), 9999);
}

// ---- the save dialog --------------------------------------------------------------------------

struct SaveDialogTest : CommonDialogTest {
  std::filesystem::path dir;
  WideString wdir;
  void SetUp() override {
    CommonDialogTest::SetUp();
    dir = std::filesystem::temp_directory_path() /
          ("zm_save_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    wdir = Wide(dir.string());
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    CommonDialogTest::TearDown();
  }
  static std::function<void(HWND)> Answer(const WideString& text, int id) {
    return [text, id](HWND d) {
      if (!text.empty()) plat::SetDlgItemTextW(d, 100, text.c_str());
      plat::PressDialogId(d, id);
    };
  }
};

TEST_F(SaveDialogTest, ConfirmCancelAndDefaults) {
  const WideString cwd = GetCurrentDir(false);
  auto s = MakeRef<TSaveDialog>();
  EXPECT_EQ(s->Options, 0x40004u);
  s->InitialDir = wdir;
  s->FileName = u"Slide3.bmp";
  s->DefaultExt = u"bmp";
  {
    // Nobody answers: the dialog ends as cancelled instead of waiting.
    EXPECT_FALSE(s->Execute());
    EXPECT_EQ(s->FileName, u"Slide3.bmp");
  }
  {
    TStepDriver driver;
    WideString shown;
    driver.Steps = {[&](HWND d) {
      shown = plat::DlgItemText(d, 100);
      plat::PressDialogId(d, plat::IDCANCEL);
    }};
    EXPECT_FALSE(s->Execute());
    // Shown as the system writes paths.
    EXPECT_EQ(shown, Slashed(IncludeTrailingBackslash(wdir) + u"Slide3.bmp"));
    EXPECT_EQ(s->FileName, u"Slide3.bmp");
    EXPECT_EQ(s->Files()->GetCount(), 0);
    EXPECT_EQ(GetCurrentDir(false), cwd);
  }
  {
    // A relative name goes into the initial folder and gets the default
    // extension; the answer is trimmed.
    TStepDriver driver;
    driver.Steps = {Answer(u"  picture  ", plat::IDOK)};
    ASSERT_TRUE(s->Execute());
    EXPECT_EQ(s->FileName, IncludeTrailingBackslash(wdir) + u"picture.bmp");
    ASSERT_EQ(s->Files()->GetCount(), 1);
    EXPECT_EQ(s->Files()->GetString(0), s->FileName);
    EXPECT_EQ(GetCurrentDir(false), cwd);
  }
  {
    // Blank answers and folders are no file names.
    TStepDriver driver;
    driver.Steps = {Answer(u"   ", plat::IDOK)};
    const WideString before = s->FileName;
    EXPECT_FALSE(s->Execute());
    driver.Steps.push_back(Answer(IncludeTrailingBackslash(wdir), plat::IDOK));
    EXPECT_FALSE(s->Execute());
    driver.Steps.push_back(Answer(wdir, plat::IDOK));
    EXPECT_FALSE(s->Execute());
    EXPECT_EQ(s->FileName, before);
  }
}

TEST_F(SaveDialogTest, OverwriteNeedsConfirmation) {
  const WideString target = IncludeTrailingBackslash(wdir) + u"old.jpg";
  std::ofstream(dir / "old.jpg") << "x";
  auto s = MakeRef<TSaveDialog>();
  s->InitialDir = wdir;
  s->FileName = u"old.jpg";
  s->Options |= SaveOption(ofOverwritePrompt);
  {
    // No asks again with the same text; then Cancel.
    TStepDriver driver;
    WideString again;
    driver.Steps = {Answer({}, plat::IDOK), Answer({}, plat::IDNO), [&](HWND d) {
                      again = plat::DlgItemText(d, 100);
                      plat::PressDialogId(d, plat::IDCANCEL);
                    }};
    EXPECT_FALSE(s->Execute());
    ASSERT_EQ(driver.Captions.size(), 3u);
    EXPECT_EQ(driver.Captions[1], u"Confirm Save As");
    EXPECT_EQ(again, Slashed(target));
  }
  {
    // Escape on the question keeps the file too; nobody answering it as well.
    TStepDriver driver;
    driver.Steps = {Answer({}, plat::IDOK), Answer({}, plat::IDCANCEL), Answer({}, plat::IDOK)};
    EXPECT_FALSE(s->Execute());
    EXPECT_EQ(driver.Captions.size(), 5u);
  }
  {
    TStepDriver driver;
    driver.Steps = {Answer({}, plat::IDOK), Answer({}, plat::IDYES)};
    ASSERT_TRUE(s->Execute());
    EXPECT_EQ(s->FileName, target);
  }
  {
    // Without the option an existing file is taken at once; a new one never asks.
    s->Options = kDefaultSaveOptions;
    TStepDriver driver;
    driver.Steps = {Answer(target, plat::IDOK)};
    ASSERT_TRUE(s->Execute());
    s->Options |= SaveOption(ofOverwritePrompt);
    driver.Steps.push_back(Answer(u"new.jpg", plat::IDOK));
    ASSERT_TRUE(s->Execute());
    EXPECT_EQ(driver.Captions.size(), 2u);
  }
}

// A bare name goes to the folder the dialog showed: the documents folder
// when neither InitialDir nor FileName names one; and a dialog given no
// owner is owned by the application's window, placed in the work area.
TEST_F(SaveDialogTest, BareNameGoesToTheFolderShownAndTheApplicationOwns) {
  zmtest::TEnvGuard env;
  env.Set("XDG_DOCUMENTS_DIR", dir.string());
  const WideString docs = IncludeTrailingBackslash(WideString(plat::FromNativePath(dir.string())));

  plat::WNDCLASSW wc{};
  wc.lpfnWndProc = &plat::DefWindowProcW;
  wc.lpszClassName = u"AppWindow";
  plat::RegisterClassW(&wc);
  static HWND app = nullptr;
  app = plat::CreateWindowExW(0, u"AppWindow", u"app", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(app, nullptr);
  zm::THookScope appWindow(ApplicationWindowHook, [] { return app; });
  const TApplicationWindowProc savedHook = appWindow.Saved();

  auto s = MakeRef<TSaveDialog>();
  EXPECT_EQ(s->Owner, app);
  s->FileName = u"Slide3.bmp";
  s->DefaultExt = u"bmp";
  TStepDriver driver;
  WideString shown;
  HWND owner = nullptr;
  driver.Steps = {[&](HWND d) {
                    shown = plat::DlgItemText(d, 100);
                    owner = plat::GetWindowOwner(d);
                    plat::PressDialogId(d, plat::IDOK);
                  },
                  Answer(u"Other", plat::IDOK)};
  ASSERT_TRUE(s->Execute());
  EXPECT_EQ(shown, Slashed(docs + u"Slide3.bmp"));
  EXPECT_EQ(s->FileName, docs + u"Slide3.bmp");
  EXPECT_EQ(owner, app);
  ASSERT_TRUE(s->Execute());
  EXPECT_EQ(s->FileName, docs + u"Other.bmp");
  // An absolute name shows its own folder.
  const WideString elsewhere = IncludeTrailingBackslash(wdir) + u"sub\\";
  s->FileName = elsewhere + u"x.bmp";
  driver.Steps.push_back(Answer(u"y", plat::IDOK));
  ASSERT_TRUE(s->Execute());
  EXPECT_EQ(s->FileName, elsewhere + u"y.bmp");
  appWindow.Restore();
  EXPECT_EQ(MakeRef<TSaveDialog>()->Owner, savedHook ? savedHook() : nullptr);
  plat::DestroyWindow(app);
}

// ---- the print dialog --------------------------------------------------------------------------

struct PrintDialogTest : CommonDialogTest {
  pp::TRecordingPrintBackend rec;
  std::unique_ptr<pp::TScopedPrintBackend> use;
  void SetUp() override {
    CommonDialogTest::SetUp();
    rec.Printers = {"Office", "Laser"};
    rec.Default = "Laser";
    rec.Defaults.dmCopies = 4;
    use = std::make_unique<pp::TScopedPrintBackend>(rec);
    FiniWinPrinters();
  }
  void TearDown() override {
    FiniWinPrinters();
    use.reset();
    CommonDialogTest::TearDown();
  }
  static std::string Current() {
    std::string device, driver, port;
    TDevModeBlock mode;
    Printers()->GetPrinter(device, driver, port, mode);
    return device;
  }
};

TEST_F(PrintDialogTest, ChooseAPrinterAndCopies) {
  auto p = MakeRef<TPrintDialog>();
  EXPECT_FALSE(p->Execute());  // nobody answers
  EXPECT_EQ(Current(), "Laser");
  {
    // Confirmed as offered: the copies of the device mode stay.
    TStepDriver driver;
    std::vector<UINT> checks;
    driver.Steps = {[&](HWND d) {
      checks = {plat::IsDlgButtonChecked(d, 100), plat::IsDlgButtonChecked(d, 101)};
      EXPECT_EQ(plat::DlgItemText(d, 90), u"4");
      plat::PressDialogId(d, plat::IDOK);
    }};
    ASSERT_TRUE(p->Execute());
    EXPECT_EQ(checks, (std::vector<UINT>{0, 1}));
    EXPECT_EQ(p->Copies, 4);
    EXPECT_EQ(Printers()->GetNumCopies(), 4);
  }
  {
    // The boxes act as radio buttons; a click on the checked one keeps it.
    TStepDriver driver;
    std::vector<UINT> checks;
    driver.Steps = {[&](HWND d) {
      plat::PressDialogId(d, 100);
      plat::PressDialogId(d, 100);
      checks = {plat::IsDlgButtonChecked(d, 100), plat::IsDlgButtonChecked(d, 101)};
      plat::SetDlgItemTextW(d, 90, u"3");
      plat::PressDialogId(d, plat::IDOK);
    }};
    ASSERT_TRUE(p->Execute());
    EXPECT_EQ(checks, (std::vector<UINT>{1, 0}));
    EXPECT_EQ(Current(), "Office");
    EXPECT_EQ(p->Copies, 3);
    EXPECT_EQ(Printers()->GetNumCopies(), 3);
  }
  {
    // Cancel changes nothing, whatever was clicked; a bad copies text is one copy.
    TStepDriver driver;
    driver.Steps = {[](HWND d) {
                      plat::PressDialogId(d, 101);
                      plat::PressDialogId(d, plat::IDCANCEL);
                    },
                    [](HWND d) {
                      plat::SetDlgItemTextW(d, 90, u"lots");
                      plat::PressDialogId(d, plat::IDOK);
                    }};
    EXPECT_FALSE(p->Execute());
    EXPECT_EQ(Current(), "Office");
    ASSERT_TRUE(p->Execute());
    EXPECT_EQ(p->Copies, 1);
  }
  // The next document goes to the chosen printer with its copies.
  std::vector<std::uint32_t> pixels(4, 0xFFFFFFFF);
  plat::BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = 2, bi.bmiHeader.biHeight = 2, bi.bmiHeader.biPlanes = 1, bi.bmiHeader.biBitCount = 32;
  Printers()->PrintBitmap(pixels.data(), bi, "Slideshow");
  ASSERT_EQ(rec.Jobs().size(), 1u);
  EXPECT_EQ(rec.Jobs()[0].Printer, "Office");
  EXPECT_EQ(rec.Jobs()[0].Mode.dmCopies, 1);
}

TEST_F(PrintDialogTest, NoPrintersNoSettingsAndPlacement) {
  auto p = MakeRef<TPrintDialog>();
  {
    // Without settings of its own, the list starts at the system's default
    // and the copies at 1.
    rec.FailDocumentProperties = true;
    Printers()->SetPrinter("Office", "", "", nullptr);
    TStepDriver driver;
    driver.Steps = {[](HWND d) {
      EXPECT_EQ(plat::IsDlgButtonChecked(d, 101), 1u);
      EXPECT_EQ(plat::DlgItemText(d, 90), u"1");
      plat::SetDlgItemTextW(d, 90, u"2");
      plat::PressDialogId(d, plat::IDOK);
    }};
    ASSERT_TRUE(p->Execute());
    EXPECT_EQ(Current(), "Laser");
    EXPECT_EQ(p->Copies, 2);
  }
  {
    // Over an owner: centred across, top at a third.
    plat::WNDCLASSW wc{};
    wc.lpfnWndProc = &plat::DefWindowProcW;
    wc.lpszClassName = u"PrintOwner";
    plat::RegisterClassW(&wc);
    HWND owner = plat::CreateWindowExW(0, u"PrintOwner", u"o", plat::WS_POPUP | plat::WS_VISIBLE, 200, 100, 900,
                                       700, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    p->Owner = owner;
    TStepDriver driver;
    plat::RECT r{}, o{};
    driver.Steps = {[&](HWND d) {
      plat::GetWindowRect(d, &r);
      plat::GetWindowRect(owner, &o);
      plat::PressDialogId(d, plat::IDCANCEL);
    }};
    EXPECT_FALSE(p->Execute());
    std::int32_t left = 0, top = 0;
    PlaceOverOwner(o, r, left, top);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    plat::DestroyWindow(owner);
  }
  {
    rec.Printers.clear();
    rec.Default.clear();
    FiniWinPrinters();
    TStepDriver driver;
    EXPECT_FALSE(p->Execute());
    EXPECT_TRUE(driver.Captions.empty());
  }
}

}  // namespace common_dialogs_test
}  // namespace zm
