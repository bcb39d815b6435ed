#include "OruLib2/OruShowDialogs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "Platform/PlatFiles.h"
#include "Platform/PlatSystem.h"
#include "Platform/Print/PlatPrintRecorder.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Win32/winPrinters.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/EnvGuard.h"

namespace oru {
namespace show_dialogs_test {

namespace pp = plat::print;
using zm::MakeRef;
using zm::TRef;

// Answers the n-th dialog (nested ones included) with the n-th step.
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

std::function<void(HWND)> Press(std::vector<int> ids) {
  return [ids](HWND d) {
    for (int id : ids) plat::PressDialogId(d, id);
  };
}

// Edit is an id, or -1 for the password box (no id: the second child, after its label).
std::function<void(HWND)> TypeAndPress(int edit, const WideString& text, int id) {
  return [edit, text, id](HWND d) {
    if (edit >= 0) plat::SetDlgItemTextW(d, edit, text.c_str());
    else plat::SetWindowTextW(plat::FindWindowExW(d, plat::FindWindowExW(d, nullptr, nullptr, nullptr), nullptr, nullptr),
                              text.c_str());
    plat::PressDialogId(d, id);
  };
}

TRef<zm::TFastDIB> Frame(int w, int h) {
  auto dib = MakeRef<zm::TFastDIB>();
  dib->UseDibSection = false;
  dib->SetSize(w, h, 32);
  return dib;
}

struct ShowDialogTest : ::testing::Test {
  pp::TRecordingPrintBackend rec;
  std::unique_ptr<pp::TScopedPrintBackend> use;
  TRef<zm::TIniFile> ini = MakeRef<zm::TIniFile>();
  std::filesystem::path dir;
  void SetUp() override {
    ASSERT_TRUE(plat::InitWindowSystem());
    plat::headless::ResetForTests();
    zm::InitWinDialogs();
    rec.Printers = {"Office", "Laser"};
    rec.Default = "Office";
    use = std::make_unique<pp::TScopedPrintBackend>(rec);
    zm::FiniWinPrinters();
    zm::InitWinPrinters();
    dir = std::filesystem::temp_directory_path() /
          ("oru_dlg_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    plat::SetDialogDriver(nullptr);
    zm::FiniWinPrinters();
    zm::InitWinPrinters();
    use.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    plat::headless::ResetForTests();
    plat::ShutdownWindowSystem();
  }
  void SetDpi(int dpi) {
    plat::headless::TMonitorDesc m;
    m.Bounds = {0, 0, 1920, 1080};
    m.Work = {0, 0, 1920, 1040};
    m.Primary = true;
    m.Dpi = dpi;
    plat::headless::SetMonitors({m});
    zm::InitWinPrinters();  // the density is read again on next use
  }
  WideString Path(const char* name) const { return zm::TByteString((dir / name).string()).ToWide(); }
};

// ---- scaling and the password ------------------------------------------------------------

TEST(ShowDialogScale, HalvesGoToEven) {
  EXPECT_EQ(ScaleDialogLength(98, 120), 122);  // 122.5
  EXPECT_EQ(ScaleDialogLength(99, 120), 124);  // 123.75
  EXPECT_EQ(ScaleDialogLength(1, 144), 2);     // 1.5
  EXPECT_EQ(ScaleDialogLength(3, 144), 4);     // 4.5
  EXPECT_EQ(ScaleDialogLength(-1, 144), -2);   // -1.5
  EXPECT_EQ(ScaleDialogLength(-3, 144), -4);   // -4.5
  EXPECT_EQ(ScaleDialogLength(260, 96), 260);
  EXPECT_EQ(ScaleDialogLength(77, 0), 77);
  EXPECT_EQ(ScaleDialogLength(INT32_MAX, 960), INT32_MAX);
}

TEST_F(ShowDialogTest, PasswordRightWrongAndCancel) {
  {
    // Without the option nothing is asked.
    TStepDriver driver;
    EXPECT_FALSE(StartChecks(nullptr, ini.get()));
    EXPECT_TRUE(driver.Captions.empty());
  }
  ini->WriteInteger(u"Main", u"opt_usepass", 1);
  // Nobody answers: refused, never waiting.
  EXPECT_TRUE(StartChecks(nullptr, ini.get()));
  const int edit = -1;
  {
    // Without "opt_pass" only the fixed password opens the show.
    TStepDriver driver;
    driver.Steps = {TypeAndPress(edit, kDefaultShowPassword, plat::IDOK),
                    TypeAndPress(edit, u"QMWR83kzpvtyhnbx41Dlqej", plat::IDOK),
                    TypeAndPress(edit, kDefaultShowPassword, plat::IDCANCEL), TypeAndPress(edit, u"", plat::IDOK)};
    EXPECT_FALSE(StartChecks(nullptr, ini.get()));
    EXPECT_TRUE(StartChecks(nullptr, ini.get()));
    EXPECT_TRUE(StartChecks(nullptr, ini.get()));
    EXPECT_TRUE(StartChecks(nullptr, ini.get()));
    EXPECT_EQ(driver.Captions[0], u"Password required");
  }
  {
    ini->WriteString(u"Main", u"opt_pass", u"Geheim");
    ini->WriteString(u"Main", u"opt_lng_password_caption", u"Kennwort");
    TStepDriver driver;
    driver.Steps = {TypeAndPress(edit, kDefaultShowPassword, plat::IDOK), TypeAndPress(edit, u"Geheim ", plat::IDOK),
                    TypeAndPress(edit, u"Geheim", plat::IDOK)};
    EXPECT_TRUE(PasswordCheck(nullptr, ini.get()));
    EXPECT_TRUE(PasswordCheck(nullptr, ini.get()));
    EXPECT_FALSE(PasswordCheck(nullptr, ini.get()));
    EXPECT_EQ(driver.Captions[0], u"Kennwort");
  }
}

TEST_F(ShowDialogTest, PasswordDialogScalesWithTheScreen) {
  ini->WriteInteger(u"Main", u"opt_usepass", 1);
  for (int dpi : {144, 120}) {
    SetDpi(dpi);
    TStepDriver driver;
    plat::RECT c{}, ok{};
    driver.Steps = {[&](HWND d) {
      plat::GetClientRect(d, &c);
      plat::GetWindowRect(plat::GetDlgItem(d, plat::IDOK), &ok);
      plat::PressDialogId(d, plat::IDCANCEL);
    }};
    EXPECT_TRUE(StartChecks(nullptr, ini.get()));
    if (dpi == 144) {
      EXPECT_EQ(c.right * 1000 + c.bottom, 390147);
      EXPECT_EQ(ok.right - ok.left, 112);  // 112.5
    } else {
      EXPECT_EQ(c.right * 1000 + c.bottom, 325122);  // 98 -> 122.5 -> 122
    }
  }
}

// ---- the print dialog ------------------------------------------------------------------------

struct TPictures {
  std::vector<std::int32_t> Asked;
  TRef<zm::TFastDIB> Main, Captured;
  WideString FileName;
  std::vector<std::uint8_t> FileBytes;
  bool Raise = false;
  TPictureCallback Callback() {
    return [this](TCallBackClass*, std::int32_t kind, TPictureData& data) {
      Asked.push_back(kind);
      if (Raise) throw zm::Exception("no picture");
      if (kind == pkMainPicture && Main) data.Bitmap = Main;
      else if (kind == pkFrame && Captured) data.Bitmap = Captured;
      else if (kind == pkPictureFile && !FileName.empty()) {
        data.Name = FileName;
        data.Stream->Write(FileBytes);
        data.Stream->SetPosition(0);
      } else {
        return false;
      }
      return true;
    };
  }
};

TEST_F(ShowDialogTest, PrintOrientationAndFallbacks) {
  TPictures pics;
  auto run = [&](std::vector<int> ids) {
    TStepDriver driver;
    driver.Steps = {Press(ids)};
    auto object = MakeRef<TCallBackClass>();
    return ShowPrintDialog(nullptr, ini.get(), pics.Callback(), object.get());
  };
  // Landscape, portrait, and a square one in portrait.
  for (auto [w, h] : {std::pair{1024, 768}, {768, 1024}, {64, 64}}) {
    pics.Captured = Frame(w, h);
    EXPECT_EQ(run({idPrint}), 1);
  }
  std::vector<pp::TRecordedJob> jobs = rec.Jobs();
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].Mode.dmOrientation, pp::DMORIENT_LANDSCAPE);
  EXPECT_EQ(jobs[1].Mode.dmOrientation, pp::DMORIENT_PORTRAIT);
  EXPECT_EQ(jobs[2].Mode.dmOrientation, pp::DMORIENT_PORTRAIT);
  EXPECT_EQ(jobs[0].Title, "Slideshow");
  EXPECT_EQ(jobs[0].Printer, "Office");

