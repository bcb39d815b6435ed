// Frames and nesting of the base drawer, bad item trees, the fit rules,
// the letterbox and frame capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "tests/ZmLib/3DBasics/DeviceDrawerDoubles.h"

namespace zm::test {
namespace {

using Log = std::vector<std::string>;

TEST(DeviceDrawer, TopLevelDrawIsOneFrameAndGivesEndFramesResult) {
  auto drawer = MakeRef<TRecordingDrawer>();
  auto item = MakeRef<TScriptItem>();
  EXPECT_TRUE(drawer->Draw(item.get()));
  EXPECT_EQ(drawer->log, (Log{"begin", "draw", "end", "reset"}));

  drawer->log.clear();
  drawer->endResult = false;
  EXPECT_FALSE(drawer->Draw(item.get()));
  EXPECT_EQ(drawer->log, (Log{"begin", "draw", "end", "reset"}));

  // No device: the frame is still bracketed and the item still reset.
  drawer->log.clear();
  drawer->canDraw = false;
  drawer->endResult = true;
  EXPECT_TRUE(drawer->Draw(item.get()));
  EXPECT_EQ(drawer->log, (Log{"begin", "end", "reset"}));
  EXPECT_EQ(item->draws, 2);
  EXPECT_EQ(item->resets, 3);
  EXPECT_EQ(drawer->DrawDepth, 0);
}

TEST(DeviceDrawer, NestedDrawsDrawOnlyTheItem) {
  auto drawer = MakeRef<TRecordingDrawer>();
  auto outer = MakeRef<TScriptItem>();
  auto inner = MakeRef<TScriptItem>();
  std::vector<bool> results;
  std::vector<std::int32_t> depths;
  inner->onDraw = [&](TDeviceDrawer& d) { depths.push_back(d.DrawDepth); };
  outer->onDraw = [&](TDeviceDrawer& d) {
    results.push_back(d.Draw(inner.get()));
    drawer->canDraw = false;  // the device goes in the middle of the frame
    results.push_back(d.Draw(inner.get()));
  };
  EXPECT_TRUE(drawer->Draw(outer.get()));
  EXPECT_EQ(results, (std::vector<bool>{true, false}));
  EXPECT_EQ(depths, (std::vector<std::int32_t>{2}));
  EXPECT_EQ(inner->resets, 0);
  EXPECT_EQ(drawer->log, (Log{"begin", "draw", "draw", "end", "reset"}));
  EXPECT_EQ(drawer->DrawDepth, 0);
}

TEST(DeviceDrawer, CyclesNilAndDisposedItemsDrawNothing) {
  auto drawer = MakeRef<TRecordingDrawer>();
  EXPECT_FALSE(drawer->Draw(nullptr));
  EXPECT_TRUE(drawer->log.empty());

  // a -> b -> a, and a -> a.
  auto a = MakeRef<TScriptItem>();
  auto b = MakeRef<TScriptItem>();
  std::vector<bool> results;
  a->onDraw = [&](TDeviceDrawer& d) {
    results.push_back(d.Draw(a.get()));
    results.push_back(d.Draw(b.get()));
  };
  b->onDraw = [&](TDeviceDrawer& d) { results.push_back(d.Draw(a.get())); };
  EXPECT_TRUE(drawer->Draw(a.get()));
  EXPECT_EQ(results, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(a->draws, 1);
  EXPECT_EQ(b->draws, 1);

  // A disposed item still referenced is not drawn, at the top or nested.
  auto gone = MakeRef<TScriptItem>();
  gone->Dispose();
  drawer->log.clear();
  EXPECT_FALSE(drawer->Draw(gone.get()));
  EXPECT_TRUE(drawer->log.empty());
  auto parent = MakeRef<TScriptItem>();
  bool nested = true;
  parent->onDraw = [&](TDeviceDrawer& d) { nested = d.Draw(gone.get()); };
  EXPECT_TRUE(drawer->Draw(parent.get()));
  EXPECT_FALSE(nested);
  EXPECT_EQ(gone->draws, 0);
  EXPECT_EQ(drawer->DrawDepth, 0);
}

TEST(DeviceDrawer, ItemFreedByItsOwnDrawLivesUntilTheDrawEnds) {
  auto drawer = MakeRef<TRecordingDrawer>();
  auto holder = MakeRef<TScriptItem>();
  TScriptItem* raw = holder.get();
  raw->onDraw = [&](TDeviceDrawer&) { holder = nullptr; };
  EXPECT_TRUE(drawer->Draw(raw));  // ASan reports any use after the free
  EXPECT_EQ(drawer->log, (Log{"begin", "draw", "end", "reset"}));
}

TEST(DeviceDrawer, RunawayChainStopsAtTheDepthLimit) {
  auto drawer = MakeRef<TRecordingDrawer>();
  std::vector<TRef<TScriptItem>> chain;
  for (int i = 0; i < 200; ++i) chain.push_back(MakeRef<TScriptItem>());
  std::int32_t deepest = 0;
  for (std::size_t i = 0; i + 1 < chain.size(); ++i)
    chain[i]->onDraw = [&, i](TDeviceDrawer& d) {
      deepest = std::max(deepest, d.DrawDepth);
      d.Draw(chain[i + 1].get());
    };
  EXPECT_TRUE(drawer->Draw(chain[0].get()));
  EXPECT_EQ(deepest, TDeviceDrawer::kMaxDrawDepth);
  EXPECT_EQ(chain[TDeviceDrawer::kMaxDrawDepth]->draws, 0);
  EXPECT_EQ(drawer->DrawDepth, 0);
}

TEST(DeviceDrawer, ThrowingItemLeavesDepthAndLockFree) {
  auto drawer = MakeRef<TRecordingDrawer>();
  auto bad = MakeRef<TScriptItem>();
  bad->onDraw = [](TDeviceDrawer&) { throw std::runtime_error("broken item"); };
  EXPECT_THROW(drawer->Draw(bad.get()), std::runtime_error);
  EXPECT_EQ(drawer->DrawDepth, 0);
  // Another thread gets the lock (a kept lock would hang here).
  auto good = MakeRef<TScriptItem>();
  bool result = false;
  std::thread t([&] { result = drawer->Draw(good.get()); });
  t.join();
  EXPECT_TRUE(result);
}

TEST(DeviceDrawer, OffsetViewAndVisibleRect) {
  auto d = MakeRef<TRecordingDrawer>();
  d->SetDrawOffset({0, 0.5f});
  EXPECT_TRUE(d->OffsetSet);
  d->SetDrawOffset({0, 0});
  EXPECT_FALSE(d->OffsetSet);

  d->Bounds = {0, 0, 100, 50};
  EXPECT_EQ(d->GetVisibleRect(), (TRect{0, 0, 100, 50}));
  d->SetClipRect({10, 5, 10, 40});  // zero width: the whole surface
  EXPECT_EQ(d->GetVisibleRect(), (TRect{0, 0, 100, 50}));
  d->SetClipRect({10, 5, 90, 45});
  EXPECT_EQ(d->GetVisibleRect(), (TRect{10, 5, 90, 45}));

  EXPECT_EQ(d->GetViewRectF(), (TFloatRect{0, 0, 100, 50}));
  EXPECT_EQ(d->GetVirtualSize(), (TFloatPoint{100, 50}));
  d->SetView({1, 2, 1, 9}, {640, 0}, true, {1, 2, 3});  // empty rect, one side 0
  EXPECT_EQ(d->GetViewRectF(), (TFloatRect{0, 0, 100, 50}));
  EXPECT_EQ(d->GetVirtualSize(), (TFloatPoint{100, 50}));
  EXPECT_EQ(d->Camera, (TFloatPoint3{1, 2, 3}));
  d->SetView({1, 2, 3, 9}, {640, 480}, false, {});
  EXPECT_EQ(d->GetViewRectF(), (TFloatRect{1, 2, 3, 9}));
  EXPECT_EQ(d->GetVirtualSize(), (TFloatPoint{640, 480}));
}

TEST(DeviceDrawer, FillOutsideVisiblePaintsTheBands) {
  auto d = MakeRef<TRecordingDrawer>();
  d->Bounds = {0, 0, 100, 50};
  d->FillOutsideVisible(0x123456);  // no clip: only the ring outside the surface
  EXPECT_EQ(d->fills, (std::vector<TRect>{{-1, -1, 101, 0}, {-1, 0, 0, 50}, {100, 0, 101, 50}, {-1, 50, 101, 51}}));

  d->fills.clear();
  d->SetClipRect({10, 5, 90, 45});
  d->FillOutsideVisible(0xFF000000u);
  EXPECT_EQ(d->fills, (std::vector<TRect>{{-1, -1, 101, 5}, {-1, 5, 10, 45}, {90, 5, 101, 45}, {-1, 45, 101, 51}}));

  d->fills.clear();
  d->SetClipRect({-1, -1, 101, 51});  // covers the grown surface: nothing to paint
  d->FillOutsideVisible(0);
  EXPECT_TRUE(d->fills.empty());

  // A damaged surface rectangle at the limits of the type.
  d->fills.clear();
  d->Bounds = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  d->SetClipRect({});
  d->FillOutsideVisible(0);
  EXPECT_TRUE(d->fills.empty());
  EXPECT_EQ(d->GetVirtualSize().X, 4294967295.0f);
  EXPECT_FALSE(d->CaptureFrame());
}

TEST(DeviceDrawer, FillQuadTakesOpacityFromAlpha) {
  auto d = MakeRef<TRecordingDrawer>();
  d->FillQuad({10, 20}, {30, 20}, {10, 60}, TColor32::FromValue(0x80FF0000u));
  EXPECT_EQ(d->lastOrigin, (TFloatPoint{10, 20}));
  EXPECT_EQ(d->lastOffset, (TFloatPoint{0, 0}));
  EXPECT_EQ(d->lastAxisX, (TFloatPoint{20, 0}));
  EXPECT_EQ(d->lastAxisY, (TFloatPoint{0, 40}));
  EXPECT_EQ(d->lastFill.Kind, 8);
  EXPECT_EQ(d->lastFill.Colour1.Value(), 0x80FF0000u);
  EXPECT_EQ(d->lastFill.Colour2.Value(), 0xFF000000u);
  EXPECT_FLOAT_EQ(d->lastFill.Opacity, 128.0f / 255.0f * 100.0f);
  EXPECT_FALSE(d->lastFill.Edges[0] || d->lastFill.Edges[1] || d->lastFill.Edges[2] || d->lastFill.Edges[3]);
}

TEST(DeviceDrawer, FitRules) {
  EXPECT_EQ(FitSizeNoEnlarge({4000, 3000}, {800, 800}), (TSize{800, 600}));
  EXPECT_EQ(FitSizeNoEnlarge({400, 300}, {800, 800}), (TSize{400, 300}));
  EXPECT_EQ(FitSize({400, 300}, {800, 800}), (TSize{800, 600}));
  EXPECT_EQ(FitSize({300, 400}, {800, 800}), (TSize{600, 800}));
  EXPECT_EQ(FitSizeNoEnlarge({300, 400}, {100, 1000}), (TSize{100, 133}));
  // Halves go to the even neighbour: 5 x 2 / 4 = 2.5, 7 x 2 / 4 = 3.5.
  EXPECT_EQ(FitSize({4, 2}, {5, 100}), (TSize{5, 2}));
  EXPECT_EQ(FitSize({4, 2}, {7, 100}), (TSize{7, 4}));
  // The product wraps in 32 bits: 100000 x 50000 = 705032704 (mod 2^32).
  EXPECT_EQ(FitSize({100000, 50000}, {100000, 100000}), (TSize{100000, 7050}));
  // Sides below 1 fit nothing.
  EXPECT_EQ(FitSize({0, 10}, {10, 10}), (TSize{}));
  EXPECT_EQ(FitSize({10, 10}, {10, 0}), (TSize{}));
  EXPECT_EQ(FitSizeNoEnlarge({-5, 10}, {10, 10}), (TSize{}));
  EXPECT_EQ(FitSizeNoEnlarge({10, 10}, {-3, 10}), (TSize{}));
}

TEST(DeviceDrawer, CaptureFrame) {
  auto d = MakeRef<TRecordingDrawer>();
  d->Bounds = {0, 0, 16, 9};
  EXPECT_TRUE(d->CaptureFrame());
  EXPECT_EQ(d->readSize, (TPoint{16, 9}));
  EXPECT_EQ(d->readFormat, pfR8G8B8);

  d->readResult = false;  // the bitmap is freed (LeakSanitizer checks)
  EXPECT_FALSE(d->CaptureFrame());

  d->readResult = true;
  d->readSize = {};
  d->Bounds = {0, 0, 0, 9};
  EXPECT_FALSE(d->CaptureFrame());
  EXPECT_EQ(d->readSize, (TPoint{}));
}

}  // namespace
}  // namespace zm::test
