#include "Platform/Print/PlatPrint.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/Print/PlatPdf.h"
#include "Platform/Print/PlatPrintPdfFile.h"
#include "Platform/Print/PlatPrintRecorder.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

// Inside the namespace, so that unity batches see no using-directives.
namespace plat::print {
namespace {

int CountOf(const std::string& s, const std::string& what) {
  int n = 0;
  for (std::size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

// Every deflated stream of a PDF, inflated.
std::vector<std::string> PdfInflatedStreams(const std::string& pdf) {
  std::vector<std::string> out;
  for (std::size_t p = pdf.find("stream\n"); p != std::string::npos; p = pdf.find("stream\n", p + 1)) {
    if (p >= 3 && pdf.compare(p - 3, 3, "end") == 0) continue;
    std::size_t start = p + 7;
    std::size_t end = pdf.find("endstream", start);
    if (end == std::string::npos) break;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) continue;
    std::string data(64 << 20, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(pdf.data() + start));
    z.avail_in = static_cast<uInt>(end - start);
    z.next_out = reinterpret_cast<Bytef*>(data.data());
    z.avail_out = static_cast<uInt>(data.size());
    int rc = inflate(&z, Z_FINISH);
    if (rc == Z_STREAM_END || rc == Z_BUF_ERROR) out.push_back(data.substr(0, z.total_out));
    inflateEnd(&z);
  }
  return out;
}

// The four numbers of the first /MediaBox.
std::vector<double> PdfMediaBox(const std::string& pdf) {
  std::vector<double> v;
  std::size_t p = pdf.find("/MediaBox [");
  if (p == std::string::npos) return v;
  const char* c = pdf.c_str() + p + 11;
  for (int i = 0; i < 4; ++i) {
    char* end = nullptr;
    double d = std::strtod(c, &end);
    if (end == c) break;
    v.push_back(d);
    c = end;
  }
  return v;
}

// A dictionary entry "/Key value" ending where the value ends.
bool PdfHasEntry(const std::string& pdf, const std::string& entry) {
  for (std::size_t p = pdf.find(entry); p != std::string::npos; p = pdf.find(entry, p + 1)) {
    char next = p + entry.size() < pdf.size() ? pdf[p + entry.size()] : ' ';
    if (next == ' ' || next == '\n' || next == '\r' || next == '/' || next == '>') return true;
  }
  return false;
}

BITMAPINFO PrintDib32(int w, int h) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  return bi;
}

}  // namespace

TEST(PrintGeometry, MediaMarginsOrientationAndNonsense) {
  // A4 with 5 mm margins at 300 dpi: 200 x 287 mm printable.
  TPageGeometry a4 = DefaultGeometry(false);
  EXPECT_NEAR(a4.WidthPt, 595.28, 0.01);
  EXPECT_NEAR(a4.HeightPt, 841.89, 0.01);
  EXPECT_EQ(a4.WidthPx, 2362);
  EXPECT_EQ(a4.HeightPx, 3389);
  EXPECT_EQ(a4.Dpi, 300);
  TPageGeometry land = DefaultGeometry(true);
  EXPECT_EQ(land.WidthPx, a4.HeightPx);
  EXPECT_EQ(land.HeightPx, a4.WidthPx);
  EXPECT_NEAR(land.WidthPt, a4.HeightPt, 1e-9);
  // Uneven margins turn with the sheet: the left margin becomes the top one.
  TPageGeometry t = GeometryFromMedia(21000, 29700, 1000, 0, 0, 0, 300, true);
  EXPECT_NEAR(t.TopPt, 1000 * 72.0 / 2540, 1e-9);
  EXPECT_NEAR(t.LeftPt, 0, 1e-9);

  for (TPageGeometry g : {GeometryFromMedia(0, 29700, 0, 0, 0, 0, 300, false),
                          GeometryFromMedia(21000, -5, 0, 0, 0, 0, 300, false),
                          GeometryFromMedia(21000, 29700, 11000, 0, 10000, 0, 300, false),
                          GeometryFromMedia(21000, 29700, -1, 0, 0, 0, 300, false),
                          GeometryFromMedia(21000, 29700, 0, 0, 0, 0, 0, false),
                          GeometryFromMedia(INT32_MAX, INT32_MAX, 0, 0, 0, 0, 4800, false)})
    EXPECT_EQ(g.WidthPx, 0);
}

TEST(PdfWriter, OnePageOfTheSheetSizeWithTheBitmapsPixels) {
  TPageGeometry page = DefaultGeometry(false);
  TPdfWriter pdf(page);
  ASSERT_TRUE(pdf.Ok());
  // 4 x 2 pixels, each a different colour, rows B, G, R, X.
  std::vector<std::uint8_t> px(4 * 2 * 4);
  for (int i = 0; i < 8; ++i) {
    px[i * 4 + 0] = std::uint8_t(0x10 + i);  // blue
    px[i * 4 + 1] = std::uint8_t(0x80 + i);  // green
    px[i * 4 + 2] = std::uint8_t(0xF0 - i);  // red
    px[i * 4 + 3] = 0xAB;                    // ignored
  }
  ASSERT_TRUE(pdf.DrawBitmap(0, 0, 2362, 1181, px.data(), 4, 2, 16));
  ASSERT_TRUE(pdf.EndPage());
  std::string bytes = pdf.Finish();
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.rfind("%PDF-", 0), 0u);
  EXPECT_NE(bytes.find("%%EOF"), std::string::npos);
  EXPECT_EQ(CountOf(bytes, "/Type /Page\n") + CountOf(bytes, "/Type /Page "), 1) << "one page";
  std::vector<double> box = PdfMediaBox(bytes);
  ASSERT_EQ(box.size(), 4u);
  EXPECT_EQ(box[0], 0);
  EXPECT_EQ(box[1], 0);
  EXPECT_NEAR(box[2], 595.28, 0.01);
  EXPECT_NEAR(box[3], 841.89, 0.01);
  EXPECT_TRUE(PdfHasEntry(bytes, "/Width 4"));
  EXPECT_TRUE(PdfHasEntry(bytes, "/Height 2"));
  // The picture goes in as 8-bit R, G, B samples in row order.
  std::string rgb;
  for (int i = 0; i < 8; ++i) rgb += {char(0xF0 - i), char(0x80 + i), char(0x10 + i)};
  bool found = false;
  for (const std::string& s : PdfInflatedStreams(bytes)) found = found || s == rgb;
  EXPECT_TRUE(found) << "the samples of the bitmap are embedded unchanged";
  EXPECT_EQ(pdf.Finish(), bytes) << "finishing twice gives the same document";
}