  // With "only main image" the main picture is asked first, the frame when
  // that fails; without, only the frame.
  pics.Asked.clear();
  EXPECT_EQ(run({0, idPrint}), 1);
  EXPECT_EQ(pics.Asked, (std::vector<std::int32_t>{pkMainPicture, pkFrame}));
  pics.Main = Frame(30, 10);
  pics.Asked.clear();
  EXPECT_EQ(run({0, idPrint}), 1);
  EXPECT_EQ(pics.Asked, (std::vector<std::int32_t>{pkMainPicture}));
  ASSERT_EQ(rec.Jobs().size(), 5u);
  EXPECT_EQ(rec.Jobs()[4].Draws.at(0).SrcW, 30);

  // An empty or failing picture prints nothing.
  pics.Main = nullptr;
  pics.Captured = MakeRef<zm::TFastDIB>();
  EXPECT_EQ(run({idPrint}), 1);
  pics.Raise = true;
  EXPECT_EQ(run({idPrint}), 1);
  EXPECT_EQ(rec.Jobs().size(), 5u);
  // Escape ends the dialog without printing.
  EXPECT_EQ(run({plat::IDCANCEL}), plat::IDCANCEL);
}

TEST_F(ShowDialogTest, ButtonsTextsAndPrinterFailures) {
  TPictures pics;
  pics.Captured = Frame(40, 30);
  ini->WriteString(u"Main", u"opt_lng_print_caption", u"Drucken");
  {
    TStepDriver driver;
    bool hasSave = true;
    WideString check;
    driver.Steps = {[&](HWND d) {
      hasSave = plat::GetDlgItem(d, idSave) != nullptr;
      check = plat::DlgItemText(d, 0);
      plat::PressDialogId(d, idSave);  // no button: the command does nothing
      plat::PressDialogId(d, plat::IDCANCEL);
    }};
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), nullptr), plat::IDCANCEL);
    EXPECT_FALSE(hasSave);
    EXPECT_EQ(check, u"Only Main Image");
    EXPECT_EQ(driver.Captions.at(0), u"Drucken");
    EXPECT_TRUE(pics.Asked.empty());
  }
  {
    // Change Printer keeps the dialog open; the next print goes to the choice.
    TStepDriver driver;
    driver.Steps = {Press({idChangePrinter, idPrint}), Press({101, plat::IDOK})};
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), nullptr), 1);
    ASSERT_EQ(rec.Jobs().size(), 1u);
    EXPECT_EQ(rec.Jobs()[0].Printer, "Laser");
  }
  {
    // No printer at all: the error is shown and the dialog stays.
    rec.Printers.clear();
    rec.Default.clear();
    zm::FiniWinPrinters();
    TStepDriver driver;
    driver.Steps = {Press({idPrint, idChangePrinter, plat::IDCANCEL})};
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), nullptr), plat::IDCANCEL);
    EXPECT_EQ(rec.Jobs().size(), 1u);
  }
}

