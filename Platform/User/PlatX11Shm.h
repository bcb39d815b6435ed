#pragma once
// Frames shown in X11 windows from memory the server shares with us
// (MIT-SHM): the window's frame buffer is the shared segment, so showing a
// frame costs the server one read of it and the program no copy. Internal to
// the SDL back end; no X11 type leaves this unit.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/User/PlatUserBackend.h"

struct SDL_Window;

namespace plat::user {

class TShmPresenter {
public:
  virtual ~TShmPresenter() = default;
  // nullptr when SDL's display is not X11. Whether the server shares memory
  // with us shows at the first window: when it does not, every Present
  // answers false.
  static std::unique_ptr<TShmPresenter> Open();

  // Memory for a frame buffer, a shared segment (any thread); nullptr when
  // the system has none to give.
  virtual std::unique_ptr<TPixelMemory> AllocPixels(std::size_t count) = 0;
  // The rest on the UI thread only.
  // False when the window's pixels are not B, G, R, X words as ours are.
  virtual bool Bind(NativeWin id, SDL_Window* window) = 0;
  virtual void Unbind(NativeWin id) = 0;
  // Shows width x height pixels of memory (rows of stride pixels) at the
  // window's top left; the server has read them when this returns. False
  // when the window or the memory cannot be shown this way.
  virtual bool Present(NativeWin id, const TPixelMemory& memory, const std::uint32_t* bits, int stride, int width,
                       int height) = 0;
  // What the server shows at a client point (B, G, R, with A 0xFF).
  virtual bool ReadPixel(NativeWin id, int x, int y, std::uint32_t& bgra) = 0;
};

}  // namespace plat::user
