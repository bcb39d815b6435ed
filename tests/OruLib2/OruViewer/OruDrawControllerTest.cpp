#include <gtest/gtest.h>

#include <vector>

#include "OruLib2/OruViewer/OruThreads.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/zmLists.h"

using namespace zm;
using namespace oru;

namespace {

class TDcLink : public TOruDrawerLink {
public:
  TDeviceDrawer* Drawer() override { return nullptr; }
  bool Open(TDrawDevice* device) override {
    ++Opens;
    return device != nullptr;
  }
  bool ScreenReady() override { return Ready; }
  TRect ScreenRect() override { return Rect; }
  bool Ready = false;
  TRect Rect;
  int Opens = 0;
};

struct TDcFixture {
  TRef<TDcLink> Link = MakeRef<TDcLink>();
  TOruDrawController::TDrawerFactory Factory() {
    return [this] { return TRef<TOruDrawerLink>(Link.get()); };
  }
};

constexpr std::uint32_t kReady = TOruDrawController::dsReady;
constexpr std::uint32_t kReinited = TOruDrawController::dsReinited;
constexpr std::uint32_t kSize = TOruDrawController::dsSizeChanged;
constexpr std::uint32_t kActive = TOruDrawController::dsActive;

TEST(OruDrawControllerTest, ReinitedStaysUpUntilTheScreenIsReadyThenShowsOnce) {
  TDcFixture f;
  auto device = MakeRef<TDrawDevice>(nullptr);
  device->SetBounds(TRect{0, 0, 64, 48}, TPoint{}, false);
  auto c = MakeRef<TOruDrawController>(device.get(), false, f.Factory());
  EXPECT_EQ(c->GetState(), kActive);  // no drawer yet: neither ready nor a size to compare
  ASSERT_TRUE(c->GetDrawer());
  EXPECT_EQ(f.Link->Opens, 1);
  f.Link->Rect = TRect{0, 0, 64, 48};
  f.Link->OnDeviceRecreated();  // the screen lost its device and made it again
  EXPECT_EQ(c->GetState(), kActive | kReinited);
  EXPECT_EQ(c->GetState(), kActive | kReinited);
  f.Link->Ready = true;
  EXPECT_EQ(c->GetState(), kActive | kReinited | kReady);
  EXPECT_EQ(c->GetState(), kActive | kReady);
  EXPECT_EQ(c->GetSize(), (TSize{64, 48}));
  EXPECT_FALSE(c->Draw(nullptr));  // the drawer has no device drawer to draw with
  c = nullptr;
  // The controller took its messenger out and unbound the refresh callback.
  EXPECT_EQ(device->Objects()->Count(), 0);
  EXPECT_FALSE(device->SetBounds(TRect{0, 0, 64, 48}, TPoint{}, false));
  EXPECT_TRUE(device->SetBounds(TRect{0, 0, 10, 10}, TPoint{}, false));
}

TEST(OruDrawControllerTest, SizeChangeFromRefreshOrFromARectMismatchButNotTwoEmptyRects) {
  TDcFixture f;
  auto device = MakeRef<TDrawDevice>(nullptr);
  auto c = MakeRef<TOruDrawController>(device.get(), false, f.Factory());
  ASSERT_TRUE(c->GetDrawer());
  f.Link->Ready = true;
  f.Link->Rect = TRect{0, 0, 30, 20};
  device->SetBounds(TRect{0, 0, 30, 20}, TPoint{}, false);  // refresh callback
  EXPECT_EQ(c->GetState(), kActive | kSize | kReady);
  EXPECT_EQ(c->GetState(), kActive | kReady);  // the refresh was taken once
  f.Link->Rect = TRect{5, 5, 5, 90};  // empty in one dimension, like the device below
  device->SetBounds(TRect{0, 0, -3, 20}, TPoint{}, false);
  EXPECT_EQ(c->GetState(), kActive | kSize | kReady);
  EXPECT_EQ(c->GetState(), kActive | kReady);  // two empty rects count as equal
  device->SetBounds(TRect{0, 0, 40, 20}, TPoint{}, false);
  c->GetState();
  EXPECT_EQ(c->GetState(), kActive | kSize | kReady);  // the screen still has the old rect
  f.Link->Rect = TRect{0, 0, 40, 20};
  EXPECT_EQ(c->GetState(), kActive | kReady);
  device->SetBounds(TRect{INT32_MIN, 0, INT32_MAX, 1}, TPoint{}, false);
  EXPECT_EQ(c->GetSize(), (TSize{INT32_MAX, 1}));
}

TEST(OruDrawControllerTest, DeviceDestroyedFirstLeavesTheControllerWithoutADevice) {
  TDcFixture f;
  auto device = MakeRef<TDrawDevice>(nullptr);
  device->SetBounds(TRect{0, 0, 8, 8}, TPoint{}, false);
  auto c = MakeRef<TOruDrawController>(device.get(), false, f.Factory());
  ASSERT_TRUE(c->GetDrawer());
  f.Link->Ready = true;
  c->DeviceRefresh();
  device = nullptr;  // frees its objects: the messenger cuts the controller off
  EXPECT_EQ(c->Device(), nullptr);
  EXPECT_EQ(c->GetState(), kSize | kReady);  // the refresh was already pending
  EXPECT_EQ(c->GetState(), kReady);           // no device: no activity, no size to compare
  EXPECT_EQ(c->GetSize(), (TSize{0, 0}));
  EXPECT_FALSE(c->GetDrawer());  // nothing to open on
  EXPECT_FALSE(c->Draw(nullptr));
  c = nullptr;
}

TEST(OruDrawControllerTest, OwnedDeviceGoesWithTheControllerAndNoDeviceOrFactoryIsHarmless) {
  TDcFixture f;
  TDrawDevice* raw = MakeRef<TDrawDevice>(nullptr).Detach();
  auto owned = MakeRef<TOruDrawController>(raw, true, f.Factory());
  EXPECT_EQ(raw->RefCount(), 2);
  raw->Free();  // the controller keeps it alive
  EXPECT_EQ(owned->GetState(), kActive);
  owned = nullptr;  // frees the device, whose list frees the messenger

  auto none = MakeRef<TOruDrawController>(nullptr, true, nullptr);
  EXPECT_EQ(none->GetState(), 0u);
  EXPECT_FALSE(none->GetDrawer());
  none->RndLost();
  EXPECT_EQ(none->GetState(), kReinited);  // never ready: it stays up
  EXPECT_EQ(none->GetState(), kReinited);
}

TEST(OruDrawControllerTest, FormDeviceRepaintAndSizeChangeReachTheControllerAndWakeItsEngine) {
  TDcFixture f;
  TZmForm* form = new TZmForm();
  form->AfterConstruction();
  auto device = MakeRef<TZmFormDevice>(form);
  device->SetBounds(TRect{0, 0, 64, 48}, TPoint{}, false);
  int wakes = 0;
  auto c = MakeRef<TOruDrawController>(device.get(), false, f.Factory(), [&] { ++wakes; });
  ASSERT_TRUE(c->GetDrawer());
  f.Link->Ready = true;
  f.Link->Rect = TRect{0, 0, 64, 48};
  EXPECT_EQ(c->GetState() & kSize, 0u);
  // A repaint of the window (the host panel's paint, a new renderer).
  device->Refresh();
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(c->GetState() & kSize, kSize);
  EXPECT_EQ(c->GetState() & kSize, 0u);
  // The device's own link from its bounds to its refresh stays.
  device->SetBounds(TRect{0, 0, 64, 48}, TPoint{3, 3}, false);
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(c->GetState() & kSize, kSize);
  // A lost device wakes it too.
  f.Link->OnDeviceRecreated();
  EXPECT_EQ(wakes, 3);
  c = nullptr;
  device->Refresh();  // unbound: nothing reaches the controller that went
  EXPECT_EQ(wakes, 3);
  device = nullptr;
  form->Free();
}

// ---- The listener side ----

TEST(OruEngineListenerTest, PositionReportsOfAnOlderOpenAreDroppedAndOtherIdsPassThrough) {
  class TIdleEngine : public TCustomOruEngine {
  public:
    using TCustomOruEngine::TCustomOruEngine;
    void Step() override {}
  };
  auto listener = MakeRef<TThreadEventList>();
  listener->BindOwner();
  auto engine = MakeRef<TIdleEngine>(listener.get());
  int firstFrames = 0;
  std::vector<std::int32_t> positions;
  std::vector<std::int32_t> others;
  engine->OnFirstFrame = [&](TCustomOruEngine*) { ++firstFrames; };
  engine->OnPosition = [&](TCustomOruEngine*, std::int32_t time, bool ended, std::int32_t endTime) {
    positions.insert(positions.end(), {time, ended ? 1 : 0, endTime});
  };
  engine->OnEngineEvent = [&](TCustomOruEngine*, TOruEventData* e) {
    others.push_back(e->Id);
    ASSERT_EQ(e->Params.size(), 1u);
    others.push_back(e->Params[0]);
  };
  EXPECT_EQ(engine->NextGeneration(), 1);
  EXPECT_EQ(engine->NextGeneration(), 2);
  const std::int32_t stale[] = {1, 100, 200, 0};
  const std::int32_t current[] = {2, 300, 400, 1};
  const std::int32_t shortReport[] = {2, 500};
  const std::int32_t other[] = {42};
  engine->PostToListener(2, stale, false, nullptr);
  engine->PostToListener(2, current, false, nullptr);
  engine->PostToListener(2, shortReport, false, nullptr);
  engine->PostToListener(1, {}, false, nullptr);
  engine->PostToListener(7, other, false, nullptr);
  listener->Post(engine->ListenerEventId(), MakeRef<TList>().Detach());  // not an engine record
  listener->ProcessEvents();
  EXPECT_EQ(positions, (std::vector<std::int32_t>{300, 1, 400}));
  EXPECT_EQ(firstFrames, 1);
  EXPECT_EQ(others, (std::vector<std::int32_t>{7, 42}));

  // Unassigned callbacks are skipped; after the engine goes its id is dead.
  engine->OnFirstFrame = nullptr;
  engine->PostToListener(1, {}, false, nullptr);
  listener->ProcessEvents();
  const std::int32_t id = engine->ListenerEventId();
  engine = nullptr;
  listener->Post(id, MakeRef<TOruEventData>(1, std::span<const std::int32_t>{}, false, nullptr).Detach());
  listener->ProcessEvents();
  EXPECT_EQ(firstFrames, 1);
  listener->Close();
}

TEST(OruEngineListenerTest, EventDataCopiesParamsAndFreesOnlyOwnedData) {
  std::vector<std::int32_t> params{1, 2, 3};
  TList* owned = MakeRef<TList>().Detach();
  auto kept = MakeRef<TList>();
  auto a = MakeRef<TOruEventData>(5, params, true, owned);
  auto b = MakeRef<TOruEventData>(6, params, false, kept.get());
  params[0] = 99;
  EXPECT_EQ(a->Params, (std::vector<std::int32_t>{1, 2, 3}));
  a = nullptr;  // frees the owned list (the leak checker would see it otherwise)
  b = nullptr;
  EXPECT_EQ(kept->RefCount(), 1);
}

}  // namespace