TEST_F(ShowDialogTest, SaveThePictureFileOrTheFrame) {
  // The documents folder, where the save dialog starts, is the test's.
  zmtest::TEnvGuard env;
  env.Set("XDG_DOCUMENTS_DIR", dir.string());
  // The dialog shows paths as the system writes them.
  const auto shown = [&](const char* name) {
    const std::string path = (dir / name).string();
    return WideString(path.begin(), path.end());
  };
  ini->WriteInteger(u"Main", u"CanRestore", 1);
  TPictures pics;
  pics.FileName = u"pictures\\s1.jpg";
  pics.FileBytes = {0xFF, 0xD8, 0xFF, 0xE0, 0, 1, 2, 0, 0xFF, 0xD9};
  pics.Captured = Frame(5, 3);
  auto object = MakeRef<TCallBackClass>();
  object->SlideIndex = 2;
  const int pathEdit = 100;
  {
    // Cancelled: nothing written, the print dialog stays open.
    TStepDriver driver;
    WideString offered;
    driver.Steps = {Press({0, idSave, plat::IDCANCEL}), [&](HWND d) {
                      offered = plat::DlgItemText(d, pathEdit);
                      plat::PressDialogId(d, plat::IDCANCEL);
                    }};
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), object.get()), plat::IDCANCEL);
    EXPECT_EQ(offered, shown("s1.jpg"));
  }
  {
    // The bytes go out unchanged, over an older file.
    std::ofstream(dir / "copy.jpg") << "older and longer content";
    TStepDriver driver;
    driver.Steps = {Press({0, idSave}), TypeAndPress(pathEdit, Path("copy.jpg"), plat::IDOK), Press({plat::IDYES})};
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), object.get()), 1);
    std::ifstream in(dir / "copy.jpg", std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, pics.FileBytes);
  }
  {
    // Without the box the frame is saved as "Slide<n>.bmp"; a cancel still
    // closes the print dialog.
    TStepDriver driver;
    WideString offered;
    driver.Steps = {Press({idSave}), [&](HWND d) {
                      offered = plat::DlgItemText(d, pathEdit);
                      plat::SetDlgItemTextW(d, pathEdit, Path("frame").c_str());
                      plat::PressDialogId(d, plat::IDOK);
                    },
                    Press({idSave}), Press({plat::IDCANCEL})};
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), object.get()), 1);
    EXPECT_EQ(offered, shown("Slide3.bmp"));
    std::ifstream in(dir / "frame.bmp", std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 26u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[18], 5);  // width
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), object.get()), 1);
  }
  {
    // The box set but no picture file: the frame is offered instead.
    pics.FileName.clear();
    TStepDriver driver;
    WideString offered;
    driver.Steps = {Press({0, idSave}), [&](HWND d) {
                      offered = plat::DlgItemText(d, pathEdit);
                      plat::PressDialogId(d, plat::IDCANCEL);
                    }};
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), object.get()), 1);
    EXPECT_EQ(offered, shown("Slide3.bmp"));
  }
  {
    // The name as offered lands in the folder shown, and so does a bare name
    // typed in its place; the current folder is not where they go.
    TStepDriver driver;
    driver.Steps = {Press({idSave}), Press({plat::IDOK}), Press({idSave}),
                    TypeAndPress(pathEdit, u"Mine.bmp", plat::IDOK)};
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), object.get()), 1);
    EXPECT_EQ(ShowPrintDialog(nullptr, ini.get(), pics.Callback(), object.get()), 1);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "Slide3.bmp"));
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "Mine.bmp"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "Slide3.bmp"));
  }
}

