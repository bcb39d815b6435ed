#include "ZmLib/3DBasics/Dev3D.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

#include "tests/ZmLib/3DBasics/Dev3DDoubles.h"

using namespace zm;
using zmtest::TDisposeCounter;
using zmtest::TTestRenderer;

namespace {

HWND FakeWindow() { return reinterpret_cast<HWND>(std::uintptr_t(0x1234)); }

TRef<TDrawDevice> NewDevice() { return MakeRef<TDrawDevice>(FakeWindow()); }

}  // namespace

TEST(DrawDevice, SetBoundsTellsTheRenderersOnlyOfChanges) {
  TRef<TDrawDevice> d = NewDevice();
  // The stored rectangle starts empty, so another empty one is no change.
  EXPECT_FALSE(d->SetBounds({5, 5, 1, 9}, {0, 0}, false));
  std::vector<int> log;
  TRef<TTestRenderer> r1 = MakeRef<TTestRenderer>(d.get(), 1, &log);
  TRef<TTestRenderer> r2 = MakeRef<TTestRenderer>(d.get(), 2, &log);
  TRef<TTestRenderer> r3 = MakeRef<TTestRenderer>(d.get(), 3, &log);
  int changed = 0;
  d->SetOnBoundsChanged([&](TDrawDevice*) {
    ++changed;
    log.push_back(0);
  });
  EXPECT_TRUE(d->SetBounds({0, 0, 640, 480}, {100, 50}, false));
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 0}));  // in list order, then the callback
  EXPECT_FALSE(d->SetBounds({0, 0, 640, 480}, {100, 50}, false));
  // Each of the three alone is a change.
  EXPECT_TRUE(d->SetBounds({0, 0, 640, 480}, {101, 50}, false));
  EXPECT_TRUE(d->SetBounds({0, 0, 640, 480}, {101, 50}, true));
  EXPECT_TRUE(d->SetBounds({0, 0, 641, 480}, {101, 50}, true));
  // Empty after non-empty is a change; empty after empty is not, whatever
  // the coordinates.
  EXPECT_TRUE(d->SetBounds({10, 10, 10, 200}, {101, 50}, true));
  log.clear();
  EXPECT_FALSE(d->SetBounds({300, 0, 20, 5}, {101, 50}, true));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(d->Bounds(), (TRect{10, 10, 10, 200}));  // the empty rectangle first stored
  EXPECT_EQ(changed, 5);
  // ... but an empty one at another origin or mode is a change.
  EXPECT_TRUE(d->SetBounds({300, 0, 20, 5}, {0, 0}, true));
  EXPECT_EQ(r1->Updates, 6);
  // The screen rectangle is the origin plus the size, cut (not wrapped) at the 32-bit range.
  d->SetBounds({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {INT_MAX - 5, -10}, false);
  EXPECT_EQ(d->GetDeviceScreenRect(), (TRect{INT_MAX - 5, -10, INT_MAX, INT_MAX}));
}

TEST(Renderer, OutlivesItsDevice) {
  TRef<TDrawDevice> d = NewDevice();
  TRef<TTestRenderer> a = MakeRef<TTestRenderer>(d.get(), 1);
  TRef<TTestRenderer> b = MakeRef<TTestRenderer>(d.get(), 2);
  d = nullptr;
  EXPECT_EQ(a->Device(), nullptr);
  // Disposing them must not reach the freed device (the sanitizer watches).
}

namespace {
class TFailingRenderer : public TTestRenderer {
public:
  explicit TFailingRenderer(TDrawDevice* d) : TTestRenderer(d, 9) { throw std::runtime_error("no device"); }
};
}  // namespace

TEST(Renderer, ThatFailsToConstructLeavesTheList) {
  TRef<TDrawDevice> d = NewDevice();
  EXPECT_THROW(MakeRef<TFailingRenderer>(d.get()), std::runtime_error);
  EXPECT_EQ(d->RendererCount(), 0);
  EXPECT_FALSE(d->SetBounds({}, {}, false));
  EXPECT_TRUE(d->SetBounds({0, 0, 2, 2}, {}, false));  // nothing dangling is told
}

TEST(Renderer, IsToldOfBoundsOnceWhole) {
  // Between its constructor and AfterConstruction a renderer is listed but
  // not told: its derived part may not exist yet.
  TRef<TDrawDevice> d = NewDevice();
  auto* r = new TTestRenderer(d.get(), 1);
  EXPECT_EQ(d->RendererCount(), 1);
  EXPECT_TRUE(d->SetBounds({0, 0, 4, 4}, {}, false));
  EXPECT_EQ(r->Updates, 0);
  r->AfterConstruction();
  EXPECT_TRUE(d->SetBounds({0, 0, 5, 5}, {}, false));
  EXPECT_EQ(r->Updates, 1);
  r->Free();
}

TEST(DrawDevice, RendererFreedWhileTheDeviceTellsThem) {
  TRef<TDrawDevice> d = NewDevice();
  std::vector<int> log;
  TRef<TTestRenderer> r1 = MakeRef<TTestRenderer>(d.get(), 1, &log);
  TRef<TTestRenderer> r2 = MakeRef<TTestRenderer>(d.get(), 2, &log);
  TRef<TTestRenderer> r3 = MakeRef<TTestRenderer>(d.get(), 3, &log);
  // Telling the first one loses the second (as a lost device would).
  r1->OnUpdate = [&](TTestRenderer*) { r2 = nullptr; };
  EXPECT_TRUE(d->SetBounds({0, 0, 8, 8}, {}, false));
  EXPECT_EQ(log, (std::vector<int>{1, 3}));
  // One that frees itself while told.
  TTestRenderer* self = r3.Detach();
  self->OnUpdate = [](TTestRenderer* r) { r->Free(); };
  log.clear();
  EXPECT_TRUE(d->SetBounds({0, 0, 9, 9}, {}, false));
  EXPECT_EQ(log, (std::vector<int>{1, 3}));
  EXPECT_EQ(d->RendererCount(), 1);
}

TEST(DrawDevice, WindowObjectsGoWithTheDevice) {
  TRef<TDrawDevice> d = NewDevice();
  int disposed = 0;
  bool sawNoList = false;
  TDrawDevice* raw = d.get();
  d->Objects()->Add(new TDisposeCounter(&disposed, [&] { sawNoList = raw->Objects() == nullptr; }));
  d->Objects()->Add(new TDisposeCounter(&disposed));
  EXPECT_NE(d->FindObject<TDisposeCounter>(), nullptr);
  EXPECT_EQ(d->FindObject<TTestRenderer>(), nullptr);
  d = nullptr;
  EXPECT_EQ(disposed, 2);
  EXPECT_TRUE(sawNoList);
}

TEST(DrawDevice, StoreThatGoesFirstReachesTheRenderers) {
  // The device's objects go before the renderers are cut off: a device
  // store that goes tells its renderer, whose owner frees it then.
  TRef<TDrawDevice> d = NewDevice();
  TRef<TTestRenderer> told = MakeRef<TTestRenderer>(d.get(), 1);
  TRef<TTestRenderer> kept = MakeRef<TTestRenderer>(d.get(), 2);
  int lost = 0;
  told->SetLostEvent([&](TRefObject* sender) {
    EXPECT_EQ(sender, told.get());
    ++lost;
    told = nullptr;
  });
  TTestRenderer* store = told.get();
  int storeGone = 0;
  d->Objects()->Add(new TDisposeCounter(&storeGone, [store] { store->DoLost(store); }));
  d = nullptr;
  EXPECT_EQ(storeGone, 1);
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(told, nullptr);
  EXPECT_EQ(kept->Device(), nullptr);
}
