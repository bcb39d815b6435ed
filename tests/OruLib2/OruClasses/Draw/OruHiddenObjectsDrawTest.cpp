// Objects painted over by opaque pictures above them are left out, whole or
// but for their edges: the frame comes out the same to the bit as when every
// object is drawn, with and without smoothed edges, edges anywhere between
// pixels, pictures that are translucent, faded, turned or shadowed above.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/OruLib2/OruClasses/OruImageTestKit.h"
#include "tests/support/DrawerOnDevice.h"

namespace {

using namespace oru_image_test;
using oru::objects::TOruImage;

class HiddenObjectsOnDevice : public drawertest::TDrawerOnDevice {
protected:
  HiddenObjectsOnDevice() : TDrawerOnDevice(160, 120) {}

  // One picture object: its keys, the key point's, and its picture.
  struct TPic {
    std::string keys, key;
    zm::TRef<TImage> picture;
  };
  static std::string Name(std::size_t i) { return "P" + std::to_string(i); }

  // The slide drawn with hidden objects left out and with every object
  // drawn: the two frames, the counts of the first.
  struct TDrawn {
    std::vector<std::uint32_t> leftOut, all;
    std::uint32_t whole = 0, edges = 0;
  };
  TDrawn DrawBoth(const std::vector<TPic>& pics) {
    std::string body;
    for (std::size_t i = 0; i < pics.size(); ++i)
      body += Obj(Name(i), "Image", "ImageName=p" + std::to_string(i) + ".png\r\n" + pics[i].keys + KeyAt(0, pics[i].key));
    TTestTree t = BuildTree(body, 160, 120);
    for (std::size_t i = 0; i < pics.size(); ++i) {
      auto* img = dynamic_cast<TOruImage*>(t.Find(Name(i)));
      EXPECT_NE(img, nullptr);
      if (img) img->AssignPicture(pics[i].picture.get(), false);
    }
    t.Layout(0);
    t.Slide->PrepareResources(*drawer);
    TDrawn d;
    for (const bool leave : {true, false}) {
      drawer->LeaveOutHiddenObjects = leave;
      EXPECT_TRUE(Frame(0xFF203040u, [&](oru::T3DDrawer& dr) { dr.Draw(t.Slide.get()); }));
      Capture();
      (leave ? d.leftOut : d.all) = px;
      if (leave) {
        d.whole = t.Slide->HiddenLeftOut;
        d.edges = t.Slide->HiddenByEdges;
      }
    }
    drawer->LeaveOutHiddenObjects = true;
    EXPECT_EQ(t.Slide->HiddenLeftOut + t.Slide->HiddenByEdges, 0u);
    return d;
  }
  // An 8 x 6 picture; without alpha (as a photo) unless one is given.
  static zm::TRef<TImage> Picture(std::uint32_t seed, std::uint32_t alpha = 0) {
    const auto texel = [=](int x, int y) {
      return ((std::uint32_t(x) * 0x3Bu + std::uint32_t(y) * 0x91u + seed) * 2654435761u) & 0xFFFFFFu;
    };
    if (alpha != 0) return MakePicture(8, 6, [=](int x, int y) { return alpha | texel(x, y); });
    zm::TRef<zm::TSysBitmap> b = zm::CreateSysBitmap(8, 6, zm::pfR8G8B8);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) {
        const std::uint32_t p = texel(x, y);
        std::memcpy(b->ScanLine(y) + 3 * x, &p, 3);
      }
    zm::TRef<zm::TBitmapStore> store =
        zm::MakeRef<zm::TWrapperBitmapStore>(u"test", zm::TImageLoadHandler{}, false, b.get());
    return zm::MakeRef<TImage>(store.get());
  }
};

std::string HiddenPlace(float x, float y, float scale) {
  return "Position=" + std::to_string(x) + "," + std::to_string(y) + "\r\nScaleX=" + std::to_string(scale) +
         "\r\nScaleY=" + std::to_string(scale) + "\r\n";
}

