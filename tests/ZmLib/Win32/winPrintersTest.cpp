#include "ZmLib/Win32/winPrinters.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "Platform/Print/PlatPrintRecorder.h"

// Inside the namespace, so that unity batches see no using-directives.
namespace zm {
namespace {
namespace pp = plat::print;

template <class F>
std::string PrinterError(F f) {
  try {
    f();
  } catch (const EPrinter& e) {
    return e.Message();
  }
  return "(no error)";
}

// A printer over a recording backend with a 4800 x 6600 page.
struct PrinterFixture : ::testing::Test {
  pp::TRecordingPrintBackend rec;
  pp::TScopedPrintBackend use{rec};
  TRef<TPrinter> printer;
  PrinterFixture() {
    rec.Page.WidthPx = 4800;
    rec.Page.HeightPx = 6600;
    rec.Page.Dpi = 600;
    printer = MakeRef<TPrinter>();
  }
};

plat::BITMAPINFO PrinterDib32(int w, int h) {
  plat::BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = plat::BI_RGB;
  return bi;
}

}  // namespace

TEST(PrinterFit, ProportionsKeptAndCentred) {
  TFitRect r;
  ASSERT_TRUE(FitBitmapToPage(4800, 6600, 1000, 500, r));
  EXPECT_EQ(r, (TFitRect{0, 2100, 4800, 2400}));
  ASSERT_TRUE(FitBitmapToPage(4800, 6600, 500, 1000, r));
  EXPECT_EQ(r, (TFitRect{750, 0, 3300, 6600}));
  // The page's own proportions fill it, at any scale.
  ASSERT_TRUE(FitBitmapToPage(4800, 6600, 480, 660, r));
  EXPECT_EQ(r, (TFitRect{0, 0, 4800, 6600}));
  // Truncated quotients and halves toward zero: 7 x 3 on 10 x 10 is 10 x 4 at y 3.
  ASSERT_TRUE(FitBitmapToPage(10, 10, 7, 3, r));
  EXPECT_EQ(r, (TFitRect{0, 3, 10, 4}));
  // The largest sizes stay exact in 64-bit products.
  ASSERT_TRUE(FitBitmapToPage(INT32_MAX, INT32_MAX, INT32_MAX, 1, r));
  EXPECT_EQ(r, (TFitRect{0, INT32_MAX / 2, INT32_MAX, 1}));
  for (auto [pw, ph, bw, bh] : std::vector<std::array<int, 4>>{
           {4800, 6600, 0, 500}, {4800, 6600, 1000, 0}, {4800, 6600, -1000, 500}, {0, 6600, 10, 10},
           {4800, -1, 10, 10}, {4800, 6600, 1, 100000}}) {
    EXPECT_FALSE(FitBitmapToPage(pw, ph, bw, bh, r)) << bw << " x " << bh << " on " << pw << " x " << ph;
    EXPECT_EQ(r, TFitRect{});
  }
}

TEST_F(PrinterFixture, DefaultPrinterSelection) {
  rec.Printers = {"Office", "Lab", "B\xC3\xBCro"};
  rec.Default = "b\xC3\x9C" "RO";  // the default matches ignoring case, also beyond ASCII
  EXPECT_EQ(printer->GetPrinterIndex(), 2);
  EXPECT_EQ(printer->PrinterCount(), 3);
  EXPECT_EQ(printer->PrinterText(0), "Office");
  EXPECT_EQ(printer->PrinterText(3), "");
  EXPECT_EQ(printer->PrinterDevice(-1), nullptr);

  // No default: the profile entry's first part, blanks before it skipped.
  auto p2 = MakeRef<TPrinter>();
  rec.Default = "";
  rec.Profile = "   lab,winspool,Ne00:";
  EXPECT_EQ(p2->GetPrinterIndex(), 1);
  // ... naming a printer not in the list: the last listed printer.
  auto p3 = MakeRef<TPrinter>();
  rec.Profile = "Gone,winspool,Ne01:";
  EXPECT_EQ(p3->GetPrinterIndex(), 2);
  auto p4 = MakeRef<TPrinter>();
  rec.Profile = " , ";
  EXPECT_EQ(p4->GetPrinterIndex(), 2);

  // Nothing installed: every way to the current printer says so.
  rec.Printers.clear();
  rec.Default = "Office";
  for (auto call : std::vector<std::function<void(TPrinter&)>>{
           [](TPrinter& p) { p.GetPrinterIndex(); }, [](TPrinter& p) { p.PageWidth(); },
           [](TPrinter& p) { p.GetNumCopies(); }, [](TPrinter& p) { p.BeginDoc(); },
           [](TPrinter& p) { p.Canvas()->GetHandle(); },
           [](TPrinter& p) { p.SetOrientation(TPrinterOrientation::Landscape); }}) {
    auto p = MakeRef<TPrinter>();
    EXPECT_EQ(PrinterError([&] { call(*p); }), "There is no default printer currently selected");
    EXPECT_FALSE(p->Printing());
  }
}

TEST_F(PrinterFixture, SetPrinterMatchesPortsAndTakesOverDeviceModes) {
  rec.Printers = {"Office", "Lab"};
  // An entry without a port takes the given one instead of a new entry.
  printer->SetPrinter("Lab", "drv", "LPT1:", nullptr);
  EXPECT_EQ(printer->GetPrinterIndex(), 1);
  EXPECT_EQ(printer->PrinterCount(), 2);
  EXPECT_EQ(printer->PrinterDevice(1)->Port, "LPT1:");
  EXPECT_EQ(printer->PrinterDevice(1)->Driver, "");
  // A port of its own must be equal; another port adds "name on port".
  printer->SetPrinter("Lab", "drv", "LPT2:", nullptr);
  EXPECT_EQ(printer->GetPrinterIndex(), 2);
  EXPECT_EQ(printer->PrinterText(2), "Lab on LPT2:");
  EXPECT_EQ(printer->PrinterDevice(2)->Driver, "drv");
  printer->SetPrinter("Lab", "", "LPT1:", nullptr);
  EXPECT_EQ(printer->GetPrinterIndex(), 1);
  // Names compare exactly here.
  printer->SetPrinter("office", "", "", nullptr);
  EXPECT_EQ(printer->GetPrinterIndex(), 3);
  EXPECT_EQ(printer->PrinterCount(), 4);

  // The opened printer's defaults become the held block.
  rec.Defaults.dmFields = pp::DM_COPIES | pp::DM_ORIENTATION | pp::DM_COLLATE;
  rec.Defaults.dmCopies = 2;
  printer->SetPrinter("Office", "", "", nullptr);
  EXPECT_EQ(printer->GetNumCopies(), 2);
  EXPECT_EQ(printer->Capabilities(), pcCopies | pcOrientation | pcCollation);
  std::string dev, drv, port;
  TDevModeBlock held;
  printer->GetPrinter(dev, drv, port, held);
  EXPECT_EQ(dev, "Office");
  ASSERT_TRUE(held);

  // A block of the caller's is taken over; the same block again is kept.
  auto mine = std::make_shared<TDevMode>();
  mine->dmFields = pp::DM_COPIES;
  mine->dmCopies = 5;
  printer->SetPrinter("Office", "", "", mine);
  EXPECT_EQ(printer->GetNumCopies(), 5);
  EXPECT_EQ(printer->Capabilities(), pcCopies);
  printer->SetNumCopies(7);
  EXPECT_EQ(mine->dmCopies, 7);
  printer->SetPrinter("Office", "", "", mine);
  printer->GetPrinter(dev, drv, port, held);
  EXPECT_EQ(held, mine);

  // Orientation turns the page.
  printer->SetPrinter("Office", "", "", nullptr);
  EXPECT_EQ(printer->PageWidth(), 4800);
  printer->SetOrientation(TPrinterOrientation::Landscape);
  EXPECT_EQ(printer->State(), TPrinterState::None) << "the settings changed, the context goes";
  EXPECT_EQ(printer->PageWidth(), 6600);
  EXPECT_EQ(printer->PageHeight(), 4800);

  // No device mode: copies and orientation are refused; an unknown printer
  // has no context either.
  rec.FailDocumentProperties = true;
  printer->SetPrinter("Lab", "", "LPT1:", nullptr);
  EXPECT_EQ(printer->Capabilities(), 0);
  EXPECT_EQ(PrinterError([&] { printer->GetNumCopies(); }), "Operation not supported on selected printer");
  EXPECT_EQ(PrinterError([&] { printer->SetNumCopies(1); }), "Operation not supported on selected printer");
  EXPECT_EQ(PrinterError([&] { printer->SetOrientation(TPrinterOrientation::Portrait); }),
            "Operation not supported on selected printer");
  printer->SetPrinter("Ghost", "", "", nullptr);
  EXPECT_EQ(PrinterError([&] { printer->GetNumCopies(); }), "Operation not supported on selected printer");
  EXPECT_EQ(PrinterError([&] { printer->PageWidth(); }), "Printer selected is not valid");
  EXPECT_EQ(PrinterError([&] { printer->BeginDoc(); }), "Printer selected is not valid");
  EXPECT_FALSE(printer->Printing());
}

TEST_F(PrinterFixture, DocumentLifecycleWithAbort) {
  rec.Printers = {"Office"};
  EXPECT_EQ(PrinterError([&] { printer->EndDoc(); }), "Printer is not currently printing");
  EXPECT_EQ(PrinterError([&] { printer->Abort(); }), "Printer is not currently printing");
  EXPECT_EQ(printer->PageNumber(), 0);

  // The canvas measures through an information context at the printer's dpi.
  EXPECT_EQ(printer->Canvas()->Font()->Size, 9);
  EXPECT_GT(printer->Canvas()->Font()->PixelsPerInch, 0);
  EXPECT_NE(printer->Canvas()->GetHandle(), nullptr);
  EXPECT_EQ(printer->State(), TPrinterState::HandleIC);
  EXPECT_EQ(printer->Canvas()->Font()->PixelsPerInch, 600);

  int idles = 0;
  printer->OnIdle = [&] { ++idles; };
  printer->Title = "First";
  printer->BeginDoc();
  EXPECT_TRUE(printer->Printing());
  EXPECT_EQ(printer->PageNumber(), 1);
  EXPECT_EQ(printer->State(), TPrinterState::HandleDC);
  HPRINTDC dc = printer->DC();
  EXPECT_EQ(printer->Canvas()->GetHandle(), dc);
  // Measuring while printing uses the open context.
  EXPECT_EQ(printer->PageWidth(), 4800);
  EXPECT_EQ(printer->DC(), dc);
  EXPECT_EQ(printer->State(), TPrinterState::HandleDC);
  EXPECT_EQ(PrinterError([&] { printer->BeginDoc(); }), "Printing in progress");
  EXPECT_EQ(PrinterError([&] { printer->SetPrinter("Office", "", "", nullptr); }), "Printing in progress");
  EXPECT_EQ(PrinterError([&] { printer->SetNumCopies(3); }), "Printing in progress");
  EXPECT_EQ(PrinterError([&] { printer->SetOrientation(TPrinterOrientation::Landscape); }), "Printing in progress");
  printer->EndDoc();
  EXPECT_FALSE(printer->Printing());
  EXPECT_EQ(printer->PageNumber(), 0);
  EXPECT_EQ(idles, 1) << "the spooler's abort procedure asks the idle call";

  printer->Title = "Second";
  printer->BeginDoc();
  printer->Abort();
  EXPECT_FALSE(printer->Printing());
  EXPECT_FALSE(printer->Aborted());
  EXPECT_EQ(printer->PageNumber(), 0);

  // A printer freed while printing ends its document.
  printer->Title = "Third";
  printer->BeginDoc();
  printer = nullptr;

  auto jobs = rec.Jobs();
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].Title, "First");
  EXPECT_TRUE(jobs[0].Ended);
  EXPECT_EQ(jobs[0].Pages, 1);
  EXPECT_EQ(jobs[1].Title, "Second");
  EXPECT_TRUE(jobs[1].Aborted);
  EXPECT_FALSE(jobs[1].Ended);
  EXPECT_TRUE(jobs[2].Ended);
}

