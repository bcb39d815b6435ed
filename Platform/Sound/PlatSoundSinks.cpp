#include "Platform/Sound/PlatSoundSinks.h"

#include <SDL.h>
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "Platform/PlatSystem.h"

namespace plat::sound {

namespace {

// ---- ALSA's own messages ------------------------------------------------------

// The shape of ALSA's error handler (snd_lib_error_handler_t).
using TAlsaErrorHandler = void (*)(const char* file, int line, const char* function, int err, const char* fmt, ...);

void AlsaMessage(const char*, int, const char*, int, const char* fmt, ...) {
  if (!fmt) return;
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  DebugOutputOnce(std::string("sound: ALSA: ") + text);
}

// SDL opens libasound itself; the handler set on the same library before
// keeps its lines ("ALSA lib pcm.c:...") off the error output.
void CatchAlsaMessages() {
  static std::once_flag once;
  std::call_once(once, [] {
    void* lib = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;  // no ALSA: nothing to catch
    using TSetHandler = int (*)(TAlsaErrorHandler);
    if (auto set = reinterpret_cast<TSetHandler>(::dlsym(lib, "snd_lib_error_set_handler"))) set(&AlsaMessage);
    // Kept loaded: the handler lives in the library SDL uses.
  });
}

// ---- SDL --------------------------------------------------------------------

// The display back end shares SDL; only the audio subsystem is ours.
std::mutex g_sdlMutex;
int g_sdlSinks = 0;
std::atomic<std::uint32_t> g_sdlOpenings{0};

// Quitting SDL's audio waits for its device watch (ALSA's looks every
// 100 ms). After a failed open nobody needs to wait for that: it is done on
// a thread of its own, which the next start of SDL audio (and the program's
// end) waits for.
struct TSdlQuitting {
  std::thread thread;
  void Wait() {
    if (thread.joinable()) thread.join();
  }
  ~TSdlQuitting() { Wait(); }
};
TSdlQuitting g_sdlQuitting;  // under g_sdlMutex

class TSdlSink final : public TSoundSink {
public:
  explicit TSdlSink(std::shared_ptr<TMixBus> bus) : bus_(std::move(bus)) {}

  bool Open(std::string& error) {
    std::lock_guard lock(g_sdlMutex);
    g_sdlOpenings.fetch_add(1, std::memory_order_relaxed);
    g_sdlQuitting.Wait();
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // the program's own
    CatchAlsaMessages();
    if (g_sdlSinks == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      error = SDL_GetError();
      return false;
    }
    ++g_sdlSinks;
    SDL_AudioSpec want{}, have{};
    want.freq = int(kOutRate);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 512;
    want.callback = &TSdlSink::Callback;
    want.userdata = this;
    // No changes allowed: SDL converts to whatever the card takes.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
      error = SDL_GetError();
      if (--g_sdlSinks == 0) QuitAsideLocked();
      return false;
    }
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