TEST_F(ShowDialogTest, ThreeWrongPasswordsRefuseEachTimeAndLockNothing) {
  ini->WriteInteger(u"Main", u"opt_usepass", 1);
  ini->WriteString(u"Main", u"opt_pass", u"Geheim");
  const int edit = -1;
  TStepDriver driver;
  driver.Steps = {TypeAndPress(edit, u"geheim", plat::IDOK), TypeAndPress(edit, u"", plat::IDOK),
                  TypeAndPress(edit, u"Geheim\n", plat::IDOK), TypeAndPress(edit, u"Geheim", plat::IDOK)};
  // Each wrong answer refuses the show after one asking, with no further box.
  for (int i = 1; i <= 3; ++i) {
    EXPECT_TRUE(StartChecks(nullptr, ini.get()));
    EXPECT_EQ(driver.Captions.size(), std::size_t(i));
  }
  EXPECT_TRUE(plat::headless::MessageBoxesShown().empty());
  // The next opening asks afresh and the right password passes.
  EXPECT_FALSE(StartChecks(nullptr, ini.get()));
  EXPECT_EQ(driver.Captions.size(), 4u);
}

TEST_F(ShowDialogTest, FailedSavesReportAndLeaveEarlierFilesWhole) {
  ini->WriteInteger(u"Main", u"CanRestore", 1);
  TPictures pics;
  pics.FileName = u"s1.jpg";
  pics.FileBytes = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
  pics.Captured = Frame(5, 3);
  const int pathEdit = 100;
  std::ofstream(dir / "plain") << "a file, not a folder";
  std::ofstream(dir / "keep.jpg") << "older";
  std::ofstream(dir / "keep.bmp") << "older";
  // The temporary names beside these two are taken by folders.
  std::filesystem::create_directory(dir / "keep.jpg.saving");
  std::filesystem::create_directory(dir / "keep.bmp.saving");
  std::filesystem::create_directory(dir / "keep.jpg.saving" / "inside");
  auto save = [&](std::vector<int> print, const char* name, bool existing) {
    TStepDriver driver;
    driver.Steps = {Press(print), TypeAndPress(pathEdit, Path(name), plat::IDOK)};
    if (existing) driver.Steps.push_back(Press({plat::IDYES}));
    return ShowPrintDialog(nullptr, ini.get(), pics.Callback(), nullptr);
  };
  // The picture file: the error box names the chosen file, the dialog stays.
  EXPECT_EQ(save({0, idSave, plat::IDCANCEL}, "plain/x.jpg", false), plat::IDCANCEL);
  EXPECT_EQ(save({0, idSave, plat::IDCANCEL}, "keep.jpg", true), plat::IDCANCEL);
  // The frame: the same error, and the dialog stays open for another try.
  EXPECT_EQ(save({idSave, plat::IDCANCEL}, "keep.bmp", true), plat::IDCANCEL);
  std::vector<std::string> boxes = plat::headless::MessageBoxesShown();
  ASSERT_EQ(boxes.size(), 3u);
  for (const std::string& b : boxes) EXPECT_EQ(b.rfind("Slideshow Error: ", 0), 0u) << b;
  EXPECT_NE(boxes[0].find((dir / "plain/x.jpg").string()), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[1].find((dir / "keep.jpg").string()), std::string::npos) << boxes[1];
  EXPECT_EQ(boxes[1].find(".saving"), std::string::npos) << "the temporary name is not the user's";
  for (const char* kept : {"keep.jpg", "keep.bmp"}) {
    std::ifstream in(dir / kept);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "older") << kept;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "keep.jpg.saving" / "inside"));

  // Once the way is free the earlier file is replaced whole, nothing left beside it.
  std::filesystem::remove_all(dir / "keep.jpg.saving");
  EXPECT_EQ(save({0, idSave}, "keep.jpg", true), 1);
  std::ifstream in(dir / "keep.jpg", std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, pics.FileBytes);
  EXPECT_FALSE(std::filesystem::exists(dir / "keep.jpg.saving"));
}

