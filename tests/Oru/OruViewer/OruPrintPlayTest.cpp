// Printing and saving the shown slide end to end, as a user does it: the
// show plays in process on the stepped clock, another thread clicks the
// object whose action is "print", and the dialogs are answered with keys
// typed through the window. The page of the "PDF file" printer and the
// saved picture must show the slide; the copies and the file name typed are
// the ones taken. A password typed the same way opens its show.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruShowDialogs.h"
#include "Platform/Print/PlatPrintPdfFile.h"
#include "Platform/Print/PlatPrintRecorder.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Win32/winPrinters.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowBuilder.h"

namespace print_play_test {

namespace pp = plat::print;
namespace hl = plat::headless;

constexpr std::uint32_t kStepMs = 20;
constexpr int kWidth = 160, kHeight = 120;
// The slide: a red background, a blue square of the slide's height in the
// middle (x 20..139) whose click prints.
constexpr std::uint32_t kRed = 0xC82828, kBlue = 0x2828C8;

int Channel(std::uint32_t c, int shift) { return int(c >> shift) & 0xFF; }

std::string Hex(std::uint32_t rgb) {
  static const char digits[] = "0123456789abcdef";
  std::string text = "0x";
  for (int s = 20; s >= 0; s -= 4) text += digits[(rgb >> s) & 0xF];
  return text;
}

::testing::AssertionResult Near(std::uint32_t got, std::uint32_t want, int tolerance) {
  for (int s : {16, 8, 0})
    if (std::abs(Channel(got, s) - Channel(want, s)) > tolerance)
      return ::testing::AssertionFailure() << "got " << Hex(got) << ", want " << Hex(want);
  return ::testing::AssertionSuccess();
}

// The system's printers as a machine without CUPS printers has them: only
// the "PDF file" printer; the copies each document began with are kept.
class TCopiesSeen : public pp::IPrintBackend {
public:
  pp::TRecordingPrintBackend none;
  pp::TPdfFilePrintBackend pdf{none};
  std::vector<int> Copies;  // per document

  std::vector<std::string> Destinations() override { return pdf.Destinations(); }
  std::string DefaultName() override { return pdf.DefaultName(); }
  std::string ProfileDevice() override { return pdf.ProfileDevice(); }
  bool OpenPrinter(const std::string& name) override { return pdf.OpenPrinter(name); }
  bool DocumentProperties(const std::string& name, pp::TDevMode& mode) override {
    return pdf.DocumentProperties(name, mode);
  }
  bool PageGeometry(const std::string& name, const pp::TDevMode* mode, pp::TPageGeometry& page) override {
    return pdf.PageGeometry(name, mode, page);
  }
  std::unique_ptr<pp::IPrintJob> BeginJob(const std::string& name, const std::string& title,
                                          const pp::TDevMode* mode, const pp::TPageGeometry& page) override {
    Copies.push_back(mode && (mode->dmFields & pp::DM_COPIES) ? mode->dmCopies : 1);
    return pdf.BeginJob(name, title, mode, page);
  }
};

// A binary PPM as rows of R, G, B.
struct TPpm {
  int W = 0, H = 0;
  std::string Rgb;
  bool Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    if (!(in >> magic >> W >> H >> maxval) || magic != "P6" || maxval != 255 || W < 1 || H < 1) return false;
    in.get();
    Rgb.assign(std::size_t(W) * std::size_t(H) * 3, '\0');
    return bool(in.read(Rgb.data(), std::streamsize(Rgb.size())));
  }
  std::uint32_t At(int x, int y) const {
    const auto* p = reinterpret_cast<const unsigned char*>(Rgb.data()) + (std::size_t(y) * W + x) * 3;
    return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
  }
  // How many pixels lie near the colour.
  int Count(std::uint32_t rgb) const {
    int n = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) n += Near(At(x, y), rgb, 40) ? 1 : 0;
    return n;
  }
};