TEST(PdfWriter, BadInputFailsCleanly) {
  TPdfWriter none(TPageGeometry{});
  EXPECT_FALSE(none.Ok());
  std::uint8_t px[4] = {};
  EXPECT_FALSE(none.DrawBitmap(0, 0, 1, 1, px, 1, 1, 4));
  EXPECT_EQ(none.Finish(), "");

  TPdfWriter pdf(DefaultGeometry(true));
  EXPECT_FALSE(pdf.DrawBitmap(0, 0, 10, 10, nullptr, 1, 1, 4));
  EXPECT_FALSE(pdf.DrawBitmap(0, 0, 10, 10, px, 0, 1, 4));
  EXPECT_FALSE(pdf.DrawBitmap(0, 0, 0, 10, px, 1, 1, 4));
  EXPECT_FALSE(pdf.DrawBitmap(0, 0, 10, -3, px, 1, 1, 4));
  EXPECT_FALSE(pdf.DrawBitmap(0, 0, 10, 10, px, 2, 1, 4)) << "stride shorter than a row";
  // Far off the sheet is clipped, not an error.
  EXPECT_TRUE(pdf.DrawBitmap(-1000000, 2000000, 10, 10, px, 1, 1, 4));
  std::string bytes = pdf.Finish();
  EXPECT_EQ(bytes.rfind("%PDF-", 0), 0u);
  std::vector<double> box = PdfMediaBox(bytes);
  ASSERT_EQ(box.size(), 4u);
  EXPECT_NEAR(box[2], 841.89, 0.01) << "landscape";
  EXPECT_NEAR(box[3], 595.28, 0.01);
  EXPECT_FALSE(pdf.DrawBitmap(0, 0, 1, 1, px, 1, 1, 4)) << "after Finish";
}

