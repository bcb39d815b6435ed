// The CUPS printing backend: destinations, the default, media sizes and job
// submission. Every request goes over a connection of our own with short
// time-outs, so a missing or dead server answers "no printer" quickly
// instead of blocking the caller.
#include <cups/cups.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "Platform/Print/PlatPdf.h"
#include "Platform/Print/PlatPrint.h"

namespace plat::print {
namespace {

constexpr int kConnectMs = 1500;
constexpr double kRequestSeconds = 5.0;

int GiveUp(http_t*, void*) { return 0; }  // a request that times out is not retried

// One connection per call: the CUPS defaults are process-wide and blocking.
struct TCupsConnection {
  http_t* Http = nullptr;
  TCupsConnection() {
    const char* server = cupsServer();
    if (!server || !*server) return;
    Http = httpConnect2(server, ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, nullptr);
    if (Http) httpSetTimeout(Http, kRequestSeconds, &GiveUp, nullptr);
  }
  ~TCupsConnection() {
    if (Http) httpClose(Http);
  }
  TCupsConnection(const TCupsConnection&) = delete;
  TCupsConnection& operator=(const TCupsConnection&) = delete;
};

struct TDests {
  cups_dest_t* List = nullptr;
  int Count = 0;
  explicit TDests(http_t* http) {
    if (http) Count = cupsGetDests2(http, &List);
    if (Count < 0) Count = 0;
  }
  ~TDests() {
    if (List) cupsFreeDests(Count, List);
  }
  TDests(const TDests&) = delete;
  TDests& operator=(const TDests&) = delete;
  cups_dest_t* Find(const std::string& name) const {
    for (int i = 0; i < Count; ++i)
      if (!List[i].instance && name == List[i].name) return &List[i];
    return nullptr;
  }
};

class TCupsJob : public IPrintJob {
public:
  TCupsJob(std::string name, std::string title, const TDevMode* mode, const TPageGeometry& page)
      : name_(std::move(name)), title_(std::move(title)), pdf_(page) {
    if (mode) mode_ = *mode, hasMode_ = true;
  }
  bool StartPage() override { return pdf_.Ok(); }
  bool DrawBitmap(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, const std::uint8_t* bgrx,
                  std::int32_t bw, std::int32_t bh, std::int32_t stride) override {
    return pdf_.DrawBitmap(x, y, w, h, bgrx, bw, bh, stride);
  }
  bool EndPage() override { return pdf_.EndPage(); }
  void Abort() override { pdf_.Finish(); }
  bool End() override {
    std::string bytes = pdf_.Finish();
    if (bytes.empty()) return false;
    TCupsConnection c;
    if (!c.Http) return false;
    TDests dests(c.Http);
    cups_dest_t* dest = dests.Find(name_);
    if (!dest) return false;
    cups_dinfo_t* info = cupsCopyDestInfo(c.Http, dest);
    if (!info) return false;
    int numOptions = 0;
    cups_option_t* options = nullptr;
    if (hasMode_ && (mode_.dmFields & DM_COPIES) && mode_.dmCopies > 1)
      numOptions = cupsAddOption(CUPS_COPIES, std::to_string(mode_.dmCopies).c_str(), numOptions, &options);
    // Orientation is already in the page: a landscape page is a landscape sheet.
    int jobId = 0;
    bool ok = cupsCreateDestJob(c.Http, dest, info, &jobId, title_.c_str(), numOptions, options) == IPP_STATUS_OK &&
              jobId > 0;
    if (ok) {
      ok = cupsStartDestDocument(c.Http, dest, info, jobId, title_.c_str(), CUPS_FORMAT_PDF, 0, nullptr, 1) ==
           HTTP_STATUS_CONTINUE;
      if (ok) ok = cupsWriteRequestData(c.Http, bytes.data(), bytes.size()) == HTTP_STATUS_CONTINUE;
      ipp_status_t fin = cupsFinishDestDocument(c.Http, dest, info);
      ok = ok && fin == IPP_STATUS_OK;
      if (!ok) cupsCancelDestJob(c.Http, dest, jobId);
    }
    cupsFreeOptions(numOptions, options);
    cupsFreeDestInfo(info);
    return ok;
  }

private:
  std::string name_, title_;
  TDevMode mode_;
  bool hasMode_ = false;
  TPdfWriter pdf_;
};

class TCupsBackend : public IPrintBackend {
public:
  std::vector<std::string> Destinations() override {
    std::vector<std::string> names;
    TCupsConnection c;
    TDests dests(c.Http);
    for (int i = 0; i < dests.Count; ++i)
      if (!dests.List[i].instance && dests.List[i].name) names.emplace_back(dests.List[i].name);
    return names;
  }
  std::string DefaultName() override {
    TCupsConnection c;
    TDests dests(c.Http);
    for (int i = 0; i < dests.Count; ++i)
      if (dests.List[i].is_default && dests.List[i].name) return dests.List[i].name;
    return {};
  }
  std::string ProfileDevice() override {
    // What lp itself takes: $LPDEST, then $PRINTER.
    for (const char* var : {"LPDEST", "PRINTER"})
      if (const char* v = std::getenv(var); v && *v) return v;
    return {};
  }
  bool OpenPrinter(const std::string& name) override {
    TCupsConnection c;
    TDests dests(c.Http);
    return dests.Find(name) != nullptr;
  }
  bool DocumentProperties(const std::string& name, TDevMode& mode) override {
    if (!OpenPrinter(name)) return false;
    mode = TDevMode{};
    mode.dmFields |= DM_COLLATE;
    return true;
  }
  bool PageGeometry(const std::string& name, const TDevMode* mode, TPageGeometry& page) override {
    const bool landscape = mode && (mode->dmFields & DM_ORIENTATION) && mode->dmOrientation == DMORIENT_LANDSCAPE;
    TCupsConnection c;
    TDests dests(c.Http);
    cups_dest_t* dest = dests.Find(name);
    if (!dest) return false;
    page = DefaultGeometry(landscape);
    if (cups_dinfo_t* info = cupsCopyDestInfo(c.Http, dest)) {
      cups_size_t size{};
      if (cupsGetDestMediaDefault(c.Http, dest, info, 0, &size)) {
        TPageGeometry g = GeometryFromMedia(size.width, size.length, size.left, size.bottom, size.right, size.top,
                                            kNominalDpi, landscape);
        if (g.WidthPx > 0) page = g;
      }
      cupsFreeDestInfo(info);
    }
    return true;
  }
  std::unique_ptr<IPrintJob> BeginJob(const std::string& name, const std::string& title, const TDevMode* mode,
                                      const TPageGeometry& page) override {
    auto job = std::make_unique<TCupsJob>(name, title, mode, page);
    if (!job->StartPage()) return nullptr;
    return job;
  }
};

}  // namespace

IPrintBackend& CupsPrintBackend() {
  static TCupsBackend backend;
  return backend;
}

}  // namespace plat::print