// The system's answers a save can meet, made to order: the disk fills up
// while the file is written, or the folder may not be written to (the tests
// run as a user whom no permission stops).
class TFailingFileAPI : public zm::TFileAPI {
public:
  int WriteError = 0, CreateError = 0;
  zm::THandle CreateFile(const WideString& name, std::uint32_t access, std::uint32_t share, const void* security,
                         std::uint32_t creation, std::uint32_t attributes, zm::THandle tmpl) override {
    if (CreateError) {
      plat::SetLastOSError(CreateError);
      return zm::INVALID_HANDLE_VALUE;
    }
    return zm::TFileAPI::CreateFile(name, access, share, security, creation, attributes, tmpl);
  }
  bool WriteFile(zm::THandle h, const void* buffer, std::uint32_t count, std::uint32_t& done) override {
    if (WriteError) {
      done = 0;
      plat::SetLastOSError(WriteError);
      return false;
    }
    return zm::TFileAPI::WriteFile(h, buffer, count, done);
  }
};

// A failed save says which file and why, in the system's words, on a line
// of its own; the earlier file stays and nothing is left beside it.
TEST_F(ShowDialogTest, FailedSavesSayWhy) {
  ini->WriteInteger(u"Main", u"CanRestore", 1);
  TPictures pics;
  pics.Captured = Frame(5, 3);
  std::ofstream(dir / "keep.bmp") << "older";
  auto save = [&](const char* name, bool existing) {
    TStepDriver driver;
    driver.Steps = {Press({idSave, plat::IDCANCEL}), TypeAndPress(100, Path(name), plat::IDOK)};
    if (existing) driver.Steps.push_back(Press({plat::IDYES}));
    return ShowPrintDialog(nullptr, ini.get(), pics.Callback(), nullptr);
  };
  save("no such folder/Slide.bmp", false);
  {
    auto api = MakeRef<TFailingFileAPI>();
    api->WriteError = ENOSPC;
    zm::THookScope<TRef<zm::TFileAPI>> use(zm::FileAPIClass, api);
    save("keep.bmp", true);
    api->WriteError = 0;
    api->CreateError = EACCES;
    save("keep.bmp", true);
  }
  const std::vector<std::string> boxes = plat::headless::MessageBoxesShown();
  ASSERT_EQ(boxes.size(), 3u);
  const std::string missing = (dir / "no such folder/Slide.bmp").string(), kept = (dir / "keep.bmp").string();
  // Line ends become blanks on the error output.
  EXPECT_EQ(boxes[0], "Slideshow Error: " + missing + " No such file or directory");
  EXPECT_EQ(boxes[1], "Slideshow Error: " + kept + " No space left on device");
  EXPECT_EQ(boxes[2], "Slideshow Error: " + kept + " Permission denied");
  std::ifstream in(dir / "keep.bmp");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "older");
  EXPECT_FALSE(std::filesystem::exists(dir / "keep.bmp.saving"));
}

