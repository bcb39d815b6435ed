// Still pictures readied at the size they are drawn at, against the same
// pictures filtered from their mip level every frame.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "OruLib2/3DEngine/ScreenLevels.h"
#include "Platform/Gfx/GfxRaster.h"
#include "tests/support/DrawerOnDevice.h"

namespace {

using namespace zm;
using namespace oru;
using drawertest::MakeImage;

TEST(ScreenPlacement, AxisAlignedOnTheDeviceGrid) {
  TScreenPlacement p;
  // 150.1 .. 1770.3 wide, device pixels 151 to 1770 covered, one more all round.
  ASSERT_TRUE(PlaceOnScreen({150.1f, 0}, {1770.3f, 0.0004f}, {150.1f, 1080}, false, p));
  EXPECT_EQ(p.Left, std::floor(150.1 * 256 + 0.5) / 256);
  EXPECT_EQ(p.X, 150);
  EXPECT_EQ(p.Width, 1622);
  EXPECT_EQ(p.Y, -1);
  EXPECT_EQ(p.Height, 1082);
  // Smoothed: half a pixel on.
  ASSERT_TRUE(PlaceOnScreen({150, 0}, {1770, 0}, {150, 1080}, true, p));
  EXPECT_EQ(p.Left, 149.5);
  EXPECT_EQ(p.X, 149);
  EXPECT_EQ(p.Width, 1622);
  EXPECT_FALSE(PlaceOnScreen({0, 0}, {100, 1}, {0, 50}, false, p));       // turned
  EXPECT_FALSE(PlaceOnScreen({100, 0}, {0, 0}, {100, 50}, false, p));     // mirrored
  EXPECT_FALSE(PlaceOnScreen({0.2f, 0}, {0.7f, 0}, {0.2f, 50}, false, p));  // between pixel centres
  EXPECT_FALSE(PlaceOnScreen({0, 0}, {9000, 0}, {0, 50}, false, p));      // too wide
  EXPECT_FALSE(PlaceOnScreen({0, 0}, {std::nanf(""), 0}, {0, 50}, false, p));
  // Whole texels, one per pixel, centres on centres: smoothed at whole
  // pixels, plain half a pixel on.
  ASSERT_TRUE(PlaceOnScreen({7, 9}, {107, 9}, {7, 59}, true, p));
  EXPECT_TRUE(ReadsOneToOne({3, 4, 103, 54}, p));
  EXPECT_FALSE(ReadsOneToOne({3, 4, 203, 54}, p));
  ASSERT_TRUE(PlaceOnScreen({7, 9}, {107, 9}, {7, 59}, false, p));
  EXPECT_FALSE(ReadsOneToOne({3, 4, 103, 54}, p));
  ASSERT_TRUE(PlaceOnScreen({7.5f, 9.5f}, {107.5f, 9.5f}, {7.5f, 59.5f}, false, p));
  EXPECT_TRUE(ReadsOneToOne({3, 4, 103, 54}, p));
  ASSERT_TRUE(PlaceOnScreen({2, 3}, {4.5f, 3}, {2, 5}, true, p));
  EXPECT_EQ(ScreenLevelKey(1, p, {0, 0.5f, 1, 2}), "ScreenTexID: 1:S:384:640:1024:1152:00000000:3F000000:3F800000:40000000");
  // Bad levels and sizes make nothing.
  EXPECT_FALSE(MakeScreenLevel(nullptr, {0, 0, 1, 1}, p));
  TRef<TSysBitmap> b = CreateSysBitmap(4, 4, pfA8R8G8B8);
  EXPECT_FALSE(MakeScreenLevel(b.get(), {0, 0, 0, 4}, p));
  EXPECT_FALSE(MakeScreenLevel(b.get(), {0, 0, std::nanf(""), 4}, p));
  EXPECT_FALSE(MakeScreenLevel(b.get(), {0, 0, 4, 4}, TScreenPlacement{}));
  EXPECT_TRUE(MakeScreenLevel(b.get(), {0, 0, 4, 4}, p));
}

class ScreenLevelsOnDevice : public drawertest::TDrawerOnDevice {
protected:
  ScreenLevelsOnDevice() : TDrawerOnDevice(200, 150) {}
  // Pictures are readied at their screen size once a frame has been drawn
  // at the surface's size.
  void SetUp() override {
    TDrawerOnDevice::SetUp();
    ASSERT_TRUE(Frame(0xFF000000u, {}));
  }