TEST(PrinterDC, DocumentCallsInOrderAndOutOfOrder) {
  TRecordingPrintBackend rec;
  rec.Printers = {"Office"};
  TScopedPrintBackend use(rec);

  EXPECT_EQ(CreateDCA("", "Nowhere", "", nullptr), nullptr);
  EXPECT_EQ(CreateICA("", "", "", nullptr), nullptr);
  EXPECT_EQ(GetDeviceCaps(HPRINTDC{}, HORZRES), 0);
  EXPECT_LE(StartDocA(nullptr, "x"), 0);
  EXPECT_LE(EndPage(nullptr), 0);
  EXPECT_EQ(DeleteDC(HPRINTDC{}), 0);

  HPRINTDC ic = CreateICA("", "Office", "", nullptr);
  ASSERT_NE(ic, nullptr);
  EXPECT_EQ(GetDeviceCaps(ic, HORZRES), rec.Page.WidthPx);
  EXPECT_EQ(GetDeviceCaps(ic, LOGPIXELSY), 300);
  EXPECT_EQ(GetDeviceCaps(ic, 12345), 0);
  EXPECT_LE(StartDocA(ic, "x"), 0) << "an information context cannot print";
  DeleteDC(ic);

  TDevMode land;
  land.dmOrientation = DMORIENT_LANDSCAPE;
  HPRINTDC dc = CreateDCA("", "Office", "", &land);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), rec.Page.HeightPx);
  EXPECT_LE(StartPage(dc), 0) << "no document yet";
  EXPECT_GT(StartDocA(dc, "Doc"), 0);
  EXPECT_LE(StartDocA(dc, "Again"), 0);
  std::uint32_t px[2] = {0x00112233, 0x00445566};
  BITMAPINFO bi = PrintDib32(2, -1);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 20, 10, 0, 0, 2, 1, px, &bi, DIB_RGB_COLORS, SRCCOPY), 0) << "no page";
  EXPECT_GT(StartPage(dc), 0);
  EXPECT_EQ(StretchDIBits(dc, 5, 6, 20, 10, 0, 0, 2, 1, px, &bi, DIB_RGB_COLORS, SRCCOPY), 1);
  EXPECT_GT(EndPage(dc), 0);
  EXPECT_GT(EndDoc(dc), 0);
  EXPECT_LE(EndDoc(dc), 0);
  EXPECT_LE(AbortDoc(dc), 0);
  // A document left open is dropped with its DC.
  EXPECT_GT(StartDocA(dc, "Left open"), 0);
  DeleteDC(dc);

  auto jobs = rec.Jobs();
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].Title, "Doc");
  EXPECT_TRUE(jobs[0].Ended);
  EXPECT_EQ(jobs[0].Pages, 1);
  ASSERT_EQ(jobs[0].Draws.size(), 1u);
  const TRecordedDraw& d = jobs[0].Draws[0];
  EXPECT_EQ((std::vector<int>{d.X, d.Y, d.W, d.H, d.SrcW, d.SrcH}), (std::vector<int>{5, 6, 20, 10, 2, 1}));
  EXPECT_EQ(d.Pixels, (std::vector<std::uint32_t>{0x112233, 0x445566}));
  EXPECT_TRUE(jobs[0].HasMode);
  EXPECT_EQ(jobs[0].Mode.dmOrientation, DMORIENT_LANDSCAPE);
  EXPECT_TRUE(jobs[1].Aborted);
  EXPECT_FALSE(jobs[1].Ended);
}

