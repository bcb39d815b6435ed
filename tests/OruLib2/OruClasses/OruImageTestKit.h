#pragma once
// Doubles for the image, box and view-port tests: a drawer that logs what it
// is asked to draw (and draws the items of a masked draw, as the 3D drawer
// does), pictures made from a function, and a slide root with a host.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruBox.h"
#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/OruViewPort.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "tests/OruLib2/OruClasses/OruObjectsTestKit.h"

namespace oru_image_test {

using namespace oru;
using namespace oru_objects_test;
using zm::TColor32;
using zm::TFloatRect;
using zm::TGradientFill;
using zm::TImage;
using zm::TImageDrawParams;

struct TImageCall {
  TImage* Image;
  TFloatPoint Origin, AxisX, AxisY;
  TImageDrawParams Params;
};
struct TFrameCall {
  TFloatPoint Origin, Size, Border;
  float Opacity;
  TColor32 Colour;
};
struct TMaskCall {
  zm::TDrawItem* Mask;
  zm::TDrawItem* Content;
  float Opacity;
  TImage* Pattern;
};

class TLogDrawer : public zm::TDeviceDrawer {
public:
  bool canDraw = true;
  std::vector<TImageCall> images;
  std::vector<TImageCall> prepared;
  std::vector<TImage*> released;
  std::vector<TGradientFill> fills;
  std::vector<TFloatPoint> fillOrigins, fillAxesX, fillAxesY;
  std::vector<TFrameCall> frames;
  std::vector<TMaskCall> masks;

  void BeginFrame() override {}
  bool EndFrame() override { return true; }
  bool CanDraw() override { return canDraw; }
  bool Open(zm::TDrawDevice*) override { return true; }
  void Close() override {}
  void PrepareImage(TImage* image, const TImageDrawParams& params) override {
    prepared.push_back({image, {}, {}, {}, params});
  }
  void ReleaseImageTextures(TImage* image) override { released.push_back(image); }
  void SetFixedFrameSize(const zm::TSize&) override {}
  void RestoreDeviceStates() override {}
  void Clear(TColor32, bool) override {}
  void FillRect(TColor32, const zm::TRect&) override {}
  void DrawTransition(zm::TDrawItem*, zm::TDrawItem*, zm::TFilterParams*) override {}
  void DrawImage(TImage* image, const TFloatPoint& origin, const TImageDrawParams& params, const TFloatPoint& ax,
                 const TFloatPoint& ay) override {
    images.push_back({image, origin, ax, ay, params});
  }
  void FillGradientQuad(const TFloatPoint& origin, const TFloatPoint&, const TGradientFill& fill,
                        const TFloatPoint& ax, const TFloatPoint& ay) override {
    fills.push_back(fill);
    fillOrigins.push_back(origin);
    fillAxesX.push_back(ax);
    fillAxesY.push_back(ay);
  }
  void DrawGradientFrame(bool, const TFloatPoint& origin, bool, float opacity, TColor32 colour,
                         const TFloatPoint& size, const TFloatPoint& border) override {
    frames.push_back({origin, size, border, opacity, colour});
  }
  zm::TRef<zm::TYUVImage> CreateVideoImage(std::int32_t, std::int32_t, bool) override { return nullptr; }
  void DrawVideoImage(const zm::TVideoDrawParams&, const TFloatPoint&, const TFloatPoint&,
                      const TFloatPoint&) override {}
  void FillRectF(const TFloatPoint&, const TFloatPoint&, TColor32) override {}
  bool DrawMasked(zm::TDrawItem* mask, zm::TDrawItem* content) override {
    return DrawMasked(mask, content, 100, nullptr);
  }
  bool DrawMasked(zm::TDrawItem* mask, zm::TDrawItem* content, float opacity, TImage* pattern) override {
    masks.push_back({mask, content, opacity, pattern});
    const bool a = Draw(content);
    const bool b = Draw(mask);
    return a && b;
  }
  void BeginSharpen() override {}
  void EndSharpen(float) override {}
  void BeginTrail(float) override {}
  void EndTrail() override {}
  bool ReadFrame(zm::TBitmap*) override { return false; }
};

// A w x h A8R8G8B8 picture from pixel(x, y).
inline zm::TRef<TImage> MakePicture(std::int32_t w, std::int32_t h,
                                    const std::function<std::uint32_t(int, int)>& pixel) {
  zm::TRef<zm::TSysBitmap> b = zm::CreateSysBitmap(w, h, zm::pfA8R8G8B8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = pixel(x, y);
      std::memcpy(b->ScanLine(y) + 4 * x, &p, 4);
    }
  zm::TRef<zm::TBitmapStore> store =
      zm::MakeRef<zm::TWrapperBitmapStore>(u"test", zm::TImageLoadHandler{}, false, b.get());
  return zm::MakeRef<TImage>(store.get());
}

// The test slide with a host when one is given.
class THostedSlide : public TTestSlide {
public:
  zm::TRef<TOruSlideHost> Host;
  TOruSlideHost* GetHost() override { return Host.get(); }
};

inline TTestTree BuildHostedTree(const std::string& body, TOruSlideHost* host, float width = 320,
                                 float height = 240) {
  TTestTree t;
  t.File = zm::MakeRef<zm::TIniFile>();
  t.File->LoadFromText(zm::TByteString("[Slide1]\r\nGUID={S}\r\n" + body));
  t.Props = zm::MakeRef<TOruObjectProps>();
  t.Props->LoadFromIni(t.File->FindSection(u"Slide1"));
  t.Props->ScaleTimes({0, 0, 10000, 10000}, 1);
  zm::TRef<THostedSlide> slide = TOruObject::Create<THostedSlide>(nullptr, t.Props.get());
  slide->Host = zm::TRef<TOruSlideHost>(host);
  slide->Width = width;
  slide->Height = height;
  t.Slide = slide;
  t.Slide->Load(t.Props.get(), false);
  return t;
}

}  // namespace oru_image_test