// An uncompressed 24- or 32-bit BMP as 0x00RRGGBB, top-down; empty when it is not one.
std::vector<std::uint32_t> BmpPixels(const std::string& b, int& w, int& h) {
  const auto u32 = [&](std::size_t at) {
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
           std::uint32_t(std::uint8_t(b[at + 2])) << 16 | std::uint32_t(std::uint8_t(b[at + 3])) << 24;
  };
  w = h = 0;
  if (b.size() < 54 || b.compare(0, 2, "BM") != 0) return {};
  const std::uint32_t offset = u32(10);
  const int width = int(u32(18)), height = int(u32(22));
  const int bpp = std::uint8_t(b[28]) | std::uint8_t(b[29]) << 8;
  if (width < 1 || height == 0 || (bpp != 24 && bpp != 32) || u32(30) != 0) return {};
  const int rows = std::abs(height);
  const std::size_t stride = (std::size_t(width) * std::size_t(bpp) + 31) / 32 * 4;
  if (b.size() < offset + stride * std::size_t(rows)) return {};
  std::vector<std::uint32_t> px(std::size_t(width) * std::size_t(rows));
  for (int y = 0; y < rows; ++y) {
    const std::size_t row = offset + stride * std::size_t(height > 0 ? rows - 1 - y : y);
    for (int x = 0; x < width; ++x) {
      const std::size_t at = row + std::size_t(x) * std::size_t(bpp / 8);
      px[std::size_t(y) * std::size_t(width) + std::size_t(x)] = std::uint32_t(std::uint8_t(b[at + 2])) << 16 |
                                                                  std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
                                                                  std::uint8_t(b[at]);
    }
  }
  w = width, h = rows;
  return px;
}

// What the frames, the dialogs and the pointer thread tell each other.
struct TShared {
  std::mutex Lock;
  std::condition_variable Changed;
  std::int64_t Frames = 0, Time = -1;
  bool Over = false;
  int Dialogs = 0;  // dialogs answered so far
  bool Done = false;
  plat::HWND Window = nullptr;  // the player's, as the pointer thread clicked it
  std::vector<std::uint32_t> Frame;  // the last one, 0x00RRGGBB
  int W = 0, H = 0;
};

// Answers each dialog with the next step, and tells the waiting threads.
struct TSteps : plat::IDialogDriver {
  TShared& S;
  std::vector<std::function<void(plat::HWND)>> Steps;
  std::vector<std::u16string> Captions;
  explicit TSteps(TShared& s) : S(s) { plat::SetDialogDriver(this); }
  ~TSteps() override { plat::SetDialogDriver(nullptr); }
  void Drive(plat::HWND dialog) override {
    Captions.push_back(plat::WindowText(dialog));
    std::size_t i;
    {
      std::lock_guard<std::mutex> l(S.Lock);
      i = std::size_t(S.Dialogs++);
    }
    if (i < Steps.size() && Steps[i]) Steps[i](dialog);
    S.Changed.notify_all();
  }
};

// Clears an edit box with Backspace and types Text into it, by keys sent to
// the focus as a keyboard would.
void TypeInto(plat::HWND dialog, int id, const std::u16string& text) {
  plat::HWND edit = plat::GetDlgItem(dialog, id);
  ASSERT_NE(edit, nullptr) << id;
  plat::SetFocus(edit);
  hl::Key(plat::VK_END, true);
  hl::Key(plat::VK_END, false);
  for (std::size_t n = plat::DlgItemText(dialog, id).size(); n > 0; --n) {
    hl::Key(plat::VK_BACK, true);
    hl::Key(plat::VK_BACK, false);
  }
  hl::Type(text);
}

void PressEnter() {
  hl::Key(plat::VK_RETURN, true);
  hl::Key(plat::VK_RETURN, false);
}

void WriteShow(zmtest::TShowBuilder& show, bool password) {
  show.ScreenSize(kWidth, kHeight).Repeat("stop");
  show.Main().Key("opt_scr_full", 0).Key("CanRestore", 1);
  if (password) show.Main().Key("opt_usepass", 1).Key("opt_pass", "Geheim");
  auto& slide = show.AddSlide(600000).SolidBackground(Channel(kRed, 16), Channel(kRed, 8), Channel(kRed, 0));
  slide.Transition("quick", 0);
  auto& square =
      slide.Box("Square", 1, 1, zmtest::ShowRGB(Channel(kBlue, 16), Channel(kBlue, 8), Channel(kBlue, 0)))
          .Key("Action", "print");
  // A fade too slow to see keeps frames coming: the stepped clock moves
  // only with presented frames.
  square.KeyPoint(0).Opacity(100);
  square.KeyPoint(0, "SlideEnd").Opacity(99);
  show.Write();
}

