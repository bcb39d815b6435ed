#include "ZmLib/Win32/winPrinters.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmByteString.h"

namespace zm {

namespace pp = plat::print;

// ---- Screen resolution -------------------------------------------------------------

namespace {
std::atomic<std::int32_t> gScreenPpiY{0};

std::int32_t ReadScreenPpiY() {
  std::int32_t ppi = 0;
  if (plat::HDC dc = plat::GetDC(nullptr)) {
    ppi = plat::GetDeviceCaps(dc, plat::LOGPIXELSY);
    plat::ReleaseDC(nullptr, dc);
  }
  return ppi > 0 ? ppi : 96;
}
}  // namespace

std::int32_t ScreenLogPixelsY() {
  std::int32_t v = gScreenPpiY.load(std::memory_order_acquire);
  if (v == 0) {
    v = ReadScreenPpiY();
    gScreenPpiY.store(v, std::memory_order_release);
  }
  return v;
}

// ---- Font and canvas ------------------------------------------------------------------

TFont::TFont() : PixelsPerInch(ScreenLogPixelsY()) {}

TCanvas::TCanvas() : font_(new TFont) {}

void TCanvas::Dispose() {
  FreeAndNil(font_);
  TRefObject::Dispose();
}

HPRINTDC TPrinterCanvas::GetHandle() {
  if (!handle_) {
    printer_->SetState(TPrinterState::HandleIC);
    Font()->PixelsPerInch = pp::GetDeviceCaps(printer_->DC(), plat::LOGPIXELSY);
    handle_ = printer_->DC();
  }
  return handle_;
}

// ---- Fitting ----------------------------------------------------------------------------

bool FitBitmapToPage(std::int32_t pageWidth, std::int32_t pageHeight, std::int32_t bitmapWidth,
                     std::int32_t bitmapHeight, TFitRect& rect) {
  rect = TFitRect{};
  if (pageWidth < 1 || pageHeight < 1 || bitmapWidth < 1 || bitmapHeight < 1) return false;
  std::int64_t w = MulDiv64(bitmapWidth, pageHeight, bitmapHeight);
  std::int64_t h = pageHeight;
  if (w >= pageWidth) {
    w = pageWidth;
    h = MulDiv64(bitmapHeight, pageWidth, bitmapWidth);
  }
  if (w < 1 || h < 1) return false;  // a sliver thinner than a device pixel
  rect.W = static_cast<std::int32_t>(w);
  rect.H = static_cast<std::int32_t>(h);
  rect.X = (pageWidth - rect.W) / 2;
  rect.Y = (pageHeight - rect.H) / 2;
  return true;
}

// ---- Printer ------------------------------------------------------------------------------

TPrinter::TPrinter() = default;

void TPrinter::Dispose() {
  try {
    if (printing_) EndDoc();
    SetState(TPrinterState::None);
  } catch (...) {
    ReportSwallowedException();
  }
  if (dc_) pp::DeleteDC(dc_);
  dc_ = nullptr;
  FreePrinters();
  for (TFont* f : fonts_) FreeObject(f);
  fonts_.clear();
  FreeAndNil(canvas_);
  ClosePrinter();
  devMode_.reset();
  TRefObject::Dispose();
}

void TPrinter::CheckPrinting(bool expected) {
  if (printing_ != expected) throw EPrinter(expected ? SNotPrinting : SPrinting);
}

void TPrinter::EnsurePrinters() {
  if (listMade_) return;
  listMade_ = true;
  // One entry per printer: CUPS has no ports and no driver names.
  for (std::string& name : pp::PrintBackend().Destinations()) {
    if (name.empty()) continue;
    auto* dev = new TPrinterDevice("", name, "");
    printers_.emplace_back(std::move(name), dev);
  }
}

void TPrinter::FreePrinters() {
  for (auto& e : printers_) FreeObject(e.second);
  printers_.clear();
  listMade_ = false;
}

std::int32_t TPrinter::PrinterCount() {
  EnsurePrinters();
  return static_cast<std::int32_t>(printers_.size());
}

std::string TPrinter::PrinterText(std::int32_t index) {
  EnsurePrinters();
  if (index < 0 || index >= std::int32_t(printers_.size())) return {};
  return printers_[std::size_t(index)].first;
}

TPrinterDevice* TPrinter::PrinterDevice(std::int32_t index) {
  EnsurePrinters();
  if (index < 0 || index >= std::int32_t(printers_.size())) return nullptr;
  return printers_[std::size_t(index)].second;
}

std::int32_t TPrinter::GetPrinterIndex() {
  if (printerIndex_ == -1) SetToDefaultPrinter();
  return printerIndex_;
}

void TPrinter::SetToDefaultPrinter() {
  pp::IPrintBackend& backend = pp::PrintBackend();
  std::string name = backend.DefaultName();
  if (name.empty()) {
    std::string entry = backend.ProfileDevice();
    if (entry.size() > 1023) entry.resize(1023);
    std::size_t start = entry.find_first_not_of(' ');
    if (start == std::string::npos) start = entry.size();
    name = entry.substr(start, entry.find(',', start) - start);
  }
  EnsurePrinters();
  for (auto& e : printers_) {
    TPrinterDevice* d = e.second;
    if (!name.empty() && CompareTextUTF8(d->Device, name) == 0) {
      SetPrinter(d->Device, d->Driver, d->Port, nullptr);
      return;
    }
  }
  if (printers_.empty()) throw EPrinter(SNoDefaultPrinter);
  TPrinterDevice* last = printers_.back().second;
  // Copies: SetPrinter may change the entry it was given.
  SetPrinter(std::string(last->Device), std::string(last->Driver), std::string(last->Port), nullptr);
}

void TPrinter::CapabilitiesFromMode() {
  capabilities_ = 0;
  if (!devMode_) return;
  if (devMode_->dmFields & pp::DM_COPIES) capabilities_ |= pcCopies;
  if (devMode_->dmFields & pp::DM_ORIENTATION) capabilities_ |= pcOrientation;
  if (devMode_->dmFields & pp::DM_COLLATE) capabilities_ |= pcCollation;
}

void TPrinter::ClosePrinter() { printerOpen_ = false; }

void TPrinter::SetPrinter(const std::string& device, const std::string& driver, const std::string& port,
                          TDevModeBlock mode) {
  CheckPrinting(false);
  if (mode != devMode_) devMode_ = std::move(mode);
  CapabilitiesFromMode();
  for (TFont* f : fonts_) FreeObject(f);
  fonts_.clear();
  ClosePrinter();
  SetState(TPrinterState::None);

  EnsurePrinters();
  std::int32_t index = -1;
  for (std::size_t i = 0; i < printers_.size(); ++i) {
    TPrinterDevice* d = printers_[i].second;
    if (d->Device == device && (d->Port.empty() || d->Port == port)) {
      d->Port = port;
      index = static_cast<std::int32_t>(i);
      break;
    }
  }
  if (index < 0) {
    index = static_cast<std::int32_t>(printers_.size());
    printers_.emplace_back(FormatPrintf(SDeviceOnPort, {device, port}), new TPrinterDevice(driver, device, port));
  }
  printerIndex_ = index;

  pp::IPrintBackend& backend = pp::PrintBackend();
  printerOpen_ = backend.OpenPrinter(device);
  if (printerOpen_ && !devMode_) {
    auto block = std::make_shared<TDevMode>();
    if (backend.DocumentProperties(device, *block)) devMode_ = std::move(block);
  }
  CapabilitiesFromMode();
}

void TPrinter::GetPrinter(std::string& device, std::string& driver, std::string& port, TDevModeBlock& mode) {
  std::int32_t i = GetPrinterIndex();
  TPrinterDevice* d = printers_[std::size_t(i)].second;
  device = d->Device;
  driver = d->Driver;
  port = d->Port;
  mode = devMode_;
}

void TPrinter::SetOrientation(TPrinterOrientation orientation) {
  CheckPrinting(false);
  GetPrinterIndex();
  if (!devMode_) throw EPrinter(SInvalidPrinterOp);
  SetState(TPrinterState::None);
  devMode_->dmOrientation =
      orientation == TPrinterOrientation::Landscape ? pp::DMORIENT_LANDSCAPE : pp::DMORIENT_PORTRAIT;
}

std::int16_t TPrinter::GetNumCopies() {
  GetPrinterIndex();
  if (!devMode_) throw EPrinter(SInvalidPrinterOp);
  return devMode_->dmCopies;
}

void TPrinter::SetNumCopies(std::int16_t value) {
  CheckPrinting(false);
  GetPrinterIndex();
  if (!devMode_) throw EPrinter(SInvalidPrinterOp);
  SetState(TPrinterState::None);
  devMode_->dmCopies = value;
}

std::int32_t TPrinter::PageWidth() {
  SetState(TPrinterState::HandleIC);
  return pp::GetDeviceCaps(dc_, plat::HORZRES);
}

std::int32_t TPrinter::PageHeight() {
  SetState(TPrinterState::HandleIC);
  return pp::GetDeviceCaps(dc_, plat::VERTRES);
}

void TPrinter::SetState(TPrinterState value) {
  if (value == state_) return;
  if (value == TPrinterState::None) {
    CheckPrinting(false);
    if (canvas_) canvas_->SetHandle(nullptr);
    pp::DeleteDC(dc_);
    dc_ = nullptr;
    state_ = TPrinterState::None;
    return;
  }
  if (value == TPrinterState::HandleIC && state_ == TPrinterState::HandleDC) return;
  std::string device, driver, port;
  TDevModeBlock mode;
  GetPrinter(device, driver, port, mode);
  if (canvas_) canvas_->SetHandle(nullptr);
  pp::DeleteDC(dc_);
  dc_ = nullptr;
  state_ = TPrinterState::None;
  HPRINTDC dc = value == TPrinterState::HandleIC ? pp::CreateICA(driver, device, port, mode.get())
                                                 : pp::CreateDCA(driver, device, port, mode.get());
  if (!dc) throw EPrinter(SInvalidPrinter);
  dc_ = dc;
  state_ = value;
  Canvas()->SetHandle(dc_);
}

TPrinterCanvas* TPrinter::Canvas() {
  if (!canvas_) canvas_ = new TPrinterCanvas(this);
  return canvas_;
}

void TPrinter::Idle() {
  if (OnIdle) OnIdle();
}

void TPrinter::BeginDoc() {
  CheckPrinting(false);
  SetState(TPrinterState::HandleDC);
  Canvas()->Refresh();
  Canvas()->Font()->PixelsPerInch = pp::GetDeviceCaps(dc_, plat::LOGPIXELSY);
  printing_ = true;
  aborted_ = false;
  pageNumber_ = 1;
  pp::SetAbortProc(dc_, [this](HPRINTDC, int) {
    Idle();
    return !aborted_;
  });
  pp::StartDocA(dc_, Title);
  pp::StartPage(dc_);
}

void TPrinter::EndDoc() {
  CheckPrinting(true);
  pp::EndPage(dc_);
  if (!aborted_) pp::EndDoc(dc_);
  printing_ = false;
  aborted_ = false;
  pageNumber_ = 0;
}

void TPrinter::Abort() {
  CheckPrinting(true);
  pp::AbortDoc(Canvas()->GetHandle());
  aborted_ = true;
  EndDoc();
}

bool TPrinter::DrawFitted(const void* bits, const plat::BITMAPINFO& info, plat::HDC bitmapDC) {
  const std::int32_t pw = PageWidth();
  const std::int32_t ph = PageHeight();
  const std::int32_t bw = info.bmiHeader.biWidth;
  const std::int64_t bh64 = std::llabs(std::int64_t(info.bmiHeader.biHeight));
  if (bh64 > INT32_MAX) return false;
  const std::int32_t bh = static_cast<std::int32_t>(bh64);
  TFitRect r;
  if (!FitBitmapToPage(pw, ph, bw, bh, r)) return false;
  if (pp::StretchDIBits(dc_, r.X, r.Y, r.W, r.H, 0, 0, bw, bh, bits, &info, plat::DIB_RGB_COLORS, plat::SRCCOPY) >
      0)
    return true;
  return pp::StretchBlt(dc_, r.X, r.Y, r.W, r.H, bitmapDC, 0, 0, bw, bh, plat::SRCCOPY) != 0;
}

void TPrinter::PrintBitmap(const void* bits, const plat::BITMAPINFO& info, const std::string& title,
                           plat::HDC bitmapDC) {
  Title = title;
  BeginDoc();
  bool drawn = false;
  try {
    drawn = DrawFitted(bits, info, bitmapDC);
  } catch (...) {
    drawn = false;
  }
  if (drawn)
    EndDoc();
  else
    Abort();
}

// ---- The process's printer ------------------------------------------------------------------

namespace {
std::mutex gPrintersLock;
TPrinter* gPrinters = nullptr;
}  // namespace

TPrinter* Printers() {
  std::lock_guard g(gPrintersLock);
  if (!gPrinters) gPrinters = new TPrinter;
  return gPrinters;
}

// The screen is asked on first use: the display may come up after the core.
void InitWinPrinters() { gScreenPpiY.store(0, std::memory_order_release); }

void FiniWinPrinters() {
  TPrinter* p;
  {
    std::lock_guard g(gPrintersLock);
    p = gPrinters;
    gPrinters = nullptr;
  }
  FreeObject(p);
}

}  // namespace zm
