#include "Platform/Print/PlatPrintRecorder.h"

#include <cstring>

namespace plat::print {

class TRecordingJob : public IPrintJob {
public:
  TRecordingJob(TRecordingPrintBackend& owner, std::size_t index) : owner_(owner), index_(index) {}
  ~TRecordingJob() override {
    std::lock_guard g(owner_.lock_);
    TRecordedJob& j = owner_.jobs_[index_];
    if (!j.Ended) j.Aborted = true;  // dropped without End
  }
  bool StartPage() override { return true; }
  bool DrawBitmap(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, const std::uint8_t* bgrx,
                  std::int32_t bw, std::int32_t bh, std::int32_t stride) override {
    std::lock_guard g(owner_.lock_);
    if (owner_.FailDraw || !bgrx || bw < 1 || bh < 1 || stride < bw * 4) return false;
    TRecordedDraw d{x, y, w, h, bw, bh, {}};
    d.Pixels.resize(std::size_t(bw) * bh);
    for (std::int32_t r = 0; r < bh; ++r)
      for (std::int32_t c = 0; c < bw; ++c) {
        std::uint32_t v;
        std::memcpy(&v, bgrx + std::ptrdiff_t(r) * stride + std::ptrdiff_t(c) * 4, 4);
        d.Pixels[std::size_t(r) * bw + c] = v & 0x00FFFFFFu;
      }
    owner_.jobs_[index_].Draws.push_back(std::move(d));
    return true;
  }
  bool EndPage() override {
    std::lock_guard g(owner_.lock_);
    ++owner_.jobs_[index_].Pages;
    return true;
  }
  bool End() override {
    std::lock_guard g(owner_.lock_);
    TRecordedJob& j = owner_.jobs_[index_];
    if (j.Aborted) return false;
    j.Ended = true;
    return true;
  }
  void Abort() override {
    std::lock_guard g(owner_.lock_);
    TRecordedJob& j = owner_.jobs_[index_];
    if (!j.Ended) j.Aborted = true;
  }

private:
  TRecordingPrintBackend& owner_;
  std::size_t index_;
};

std::vector<TRecordedJob> TRecordingPrintBackend::Jobs() const {
  std::lock_guard g(lock_);
  return jobs_;
}

std::int32_t TRecordingPrintBackend::OpenCount() const {
  std::lock_guard g(lock_);
  return opens_;
}

bool TRecordingPrintBackend::Known(const std::string& name) const {
  for (const auto& p : Printers)
    if (p == name) return true;
  return false;
}

std::vector<std::string> TRecordingPrintBackend::Destinations() { return Printers; }
std::string TRecordingPrintBackend::DefaultName() { return Default; }
std::string TRecordingPrintBackend::ProfileDevice() { return Profile; }

bool TRecordingPrintBackend::OpenPrinter(const std::string& name) {
  if (!Known(name)) return false;
  std::lock_guard g(lock_);
  ++opens_;
  return true;
}

bool TRecordingPrintBackend::DocumentProperties(const std::string& name, TDevMode& mode) {
  if (FailDocumentProperties || !Known(name)) return false;
  mode = Defaults;
  return true;
}

bool TRecordingPrintBackend::PageGeometry(const std::string& name, const TDevMode* mode, TPageGeometry& page) {
  if (!Known(name)) return false;
  page = Page;
  if (mode && (mode->dmFields & DM_ORIENTATION) && mode->dmOrientation == DMORIENT_LANDSCAPE) {
    std::swap(page.WidthPt, page.HeightPt);
    std::swap(page.LeftPt, page.TopPt);
    std::swap(page.WidthPx, page.HeightPx);
  }
  return true;
}

std::unique_ptr<IPrintJob> TRecordingPrintBackend::BeginJob(const std::string& name, const std::string& title,
                                                            const TDevMode* mode, const TPageGeometry& page) {
  if (FailBeginJob || !Known(name)) return nullptr;
  std::lock_guard g(lock_);
  TRecordedJob j;
  j.Printer = name;
  j.Title = title;
  j.HasMode = mode != nullptr;
  if (mode) j.Mode = *mode;
  j.Page = page;
  jobs_.push_back(std::move(j));
  return std::make_unique<TRecordingJob>(*this, jobs_.size() - 1);
}

}  // namespace plat::print