// Plays the show on the clock of Step until the pointer thread sets Done;
// the pointer thread runs with the shared state locked.
orutest::TInProcessRun Play(zmtest::TShowBuilder& show, std::uint32_t step, TShared& s,
                            const std::function<void(std::unique_lock<std::mutex>&)>& pointer) {
  std::thread user([&] {
    std::unique_lock<std::mutex> l(s.Lock);
    pointer(l);
  });
  const std::u16string command = u"player -filename \"" + plat::FromUtf8(show.Folder() + "/Project.oru") + u"\"";
  const orutest::TInProcessRun run = orutest::PlayInProcess(
      command, step, [&](std::int64_t time, const std::uint32_t* bits, int w, int h) {
        std::lock_guard<std::mutex> g(s.Lock);
        ++s.Frames;
        s.Time = time;
        if (bits && w > 0 && h > 0) {
          s.Frame.assign(bits, bits + std::size_t(w) * std::size_t(h));
          for (std::uint32_t& p : s.Frame) p &= 0xFFFFFF;
          s.W = w, s.H = h;
        }
        s.Changed.notify_all();
        return s.Done || s.Frames > 20000;
      });
  {
    std::lock_guard<std::mutex> g(s.Lock);
    s.Over = true;
  }
  s.Changed.notify_all();
  user.join();
  // Out of the way of the windows of the tests that follow.
  hl::MoveMouse(plat::POINT{1919, 1079});
  return run;
}

// Clicks the middle of the slide until the dialog count passes Dialogs (a
// click that comes while the last dialog is still closing is not taken);
// false when the run ended first.
bool ClickForDialog(TShared& s, std::unique_lock<std::mutex>& l, int dialogs) {
  const auto over = [&] { return s.Over; };
  while (!over()) {
    // Long enough after the last click not to make a double click.
    const std::int64_t from = s.Frames;
    s.Changed.wait(l, [&] { return s.Over || s.Frames >= from + 40; });
    if (s.Over) return false;
    l.unlock();
    plat::HWND window = plat::GetForegroundWindow();
    plat::POINT p{kWidth / 2, kHeight / 2};
    if (window) plat::ClientToScreen(window, &p);
    l.lock();
    if (!s.Window) s.Window = window;
    l.unlock();
    hl::Click(1, p);
    l.lock();
    const std::int64_t clicked = s.Frames;
    s.Changed.wait(l, [&] { return s.Over || s.Dialogs > dialogs || s.Frames > clicked + 1000; });
    if (s.Dialogs > dialogs) return true;
  }
  return false;
}

