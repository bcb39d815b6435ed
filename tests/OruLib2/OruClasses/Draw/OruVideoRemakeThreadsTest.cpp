// A clip's extractor writing a frame into its picture while the device under
// the picture goes: the UI thread makes the renderer anew for a new window
// size, or the drawing thread finds the device lost. The writer holds the
// picture's monitor and then wants the 3D lock; the side that lets the old
// device's textures go must not hold the 3D lock while it waits for that
// monitor. Driven step by step: the writer is held inside the monitor until
// the store that goes starts telling its objects.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "OruLib2/3DEngine/D3DYUV.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9.h"
#include "ZmLib/Graphics/Video/OruVideoExtractor.h"
#include "tests/support/DrawerOnDevice.h"

namespace videoremakethreads {

using namespace zm;
using oru::T3DYUV;

// A flag one thread raises and another waits for (a generous limit, so a
// fault fails rather than hangs where it can).
class TSignal {
public:
  void Raise() {
    std::lock_guard<std::mutex> g(m_);
    up_ = true;
    cv_.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, std::chrono::seconds(20), [&] { return up_; });
  }

private:
  std::mutex m_;
  std::condition_variable cv_;
  bool up_ = false;
};

// Writes every plane of the picture it is given, as the FFmpeg source does,
// with the picture's monitor held throughout; the first frame waits inside
// the monitor until the test lets it on.
class TPlaneSource : public TFrameSource {
public:
  TPlaneSource() {
    Info.FrameCount = 100;
    Info.FrameRate = 25;
    Info.Width = 32;
    Info.Height = 16;
  }
  bool SeekFrame(std::int32_t index) override {
    current_ = index;
    return true;
  }
  bool GetFrame(TYUVImage* image) override {
    image->Enter();
    if (!held_) {
      held_ = true;
      Inside.Raise();
      Go.Wait();
    }
    bool ok = true;
    for (std::int32_t i = 0; i < 5; ++i) {
      if (!image->HasPlane(i)) continue;
      TRef<TBitmap> plane = image->LockPlane(i);
      auto* bits = dynamic_cast<TSysBitmap*>(plane.get());
      if (!bits) {
        ok = false;
        continue;
      }
      for (std::int32_t y = 0; y < bits->Height(); ++y)
        std::memset(bits->ScanLine(y), 16 + current_, std::size_t(bits->Width() * bits->BytesPerPixel()));
      ok = image->UnlockPlane(i, plane) && ok;
    }
    image->Leave();
    if (ok) ++Written;
    return ok;
  }
  bool GetFrameBitmap(TBitmap*) override { return false; }

  TSignal Inside, Go;
  std::atomic<int> Written{0};

private:
  std::int32_t current_ = 0;  // the worker's only
  bool held_ = false;         // the worker's only
};

class TVideoRemake : public drawertest::TDrawerOnDevice {
protected:
  void SetUp() override {
    // The threads' test program starts no 3D module of its own.
    engineHook_.Set(&Create3DEngine9);
    TDrawerOnDevice::SetUp();
    // Made first, so the store that goes tells it first: the moment the old
    // device's objects are let go.
    marker = drawer->Screen()->Renderer()->CreateTexture(tkColorAlpha, 8, 8, false);
    ASSERT_TRUE(marker);
    marker->SetLostEvent([this](TRefObject*) { source->Go.Raise(); });
    source = MakeRef<TPlaneSource>();
    for (int i = 0; i < 2; ++i) {
      pictures[i] = drawer->CreateVideoImage(32, 16, false);
      ASSERT_TRUE(pictures[i]);
      ASSERT_TRUE(static_cast<T3DYUV*>(pictures[i].get())->Texture(0)->DeviceTexture());
    }
    extractor = TOruVideoExtractor::Create(source.get(), false);
    for (auto& p : pictures) extractor->AddImage(p.get());
  }
  void TearDown() override {
    if (extractor) {
      extractor->Stop();
      extractor->Join();
    }
    extractor = nullptr;
    for (auto& p : pictures) p = nullptr;
    marker = nullptr;
    source = nullptr;
    TDrawerOnDevice::TearDown();
    engineHook_.Restore();
  }

