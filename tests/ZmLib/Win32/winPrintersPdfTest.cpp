// Printing a picture end to end onto the "PDF file" printer, and printing
// with no printer at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Platform/Print/PlatPrintPdfFile.h"
#include "Platform/Print/PlatPrintRecorder.h"
#include "ZmLib/Win32/winPrinters.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

// Inside the namespace, so that unity batches see no using-directives.
namespace zm {
namespace {
namespace pp = plat::print;

// A binary PPM (P6, 8-bit) as rows of R, G, B.
struct TPpm {
  int W = 0, H = 0;
  std::string Rgb;
  bool Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    if (!(in >> magic >> W >> H >> maxval) || magic != "P6" || maxval != 255 || W < 1 || H < 1) return false;
    in.get();
    Rgb.assign(std::size_t(W) * H * 3, '\0');
    return bool(in.read(Rgb.data(), std::streamsize(Rgb.size())));
  }
  // The bounding box of the pixels near (r, g, b): left, top, right, bottom.
  std::vector<int> Box(int r, int g, int b) const {
    std::vector<int> box{W, H, -1, -1};
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const auto* p = reinterpret_cast<const unsigned char*>(Rgb.data()) + (std::size_t(y) * W + x) * 3;
        if (std::abs(p[0] - r) < 40 && std::abs(p[1] - g) < 40 && std::abs(p[2] - b) < 40) {
          box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
          box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
        }
      }
    return box;
  }
};

// A bottom-up 32-bit picture.
plat::BITMAPINFO PdfTestDib(int w, int h) {
  plat::BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = plat::BI_RGB;
  return bi;
}

struct PdfPrinterFixture : ::testing::Test {
  pp::TRecordingPrintBackend noPrinters;  // a machine without CUPS printers
  pp::TPdfFilePrintBackend pdf{noPrinters};
  pp::TScopedPrintBackend use{pdf};
  zmtest::TTempDir dir;
  TRef<TPrinter> printer = MakeRef<TPrinter>();
};

}  // namespace