TEST_F(PrinterFixture, PrintBitmapFitsAndAbortsOnBadPictures) {
  rec.Printers = {"Office"};
  std::vector<std::uint32_t> px(1000 * 500, 0x00336699);
  px[0] = 0x00FF0000;  // bottom-left in a bottom-up picture
  plat::BITMAPINFO info = PrinterDib32(1000, 500);
  printer->PrintBitmap(px.data(), info, "Slide 1");
  auto jobs = rec.Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].Title, "Slide 1");
  EXPECT_TRUE(jobs[0].Ended);
  ASSERT_EQ(jobs[0].Draws.size(), 1u);
  const pp::TRecordedDraw& d = jobs[0].Draws[0];
  EXPECT_EQ((std::array<int, 6>{d.X, d.Y, d.W, d.H, d.SrcW, d.SrcH}),
            (std::array<int, 6>{0, 2100, 4800, 2400, 1000, 500}));
  EXPECT_EQ(d.Pixels[std::size_t(499) * 1000], 0xFF0000u);
  EXPECT_EQ(printer->Title, "Slide 1");

  // Damaged or empty pictures never draw: the document is aborted.
  std::vector<plat::BITMAPINFO> bad(6, info);
  bad[0].bmiHeader.biWidth = 0;
  bad[1].bmiHeader.biHeight = 0;
  bad[2].bmiHeader.biWidth = -1000;
  bad[3].bmiHeader.biBitCount = 3;
  bad[4].bmiHeader.biHeight = INT32_MIN;
  bad[5] = PrinterDib32(1, 100000);  // thinner than a device pixel on the page
  for (const auto& b : bad) printer->PrintBitmap(px.data(), b, "bad");
  printer->PrintBitmap(nullptr, info, "no bits");
  rec.FailDraw = true;
  printer->PrintBitmap(px.data(), info, "spooler refuses");
  jobs = rec.Jobs();
  ASSERT_EQ(jobs.size(), 9u);
  for (std::size_t i = 1; i < jobs.size(); ++i) {
    EXPECT_TRUE(jobs[i].Aborted) << jobs[i].Title;
    EXPECT_FALSE(jobs[i].Ended);
  }
  EXPECT_FALSE(printer->Printing());

  // Bits the spooler refuses come from the picture's memory DC instead; a DC
  // smaller than the picture cannot stand in.
  rec.FailDraw = false;
  plat::BITMAPINFO small = PrinterDib32(4, -2);
  void* dibBits = nullptr;
  plat::HBITMAP dib = plat::CreateDIBSection(nullptr, &small, plat::DIB_RGB_COLORS, &dibBits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  static_cast<std::uint32_t*>(dibBits)[3] = 0x00ABCDEF;
  plat::HDC mem = plat::CreateCompatibleDC(nullptr);
  plat::HGDIOBJ old = plat::SelectObject(mem, reinterpret_cast<plat::HGDIOBJ>(dib));
  plat::BITMAPINFO palette8 = PrinterDib32(4, -2);
  palette8.bmiHeader.biBitCount = 8;
  palette8.bmiHeader.biClrUsed = 1000;  // more colours than 8 bits hold: refused
  printer->PrintBitmap(nullptr, small, "from the DC", mem);
  printer->PrintBitmap(px.data(), palette8, "damaged header", mem);
  printer->PrintBitmap(nullptr, PrinterDib32(5, 2), "DC too small", mem);
  plat::SelectObject(mem, old);
  plat::DeleteDC(mem);
  plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(dib));
  jobs = rec.Jobs();
  ASSERT_EQ(jobs.size(), 12u);
  EXPECT_TRUE(jobs[9].Ended);
  ASSERT_EQ(jobs[9].Draws.size(), 1u);
  EXPECT_EQ(jobs[9].Draws[0].Pixels[3], 0xABCDEFu);
  EXPECT_EQ((std::array<int, 4>{jobs[9].Draws[0].X, jobs[9].Draws[0].Y, jobs[9].Draws[0].W, jobs[9].Draws[0].H}),
            (std::array<int, 4>{0, 2100, 4800, 2400}));
  EXPECT_TRUE(jobs[10].Ended) << "a damaged header is drawn from the DC";
  EXPECT_TRUE(jobs[11].Aborted);

  // A spooler that refuses the document: nothing to end, nothing left open.
  rec.FailBeginJob = true;
  printer->PrintBitmap(px.data(), info, "spooler down");
  EXPECT_FALSE(printer->Printing());
  EXPECT_EQ(rec.Jobs().size(), 12u);
  rec.FailBeginJob = false;

  // A document that cannot start: the error of BeginDoc passes, nothing is open.
  auto none = MakeRef<TPrinter>();
  rec.Printers.clear();
  EXPECT_EQ(PrinterError([&] { none->PrintBitmap(px.data(), info, "x"); }),
            "There is no default printer currently selected");
  EXPECT_FALSE(none->Printing());
}

}  // namespace zm