  struct Case {
    const char* name;
    int w, h;                  // picture
    TFloatRect source;         // picture pixels; empty: the whole picture
    int level;
    float x, y, dw, dh;        // where the source lands, in pixels
    bool antialiased;
    float opacity;
    bool oneToOne;             // expected to take the 1:1 texture
  };

  static bool HasScreenLevel(TImage* image) {
    TList* cache = image->Store()->GetCacheList();
    std::int32_t i = 0;
    if (!cache->FindByClass<TTextureStore2>(i)) return false;
    for (const TTextureWrapper& t : static_cast<TTextureStore2*>(cache->Get(i))->Textures)
      if (t.Key.rfind("ScreenTexID: ", 0) == 0) return true;
    return false;
  }

  // The frame of the case with the 1:1 path on or off; the rows read 1:1.
  std::vector<std::uint32_t> Draw(const Case& c, TImage* image, bool screenLevels, std::uint64_t& direct,
                                   bool& made) {
    drawer->ScreenSizedPictures = screenLevels;
    drawer->ReleaseImageTextures(image);
    const float scale = std::ldexp(1.0f, c.level);
    TFloatRect source = c.source;
    if (!(source.Right > source.Left)) source = {0, 0, float(c.w), float(c.h)};
    TImageDrawParams p;
    p.Filtering = 1;
    p.Antialiased = c.antialiased;
    p.Opacity = c.opacity;
    p.Level = c.level;
    p.SourceRect = source;
    const TFloatPoint ax{c.dw / (source.Right - source.Left), 0}, ay{0, c.dh / (source.Bottom - source.Top)};
    // Picture pixel (0, 0) lands where the source's corner is to go.
    const TFloatPoint o{c.x - source.Left * ax.X, c.y - source.Top * ay.Y};
    TImageDrawParams still = p;
    still.Still = true;
    still.StillOrigin = o;
    still.StillAxisX = ax;
    still.StillAxisY = ay;
    drawer->PrepareImage(image, still);
    made = HasScreenLevel(image);
    (void)scale;
    // Rows of the span path and runs of the row path read 1:1.
    const auto read = [] { return plat::gfx::GfxDirectRowCount() + plat::gfx::GfxDirectRunCount(); };
    const std::uint64_t before = read();
    EXPECT_TRUE(Frame(0xFF203040u, [&](T3DDrawer& d) { d.DrawImage(image, o, p, ax, ay); }));
    direct = read() - before;
    Capture();
    return px;
  }
};

TEST_F(ScreenLevelsOnDevice, TheOneToOnePathDrawsWhatTheFilteredLevelDraws) {
  const Case cases[] = {
      {"larger, odd", 601, 451, {}, 0, 20, 10, 150, 113, false, 100, true},
      {"larger, smoothed", 601, 451, {}, 0, 20, 10, 150, 113, true, 100, true},
      {"mip level 1", 1202, 902, {}, 1, 3, 7, 161, 121, true, 100, true},
      {"smaller, magnified", 37, 23, {}, 0, 9, 5, 150, 93, true, 100, true},
      {"smaller, half opaque", 37, 23, {}, 0, 9, 5, 150, 93, false, 55, true},
      {"odd crop", 333, 201, {10.5f, 3, 300, 180.25f}, 0, 51, 37, 97, 59, true, 100, true},
      {"past the edges", 300, 300, {}, 0, -40, -60, 260, 250, true, 100, true},
      {"fractional edges", 601, 451, {}, 0, 20.37f, 10.81f, 150.12f, 112.83f, false, 100, true},
      {"fractional, smoothed", 601, 451, {}, 0, 20.37f, 10.81f, 150.12f, 112.83f, true, 80, true},
      {"fractional, magnified", 41, 29, {}, 0, 60.6f, 40.2f, 100.7f, 80.4f, true, 100, true},
      {"equal size", 120, 90, {}, 0, 30, 20, 120, 90, true, 100, false},
      {"equal, half a pixel on", 120, 90, {}, 0, 30.5f, 20.5f, 120, 90, false, 100, false},
  };
  std::mt19937 rng(42);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Noise: every weight counts.
    std::vector<std::uint32_t> noise(std::size_t(c.w) * std::size_t(c.h));
    for (auto& p : noise) p = rng() | 0xFF000000u;
    TRef<TImage> image = MakeImage(c.w, c.h, [&](int x, int y) { return noise[std::size_t(y) * c.w + x]; });
    std::uint64_t directOn = 0, directOff = 0;
    bool madeOn = false, madeOff = false;
    const std::vector<std::uint32_t> on = Draw(c, image.get(), true, directOn, madeOn);
    const std::vector<std::uint32_t> off = Draw(c, image.get(), false, directOff, madeOff);
    EXPECT_EQ(madeOn, c.oneToOne);
    EXPECT_FALSE(madeOff);
    if (c.oneToOne) EXPECT_GT(directOn, directOff);
    // The device snaps each tile's corners and texture coordinates: a
    // weight may differ by 1/256 on each axis, so a channel by up to 2.
    int bad = 0;
    double sum = 0;
    for (std::size_t i = 0; i < on.size(); ++i) {
      const std::uint32_t a = on[i] & 0xFFFFFF, b = off[i] & 0xFFFFFF;
      for (int s = 0; s < 24; s += 8) sum += std::abs(drawertest::Channel(a, s) - drawertest::Channel(b, s));
      if (!drawertest::Near(a, b, 2) && ++bad <= 3)
        ADD_FAILURE() << "at " << i % std::size_t(w) << "," << i / std::size_t(w) << ": " << std::hex << a << " " << b;
    }
    EXPECT_EQ(bad, 0);
    EXPECT_LT(sum / double(3 * on.size()), 0.25);  // no half-pixel shift (that gives tens)
  }
}

