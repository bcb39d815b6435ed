#include "Platform/Print/PlatPrint.h"

#include "Platform/Print/PlatPrintPdfFile.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace plat::print {

// ---- Geometry -------------------------------------------------------------------

namespace {
constexpr double kPtPerMm100 = 72.0 / 2540.0;

std::int32_t PxOf(double mm100, std::int32_t dpi) {
  return static_cast<std::int32_t>(std::floor(mm100 * dpi / 2540.0 + 1e-9));
}
}  // namespace

TPageGeometry GeometryFromMedia(std::int32_t width, std::int32_t length, std::int32_t left, std::int32_t bottom,
                                std::int32_t right, std::int32_t top, std::int32_t dpi, bool landscape) {
  TPageGeometry g;
  // Sheets beyond 10 m are not paper; they would only overflow the pixels.
  constexpr std::int32_t kMaxMm100 = 1000000;
  if (width < 100 || length < 100 || width > kMaxMm100 || length > kMaxMm100 || dpi < 1 || dpi > 4800) return g;
  if (left < 0 || bottom < 0 || right < 0 || top < 0) return g;
  if (landscape) {
    // Turned a quarter: the sheet's left edge becomes the top.
    std::int32_t l = bottom, t = left, r = top, b = right;
    std::swap(width, length);
    left = l, top = t, right = r, bottom = b;
  }
  std::int64_t printW = std::int64_t(width) - left - right;
  std::int64_t printH = std::int64_t(length) - top - bottom;
  if (printW < 1 || printH < 1) return g;
  g.WidthPt = width * kPtPerMm100;
  g.HeightPt = length * kPtPerMm100;
  g.LeftPt = left * kPtPerMm100;
  g.TopPt = top * kPtPerMm100;
  g.Dpi = dpi;
  g.WidthPx = PxOf(double(printW), dpi);
  g.HeightPx = PxOf(double(printH), dpi);
  if (g.WidthPx < 1 || g.HeightPx < 1) return TPageGeometry{};
  return g;
}

TPageGeometry DefaultGeometry(bool landscape) {
  return GeometryFromMedia(21000, 29700, 500, 500, 500, 500, kNominalDpi, landscape);
}

// ---- Backend seam ------------------------------------------------------------------

namespace {
std::atomic<IPrintBackend*> gBackend{nullptr};
}

IPrintBackend& PrintBackend() {
  IPrintBackend* b = gBackend.load(std::memory_order_acquire);
  return b ? *b : SystemPrintBackend();
}

IPrintBackend* SetPrintBackend(IPrintBackend* backend) {
  IPrintBackend* old = gBackend.exchange(backend, std::memory_order_acq_rel);
  return old ? old : &SystemPrintBackend();
}

// ---- Printer DCs -----------------------------------------------------------------------

struct TPrintDC {
  bool CanPrint = false;
  std::string Driver, Device, Port;
  bool HasMode = false;
  TDevMode Mode;
  TPageGeometry Page;
  TAbortProc Abort;
  std::unique_ptr<IPrintJob> Job;
  bool PageOpen = false;
};

namespace {
HPRINTDC CreateContext(bool canPrint, const std::string& driver, const std::string& device, const std::string& port,
                       const TDevMode* mode) {
  if (device.empty()) return nullptr;
  TPageGeometry page;
  if (!PrintBackend().PageGeometry(device, mode, page) || page.WidthPx < 1 || page.HeightPx < 1 || page.Dpi < 1)
    return nullptr;
  auto* dc = new TPrintDC;
  dc->CanPrint = canPrint;
  dc->Driver = driver;
  dc->Device = device;
  dc->Port = port;
  if (mode) dc->HasMode = true, dc->Mode = *mode;
  dc->Page = page;
  return dc;
}

bool DocOpen(HPRINTDC dc) { return dc && dc->Job; }

// A 32-bit top-down picture in a memory DC: any source format is converted
// into it by the drawing layer.
struct TTopDown32 {
  HDC Dc = nullptr;
  HBITMAP Bitmap = nullptr;
  HGDIOBJ Old = nullptr;
  std::uint8_t* Bits = nullptr;
  TTopDown32(int w, int h) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* px = nullptr;
    Bitmap = plat::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &px, nullptr, 0);
    if (!Bitmap || !px) return;
    Dc = plat::CreateCompatibleDC(nullptr);
    if (Dc) Old = plat::SelectObject(Dc, reinterpret_cast<HGDIOBJ>(Bitmap));
    if (Old) Bits = static_cast<std::uint8_t*>(px);
  }
  ~TTopDown32() {
    if (Old) plat::SelectObject(Dc, Old);
    if (Dc) plat::DeleteDC(Dc);
    if (Bitmap) plat::DeleteObject(reinterpret_cast<HGDIOBJ>(Bitmap));
  }
  TTopDown32(const TTopDown32&) = delete;
  TTopDown32& operator=(const TTopDown32&) = delete;
  bool Valid() const { return Bits != nullptr; }
};

