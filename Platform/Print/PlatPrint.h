#pragma once
// The printing stand-in (print spooler and printer DCs): a printer list with
// a default, per-printer settings, printer device and information contexts
// with the page size in device pixels, and a document of pages that bitmaps
// are stretched onto. Names, argument meanings and failure results follow the
// Win32 calls the printing code relies on. Printer names, drivers, ports and
// titles are UTF-8 strings (the "ANSI" text of the Windows calls).
//
// The work is done by an IPrintBackend: the CUPS one lists the destinations
// and submits each document as a PDF written with cairo, followed by a
// "PDF file" printer that writes the PDF to a file (PlatPrintPdfFile.h); tests
// install a recording backend through SetPrintBackend. Standard types only.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"

namespace plat::print {

// ---- Device settings (DEVMODE) ------------------------------------------------

constexpr std::uint32_t DM_ORIENTATION = 0x00000001;
constexpr std::uint32_t DM_COPIES = 0x00000100;
constexpr std::uint32_t DM_COLLATE = 0x00008000;
constexpr std::int16_t DMORIENT_PORTRAIT = 1;
constexpr std::int16_t DMORIENT_LANDSCAPE = 2;

// The fields of a printer's device mode that the player reads and writes.
struct TDevMode {
  std::uint32_t dmFields = DM_ORIENTATION | DM_COPIES;
  std::int16_t dmOrientation = DMORIENT_PORTRAIT;
  std::int16_t dmCopies = 1;
  std::int16_t dmCollate = 0;
};

// The printable area of a page: the sheet in points (1/72 inch), the
// printable rectangle's top-left corner in points, and its size in device
// pixels at Dpi.
struct TPageGeometry {
  double WidthPt = 0, HeightPt = 0;
  double LeftPt = 0, TopPt = 0;
  std::int32_t WidthPx = 0, HeightPx = 0;
  std::int32_t Dpi = 0;
};

// A geometry from a media size and margins in 1/100 mm (the CUPS units);
// landscape swaps the sheet. Sizes below 1 mm, margins that leave no
// printable area, or dpi below 1 give a zero geometry (WidthPx 0).
TPageGeometry GeometryFromMedia(std::int32_t width, std::int32_t length, std::int32_t left, std::int32_t bottom,
                                std::int32_t right, std::int32_t top, std::int32_t dpi, bool landscape);
constexpr std::int32_t kNominalDpi = 300;
// A4 with 5 mm margins: the page when a printer tells none.
TPageGeometry DefaultGeometry(bool landscape);

// ---- Backends ------------------------------------------------------------------

// One document being spooled. Pixels come as top-down rows of B, G, R, X.
class IPrintJob {
public:
  virtual ~IPrintJob() = default;
  virtual bool StartPage() = 0;
  // Stretches a bw x bh picture onto (x, y, w, h) device pixels of the page.
  virtual bool DrawBitmap(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, const std::uint8_t* bgrx,
                          std::int32_t bw, std::int32_t bh, std::int32_t stride) = 0;
  virtual bool EndPage() = 0;
  virtual bool End() = 0;    // submits the document
  virtual void Abort() = 0;  // drops it
};

class IPrintBackend {
public:
  virtual ~IPrintBackend() = default;
  virtual std::vector<std::string> Destinations() = 0;
  // The default printer's name, "" when none is set.
  virtual std::string DefaultName() = 0;
  // The user's configured printer ("windows", "device" profile entry): the
  // whole entry, which may hold commas.
  virtual std::string ProfileDevice() = 0;
  virtual bool OpenPrinter(const std::string& name) = 0;
  // The printer's default settings; false for an unknown printer.
  virtual bool DocumentProperties(const std::string& name, TDevMode& mode) = 0;
  // The page under the given settings (mode may be null); false for an
  // unknown printer.
  virtual bool PageGeometry(const std::string& name, const TDevMode* mode, TPageGeometry& page) = 0;
  // Null when the document cannot be started.
  virtual std::unique_ptr<IPrintJob> BeginJob(const std::string& name, const std::string& title,
                                              const TDevMode* mode, const TPageGeometry& page) = 0;
};

// The backend in use: the CUPS printers and the "PDF file" printer
// (SystemPrintBackend) unless a test installed another.
IPrintBackend& PrintBackend();
// Installs backend (nullptr: the system one again) and gives the previous one.
// The caller keeps ownership and keeps it alive while it is installed.
IPrintBackend* SetPrintBackend(IPrintBackend* backend);
// The CUPS backend (one per process). Every server call is bounded by a
// short time-out; without a server it lists no printers at once.
IPrintBackend& CupsPrintBackend();

// ---- Printer DCs ---------------------------------------------------------------

struct TPrintDC;
using HPRINTDC = TPrintDC*;
using TAbortProc = std::function<bool(HPRINTDC dc, int code)>;

// A device context (CreateDCA: can print) or an information context
// (CreateICA: measures only) for the named printer under mode (may be null).
// Driver and port are kept but not needed. Null for an unknown printer.
HPRINTDC CreateDCA(const std::string& driver, const std::string& device, const std::string& port,
                   const TDevMode* mode);
HPRINTDC CreateICA(const std::string& driver, const std::string& device, const std::string& port,
                   const TDevMode* mode);
// Deletes a printer DC; a document still open is aborted. Null is ignored.
BOOL DeleteDC(HPRINTDC dc);
// HORZRES, VERTRES (printable area in pixels), LOGPIXELSX/Y; 0 otherwise.
int GetDeviceCaps(HPRINTDC dc, int index);

// The document calls: > 0 on success, <= 0 on failure (no DC, an
// information context, no document open, a second document).
int SetAbortProc(HPRINTDC dc, TAbortProc proc);
int StartDocA(HPRINTDC dc, const std::string& docName);
int StartPage(HPRINTDC dc);
// Asks the abort procedure; when it answers false the document is aborted.
int EndPage(HPRINTDC dc);
int EndDoc(HPRINTDC dc);
int AbortDoc(HPRINTDC dc);
// Stretches a DIB (1 to 32 bits as the header tells, top-down or bottom-up)
// or its source rectangle onto the open page. DIB_RGB_COLORS and SRCCOPY
// only; 8 bits and less take the palette after the header. The number of
// lines drawn, 0 on failure (bad header, source outside the picture, no page).
int StretchDIBits(HPRINTDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);

// Stretches (xSrc, ySrc, srcWidth, srcHeight) of a DC with pixels (a
// memory DC with a bitmap selected) onto the open page. SRCCOPY only;
// FALSE on failure.
BOOL StretchBlt(HPRINTDC dc, int xDest, int yDest, int destWidth, int destHeight, HDC src, int xSrc, int ySrc,
                int srcWidth, int srcHeight, DWORD rop);

}  // namespace plat::print
