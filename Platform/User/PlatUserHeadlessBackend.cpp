// The headless display: frame buffers stay in memory (the window manager
// keeps them), input comes from plat::headless, message boxes answer at once.
#include <png.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUserBackend.h"

namespace plat::user {

namespace {

class THeadless final : public TBackend {
public:
  THeadless(std::int64_t quitAfterMs, std::string captureDir, std::int64_t captureLimit)
      : captureDir_(std::move(captureDir)), captureLimit_(captureLimit), quitAfter_(quitAfterMs) {
    start_ = TickCount32();
  }
  const char* Name() const override { return "headless"; }
  std::vector<TMonitorInfo> Monitors() override { return {}; }  // the configured ones
  NativeWin Create(const TNativeDesc&) override {
    live_.insert(++next_);
    return next_;
  }
  void Update(NativeWin, const TNativeDesc&) override {}
  void Destroy(NativeWin win) override { live_.erase(win); }
  void Present(NativeWin win, const std::uint32_t* bits, int stride, int width, int height, const RECT&) override {
    if (captureDir_.empty() || width <= 0 || height <= 0) return;
    if (captureLimit_ >= 0 && frames_ >= captureLimit_) return;
    char name[32];
    std::snprintf(name, sizeof name, "%06lld.png", static_cast<long long>(frames_));
    if (!WritePng(captureDir_ + "/" + name, bits, stride, width, height)) return;
    if (FILE* f = std::fopen((captureDir_ + "/frames.tsv").c_str(), "a")) {
      std::fprintf(f, "%lld\t%u\t%llu\n", static_cast<long long>(frames_),
                   static_cast<unsigned>(TickCount32() - start_), static_cast<unsigned long long>(win));
      std::fclose(f);
    }
    ++frames_;
  }
  void Pump(TInputSink& sink) override {
    if (quitAfter_ < 0 || quitSent_ || live_.empty()) return;
    if (std::int64_t(std::uint32_t(TickCount32() - start_)) < quitAfter_) return;
    quitSent_ = true;
    sink.CloseRequested(*live_.begin());
  }
  bool WaitsNatively() const override { return false; }
  void Wait(int) override {}
  void Wake() override {}
  bool CursorPos(POINT&) override { return false; }
  void GrabPointer(bool) override {}
  void SetCursor(std::uintptr_t) override {}
  int MessageBox(NativeWin, const std::u16string& text, const std::u16string& caption, UINT,
                 int defaultAnswer) override {
    // One line on standard error, and the default button.
    std::string line = ToUtf8(caption) + ": " + ToUtf8(text);
    for (char& c : line)
      if (c == '\r' || c == '\n') c = ' ';
    WriteStdErr(line + "\n");
    return defaultAnswer;
  }

  int TestWindowCount() override { return int(live_.size()); }

private:
  // B, G, R, A pixels as an 8-bit RGBA PNG.
  static bool WritePng(const std::string& path, const std::uint32_t* bits, int stride, int width, int height) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(std::size_t(width) * 4);
    bool ok = false;
    if (png && info && !setjmp(png_jmpbuf(png))) {
      png_init_io(png, f);
      png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                   PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
      png_write_info(png, info);
      for (int y = 0; y < height; ++y) {
        const std::uint32_t* src = bits + std::size_t(y) * std::size_t(stride);
        for (int x = 0; x < width; ++x) {
          std::uint32_t p = src[x];
          row[std::size_t(x) * 4 + 0] = png_byte(p >> 16);
          row[std::size_t(x) * 4 + 1] = png_byte(p >> 8);
          row[std::size_t(x) * 4 + 2] = png_byte(p);
          row[std::size_t(x) * 4 + 3] = png_byte(p >> 24);
        }
        png_write_row(png, row.data());
      }
      png_write_end(png, nullptr);
      ok = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    std::fclose(f);
    return ok;
  }

  std::string captureDir_;
  std::int64_t captureLimit_ = -1;
  std::int64_t frames_ = 0;
  NativeWin next_ = 0;
  std::set<NativeWin> live_;
  std::int64_t quitAfter_;
  bool quitSent_ = false;
  std::uint32_t start_ = 0;
};

}  // namespace

namespace {
std::int64_t EnvNumber(const char* name) {
  std::string v;
  if (!GetEnv(name, v)) return -1;
  try {
    return std::stoll(v);
  } catch (...) {
    return -1;
  }
}
}  // namespace

std::unique_ptr<TBackend> CreateHeadlessBackend() {
  // ZM_QUIT_AFTER_MS: the main window (the first one shown) is asked to close
  // after that much program time. ZM_CAPTURE_DIR: every presented frame of a
  // top-level as a PNG file with a line in frames.tsv; ZM_CAPTURE_LIMIT stops
  // after that many frames.
  std::string dir;
  GetEnv("ZM_CAPTURE_DIR", dir);
  return CreateHeadlessBackend(EnvNumber("ZM_QUIT_AFTER_MS"), dir, EnvNumber("ZM_CAPTURE_LIMIT"));
}

std::unique_ptr<TBackend> CreateHeadlessBackend(std::int64_t quitAfterMs, const std::string& captureDir,
                                                std::int64_t captureLimit) {
  return std::make_unique<THeadless>(quitAfterMs, captureDir, captureLimit);
}

}  // namespace plat::user