// Before any frame at the surface's size (a window still being laid out, a
// show's first slides) a still picture is readied from its level, as the
// first frame wants it soon; prepared again once a frame has been drawn, it
// gets its screen-sized texture.
class ScreenLevelsFirstFrame : public drawertest::TDrawerOnDevice {
protected:
  ScreenLevelsFirstFrame() : TDrawerOnDevice(200, 150) {}
};

TEST_F(ScreenLevelsFirstFrame, ReadiedFromTheLevelUntilAFrameHasBeenDrawn) {
  TRef<TImage> image = MakeImage(601, 451, [](int x, int y) { return 0xFF000000u | std::uint32_t(x ^ y); });
  TImageDrawParams still;
  still.Filtering = 1;
  still.Antialiased = true;
  still.SourceRect = {0, 0, 601, 451};
  still.Still = true;
  still.StillOrigin = {20, 10};
  still.StillAxisX = {150.0f / 601, 0};
  still.StillAxisY = {0, 113.0f / 451};
  const auto screenLevels = [&] {
    TList* cache = image->Store()->GetCacheList();
    std::int32_t i = 0;
    int n = 0;
    if (cache->FindByClass<TTextureStore2>(i))
      for (const TTextureWrapper& t : static_cast<TTextureStore2*>(cache->Get(i))->Textures)
        n += t.Key.rfind("ScreenTexID: ", 0) == 0 ? 1 : 0;
    return n;
  };
  drawer->PrepareImage(image.get(), still);
  EXPECT_EQ(screenLevels(), 0);
  ASSERT_TRUE(Frame(0xFF000000u, {}));
  drawer->PrepareImage(image.get(), still);
  EXPECT_EQ(screenLevels(), 1);
  drawer->PrepareImage(image.get(), still);  // made once
  EXPECT_EQ(screenLevels(), 1);
}

