#pragma once
// A drawer that records the calls the base makes and answers as told.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ZmLib/3DBasics/DeviceDrawer.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmImage.h"

namespace zm::test {

class TRecordingDrawer : public TDeviceDrawer {
public:
  bool canDraw = true;
  bool endResult = true;
  bool readResult = true;
  std::vector<std::string> log;
  std::vector<TRect> fills;
  TGradientFill lastFill;
  TFloatPoint lastOrigin, lastOffset, lastAxisX, lastAxisY;
  TPoint readSize;
  TPixelFormat* readFormat = nullptr;

  void BeginFrame() override { log.push_back("begin"); }
  bool EndFrame() override {
    log.push_back("end");
    return endResult;
  }
  bool CanDraw() override { return canDraw; }
  bool Open(TDrawDevice*) override { return false; }
  void Close() override {}
  void PrepareImage(TImage*, const TImageDrawParams&) override {}
  void ReleaseImageTextures(TImage*) override {}
  void SetFixedFrameSize(const TSize&) override {}
  void RestoreDeviceStates() override {}
  void Clear(TColor32, bool) override {}
  void FillRect(TColor32 colour, const TRect& rect) override {
    EXPECT_EQ(colour.A, 255);
    fills.push_back(rect);
  }
  void DrawTransition(TDrawItem*, TDrawItem*, TFilterParams*) override {}
  void DrawImage(TImage*, const TFloatPoint&, const TImageDrawParams&, const TFloatPoint&,
                 const TFloatPoint&) override {}
  void FillGradientQuad(const TFloatPoint& origin, const TFloatPoint& offset, const TGradientFill& fill,
                        const TFloatPoint& axisX, const TFloatPoint& axisY) override {
    lastOrigin = origin;
    lastOffset = offset;
    lastFill = fill;
    lastAxisX = axisX;
    lastAxisY = axisY;
  }
  void DrawGradientFrame(bool, const TFloatPoint&, bool, float, TColor32, const TFloatPoint&,
                         const TFloatPoint&) override {}
  TRef<TYUVImage> CreateVideoImage(std::int32_t, std::int32_t, bool) override { return nullptr; }
  void DrawVideoImage(const TVideoDrawParams&, const TFloatPoint&, const TFloatPoint&, const TFloatPoint&) override {}
  void FillRectF(const TFloatPoint&, const TFloatPoint&, TColor32) override {}
  bool DrawMasked(TDrawItem*, TDrawItem*) override { return false; }
  void BeginSharpen() override {}
  void EndSharpen(float) override {}
  void BeginTrail(float) override {}
  void EndTrail() override {}
  bool ReadFrame(TBitmap* bitmap) override {
    readSize = {bitmap->Width(), bitmap->Height()};
    readFormat = bitmap->PixelFormat();
    return readResult;
  }
};

// An item that runs a function when drawn and logs into its drawer.
class TScriptItem : public TDrawItem {
public:
  std::function<void(TDeviceDrawer&)> onDraw;
  int draws = 0;
  int resets = 0;
  void Draw(TDeviceDrawer& drawer) override {
    ++draws;
    if (auto* r = dynamic_cast<TRecordingDrawer*>(&drawer)) r->log.push_back("draw");
    if (onDraw) onDraw(drawer);
  }
  void Reset(TDeviceDrawer& drawer) override {
    ++resets;
    if (auto* r = dynamic_cast<TRecordingDrawer*>(&drawer)) r->log.push_back("reset");
  }
};

}  // namespace zm::test
