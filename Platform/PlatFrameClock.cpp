#include "Platform/PlatFrameClock.h"

#include <errno.h>
#include <png.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"

namespace plat {

namespace {

std::atomic<std::uint32_t> gStepNow{0};
std::atomic<std::uint32_t> gStep{0};
std::atomic<std::int64_t> gFrames{0};
std::atomic<std::int64_t> gLastShowTime{-1};
// Read by the window layer under its own lock: never take gLock for it.
std::atomic<bool> gCapturing{false};
std::atomic<bool> gObserved{false};
std::atomic<bool> gCaptureFailed{false};  // a capture file could not be written
std::uint32_t SteppedTicks() { return gStepNow.load(std::memory_order_acquire); }

// Guards the capture settings, the time source and the files.
std::mutex gLock;
std::string gCaptureDir;
std::int64_t gCaptureLimit = -1;
std::string gLastCapture;  // the file of the last frame captured
TTimeSource gPrevious = nullptr;
TFrameObserver gObserver;
bool gInstalled = false;
// The stamp observer: apart from gLock, which a stamp must never wait for.
std::atomic<bool> gStampObserved{false};
std::mutex gStampLock;
TStampObserver gStampObserver;

}  // namespace

std::uint32_t FrameStepFromEnvironment() {
  std::int64_t v = GetEnvNumber("ZM_FRAME_STEP_MS");
  return v > 0 && v <= 1000000 ? std::uint32_t(v) : 0;
}

void SetFrameStepping(std::uint32_t stepMs, const std::string& captureDir, std::int64_t captureLimit) {
  std::lock_guard<std::mutex> l(gLock);
  gCaptureDir = stepMs ? captureDir : std::string();
  gCaptureLimit = captureLimit;
  gLastCapture.clear();
  gCaptureFailed.store(false);
  gFrames.store(0);
  gLastShowTime.store(-1);
  if (stepMs && !gInstalled) {
    gStepNow.store(TickCount32());
    gPrevious = SetTimeSource(&SteppedTicks);
    gInstalled = true;
  } else if (!stepMs && gInstalled) {
    SetTimeSource(gPrevious);
    gPrevious = nullptr;
    gInstalled = false;
  }
  gStep.store(stepMs);
  gCapturing.store(stepMs && !gCaptureDir.empty());
}

bool SetFrameSteppingFromEnvironment() {
  std::uint32_t step = FrameStepFromEnvironment();
  if (!step) return false;
  std::string dir;
  GetEnv("ZM_CAPTURE_DIR", dir);
  SetFrameStepping(step, CaptureFolder(dir), GetEnvNumber("ZM_CAPTURE_LIMIT"));
  return true;
}

std::uint32_t FrameStepMs() { return gStep.load(); }

bool FrameStepCaptures() { return gCapturing.load(); }

std::int64_t LastFrameShowTime() { return gLastShowTime.load(); }

namespace {
thread_local std::int64_t tPresentingShowTime = -1;
}  // namespace

void SetPresentingShowTime(std::int64_t showTime) {
  tPresentingShowTime = showTime < 0 ? -1 : showTime;
  if (showTime < 0 || !gStampObserved.load()) return;
  std::lock_guard<std::mutex> l(gStampLock);
  if (gStampObserver) gStampObserver(showTime);
}

void SetStampObserver(TStampObserver observer) {
  std::lock_guard<std::mutex> l(gStampLock);
  gStampObserver = std::move(observer);
  gStampObserved.store(bool(gStampObserver));
}

std::int64_t PresentingShowTime() { return tPresentingShowTime; }
std::int64_t SteppedFrameCount() { return gFrames.load(); }

void SetFrameObserver(TFrameObserver observer) {
  std::lock_guard<std::mutex> l(gLock);
  gObserver = std::move(observer);
  gObserved.store(bool(gObserver));
}

namespace {

// A stepped frame: presented (new pixels) or stood (the last frame shown
// again while the screen stands still).
void SteppedFrame(HWND window, std::int64_t showTime, bool stood) {
  const std::uint32_t step = gStep.load();
  // The window layer's lock is taken for the pixels: not under gLock, which
  // is never held while waiting for another lock.
  std::string dir, last;
  std::int64_t limit = -1;
  bool observed = false;
  {
    std::lock_guard<std::mutex> l(gLock);
    dir = gCaptureDir;
    limit = gCaptureLimit;
    observed = bool(gObserver);
    last = gLastCapture;
  }
  const std::int64_t frame = gFrames.load();
  const bool capture = !dir.empty() && (limit < 0 || frame < limit) && !gCaptureFailed.load();
  char name[32];
  std::snprintf(name, sizeof name, "/%06lld.png", static_cast<long long>(frame));
  const std::string path = dir + name;
  // A frame stood is the file of the one before, linked (or copied) rather
  // than compressed again: a screen that stands costs next to nothing.
  bool written = false;
  int failure = 0;
  if (capture && stood && !last.empty()) {
    ::unlink(path.c_str());  // a file of an earlier run may be a link itself
    std::error_code e;
    written = ::link(last.c_str(), path.c_str()) == 0 || std::filesystem::copy_file(last, path, e);
    if (!written) failure = e ? e.value() : errno;
  }
  std::vector<std::uint32_t> bits;
  int width = 0, height = 0;
  TWindowPixels px;
  if (((capture && !written) || observed) && LockWindowPixels(window, px)) {
    width = px.Width;
    height = px.Height;
    bits.resize(std::size_t(width) * std::size_t(height));
    for (int y = 0; y < height; ++y)
      std::memcpy(&bits[std::size_t(y) * std::size_t(width)], px.Bits + std::size_t(y) * std::size_t(px.Stride),
                  std::size_t(width) * 4);
    const RECT nothing{};  // read only: nothing to present again
    UnlockWindowPixels(window, &nothing);
  }
  std::string failed = path;
  if (capture && !written && !bits.empty()) {
    written = WriteCapturePng(path, bits.data(), width, width, height);
    failure = written ? 0 : errno;
  }
  if (written) {
    if (AppendCaptureLine(dir, frame, gStepNow.load(), reinterpret_cast<std::uintptr_t>(window), showTime)) {
      std::lock_guard<std::mutex> l(gLock);
      if (gCaptureDir == dir) gLastCapture = path;
    } else {
      failure = errno;
      failed = dir + "/frames.tsv";
    }
  }
  // A capture that lost a frame is no longer whole: it stops, said once,
  // and the show plays on.
  if (failure != 0 && !gCaptureFailed.exchange(true)) ReportCaptureFailure(failed, failure);
  if (observed) {
    std::lock_guard<std::mutex> l(gLock);
    if (gObserver) gObserver(frame, showTime, bits.empty() ? nullptr : bits.data(), width, height);
  }
  gFrames.fetch_add(1);
  // The frame is out: the clock moves on to the next one.
  gStepNow.fetch_add(step, std::memory_order_acq_rel);
}

}  // namespace

void FramePresented(HWND window, std::int64_t showTime) {
  gLastShowTime.store(showTime);
  if (!gStep.load()) {
    // Real-clock frames are only timed (the speed tools): no pixels, no number.
    if (gObserved.load()) {
      std::lock_guard<std::mutex> l(gLock);
      if (gObserver) gObserver(-1, showTime, nullptr, 0, 0);
    }
    return;
  }
  SteppedFrame(window, showTime, false);
}

void FrameStood(HWND window, std::int64_t showTime) {
  if (!gStep.load()) return;
  gLastShowTime.store(showTime);
  SteppedFrame(window, showTime, true);
}

namespace {

// The file a PNG goes to, and the system's reason of its first failure.
struct TPngFile {
  FILE* File = nullptr;
  int Error = 0;
};

void PngWrite(png_structp png, png_bytep data, png_size_t size) {
  auto* f = static_cast<TPngFile*>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, size, f->File) != size) {
    f->Error = errno ? errno : EIO;
    png_error(png, "write");
  }
}