// A slide pushed out is drawn moved by fractions of a pixel, from its
// pictures' levels: readied for that ahead, its moved frames make no
// texture, and its still frames keep the screen-sized one. The readying
// holds on its own thread only (the loader readies still pictures meanwhile).
TEST_F(ScreenLevelsOnDevice, APictureReadiedToBeDrawnMovedMakesNothingInItsMovedFrames) {
  const auto picture = [] { return MakeImage(601, 451, [](int x, int y) { return 0xFF000000u | std::uint32_t(x * 7 ^ y); }); };
  TImageDrawParams p;
  p.Filtering = 1;
  p.SourceRect = {0, 0, 601, 451};
  const TFloatPoint o{20, 10}, ax{150.0f / 601, 0}, ay{0, 113.0f / 451};
  TImageDrawParams still = p;
  still.Still = true;
  still.StillOrigin = o;
  still.StillAxisX = ax;
  still.StillAxisY = ay;
  // Textures made by a frame with the slide moved by Dx.
  const auto madeByFrame = [&](TImage* image, float dx) {
    Dev()->Debug().ClearCalls();
    Dev()->Debug().RecordCalls(true);
    EXPECT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) {
      d.SetDrawOffset({dx, 0});
      d.DrawImage(image, o, p, ax, ay);
      d.SetDrawOffset({0, 0});
    }));
    Dev()->Debug().RecordCalls(false);
    int n = 0;
    for (const plat::gfx::CallRecord& c : Dev()->Debug().Calls()) n += c.call == plat::gfx::CallKind::CreateTexture;
    return n;
  };
  TRef<TImage> readied = picture(), plain = picture(), other = picture();
  drawer->PrepareImage(readied.get(), still);
  drawer->PrepareImage(plain.get(), still);
  {
    const T3DDrawer::TMovedPreparation moved;
    drawer->PrepareImage(readied.get(), still);
    std::thread loader([&] { drawer->PrepareImage(other.get(), still); });
    loader.join();
  }
  EXPECT_TRUE(HasScreenLevel(readied.get()));
  EXPECT_TRUE(HasScreenLevel(other.get()));
  EXPECT_EQ(madeByFrame(readied.get(), 0), 0);
  EXPECT_EQ(madeByFrame(readied.get(), 0.37f), 0);
  EXPECT_GT(madeByFrame(plain.get(), 0.37f), 0);  // the second frame of an unreadied push
  // Still readied as it holds still once the scope is gone.
  TRef<TImage> after = picture();
  drawer->PrepareImage(after.get(), still);
  EXPECT_TRUE(HasScreenLevel(after.get()));
  EXPECT_EQ(madeByFrame(after.get(), 0), 0);
}