void DropJob(HPRINTDC dc) {
  if (dc->Job) dc->Job->Abort();
  dc->Job.reset();
  dc->PageOpen = false;
}
}  // namespace

HPRINTDC CreateDCA(const std::string& driver, const std::string& device, const std::string& port,
                   const TDevMode* mode) {
  return CreateContext(true, driver, device, port, mode);
}

HPRINTDC CreateICA(const std::string& driver, const std::string& device, const std::string& port,
                   const TDevMode* mode) {
  return CreateContext(false, driver, device, port, mode);
}

BOOL DeleteDC(HPRINTDC dc) {
  if (!dc) return 0;
  DropJob(dc);
  delete dc;
  return 1;
}

int GetDeviceCaps(HPRINTDC dc, int index) {
  if (!dc) return 0;
  switch (index) {
    case HORZRES: return dc->Page.WidthPx;
    case VERTRES: return dc->Page.HeightPx;
    case LOGPIXELSX:
    case LOGPIXELSY: return dc->Page.Dpi;
    default: return 0;
  }
}

int SetAbortProc(HPRINTDC dc, TAbortProc proc) {
  if (!dc) return -1;
  dc->Abort = std::move(proc);
  return 1;
}

int StartDocA(HPRINTDC dc, const std::string& docName) {
  if (!dc || !dc->CanPrint || dc->Job) return -1;
  dc->Job = PrintBackend().BeginJob(dc->Device, docName, dc->HasMode ? &dc->Mode : nullptr, dc->Page);
  return dc->Job ? 1 : -1;
}

int StartPage(HPRINTDC dc) {
  if (!DocOpen(dc) || dc->PageOpen) return 0;
  if (!dc->Job->StartPage()) return 0;
  dc->PageOpen = true;
  return 1;
}

int EndPage(HPRINTDC dc) {
  if (!DocOpen(dc) || !dc->PageOpen) return 0;
  dc->PageOpen = false;
  bool ok = dc->Job->EndPage();
  if (dc->Abort && !dc->Abort(dc, 0)) {
    DropJob(dc);
    return -1;
  }
  return ok ? 1 : 0;
}

int EndDoc(HPRINTDC dc) {
  if (!DocOpen(dc)) return 0;
  if (dc->PageOpen) dc->Job->EndPage();
  bool ok = dc->Job->End();
  dc->Job.reset();
  dc->PageOpen = false;
  return ok ? 1 : 0;
}

int AbortDoc(HPRINTDC dc) {
  if (!DocOpen(dc)) return -1;
  DropJob(dc);
  return 1;
}

int StretchDIBits(HPRINTDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
  if (!DocOpen(dc) || !dc->PageOpen || !bits || !info || usage != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
  if (destWidth == 0 || destHeight == 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
  const std::int64_t absH = std::llabs(std::int64_t(info->bmiHeader.biHeight));
  const std::int64_t w = info->bmiHeader.biWidth;
  if (w < 1 || absH < 1 || xSrc < 0 || ySrc < 0 || std::int64_t(xSrc) + srcWidth > w ||
      std::int64_t(ySrc) + srcHeight > absH)
    return 0;
  // Mirroring through negative sizes is not needed by the printing code.
  if (destWidth < 0 || destHeight < 0) return 0;
  if (std::int64_t(srcWidth) * srcHeight * 4 > kMaxDibBytes) return 0;

  TTopDown32 px(srcWidth, srcHeight);
  if (!px.Valid()) return 0;
  if (plat::StretchDIBits(px.Dc, 0, 0, srcWidth, srcHeight, xSrc, ySrc, srcWidth, srcHeight, bits, info,
                          DIB_RGB_COLORS, SRCCOPY) <= 0)
    return 0;
  return dc->Job->DrawBitmap(xDest, yDest, destWidth, destHeight, px.Bits, srcWidth, srcHeight, srcWidth * 4)
             ? srcHeight
             : 0;
}

BOOL StretchBlt(HPRINTDC dc, int xDest, int yDest, int destWidth, int destHeight, HDC src, int xSrc, int ySrc,
                int srcWidth, int srcHeight, DWORD rop) {
  if (!DocOpen(dc) || !dc->PageOpen || !src || rop != SRCCOPY) return 0;
  if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0 || xSrc < 0 || ySrc < 0) return 0;
  if (std::int64_t(srcWidth) * srcHeight * 4 > kMaxDibBytes) return 0;
  TTopDown32 px(srcWidth, srcHeight);
  if (!px.Valid()) return 0;
  // A source that cannot give every pixel asked for is an error.
  if (plat::GetPixel(src, xSrc + srcWidth - 1, ySrc + srcHeight - 1) == CLR_INVALID) return 0;
  if (!plat::BitBlt(px.Dc, 0, 0, srcWidth, srcHeight, src, xSrc, ySrc, SRCCOPY)) return 0;
  return dc->Job->DrawBitmap(xDest, yDest, destWidth, destHeight, px.Bits, srcWidth, srcHeight, srcWidth * 4) ? 1
                                                                                                               : 0;
}

}  // namespace plat::print