  ~TSdlSink() override {
    if (device_ == 0) return;
    std::lock_guard lock(g_sdlMutex);
    SDL_CloseAudioDevice(device_);  // waits for a running callback
    QuitLocked();
  }

private:
  static void QuitLocked() {
    if (--g_sdlSinks == 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  static void QuitAsideLocked() {
    try {
      g_sdlQuitting.thread = std::thread([] { SDL_QuitSubSystem(SDL_INIT_AUDIO); });
    } catch (const std::system_error&) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
  }
  static void SDLCALL Callback(void* user, Uint8* stream, int len) {
    auto* self = static_cast<TSdlSink*>(user);
    self->bus_->Pull(reinterpret_cast<std::int16_t*>(stream), static_cast<std::uint32_t>(len / 4));
  }

  std::shared_ptr<TMixBus> bus_;
  SDL_AudioDeviceID device_ = 0;
};

// ---- WAV file -----------------------------------------------------------------

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

// ---- Real-time pull ---------------------------------------------------------

class TNullSink final : public TSoundSink {
public:
  TNullSink(std::shared_ptr<TMixBus> bus, std::unique_ptr<TWavWriter> wav)
      : bus_(std::move(bus)), wav_(std::move(wav)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TNullSink() override {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

private:
  void Run() {
    using Clock = std::chrono::steady_clock;
    constexpr std::uint64_t kChunk = 1024;
    // After a stall (a stopped process) the lost time is skipped, not
    // mixed in one burst.
    constexpr std::uint64_t kMaxBehind = kOutRate / 2;
    std::vector<std::int16_t> out(kChunk * 2);
    Clock::time_point origin = Clock::now();
    std::uint64_t pulled = 0;
    std::unique_lock lock(mutex_);
    while (!stop_) {
      wake_.wait_for(lock, std::chrono::milliseconds(5), [this] { return stop_; });
      if (stop_) break;
      lock.unlock();
      const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - origin).count();
      std::uint64_t due = static_cast<std::uint64_t>(elapsed) / 1000 * kOutRate / 1000000;
      if (due > pulled + kMaxBehind) pulled = due - kOutRate / 100;
      while (pulled < due) {
        const auto n = static_cast<std::uint32_t>(std::min(due - pulled, kChunk));
        bus_->Pull(out.data(), n);
        if (wav_) wav_->Write(out.data(), std::size_t(n) * 2);
        pulled += n;
      }
      lock.lock();
    }
    if (wav_) wav_->Close();
  }

  std::shared_ptr<TMixBus> bus_;
  std::unique_ptr<TWavWriter> wav_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace

TWavWriter::~TWavWriter() { Close(); }

bool TWavWriter::Open(const std::string& path, std::string& error) {
  path_ = path;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ && WriteHeader()) return true;
  error = CannotWriteText("Sound recording not started", path, errno);
  if (file_) std::fclose(file_);
  file_ = nullptr;
  return false;
}

void TWavWriter::Write(const std::int16_t* samples, std::size_t count) {
  if (!file_ || failed_) return;
  // RIFF sizes are 32-bit: recording stops short of 4 GB.
  if (data_ + count * 2 > 0xFFFFFF00u - 36) return;
  bytes_.resize(count * 2);
  for (std::size_t i = 0; i < count; ++i) Put16(&bytes_[2 * i], static_cast<std::uint16_t>(samples[i]));
  if (std::fwrite(bytes_.data(), 1, bytes_.size(), file_) != bytes_.size()) return Fail(errno);
  data_ += bytes_.size();
  // About each second the header is brought up to date with what is on
  // disk, so that a recording whose process is killed stays readable.
  if (data_ - headerData_ >= kHeaderEveryBytes) UpdateHeader();
}

void TWavWriter::Close() {
  if (!file_) return;
  if (!failed_ && (std::fseek(file_, 0, SEEK_SET) != 0 || !WriteHeader() || std::fflush(file_) != 0)) Fail(errno);
  if (std::fclose(file_) != 0 && !failed_) Fail(errno);
  file_ = nullptr;
}

// The sound first, then the header that counts it: at any moment the
// header counts no more than the file holds. A file that was removed (its
// folder with it) takes the sound nowhere: that ends the recording.
void TWavWriter::UpdateHeader() {
  const long end = std::ftell(file_);
  if (end < 0 || std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0 || !WriteHeader() ||
      std::fflush(file_) != 0 || std::fseek(file_, end, SEEK_SET) != 0)
    return Fail(errno);
  headerData_ = data_;
  struct stat st;
  if (::fstat(::fileno(file_), &st) == 0 && st.st_nlink == 0) Fail(ENOENT);
}

// Said once; the show plays on, and the file keeps what it holds.
void TWavWriter::Fail(int code) {
  failed_ = true;
  ReportOutputFailure("sound recording " + path_,
                      CannotWriteText("Sound recording stopped", path_, code) + "; the show plays on.");
}

bool TWavWriter::WriteHeader() {
  std::uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0};
  Put32(h + 4, std::uint32_t(36 + data_));
  Put16(h + 22, 2);
  Put32(h + 24, kOutRate);
  Put32(h + 28, kOutRate * 4);
  Put16(h + 32, 4);
  Put16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  Put32(h + 40, std::uint32_t(data_));
  return std::fwrite(h, 1, sizeof h, file_) == sizeof h;
}

void DebugOutputOnce(const std::string& text) {
  static std::mutex lock;
  static std::set<std::string>* seen = new std::set<std::string>;  // lives to the end, for late threads
  {
    std::lock_guard l(lock);
    if (!seen->insert(text).second) return;
  }
  DebugOutput(text);
}

std::unique_ptr<TSoundSink> OpenSdlSink(std::shared_ptr<TMixBus> bus, std::string& error) {
  auto sink = std::make_unique<TSdlSink>(std::move(bus));
  if (!sink->Open(error)) return nullptr;
  return sink;
}

std::uint32_t SdlSinkOpenings() { return g_sdlOpenings.load(std::memory_order_relaxed); }

std::unique_ptr<TSoundSink> OpenNullSink(std::shared_ptr<TMixBus> bus, const std::string& wavPath,
                                         std::string& error) {
  std::unique_ptr<TWavWriter> wav;
  if (!wavPath.empty()) {
    wav = std::make_unique<TWavWriter>();
    if (!wav->Open(wavPath, error)) return nullptr;
  }
  return std::make_unique<TNullSink>(std::move(bus), std::move(wav));
}

}  // namespace plat::sound