  // Draws one frame on a thread of its own, as the engine does.
  bool FrameOnTheEngineThread(std::function<void(oru::T3DDrawer&)> fn = nullptr) {
    bool drawn = false;
    std::thread engine([&] {
      TRef<drawertest::TFnItem> item = MakeRef<drawertest::TFnItem>([&](oru::T3DDrawer& d) {
        d.Clear(TColor32::FromValue(0xFF000000u), false);
        if (fn) fn(d);
      });
      drawn = drawer->Draw(item.get());
    });
    engine.join();
    return drawn;
  }

  // The extractor's worker inside its first frame, holding the picture's
  // monitor.
  void WorkerHeldInsideTheMonitor() {
    extractor->Request(false, 0);
    ASSERT_TRUE(source->Inside.Wait());
  }

  // The worker wrote its frame and each picture takes frames again, on the
  // device there is now.
  void PicturesWorkOnTheNewDevice() {
    extractor->Request(true, 0);
    EXPECT_GE(source->Written.load(), 1);
    for (auto& p : pictures) {
      TRef<TBitmap> plane = p->LockPlane(0);
      ASSERT_TRUE(plane);
      EXPECT_TRUE(p->UnlockPlane(0, plane));
    }
  }

  TRef<T3DTexture> marker;
  TRef<TPlaneSource> source;
  TRef<TYUVImage> pictures[2];
  TRef<TOruVideoExtractor> extractor;

private:
  THookScope<TCreate3DEngineHook> engineHook_{Create3DEngineHook};
};

}  // namespace videoremakethreads

using namespace videoremakethreads;

// The window grows: the engine thread's next frame asks for a renderer of
// the new size, which the UI thread makes, letting the old device's
// textures (the clip's planes among them) go while the worker writes.
TEST_F(TVideoRemake, RendererMadeAnewForANewSizeWhileTheExtractorWritesAFrame) {
  WorkerHeldInsideTheMonitor();
  const TRect b = form->Bounds();
  form->SetBounds({b.Left, b.Top, b.Right + 40, b.Bottom + 20});
  EXPECT_FALSE(FrameOnTheEngineThread());
  ASSERT_EQ(drawer->Screen()->Renderer()->State(), rsCreationPending);
  app->ProcessMessages();  // the UI thread makes the renderer
  ASSERT_TRUE(drawer->CanDraw());
  EXPECT_EQ(drawer->Screen()->WindowRect(), device->GetDeviceScreenRect());
  // The planes of the old device were let go.
  EXPECT_EQ(static_cast<T3DTexture9*>(marker.get())->Store(), nullptr);
  const TDevStore* now = static_cast<T3DRenderer9*>(drawer->Screen()->Renderer())->Store();
  for (auto& p : pictures) {
    p->Enter();  // the worker may be making a plane's texture anew
    if (auto* t = static_cast<T3DTexture9*>(static_cast<T3DYUV*>(p.get())->Texture(0)->DeviceTexture()))
      EXPECT_EQ(t->Store(), now);
    p->Leave();
  }
  PicturesWorkOnTheNewDevice();
  EXPECT_TRUE(FrameOnTheEngineThread());
}

// The drawing thread finds the device lost in the middle of a frame and lets
// what was made on it go while the worker writes.
TEST_F(TVideoRemake, DeviceLostInAFrameWhileTheExtractorWritesAFrame) {
  WorkerHeldInsideTheMonitor();
  EXPECT_FALSE(FrameOnTheEngineThread([&](oru::T3DDrawer& d) {
    static_cast<T3DRenderer9*>(d.Screen()->Renderer())->D3DDevice()->Debug().LoseDevice(plat::gfx::LossMode::EveryCall);
    d.Clear(TColor32::FromValue(0xFFFFFFFFu), false);
  }));
  EXPECT_EQ(static_cast<T3DTexture9*>(marker.get())->Store(), nullptr);
  // The next frame asks for a new device, which the UI thread makes.
  EXPECT_FALSE(FrameOnTheEngineThread());
  app->ProcessMessages();
  ASSERT_TRUE(drawer->CanDraw());
  PicturesWorkOnTheNewDevice();
  EXPECT_TRUE(FrameOnTheEngineThread());
}