TEST(PrinterDC, StretchDIBitsRefusesDamagedHeadersAndTurnsBottomUpRows) {
  TRecordingPrintBackend rec;
  rec.Printers = {"P"};
  TScopedPrintBackend use(rec);
  HPRINTDC dc = CreateDCA("", "P", "", nullptr);
  ASSERT_NE(dc, nullptr);
  ASSERT_GT(StartDocA(dc, "t"), 0);
  ASSERT_GT(StartPage(dc), 0);
  std::uint32_t px[4] = {1, 2, 3, 4};  // bottom-up 2 x 2: first row in memory is the bottom line
  BITMAPINFO ok = PrintDib32(2, 2);
  auto stretch = [&](const BITMAPINFO* bi, int sx, int sy, int sw, int sh, const void* bits = nullptr,
                     UINT usage = DIB_RGB_COLORS) {
    return StretchDIBits(dc, 0, 0, 10, 10, sx, sy, sw, sh, bits ? bits : px, bi, usage, SRCCOPY);
  };
  EXPECT_EQ(stretch(nullptr, 0, 0, 2, 2), 0);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 10, 10, 0, 0, 2, 2, nullptr, &ok, DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(stretch(&ok, 0, 0, 3, 2), 0) << "source wider than the picture";
  EXPECT_EQ(stretch(&ok, -1, 0, 2, 2), 0);
  EXPECT_EQ(stretch(&ok, 0, 1, 2, 2), 0);
  EXPECT_EQ(stretch(&ok, 0, 0, 0, 2), 0);
  EXPECT_EQ(stretch(&ok, 0, 0, 2, 2, nullptr, DIB_PAL_COLORS), 0);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, -10, 10, 0, 0, 2, 2, px, &ok, DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 10, 10, 0, 0, 2, 2, px, &ok, DIB_RGB_COLORS, 0x00EE0086), 0);
  for (auto damage : {+[](BITMAPINFO& b) { b.bmiHeader.biWidth = 0; },
                      +[](BITMAPINFO& b) { b.bmiHeader.biWidth = -2; },
                      +[](BITMAPINFO& b) { b.bmiHeader.biHeight = 0; },
                      +[](BITMAPINFO& b) { b.bmiHeader.biBitCount = 7; },
                      +[](BITMAPINFO& b) { b.bmiHeader.biCompression = 99; },
                      +[](BITMAPINFO& b) { b.bmiHeader.biHeight = INT32_MIN; }}) {
    BITMAPINFO bad = ok;
    damage(bad);
    EXPECT_EQ(stretch(&bad, 0, 0, 2, 2), 0);
  }
  EXPECT_EQ(stretch(&ok, 0, 0, 2, 2), 2);
  // 24-bit rows are padded to four bytes.
  BITMAPINFO b24 = PrintDib32(1, -2);
  b24.bmiHeader.biBitCount = 24;
  const std::uint8_t rows24[8] = {0x01, 0x02, 0x03, 0, 0x04, 0x05, 0x06, 0};
  EXPECT_EQ(stretch(&b24, 0, 0, 1, 2, rows24), 2);
  EndDoc(dc);
  DeleteDC(dc);
  auto jobs = rec.Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  ASSERT_EQ(jobs[0].Draws.size(), 2u);
  EXPECT_EQ(jobs[0].Draws[0].Pixels, (std::vector<std::uint32_t>{3, 4, 1, 2}));
  EXPECT_EQ(jobs[0].Draws[1].Pixels, (std::vector<std::uint32_t>{0x030201, 0x060504}));
}

TEST(PrinterDC, AbortProcAnsweringFalseDropsTheDocument) {
  TRecordingPrintBackend rec;
  rec.Printers = {"P"};
  TScopedPrintBackend use(rec);
  HPRINTDC dc = CreateDCA("", "P", "", nullptr);
  ASSERT_NE(dc, nullptr);
  int asked = 0;
  SetAbortProc(dc, [&](HPRINTDC, int) { return ++asked < 2; });
  StartDocA(dc, "t");
  StartPage(dc);
  EXPECT_GT(EndPage(dc), 0);
  StartPage(dc);
  EXPECT_LT(EndPage(dc), 0);
  EXPECT_LE(EndDoc(dc), 0) << "already dropped";
  DeleteDC(dc);
  ASSERT_EQ(rec.Jobs().size(), 1u);
  EXPECT_TRUE(rec.Jobs()[0].Aborted);
  EXPECT_EQ(asked, 2);
}

