#include "Platform/User/PlatX11Shm.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <map>
#include <mutex>

namespace plat::user {

namespace {

// Xlib reports errors to one handler per process; ours is in place only
// around our own requests, which are synchronous, and only on the UI thread.
bool gXError = false;
int NoteXError(Display*, XErrorEvent*) {
  gXError = true;
  return 0;
}

// Runs requests and waits for the server to have handled them; false when
// one of them failed.
template <class F>
bool Checked(Display* d, F requests) {
  gXError = false;
  XErrorHandler previous = XSetErrorHandler(&NoteXError);
  requests();
  XSync(d, False);
  XSetErrorHandler(previous);
  return !gXError;
}

// What segments and the presenter share: segments the server still holds
// after their memory went, detached on the UI thread.
struct TShared {
  std::mutex M;
  std::vector<ShmSeg> Retired;
  bool Closed = false;
};

class TShmPixels final : public TPixelMemory {
public:
  TShmPixels(std::shared_ptr<TShared> shared, int id, void* addr) : shared_(std::move(shared)) {
    info_.shmid = id;
    info_.shmaddr = static_cast<char*>(addr);
    info_.readOnly = True;
    bits_ = static_cast<std::uint32_t*>(addr);
  }
  ~TShmPixels() override {
    shmdt(info_.shmaddr);
    if (attach_.load() != kAttached) {
      shmctl(info_.shmid, IPC_RMID, nullptr);
      return;
    }
    // Marked for removal at the attach: it goes once the server lets go.
    std::lock_guard<std::mutex> l(shared_->M);
    if (!shared_->Closed) shared_->Retired.push_back(info_.shmseg);
  }

  const TShared* Shared() const { return shared_.get(); }
  XShmSegmentInfo* Info() const { return &info_; }

  static constexpr int kUnknown = 0, kAttached = 1, kRefused = 2;
  // Written on the UI thread only.
  mutable std::atomic<int> attach_{kUnknown};

private:
  std::shared_ptr<TShared> shared_;
  mutable XShmSegmentInfo info_{};
};

// On SDL's own connection, so that our requests follow SDL's (a window made
// or resized) in order.
class TX11Shm final : public TShmPresenter {
public:
  TX11Shm() : shared_(std::make_shared<TShared>()) {}

  ~TX11Shm() override {
    if (d_) DetachRetired();
    {
      std::lock_guard<std::mutex> l(shared_->M);
      shared_->Closed = true;  // the server lets go of the rest with the connection
    }
    if (d_)
      for (auto& [id, w] : windows_) XFreeGC(d_, w.Gc);
  }

  std::unique_ptr<TPixelMemory> AllocPixels(std::size_t count) override {
    if (broken_.load() || count == 0 || count > SIZE_MAX / 4) return nullptr;
    const int id = shmget(IPC_PRIVATE, count * 4, IPC_CREAT | 0600);
    if (id < 0) return nullptr;
    void* addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
      shmctl(id, IPC_RMID, nullptr);
      return nullptr;
    }
    return std::make_unique<TShmPixels>(shared_, id, addr);
  }