void PngFlush(png_structp png) {
  auto* f = static_cast<TPngFile*>(png_get_io_ptr(png));
  if (std::fflush(f->File) != 0) {
    f->Error = errno ? errno : EIO;
    png_error(png, "flush");
  }
}

// libpng's own messages would go to the error output: the caller reports.
void PngFailed(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

}  // namespace

bool WriteCapturePng(const std::string& path, const std::uint32_t* bits, int stride, int width, int height) {
  // A new file, never one written through: an earlier run's frame of this
  // name may share its data with others (a screen that stood).
  ::unlink(path.c_str());
  TPngFile out;
  out.File = std::fopen(path.c_str(), "wb");
  if (!out.File) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &PngFailed, &PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row(std::size_t(width) * 4);
  bool ok = false;
  if (png && info && !setjmp(png_jmpbuf(png))) {
    png_set_write_fn(png, &out, &PngWrite, &PngFlush);
    // Captures keep pace with frames: deflate's fastest level over one
    // cheap filter costs a fifth of the defaults for files twice the size.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
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
  // What stayed in the buffer goes out now: a full disk often says so only here.
  if (std::fclose(out.File) != 0 && ok) {
    out.Error = errno ? errno : EIO;
    ok = false;
  }
  if (!ok) {
    // No half picture is left behind; the reason stays the caller's.
    ::unlink(path.c_str());
    errno = out.Error ? out.Error : EIO;
  }
  return ok;
}

bool AppendCaptureLine(const std::string& dir, std::int64_t frame, std::uint32_t clockMs, std::uintptr_t window,
                       std::int64_t showTime) {
  FILE* f = std::fopen((dir + "/frames.tsv").c_str(), "a");
  if (!f) return false;
  bool ok = std::fprintf(f, "%lld\t%u\t%llu\t%lld\n", static_cast<long long>(frame), static_cast<unsigned>(clockMs),
                         static_cast<unsigned long long>(window), static_cast<long long>(showTime)) > 0;
  int error = ok ? 0 : errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) errno = error ? error : EIO;
  return ok;
}

void ReportCaptureFailure(const std::string& file, int osError) {
  const std::string folder = file.substr(0, file.rfind('/'));
  std::string text = CannotWriteText("Frame capture stopped", file, osError);
  std::error_code ec;
  const auto kind = std::filesystem::status(folder.empty() ? std::string("/") : folder, ec).type();
  if (kind == std::filesystem::file_type::not_found) text += " (the capture folder " + folder + " is not there)";
  else if (kind != std::filesystem::file_type::directory && kind != std::filesystem::file_type::none)
    text += " (the capture folder " + folder + " is not a folder)";
  ReportOutputFailure("frame capture " + folder, text + "; the show plays on.");
}

std::string CaptureFolder(const std::string& dir) {
  if (dir.empty() || dir[0] == '/') return dir;
  std::error_code ec;
  const std::filesystem::path here = std::filesystem::current_path(ec);
  if (ec) return dir;
  std::string whole = (here / dir).lexically_normal().string();
  // "frames/" and "." name the folder, not a file in it.
  while (whole.size() > 1 && whole.back() == '/') whole.pop_back();
  return whole;
}

}  // namespace plat