// A still opaque picture drawn 1:1 tells the pixels it paints over whole:
// a background drawn around them, then the picture, is the frame drawn with
// the whole background under it. Pictures with alpha, see-through ones and
// pictures drawn elsewhere than they were readied for tell nothing.
TEST_F(ScreenLevelsOnDevice, AnOpaquePictureTellsWhatItPaintsOver) {
  std::mt19937 rng(7);
  std::vector<std::uint32_t> noise(601 * 451);
  for (auto& p : noise) p = rng() | 0xFF000000u;
  // Without alpha: 24-bit, as a JPEG decodes.
  const auto make = [&](bool alpha) {
    TRef<TSysBitmap> b = CreateSysBitmap(601, 451, alpha ? pfA8R8G8B8 : pfR8G8B8);
    for (int y = 0; y < 451; ++y)
      std::memcpy(b->ScanLine(y), &noise[std::size_t(y) * 601], std::size_t(601) * std::size_t(b->BytesPerPixel()));
    TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(u"test", TImageLoadHandler{}, false, b.get());
    return MakeRef<TImage>(store.get());
  };
  for (const bool smoothed : {true, false}) {
    SCOPED_TRACE(smoothed ? "smoothed" : "plain");
    TRef<TImage> image = make(false);
    TImageDrawParams p;
    p.Filtering = 1;
    p.Antialiased = smoothed;
    p.SourceRect = {0, 0, 601, 451};
    const TFloatPoint o{20.37f, 10.81f}, ax{150.12f / 601, 0}, ay{0, 112.83f / 451};
    TImageDrawParams still = p;
    still.Still = true;
    still.StillOrigin = o;
    still.StillAxisX = ax;
    still.StillAxisY = ay;
    drawer->PrepareImage(image.get(), still);
    const TFloatPoint l{-5, -5}, r{205, -5}, b{-5, 155};
    std::vector<std::uint32_t> whole, banded;
    ASSERT_TRUE(Frame(0xFF203040u, [&](T3DDrawer& d) {
      d.FillQuad(l, r, b, TColor32::FromValue(0xFF5080B0u));
      d.DrawImage(image.get(), o, p, ax, ay);
    }));
    Capture();
    whole = px;
    TFloatRect hole;
    ASSERT_TRUE(Frame(0xFF203040u, [&](T3DDrawer& d) {
      ASSERT_TRUE(d.OpaqueImageRect(image.get(), o, p, ax, ay, hole));
      const auto band = [&](float x0, float y0, float x1, float y1) {
        d.FillQuad({x0, y0}, {x1, y0}, {x0, y1}, TColor32::FromValue(0xFF5080B0u));
      };
      band(-5, -5, 205, hole.Top);
      band(-5, hole.Bottom, 205, 155);
      band(-5, hole.Top, hole.Left, hole.Bottom);
      band(hole.Right, hole.Top, 205, hole.Bottom);
      d.DrawImage(image.get(), o, p, ax, ay);
    }));
    Capture();
    banded = px;
    EXPECT_EQ(banded, whole);
    // Most of the picture is in the hole, none of its edges.
    EXPECT_GT(hole.Left, o.X);
    EXPECT_LT(hole.Left, o.X + 3);
    EXPECT_LT(hole.Right, o.X + 150.12f);
    EXPECT_GT(hole.Right, o.X + 147);
    ASSERT_TRUE(Frame(0xFF203040u, [&](T3DDrawer& d) {
      TFloatRect none;
      TImageDrawParams faint = p;
      faint.Opacity = 99;
      EXPECT_FALSE(d.OpaqueImageRect(image.get(), o, faint, ax, ay, none));
      EXPECT_FALSE(d.OpaqueImageRect(image.get(), {o.X + 1.3f, o.Y}, p, ax, ay, none));
      TRef<TImage> withAlpha = make(true);
      d.PrepareImage(withAlpha.get(), still);
      EXPECT_FALSE(d.OpaqueImageRect(withAlpha.get(), o, p, ax, ay, none));
    }));
  }
}