TEST_F(PdfPrinterFixture, SlidePictureLandsFittedOnTheFilesPage) {
  const std::string out = (dir.Path() / "slide.pdf").string();
  zmtest::TEnvGuard var("ZM_PRINT_PDF", out.c_str());
  ASSERT_EQ(printer->PrinterCount(), 1);
  EXPECT_EQ(printer->PrinterText(0), pp::kPdfFilePrinter);
  EXPECT_EQ(printer->GetPrinterIndex(), 0) << "the only printer is the default";

  // 400 x 200 (source pixels finer than the check's, so the smoothing of a
  // scaled picture blurs no edge): the top half red, the bottom half blue,
  // the first 40 columns green.
  std::vector<std::uint32_t> px(400 * 200);
  for (int row = 0; row < 200; ++row)  // memory row 0 is the bottom
    for (int x = 0; x < 400; ++x)
      px[std::size_t(row) * 400 + x] = x < 40 ? 0x0000FF00 : row < 100 ? 0x000000FF : 0x00FF0000;
  printer->SetOrientation(TPrinterOrientation::Landscape);
  printer->PrintBitmap(px.data(), PdfTestDib(400, 200), "Slideshow");
  EXPECT_FALSE(printer->Printing());

  std::ifstream in(out, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string bytes = ss.str();
  ASSERT_EQ(bytes.rfind("%PDF-", 0), 0u);
  // A landscape A4 sheet in points.
  const std::size_t mb = bytes.find("/MediaBox [");
  ASSERT_NE(mb, std::string::npos);
  double box[4] = {};
  std::sscanf(bytes.c_str() + mb + 11, "%lf %lf %lf %lf", &box[0], &box[1], &box[2], &box[3]);
  EXPECT_NEAR(box[2], 841.89, 0.01);
  EXPECT_NEAR(box[3], 595.28, 0.01);

  if (std::system("command -v pdftoppm >/dev/null 2>&1") != 0) GTEST_SKIP() << "pdftoppm (poppler-utils) missing";
  const std::string prefix = (dir.Path() / "page").string();
  ASSERT_EQ(std::system(("pdftoppm -r 20 -singlefile \"" + out + "\" \"" + prefix + "\"").c_str()), 0);
  TPpm page;
  ASSERT_TRUE(page.Load(prefix + ".ppm"));
  EXPECT_NEAR(page.W, 234, 1);
  EXPECT_NEAR(page.H, 165, 1);
  // The page is 3507 x 2480 dots at 300 dpi; the picture fills its width,
  // 1753 dots high from dot 363: 24.2 to 141.1 pixels at 20 dpi, the red
  // top half down to 82.6, the green band over the first 23.4 pixels.
  const std::vector<int> red = page.Box(255, 0, 0), blue = page.Box(0, 0, 255), green = page.Box(0, 255, 0);
  EXPECT_NEAR(red[1], 24, 2);
  EXPECT_NEAR(red[3], 82, 2);
  EXPECT_NEAR(blue[1], 83, 2);
  EXPECT_NEAR(blue[3], 140, 2);
  EXPECT_NEAR(green[0], 0, 1);
  EXPECT_NEAR(green[2], 23, 2);
  EXPECT_NEAR(red[2], page.W - 1, 2);
  EXPECT_NEAR(green[1], 24, 2);
  EXPECT_NEAR(green[3], 140, 2);
  // Above and below the picture the sheet stays white.
  EXPECT_EQ(page.Box(255, 255, 255)[1], 0);
}

TEST_F(PdfPrinterFixture, FailedPrintsLeaveAnEarlierFileWhole) {
  const std::string keep = dir.Write("keep.pdf", "earlier");
  std::vector<std::uint32_t> px(8 * 8, 0x00808080);
  {
    // A damaged picture aborts the document.
    zmtest::TEnvGuard var("ZM_PRINT_PDF", keep.c_str());
    plat::BITMAPINFO bad = PdfTestDib(8, 8);
    bad.bmiHeader.biBitCount = 7;
    printer->PrintBitmap(px.data(), bad, "bad");
    EXPECT_FALSE(printer->Printing());
  }
  {
    // A folder that cannot be written: the document never starts, the
    // printing layer reports nothing and is ready for the next one.
    zmtest::TEnvGuard var("ZM_PRINT_PDF", (keep + "/inside.pdf").c_str());
    printer->PrintBitmap(px.data(), PdfTestDib(8, 8), "unwritable");
    EXPECT_FALSE(printer->Printing());
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::exists(keep + "/inside.pdf", ec));
  }
  EXPECT_EQ(dir.Read("keep.pdf"), "earlier");
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 1) << "no temporary file left";
  zmtest::TEnvGuard var("ZM_PRINT_PDF", keep.c_str());
  printer->PrintBitmap(px.data(), PdfTestDib(8, 8), "good");
  EXPECT_EQ(dir.Read("keep.pdf").rfind("%PDF-", 0), 0u);
}

TEST_F(PdfPrinterFixture, NoPrinterAtAllGivesTheNoDefaultPrinterError) {
  pdf.Shown = false;
  EXPECT_EQ(printer->PrinterCount(), 0);
  std::vector<std::uint32_t> px(4, 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      printer->PrintBitmap(px.data(), PdfTestDib(2, 2), "Slideshow");
      ADD_FAILURE() << "printed without a printer";
    } catch (const EPrinter& e) {
      EXPECT_EQ(e.Message(), SNoDefaultPrinter);
    }
    EXPECT_FALSE(printer->Printing());
  }
  try {
    printer->SetOrientation(TPrinterOrientation::Portrait);
    ADD_FAILURE() << "no error";
  } catch (const EPrinter& e) {
    EXPECT_EQ(e.Message(), "There is no default printer currently selected");
  }
}

}  // namespace zm