  bool Bind(NativeWin id, SDL_Window* window) override {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (broken_.load() || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    if (!d_ && !UseDisplay(info.info.x11.display)) return false;
    if (info.info.x11.display != d_) return false;
    const Window xw = info.info.x11.window;
    XWindowAttributes a{};
    GC gc = nullptr;
    Status got = 0;
    bool ok = Checked(d_, [&] { got = XGetWindowAttributes(d_, xw, &a); }) && got != 0;
    // Our words are B, G, R, X in memory, a server's 24-bit pixels in its
    // byte order: the same where both are little-endian.
    ok = ok && a.depth == 24 && a.visual && a.visual->red_mask == 0xFF0000 && a.visual->green_mask == 0xFF00 &&
         a.visual->blue_mask == 0xFF && ImageByteOrder(d_) == LSBFirst && std::endian::native == std::endian::little;
    if (ok && !Checked(d_, [&] { gc = XCreateGC(d_, xw, 0, nullptr); })) ok = false;
    if (!ok) {
      if (gc) XFreeGC(d_, gc);
      return false;
    }
    windows_[id] = TBound{xw, gc, a.visual};
    return true;
  }

  void Unbind(NativeWin id) override {
    auto it = windows_.find(id);
    if (!d_) return;
    if (it == windows_.end()) return;
    XFreeGC(d_, it->second.Gc);
    windows_.erase(it);
  }

  bool Present(NativeWin id, const TPixelMemory& memory, const std::uint32_t* bits, int stride, int width,
               int height) override {
    if (!d_) return false;
    DetachRetired();
    auto it = windows_.find(id);
    const auto* seg = dynamic_cast<const TShmPixels*>(&memory);
    if (it == windows_.end() || !seg || seg->Shared() != shared_.get() || !Attached(*seg)) return false;
    char* data = reinterpret_cast<char*>(const_cast<std::uint32_t*>(bits));
    XImage* image =
        XShmCreateImage(d_, it->second.Vis, 24, ZPixmap, data, seg->Info(), unsigned(stride), unsigned(height));
    if (!image) return false;
    bool ok = image->bits_per_pixel == 32 && image->bytes_per_line == stride * 4;
    if (ok)
      ok = Checked(d_, [&] {
        XShmPutImage(d_, it->second.Win, it->second.Gc, image, 0, 0, 0, 0, unsigned(width), unsigned(height), False);
      });
    XDestroyImage(image);  // the image's own, not the segment
    return ok;
  }

  bool ReadPixel(NativeWin id, int x, int y, std::uint32_t& bgra) override {
    auto it = windows_.find(id);
    if (!d_ || it == windows_.end() || x < 0 || y < 0) return false;
    XImage* image = nullptr;
    Checked(d_, [&] { image = XGetImage(d_, it->second.Win, x, y, 1, 1, AllPlanes, ZPixmap); });
    if (!image) return false;
    bgra = std::uint32_t(XGetPixel(image, 0, 0) & 0xFFFFFF) | 0xFF000000u;
    XDestroyImage(image);
    return true;
  }

private:
  // Only a server on this machine can map our memory.
  bool UseDisplay(Display* d) {
    const char* name = DisplayString(d);
    int major = 0, minor = 0;
    Bool pixmaps = False;
    if (!name || !(name[0] == ':' || std::strncmp(name, "unix:", 5) == 0) ||
        !XShmQueryVersion(d, &major, &minor, &pixmaps)) {
      broken_.store(true);
      return false;
    }
    d_ = d;
    return true;
  }

  struct TBound {
    Window Win;
    GC Gc;
    Visual* Vis;
  };

  // The server maps a segment at its first use; one it refuses (another
  // user's server, a remote one) ends the use of shared memory.
  bool Attached(const TShmPixels& seg) {
    const int state = seg.attach_.load();
    if (state != TShmPixels::kUnknown) return state == TShmPixels::kAttached;
    const bool ok = Checked(d_, [&] { XShmAttach(d_, seg.Info()); });
    if (ok) {
      // Removed from the system once both sides let go, also after a crash.
      shmctl(seg.Info()->shmid, IPC_RMID, nullptr);
    } else {
      broken_.store(true);
    }
    seg.attach_.store(ok ? TShmPixels::kAttached : TShmPixels::kRefused);
    return ok;
  }

  void DetachRetired() {
    std::vector<ShmSeg> retired;
    {
      std::lock_guard<std::mutex> l(shared_->M);
      retired.swap(shared_->Retired);
    }
    if (retired.empty()) return;
    Checked(d_, [&] {
      for (ShmSeg s : retired) {
        XShmSegmentInfo info{};
        info.shmseg = s;
        XShmDetach(d_, &info);
      }
    });
  }

  Display* d_ = nullptr;  // SDL's, from the first window
  std::shared_ptr<TShared> shared_;
  std::map<NativeWin, TBound> windows_;
  std::atomic<bool> broken_{false};
};

}  // namespace

std::unique_ptr<TShmPresenter> TShmPresenter::Open() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0) return nullptr;
  return std::make_unique<TX11Shm>();
}

}  // namespace plat::user
