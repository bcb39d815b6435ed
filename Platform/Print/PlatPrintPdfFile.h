#pragma once
// The "PDF file" printer: listed after the printers of another backend
// (also when it has none), its documents go to a PDF file instead of paper,
// so that a machine without a printer can still print. Standard types only.
#include <atomic>
#include <string>

#include "Platform/Print/PlatPrint.h"

namespace plat::print {

inline constexpr const char* kPdfFilePrinter = "PDF file";

// Where a document titled title is written: $ZM_PRINT_PDF when set, else
// "<folder>/<title>.pdf" in $XDG_DOCUMENTS_DIR, ~/Documents when that is a
// folder, else the home folder. A title that is empty or holds '/' is made a
// plain file name.
std::string PdfFilePath(const std::string& title);

class TPdfFilePrintBackend : public IPrintBackend {
public:
  explicit TPdfFilePrintBackend(IPrintBackend& inner) : inner_(inner) {}
  // False hides the PDF printer: only the inner printers remain.
  std::atomic<bool> Shown{true};

  std::vector<std::string> Destinations() override;
  std::string DefaultName() override;
  std::string ProfileDevice() override;
  bool OpenPrinter(const std::string& name) override;
  bool DocumentProperties(const std::string& name, TDevMode& mode) override;
  bool PageGeometry(const std::string& name, const TDevMode* mode, TPageGeometry& page) override;
  // The file is made (under a temporary name in its folder) here, so a
  // folder that cannot be written fails the start of the document; the
  // finished document replaces the file in one rename.
  std::unique_ptr<IPrintJob> BeginJob(const std::string& name, const std::string& title, const TDevMode* mode,
                                      const TPageGeometry& page) override;

private:
  bool Mine(const std::string& name) const { return Shown.load() && name == kPdfFilePrinter; }
  IPrintBackend& inner_;
};

// The process's backend when no test installed one: the CUPS printers and
// then the PDF printer.
TPdfFilePrintBackend& SystemPrintBackend();

}  // namespace plat::print
