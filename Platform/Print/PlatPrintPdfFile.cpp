#include "Platform/Print/PlatPrintPdfFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "Platform/Print/PlatPdf.h"

namespace plat::print {

namespace {

std::string EnvValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool IsFolder(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A document written beside its final name and renamed over it at the end:
// a failed or aborted print leaves any earlier file as it was.
class TPdfFileJob : public IPrintJob {
public:
  TPdfFileJob(std::string path, const TPageGeometry& page) : path_(std::move(path)), pdf_(page) {}
  ~TPdfFileJob() override { Drop(); }
  TPdfFileJob(const TPdfFileJob&) = delete;
  TPdfFileJob& operator=(const TPdfFileJob&) = delete;

  bool Open() {
    if (!pdf_.Ok() || path_.empty() || path_.back() == '/') return false;
    std::string pattern = FolderOf(path_) + "/.print-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) return false;
    temp_.assign(name.data());
    // mkstemp makes the file private; a printed document is an ordinary one.
    ::fchmod(fd_, 0644);
    return true;
  }

  bool StartPage() override { return fd_ >= 0 && pdf_.Ok(); }
  bool DrawBitmap(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, const std::uint8_t* bgrx,
                  std::int32_t bw, std::int32_t bh, std::int32_t stride) override {
    return fd_ >= 0 && pdf_.DrawBitmap(x, y, w, h, bgrx, bw, bh, stride);
  }
  bool EndPage() override { return fd_ >= 0 && pdf_.EndPage(); }
  void Abort() override {
    pdf_.Finish();
    Drop();
  }
  bool End() override {
    if (fd_ < 0) return false;
    const std::string bytes = pdf_.Finish();
    bool ok = !bytes.empty();
    for (std::size_t done = 0; ok && done < bytes.size();) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      else done += std::size_t(n);
    }
    ok = ok && ::fsync(fd_) == 0;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    ok = ok && ::rename(temp_.c_str(), path_.c_str()) == 0;
    if (ok) temp_.clear();
    Drop();
    return ok;
  }

private:
  void Drop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
  }
  std::string path_, temp_;
  int fd_ = -1;
  TPdfWriter pdf_;
};

}  // namespace

namespace {
// ~/Documents, else the home folder, else the working folder. Built by
// appending: g++ 12 warns (falsely) on the chained and literal forms here.
std::string HomeDocumentsFolder() {
  const std::string home = EnvValue("HOME");
  if (!home.empty()) {
    std::string documents = home;
    documents.append("/Documents");
    if (IsFolder(documents)) return documents;
    if (IsFolder(home)) return home;
  }
  return std::string(1, '.');
}
}  // namespace

std::string PdfFilePath(const std::string& title) {
  if (std::string env = EnvValue("ZM_PRINT_PDF"); !env.empty()) return env;
  // The documents folder as the desktop names it, else the usual
  // ~/Documents, else the home folder itself (the working folder without one).
  std::string folder = EnvValue("XDG_DOCUMENTS_DIR");
  if (!IsFolder(folder)) folder = HomeDocumentsFolder();
  std::string name;
  for (char c : title) name += (c == '/' || c == '\0') ? '_' : c;
  if (name.empty() || name == "." || name == "..") name = "Document";
  // Keep within the common 255-byte name limit, ".pdf" included.
  if (name.size() > 240) name.resize(240);
  return folder + "/" + name + ".pdf";
}

std::vector<std::string> TPdfFilePrintBackend::Destinations() {
  std::vector<std::string> names = inner_.Destinations();
  if (!Shown.load()) return names;
  // A printer of the system with the same name is hidden by ours.
  std::erase(names, std::string(kPdfFilePrinter));
  names.emplace_back(kPdfFilePrinter);
  return names;
}

std::string TPdfFilePrintBackend::DefaultName() { return inner_.DefaultName(); }

std::string TPdfFilePrintBackend::ProfileDevice() { return inner_.ProfileDevice(); }

bool TPdfFilePrintBackend::OpenPrinter(const std::string& name) {
  return Mine(name) || inner_.OpenPrinter(name);
}

bool TPdfFilePrintBackend::DocumentProperties(const std::string& name, TDevMode& mode) {
  if (!Mine(name)) return inner_.DocumentProperties(name, mode);
  mode = TDevMode{};
  return true;
}

bool TPdfFilePrintBackend::PageGeometry(const std::string& name, const TDevMode* mode, TPageGeometry& page) {
  if (!Mine(name)) return inner_.PageGeometry(name, mode, page);
  // A file has no unprintable edge: the whole A4 sheet.
  const bool landscape = mode && (mode->dmFields & DM_ORIENTATION) && mode->dmOrientation == DMORIENT_LANDSCAPE;
  page = GeometryFromMedia(21000, 29700, 0, 0, 0, 0, kNominalDpi, landscape);
  return true;
}

std::unique_ptr<IPrintJob> TPdfFilePrintBackend::BeginJob(const std::string& name, const std::string& title,
                                                          const TDevMode* mode, const TPageGeometry& page) {
  if (!Mine(name)) return inner_.BeginJob(name, title, mode, page);
  auto job = std::make_unique<TPdfFileJob>(PdfFilePath(title), page);
  if (!job->Open()) return nullptr;
  return job;
}

TPdfFilePrintBackend& SystemPrintBackend() {
  static TPdfFilePrintBackend backend(CupsPrintBackend());
  return backend;
}

}  // namespace plat::print