TEST(CupsBackend, WithoutAServerThereIsNoPrinterAndNoWait) {
  // This machine runs no CUPS server; every answer must be "none", at once.
  auto t0 = std::chrono::steady_clock::now();
  IPrintBackend& cups = CupsPrintBackend();
  if (!cups.Destinations().empty()) GTEST_SKIP() << "a CUPS server with printers answers here";
  EXPECT_EQ(cups.DefaultName(), "");
  EXPECT_FALSE(cups.OpenPrinter("Nonexistent"));
  TDevMode m;
  EXPECT_FALSE(cups.DocumentProperties("Nonexistent", m));
  TPageGeometry g;
  EXPECT_FALSE(cups.PageGeometry("Nonexistent", nullptr, g));
  EXPECT_EQ(CreateDCA("", "Nonexistent", "", nullptr), nullptr);
  // A job is written but cannot be submitted anywhere.
  auto job = cups.BeginJob("Nonexistent", "t", nullptr, DefaultGeometry(false));
  ASSERT_NE(job, nullptr);
  EXPECT_FALSE(job->End());
  // Bounded by the connection time-outs, not by the machine's speed.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
  EXPECT_EQ(&PrintBackend(), static_cast<IPrintBackend*>(&SystemPrintBackend())) << "the default backend";
}

namespace {

// The entries of a folder: a temporary file left by a job shows here.
int PdfFolderEntries(const std::filesystem::path& dir) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

}  // namespace

TEST(PdfFilePrinter, ListedLastHidableAndOnlyItsOwnName) {
  TRecordingPrintBackend rec;
  TPdfFilePrintBackend pdf(rec);
  EXPECT_EQ(pdf.Destinations(), std::vector<std::string>{kPdfFilePrinter}) << "also without any printer";
  rec.Printers = {"Office", kPdfFilePrinter, "Lab"};
  EXPECT_EQ(pdf.Destinations(), (std::vector<std::string>{"Office", "Lab", kPdfFilePrinter}))
      << "after the others, once";
  EXPECT_TRUE(pdf.OpenPrinter("Office"));
  EXPECT_FALSE(pdf.OpenPrinter("pdf file")) << "the name is exact";
  TPageGeometry g;
  ASSERT_TRUE(pdf.PageGeometry(kPdfFilePrinter, nullptr, g));
  EXPECT_NEAR(g.WidthPt, 595.28, 0.01);
  EXPECT_EQ(g.LeftPt, 0);
  TDevMode land;
  land.dmOrientation = DMORIENT_LANDSCAPE;
  ASSERT_TRUE(pdf.PageGeometry(kPdfFilePrinter, &land, g));
  EXPECT_NEAR(g.WidthPt, 841.89, 0.01);

  pdf.Shown = false;
  rec.Printers = {};
  EXPECT_TRUE(pdf.Destinations().empty());
  EXPECT_FALSE(pdf.OpenPrinter(kPdfFilePrinter));
  EXPECT_FALSE(pdf.PageGeometry(kPdfFilePrinter, nullptr, g));
  EXPECT_EQ(pdf.BeginJob(kPdfFilePrinter, "t", nullptr, DefaultGeometry(false)), nullptr);

  std::vector<std::string> system = SystemPrintBackend().Destinations();
  ASSERT_FALSE(system.empty());
  EXPECT_EQ(system.back(), kPdfFilePrinter);
}

TEST(PdfFilePrinter, FileNameFromEnvironmentOrDocumentsFolder) {
  zmtest::TTempDir dir;
  const std::string docs = dir.Path().string();
  zmtest::TEnvGuard xdg("XDG_DOCUMENTS_DIR", docs.c_str());
  {
    zmtest::TEnvGuard out("ZM_PRINT_PDF", "/somewhere/out.pdf");
    EXPECT_EQ(PdfFilePath("Slideshow"), "/somewhere/out.pdf");
  }
  zmtest::TEnvGuard out("ZM_PRINT_PDF", nullptr);
  EXPECT_EQ(PdfFilePath("Slideshow"), docs + "/Slideshow.pdf");
  EXPECT_EQ(PdfFilePath("a/../b"), docs + "/a_.._b.pdf") << "a title never leaves the folder";
  EXPECT_EQ(PdfFilePath(""), docs + "/Document.pdf");
  EXPECT_EQ(PdfFilePath(".."), docs + "/Document.pdf");
  EXPECT_EQ(PdfFilePath(std::string(1000, 'x')).size(), docs.size() + 1 + 240 + 4);
  zmtest::TEnvGuard home("HOME", docs.c_str());
  zmtest::TEnvGuard none("XDG_DOCUMENTS_DIR", (docs + "/missing").c_str());
  EXPECT_EQ(PdfFilePath("t"), docs + "/t.pdf") << "the home folder without a documents folder";
}

