#pragma once
// Printers: the list of installed printers, the current printer with its
// device settings and device context, a minimal canvas over that context,
// the document calls and the fitted print of one bitmap. Printer names,
// drivers, ports and titles are ANSI (UTF-8) strings.
//
// Printers() is the process's one TPrinter; the printing dialogs choose the
// printer through SetPrinter/GetPrinter and the shows print through
// PrintBitmap. The printer is used from one thread at a time.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Print/PlatPrint.h"
#include "ZmLib/Win32/SysObj2.h"

namespace zm {

using HPRINTDC = plat::print::HPRINTDC;
using TDevMode = plat::print::TDevMode;
// A device-mode block; SetPrinter takes it over, GetPrinter shares it.
using TDevModeBlock = std::shared_ptr<TDevMode>;

class EPrinter : public Exception {
public:
  using Exception::Exception;
};

constexpr const char* SNotPrinting = "Printer is not currently printing";
constexpr const char* SPrinting = "Printing in progress";
constexpr const char* SInvalidPrinter = "Printer selected is not valid";
constexpr const char* SInvalidPrinterOp = "Operation not supported on selected printer";
constexpr const char* SNoDefaultPrinter = "There is no default printer currently selected";
constexpr const char* SDeviceOnPort = "%s on %s";

// The screen's vertical pixels per inch, read once at start-up.
std::int32_t ScreenLogPixelsY();

class TFont : public TRefObject {
public:
  TFont();
  std::int32_t PixelsPerInch;
  std::int32_t Size = 9;
};

class TCanvas : public TRefObject {
public:
  TCanvas();
  void Dispose() override;
  virtual void SetHandle(HPRINTDC handle) = 0;
  virtual HPRINTDC GetHandle() = 0;
  virtual void Refresh() = 0;
  TFont* Font() const noexcept { return font_; }

private:
  TFont* font_;
};

class TPrinter;

class TPrinterCanvas : public TCanvas {
public:
  explicit TPrinterCanvas(TPrinter* printer) : printer_(printer) {}
  void SetHandle(HPRINTDC handle) override { handle_ = handle; }
  // Makes an information context when there is none.
  HPRINTDC GetHandle() override;
  void Refresh() override {}
  bool HandleAllocated() const noexcept { return handle_ != nullptr; }

private:
  TPrinter* printer_;
  HPRINTDC handle_ = nullptr;
};

class TPrinterDevice : public TRefObject {
public:
  TPrinterDevice(std::string driver, std::string device, std::string port)
      : Driver(std::move(driver)), Device(std::move(device)), Port(std::move(port)) {}
  std::string Driver, Device, Port;
};

enum class TPrinterOrientation { Portrait, Landscape };
enum class TPrinterState { None, HandleIC, HandleDC };
enum TPrinterCapability : std::uint8_t { pcCopies = 1, pcOrientation = 2, pcCollation = 4 };

// Where a bitmap goes on the page: the picture fitted into PW x PH keeping
// its proportions and centred. False for sizes below 1.
struct TFitRect {
  std::int32_t X = 0, Y = 0, W = 0, H = 0;
  friend bool operator==(const TFitRect&, const TFitRect&) = default;
};
bool FitBitmapToPage(std::int32_t pageWidth, std::int32_t pageHeight, std::int32_t bitmapWidth,
                     std::int32_t bitmapHeight, TFitRect& rect);

class TPrinter : public TRefObject {
public:
  TPrinter();
  void Dispose() override;

  // Raises when Printing differs from expected.
  void CheckPrinting(bool expected);

  // ---- The printer list (made on first use) ----------------------------------
  std::int32_t PrinterCount();
  std::string PrinterText(std::int32_t index);         // "" out of range
  TPrinterDevice* PrinterDevice(std::int32_t index);   // nil out of range; owned by the list

  // ---- The current printer -----------------------------------------------------
  // Chooses the default printer first when none is chosen.
  std::int32_t GetPrinterIndex();
  void SetToDefaultPrinter();
  // mode (may be null) is taken over when it is not the held block.
  void SetPrinter(const std::string& device, const std::string& driver, const std::string& port,
                  TDevModeBlock mode);
  void GetPrinter(std::string& device, std::string& driver, std::string& port, TDevModeBlock& mode);
  void SetOrientation(TPrinterOrientation orientation);
  std::int16_t GetNumCopies();
  void SetNumCopies(std::int16_t value);
  std::int32_t PageWidth();
  std::int32_t PageHeight();
  std::uint8_t Capabilities() const noexcept { return capabilities_; }

  // ---- The document -----------------------------------------------------------
  void BeginDoc();
  void EndDoc();
  void Abort();
  // Prints one picture (a 1- to 32-bit DIB) fitted and centred on one page.
  // When the bits cannot be stretched, the picture is copied from bitmapDC
  // (a memory DC holding it; may be null); when neither draws, the document
  // is aborted.
  void PrintBitmap(const void* bits, const plat::BITMAPINFO& info, const std::string& title,
                   plat::HDC bitmapDC = nullptr);

  TPrinterCanvas* Canvas();
  std::string Title;
  bool Printing() const noexcept { return printing_; }
  bool Aborted() const noexcept { return aborted_; }
  std::int32_t PageNumber() const noexcept { return pageNumber_; }
  TPrinterState State() const noexcept { return state_; }
  std::function<void()> OnIdle;
  // Called while the spooler works; runs OnIdle when set.
  virtual void Idle();

  // The states of the device context; changing to the present state does
  // nothing, and an information context is served by a device context.
  void SetState(TPrinterState value);
  HPRINTDC DC() const noexcept { return dc_; }

private:
  void EnsurePrinters();
  void FreePrinters();
  void CapabilitiesFromMode();
  void ClosePrinter();
  bool DrawFitted(const void* bits, const plat::BITMAPINFO& info, plat::HDC bitmapDC);

  TPrinterCanvas* canvas_ = nullptr;
  std::vector<TFont*> fonts_;  // never filled
  std::int32_t pageNumber_ = 0;
  bool listMade_ = false;
  std::vector<std::pair<std::string, TPrinterDevice*>> printers_;
  std::int32_t printerIndex_ = -1;
  bool printing_ = false;
  bool aborted_ = false;
  std::uint8_t capabilities_ = 0;
  TPrinterState state_ = TPrinterState::None;
  HPRINTDC dc_ = nullptr;
  TDevModeBlock devMode_;
  bool printerOpen_ = false;
};

// The process's printer, made on first use (from any thread) and freed at
// finalisation.
TPrinter* Printers();

void InitWinPrinters();
void FiniWinPrinters();

}  // namespace zm