// A picture drawn from its own level's tiles (read 1:1 already, or never
// readied at its size) tells the pixels it paints over whole as well, when
// the level has no alpha.
TEST_F(ScreenLevelsOnDevice, APictureDrawnFromItsLevelTellsWhatItPaintsOver) {
  std::mt19937 rng(9);
  std::vector<std::uint32_t> noise(151 * 97);
  for (auto& p : noise) p = rng() | 0xFF000000u;
  const auto make = [&](bool alpha) {
    TRef<TSysBitmap> b = CreateSysBitmap(151, 97, alpha ? pfA8R8G8B8 : pfR8G8B8);
    for (int y = 0; y < 97; ++y)
      std::memcpy(b->ScanLine(y), &noise[std::size_t(y) * 151], std::size_t(151) * std::size_t(b->BytesPerPixel()));
    TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(u"test", TImageLoadHandler{}, false, b.get());
    return MakeRef<TImage>(store.get());
  };
  struct Case {
    const char* name;
    TFloatPoint origin, axisX, axisY;
    bool still;  // prepared where it is drawn
  };
  // 1:1 at whole pixels (no texture of its own is made), and scaled down
  // from a level prepared for nowhere in particular.
  const Case cases[] = {{"one to one", {23, 17}, {1, 0}, {0, 1}, true},
                        {"scaled", {30.6f, 12.2f}, {0.71f, 0}, {0, 0.83f}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRef<TImage> image = make(false);
    TImageDrawParams p;
    p.Filtering = 1;
    p.Antialiased = true;
    p.SourceRect = {0, 0, 151, 97};
    TImageDrawParams prepare = p;
    prepare.Still = c.still;
    prepare.StillOrigin = c.origin;
    prepare.StillAxisX = c.axisX;
    prepare.StillAxisY = c.axisY;
    drawer->PrepareImage(image.get(), prepare);
    EXPECT_FALSE(HasScreenLevel(image.get()));
    std::vector<std::uint32_t> whole, banded;
    ASSERT_TRUE(Frame(0xFF203040u, [&](T3DDrawer& d) {
      d.FillQuad({-5, -5}, {205, -5}, {-5, 155}, TColor32::FromValue(0xFF5080B0u));
      d.DrawImage(image.get(), c.origin, p, c.axisX, c.axisY);
    }));
    Capture();
    whole = px;
    TFloatRect hole;
    ASSERT_TRUE(Frame(0xFF203040u, [&](T3DDrawer& d) {
      ASSERT_TRUE(d.OpaqueImageRect(image.get(), c.origin, p, c.axisX, c.axisY, hole));
      const auto band = [&](float x0, float y0, float x1, float y1) {
        d.FillQuad({x0, y0}, {x1, y0}, {x0, y1}, TColor32::FromValue(0xFF5080B0u));
      };
      band(-5, -5, 205, hole.Top);
      band(-5, hole.Bottom, 205, 155);
      band(-5, hole.Top, hole.Left, hole.Bottom);
      band(hole.Right, hole.Top, 205, hole.Bottom);
      d.DrawImage(image.get(), c.origin, p, c.axisX, c.axisY);
    }));
    Capture();
    banded = px;
    EXPECT_EQ(banded, whole);
    const float right = c.origin.X + 151 * c.axisX.X, bottom = c.origin.Y + 97 * c.axisY.Y;
    EXPECT_GT(hole.Left, c.origin.X);
    EXPECT_LT(hole.Left, c.origin.X + 3);
    EXPECT_LT(hole.Bottom, bottom);
    EXPECT_GT(hole.Bottom, bottom - 3);
    EXPECT_LT(hole.Right, right);
    ASSERT_TRUE(Frame(0xFF203040u, [&](T3DDrawer& d) {
      TFloatRect none;
      TRef<TImage> withAlpha = make(true);
      d.PrepareImage(withAlpha.get(), prepare);
      d.DrawImage(withAlpha.get(), c.origin, p, c.axisX, c.axisY);
      EXPECT_FALSE(d.OpaqueImageRect(withAlpha.get(), c.origin, p, c.axisX, c.axisY, none));
      // Turned, it lands on no whole pixels.
      EXPECT_FALSE(d.OpaqueImageRect(image.get(), c.origin, p, {c.axisX.X, 0.2f}, c.axisY, none));
    }));
  }
}

// The loader thread readies still pictures at their screen size (and lets
// them go again) while the engine draws them: every frame shows the
// picture, from its screen-sized texture or from its level.
TEST_F(ScreenLevelsOnDevice, TheLoaderReadiesStillPicturesWhileTheEngineDrawsThem) {
  TRef<TImage> img = MakeImage(301, 203, [](int x, int y) { return 0xFF000000u | std::uint32_t((x + y) & 255) << 8; });
  TImageDrawParams p;
  p.Filtering = 1;
  p.Antialiased = true;
  p.SourceRect = {0, 0, 301, 203};
  const TFloatPoint o{3.3f, 2.6f}, ax{50.2f / 301, 0}, ay{0, 33.9f / 203};
  std::atomic<bool> stop{false};
  std::thread loader([&] {
    TImageDrawParams still = p;
    still.Still = true;
    still.StillOrigin = o;
    still.StillAxisX = ax;
    still.StillAxisY = ay;
    while (!stop.load()) {
      drawer->PrepareImage(img.get(), still);
      drawer->ReleaseImageTextures(img.get());
    }
    drawer->PrepareImage(img.get(), still);
  });
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) {
      TFloatRect hole;
      d.OpaqueImageRect(img.get(), o, p, ax, ay, hole);
      d.DrawImage(img.get(), o, p, ax, ay);
    }));
  stop = true;
  loader.join();
  ASSERT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) { d.DrawImage(img.get(), o, p, ax, ay); }));
  Capture();
  // The middle of the picture: green rising to the right and down.
  EXPECT_GT(drawertest::Channel(At(30, 20), 8), 0);
  EXPECT_EQ(drawertest::Channel(At(30, 20), 16), 0);
  EXPECT_EQ(At(60, 45), 0u);  // past the picture
}

}  // namespace