// A stack of one picture, and the same smaller under a larger one: the
// ones below draw their edges alone, the small ones nothing.
TEST_F(HiddenObjectsOnDevice, PicturesUnderOpaqueOnesAreLeftOut) {
  for (const std::string smooth : {"", "Antialiased=0\r\n"}) {
    SCOPED_TRACE(smooth.empty() ? "smoothed" : "plain");
    std::vector<TPic> stack;
    for (int i = 0; i < 5; ++i) stack.push_back({smooth, HiddenPlace(12.37f, -7.71f, 40), Picture(1)});
    TDrawn d = DrawBoth(stack);
    EXPECT_EQ(d.leftOut, d.all);
    EXPECT_EQ(d.edges, 4u);
    EXPECT_EQ(d.whole, 0u);

    std::vector<TPic> under;
    for (int i = 0; i < 6; ++i)
      under.push_back({smooth, HiddenPlace(-20.0f + 7.3f * float(i), 3.1f * float(i % 3), 12.5f), Picture(10 + i)});
    under.push_back({smooth, HiddenPlace(0.45f, 0.2f, 90), Picture(2)});
    d = DrawBoth(under);
    EXPECT_EQ(d.leftOut, d.all);
    EXPECT_EQ(d.whole, 6u);
  }
}

// What cannot paint over whole hides nothing under it (a picture with
// alpha, a faded one, one turned in depth, one with a shadow, one sampled
// without filtering). Between an opaque picture and what it covers, a
// translucent picture is left out with them; one the drawer cannot place
// (turned, shadowed, not filtered) may show what is below in ways of its
// own: everything under it is drawn.
TEST_F(HiddenObjectsOnDevice, WhatCannotCoverHidesNothing) {
  struct Case {
    const char* name;
    TPic pic;
    bool placed;  // the drawer tells where it draws
  };
  const Case cases[] = {
      {"alpha", {"", HiddenPlace(5.3f, 2.2f, 70), Picture(3, 0xC8000000u)}, true},
      {"faded", {"", HiddenPlace(5.3f, 2.2f, 70) + "Opacity=90\r\n", Picture(3)}, true},
      {"turned", {"", HiddenPlace(5.3f, 2.2f, 70) + "AngleY=20\r\n", Picture(3)}, false},
      {"shadow",
       {"ShadowEnable=1\r\nShadowSize=2\r\nShadowOpacity=100\r\nShadowDistance=10\r\n", HiddenPlace(5.3f, 2.2f, 70),
        Picture(3)},
       false},
      {"nearest", {"Filtering=Nearest\r\n", HiddenPlace(5.3f, 2.2f, 70), Picture(3)}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDrawn d = DrawBoth({{"", HiddenPlace(5.3f, 2.2f, 30), Picture(4)}, c.pic});
    EXPECT_EQ(d.leftOut, d.all);
    EXPECT_EQ(d.whole + d.edges, 0u);
    d = DrawBoth({{"", HiddenPlace(5.3f, 2.2f, 30), Picture(4)}, c.pic, {"", HiddenPlace(5.3f, 2.2f, 80), Picture(5)}});
    EXPECT_EQ(d.leftOut, d.all);
    EXPECT_EQ(d.whole, c.placed ? 2u : 0u);
  }
}

// Many pictures of any size anywhere, opaque, translucent and faded: the
// frame is the same; some are left out.
TEST_F(HiddenObjectsOnDevice, ScatteredPicturesDrawTheSameFrame) {
  std::mt19937 rng(31);
  std::uniform_real_distribution<float> pos(-45, 45), scale(5, 60);
  for (int round = 0; round < 4; ++round) {
    std::vector<TPic> pics;
    for (int i = 0; i < 40; ++i) {
      const int kind = int(rng() % 10);
      std::string key = HiddenPlace(pos(rng), pos(rng), scale(rng));
      if (kind == 8) key += "Opacity=70\r\n";
      pics.push_back({round % 2 ? "Antialiased=0\r\n" : "", key,
                      Picture(std::uint32_t(rng()), kind == 9 ? 0x80000000u : 0)});
    }
    TDrawn d = DrawBoth(pics);
    EXPECT_EQ(d.leftOut, d.all) << "round " << round;
    EXPECT_GT(d.whole + d.edges, 0u) << "round " << round;
  }
}

}  // namespace
