#pragma once
// A printing backend that prints nowhere: it serves a configured list of
// printers and records every document, for tests and headless runs.
// Install it with TScopedPrintBackend. Standard types only.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/Print/PlatPrint.h"

namespace plat::print {

struct TRecordedDraw {
  std::int32_t X = 0, Y = 0, W = 0, H = 0;  // device pixels of the printable area
  std::int32_t SrcW = 0, SrcH = 0;
  std::vector<std::uint32_t> Pixels;  // the source, top-down, 0x00RRGGBB
};

struct TRecordedJob {
  std::string Printer, Title;
  bool HasMode = false;
  TDevMode Mode;
  TPageGeometry Page;
  std::int32_t Pages = 0;  // pages ended
  std::vector<TRecordedDraw> Draws;
  bool Ended = false;
  bool Aborted = false;
};

class TRecordingPrintBackend : public IPrintBackend {
public:
  // The set-up; change it before the printing code asks.
  std::vector<std::string> Printers;
  std::string Default;
  std::string Profile;
  TPageGeometry Page = DefaultGeometry(false);
  TDevMode Defaults;
  bool FailDocumentProperties = false;
  bool FailBeginJob = false;
  bool FailDraw = false;

  std::vector<TRecordedJob> Jobs() const;
  std::int32_t OpenCount() const;

  std::vector<std::string> Destinations() override;
  std::string DefaultName() override;
  std::string ProfileDevice() override;
  bool OpenPrinter(const std::string& name) override;
  bool DocumentProperties(const std::string& name, TDevMode& mode) override;
  bool PageGeometry(const std::string& name, const TDevMode* mode, TPageGeometry& page) override;
  std::unique_ptr<IPrintJob> BeginJob(const std::string& name, const std::string& title, const TDevMode* mode,
                                      const TPageGeometry& page) override;

private:
  friend class TRecordingJob;
  bool Known(const std::string& name) const;
  mutable std::mutex lock_;
  std::vector<TRecordedJob> jobs_;
  std::int32_t opens_ = 0;
};

// Installs a backend for its lifetime and puts the previous one back.
class TScopedPrintBackend {
public:
  explicit TScopedPrintBackend(IPrintBackend& backend) : previous_(SetPrintBackend(&backend)) {}
  ~TScopedPrintBackend() { SetPrintBackend(previous_); }
  TScopedPrintBackend(const TScopedPrintBackend&) = delete;
  TScopedPrintBackend& operator=(const TScopedPrintBackend&) = delete;

private:
  IPrintBackend* previous_;
};

}  // namespace plat::print