TEST(ShowPictureFile, JpegCopiedOthersDecodedOrNothing) {
  auto ini = MakeRef<zm::TIniFile>();
  zm::TIniList* section = ini->GetOrAddSection(u"Slide1");
  std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 1, 2, 3};
  TShowFileOpener open = [&](const WideString& name) -> zm::TStream* {
    if (name == u"a.JPEG" || name == u"b.bin") {
      auto* s = new zm::TMemoryStream();
      s->Write(jpeg);
      s->SetPosition(3);  // wherever the file was left
      return s;
    }
    return nullptr;
  };
  TPictureData data;
  EXPECT_FALSE(SlidePictureFile(section, open, data));  // no picture
  EXPECT_FALSE(SlidePictureFile(nullptr, open, data));
  ini->WriteString(u"Slide1", u"picture", u"a.JPEG");
  ASSERT_TRUE(SlidePictureFile(section, open, data));
  EXPECT_EQ(data.Name, u"a.JPEG");
  EXPECT_EQ(data.Stream->GetPosition(), 0);
  EXPECT_EQ(data.Stream->GetSize(), 5);
  // Damaged data of another kind, and a file that is not there.
  ini->WriteString(u"Slide1", u"picture", u"b.bin");
  EXPECT_FALSE(SlidePictureFile(section, open, data));
  ini->WriteString(u"Slide1", u"picture", u"c.jpg");
  EXPECT_FALSE(SlidePictureFile(section, open, data));
  EXPECT_FALSE(SlidePictureFile(section, nullptr, data));
}

}  // namespace show_dialogs_test
}  // namespace oru