TEST(PdfFilePrinter, FileReplacedWholeOnlyWhenTheDocumentEnds) {
  zmtest::TTempDir dir;
  const std::string target = dir.Write("out.pdf", "old");
  zmtest::TEnvGuard out("ZM_PRINT_PDF", target.c_str());
  TRecordingPrintBackend rec;
  TPdfFilePrintBackend pdf(rec);
  std::vector<std::uint8_t> px(2 * 2 * 4, 0x80);

  // An aborted or dropped document leaves the old file and no temporary one.
  for (bool abort : {true, false}) {
    auto job = pdf.BeginJob(kPdfFilePrinter, "t", nullptr, DefaultGeometry(false));
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(job->StartPage());
    ASSERT_TRUE(job->DrawBitmap(0, 0, 10, 10, px.data(), 2, 2, 8));
    EXPECT_EQ(dir.Read("out.pdf"), "old") << "nothing written before the end";
    if (abort) job->Abort();
    job.reset();
    EXPECT_EQ(dir.Read("out.pdf"), "old");
    EXPECT_EQ(PdfFolderEntries(dir.Path()), 1);
  }

  auto job = pdf.BeginJob(kPdfFilePrinter, "t", nullptr, DefaultGeometry(false));
  ASSERT_NE(job, nullptr);
  ASSERT_TRUE(job->StartPage());
  ASSERT_TRUE(job->DrawBitmap(0, 0, 10, 10, px.data(), 2, 2, 8));
  ASSERT_TRUE(job->EndPage());
  EXPECT_TRUE(job->End());
  EXPECT_FALSE(job->End()) << "a document ends once";
  const std::string bytes = dir.Read("out.pdf");
  EXPECT_EQ(bytes.rfind("%PDF-", 0), 0u);
  EXPECT_NE(bytes.find("%%EOF"), std::string::npos);
  EXPECT_EQ(PdfFolderEntries(dir.Path()), 1);
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::others_read);
}

TEST(PdfFilePrinter, UnwritablePlacesFailWithoutHarm) {
  zmtest::TTempDir dir;
  const std::string plain = dir.Write("plain.txt", "keep");
  TRecordingPrintBackend rec;
  TPdfFilePrintBackend pdf(rec);
  // A folder that is a file, a missing folder, a name that is a folder.
  for (const std::string& bad : {plain + "/out.pdf", dir.Path().string() + "/missing/out.pdf",
                                 dir.Path().string() + "/"}) {
    zmtest::TEnvGuard out("ZM_PRINT_PDF", bad.c_str());
    EXPECT_EQ(pdf.BeginJob(kPdfFilePrinter, "t", nullptr, DefaultGeometry(false)), nullptr) << bad;
  }
  // The name is taken by a folder only when the document ends: it stays one.
  std::filesystem::create_directory(dir.Path() / "taken.pdf");
  const std::string taken = (dir.Path() / "taken.pdf").string();
  dir.Write("taken.pdf/inside", "x");
  zmtest::TEnvGuard out("ZM_PRINT_PDF", taken.c_str());
  auto job = pdf.BeginJob(kPdfFilePrinter, "t", nullptr, DefaultGeometry(false));
  ASSERT_NE(job, nullptr);
  ASSERT_TRUE(job->StartPage());
  EXPECT_FALSE(job->End());
  EXPECT_TRUE(std::filesystem::is_directory(taken));
  EXPECT_EQ(dir.Read("taken.pdf/inside"), "x");
  EXPECT_EQ(dir.Read("plain.txt"), "keep");
  EXPECT_EQ(PdfFolderEntries(dir.Path()), 2) << "no temporary file left";
  // A page the writer cannot make never opens a file.
  zmtest::TEnvGuard ok("ZM_PRINT_PDF", (dir.Path() / "fine.pdf").c_str());
  EXPECT_EQ(pdf.BeginJob(kPdfFilePrinter, "t", nullptr, TPageGeometry{}), nullptr);
  EXPECT_EQ(PdfFolderEntries(dir.Path()), 2);
}

}  // namespace plat::print