// One print and one save on the clock of Step (0: the real clock, as a user
// plays a show).
void PrintAndSave(std::uint32_t step) {
  zmtest::TTempDir dir;
  zmtest::TShowBuilder show;
  WriteShow(show, false);
  const std::string pdfPath = (dir.Path() / "page.pdf").string();
  zmtest::TEnvGuard output("ZM_PRINT_PDF", pdfPath.c_str());
  TCopiesSeen printers;
  pp::TScopedPrintBackend use(printers);
  zm::FiniWinPrinters();

  TShared s;
  TSteps steps(s);
  std::u16string offered;
  std::vector<std::uint32_t> shown;  // the window's pixels when printing began
  int shownW = 0, shownH = 0;
  steps.Steps = {
      // The print dialog: another printer set-up with two copies, then Print.
      [&](plat::HWND d) {
        plat::HWND window;
        {
          std::lock_guard<std::mutex> g(s.Lock);
          window = s.Window;
        }
        shown = hl::CaptureClient(window, shownW, shownH);
        for (std::uint32_t& p : shown) p &= 0xFFFFFF;
        plat::PressDialogId(d, oru::idChangePrinter);
        plat::PressDialogId(d, oru::idPrint);
      },
      // The printer dialog: "Copies:" typed over, Enter.
      [&](plat::HWND d) {
        TypeInto(d, 90, u"2");
        PressEnter();
      },
      // The print dialog again: Save.
      [](plat::HWND d) { plat::PressDialogId(d, oru::idSave); },
      // Save As: a name typed over the offered one, Enter.
      [&](plat::HWND d) {
        offered = plat::DlgItemText(d, 100);
        TypeInto(d, 100, dir.Wide("typed.bmp"));
        PressEnter();
      },
  };
  const orutest::TInProcessRun run = Play(show, step, s, [&](std::unique_lock<std::mutex>& l) {
    // The form ignores the pointer for its first second.
    s.Changed.wait(l, [&] { return s.Over || s.Time >= 1200; });
    if (!ClickForDialog(s, l, 0)) return;
    if (!ClickForDialog(s, l, 2)) return;
    s.Changed.wait(l, [&] { return s.Over || s.Dialogs >= 4; });
    s.Done = true;
  });
  zm::FiniWinPrinters();

  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
  ASSERT_EQ(steps.Captions.size(), 4u);
  EXPECT_EQ(steps.Captions[3], u"Save As");
  // The window: red bands either side of the blue square.
  ASSERT_EQ(shownW, kWidth);
  ASSERT_EQ(shownH, kHeight);
  EXPECT_TRUE(Near(shown[60 * kWidth + 5], kRed, 8));
  EXPECT_TRUE(Near(shown[60 * kWidth + 80], kBlue, 8));

  // Two copies were typed and taken.
  EXPECT_EQ(printers.Copies, std::vector<int>{2});

  // The page: the slide, fitted on a landscape A4 sheet, red either side of blue.
  ASSERT_TRUE(std::filesystem::exists(pdfPath));
  if (std::system("command -v pdftoppm >/dev/null 2>&1") == 0) {
    const std::string prefix = (dir.Path() / "page").string();
    ASSERT_EQ(std::system(("pdftoppm -r 20 -singlefile \"" + pdfPath + "\" \"" + prefix + "\"").c_str()), 0);
    TPpm page;
    ASSERT_TRUE(page.Load(prefix + ".ppm"));
    EXPECT_GT(page.W, page.H);
    const int red = page.Count(kRed), blue = page.Count(kBlue);
    EXPECT_GT(blue, page.W * page.H / 3) << "the square does not show";
    EXPECT_GT(red, page.W * page.H / 10) << "the background does not show";
    EXPECT_TRUE(Near(page.At(page.W / 2, page.H / 2), kBlue, 40));
    EXPECT_EQ(page.Count(0x000000), 0) << "black on the page";
  } else {
    ADD_FAILURE() << "pdftoppm (poppler-utils) missing";
  }

  // The file typed is the file written, with the window's pixels.
  // The slide's name is offered in the folder it would go to.
  ASSERT_GE(offered.size(), 11u);
  EXPECT_EQ(offered.substr(offered.size() - 11), u"/Slide1.bmp");
  ASSERT_TRUE(dir.Exists("typed.bmp")) << "the name typed was not taken";
  int w = 0, h = 0;
  const std::vector<std::uint32_t> saved = BmpPixels(dir.Read("typed.bmp"), w, h);
  ASSERT_EQ(w, kWidth);
  ASSERT_EQ(h, kHeight);
  int off = 0;
  for (std::size_t i = 0; i < saved.size(); ++i) off += Near(saved[i], shown[i], 4) ? 0 : 1;
  EXPECT_EQ(off, 0) << "pixels that differ from the window's";
}

TEST(PrintPlay, ThePrintedPageAndTheSavedPictureShowTheSlide) {
  for (const std::uint32_t step : {kStepMs, 0u}) {
    SCOPED_TRACE(step ? "stepped clock" : "real clock");
    PrintAndSave(step);
  }
}

TEST(PrintPlay, APasswordTypedThroughTheWindowOpensTheShow) {
  for (const bool right : {false, true}) {
    SCOPED_TRACE(right ? "right password" : "wrong password");
    zmtest::TShowBuilder show;
    WriteShow(show, true);
    TShared s;
    TSteps steps(s);
    std::u16string masked;
    steps.Steps = {[&](plat::HWND d) {
      plat::HWND edit = plat::FindWindowExW(d, plat::FindWindowExW(d, nullptr, nullptr, nullptr), nullptr, nullptr);
      ASSERT_NE(edit, nullptr);
      plat::SetFocus(edit);
      hl::Type(right ? u"Geheimx" : u"Gehei");
      hl::Key(plat::VK_BACK, true);
      hl::Key(plat::VK_BACK, false);
      hl::PumpUntilIdle();
      masked = plat::EditDisplayText(edit);
      PressEnter();
    }};
    const orutest::TInProcessRun run = Play(show, kStepMs, s, [&](std::unique_lock<std::mutex>& l) {
      s.Changed.wait(l, [&] { return s.Over || s.Frames >= 5; });
      s.Done = true;
    });
    EXPECT_EQ(steps.Captions.size(), 1u);
    EXPECT_EQ(masked, right ? u"******" : u"****");
    EXPECT_EQ(run.Started, right);
    if (right) {
      std::lock_guard<std::mutex> g(s.Lock);
      ASSERT_EQ(s.W, kWidth);
      EXPECT_TRUE(Near(s.Frame[60 * kWidth + 5], kRed, 8));
    } else {
      EXPECT_EQ(s.Frames, 0);
    }
  }
}

}  // namespace print_play_test
