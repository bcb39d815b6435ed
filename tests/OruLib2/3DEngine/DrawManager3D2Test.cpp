// The 3D drawer on the software device: what a frame shows, the texture
// store, the passes, transitions, lost devices and bad input.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "OruLib2/3DEngine/OruFilter.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/zmObjectFilters.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/DrawerOnDevice.h"
#include "tests/support/kit/StreamBytes.h"

namespace drawertest {

using namespace zm;
using oru::T3DDrawer;

constexpr std::uint32_t kBlack = 0xFF000000u;

// ---- What a frame shows ---------------------------------------------------------------

// Barycentric colour of the two triangles (TL, TR, BL) and (TR, BR, BL) at
// (u, v) in 0..1, for one channel.
double QuadValue(const double c[4], double u, double v) {
  if (u + v <= 1) return c[0] + (c[1] - c[0]) * u + (c[2] - c[0]) * v;
  return c[3] + (c[2] - c[3]) * (1 - u) + (c[1] - c[3]) * (1 - v);
}

TEST_F(TDrawerOnDevice, AFrameShowsImagesWithOpacityClippedImagesAndEveryGradientKind) {
  // An 8 x 8 picture, red on the left half and green on the right.
  TRef<TImage> img = MakeImage(8, 8, [](int x, int) { return x < 4 ? 0xFFFF0000u : 0xFF00FF00u; });
  TImageDrawParams half;
  half.Filtering = 0;
  half.Opacity = 50;
  TImageDrawParams clipped;
  clipped.Filtering = 0;
  clipped.SourceRect = {2, 2, 6, 6};
  TGradientFill g;
  g.Colour1 = TColor32::FromValue(0xFFFFFFFFu);
  g.Colour2 = TColor32::FromValue(kBlack);
  g.ScaleX = g.ScaleY = 6;
  ASSERT_TRUE(Frame(0xFF0000FFu, [&](T3DDrawer& d) {
    d.DrawImage(img.get(), {2, 2}, half, {1, 0}, {0, 1});
    d.DrawImage(img.get(), {20, 2}, clipped, {1, 0}, {0, 1});
    for (int k = 0; k <= 8; ++k) {
      g.Kind = std::uint8_t(k);
      d.FillGradientQuad({float(2 + 7 * k), 20}, {}, g, {1, 0}, {0, 1});
    }
  }));
  Capture();
  ASSERT_EQ(w, 64);
  ASSERT_EQ(h, 48);
  // Opacity 50 % is alpha 128 over blue.
  const int a = 128, blue = 255 * (255 - a) / 255;
  for (int y = 2; y < 10; ++y)
    for (int x = 2; x < 10; ++x) {
      const std::uint32_t want = x < 6 ? std::uint32_t(255 * a / 255) << 16 | std::uint32_t(blue)
                                       : std::uint32_t(255 * a / 255) << 8 | std::uint32_t(blue);
      EXPECT_TRUE(Near(At(x, y), want, 1)) << x << "," << y;
    }
  EXPECT_EQ(At(1, 5), 0x0000FFu);
  EXPECT_EQ(At(10, 5), 0x0000FFu);
  // Source (2, 2)-(6, 6) stays where it lies in the picture: two red
  // columns, then two green; 4 x 4 in all.
  for (int y = 1; y < 10; ++y)
    for (int x = 19; x < 28; ++x) {
      const bool in = x >= 22 && x < 26 && y >= 4 && y < 8;
      EXPECT_EQ(At(x, y), !in ? 0x0000FFu : x < 24 ? 0xFF0000u : 0x00FF00u) << x << "," << y;
    }
  // Gradients, white to black; the mid colour is (255 + 0) >> 1 = 127.
  const double W = 255, B = 0, M = 127;
  // Kinds 4 to 7 run as the shadow generator's: bottom to top, top to
  // bottom, left to right, right to left.
  const double kinds[9][4] = {{W, M, M, B}, {M, W, B, M}, {B, M, M, W}, {M, B, W, M}, {B, B, W, W},
                              {W, W, B, B}, {W, B, W, B}, {B, W, B, W}, {W, W, W, W}};
  for (int k = 0; k <= 8; ++k)
    for (int y = 20; y < 26; ++y)
      for (int x = 2 + 7 * k; x < 8 + 7 * k; ++x) {
        const double v = QuadValue(kinds[k], (x - 2 - 7 * k) / 6.0, (y - 20) / 6.0);
        EXPECT_NEAR(Channel(At(x, y), 8), v, 1.5) << "kind " << k << " at " << x << "," << y;
        EXPECT_EQ(Channel(At(x, y), 8), Channel(At(x, y), 16));
      }
  EXPECT_EQ(At(8, 22), 0x0000FFu);   // between the quads
  EXPECT_EQ(At(4, 26), 0x0000FFu);   // below them
}

TEST_F(TDrawerOnDevice, GradientOpacityEdgesAndBadKinds) {
  TGradientFill g;
  g.Colour1 = TColor32::FromValue(0xFFFFFFFFu);
  g.ScaleX = g.ScaleY = 10;
  g.Opacity = 50;  // alpha 255 * 0.5 truncated: 127
  TGradientFill none = g;
  none.Opacity = 0;
  none.Kind = 200;  // never looked at: nothing is drawn
  TGradientFill edged = g;
  edged.Opacity = 100;
  edged.Edges[0] = true;  // left feathered
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
    d.FillGradientQuad({5, 5}, {}, g, {1, 0}, {0, 1});
    d.FillGradientQuad({5, 5}, {}, none, {1, 0}, {0, 1});
    d.FillGradientQuad({30.5f, 5}, {}, edged, {1, 0}, {0, 1});
    // Offset moves the first corner back along the axes.
    TGradientFill o = g;
    o.Opacity = 100;
    o.ScaleX = o.ScaleY = 2;
    d.FillGradientQuad({50, 30}, {1, 1}, o, {2, 0}, {0, 2});
  }));
  Capture();
  EXPECT_TRUE(Near(At(7, 7), 0x7F7F7Fu, 1));
  EXPECT_EQ(At(31, 8), 0xFFFFFFu);
  // (50, 30) - (1, 1) x (2, 2): 4 x 4 from (48, 28).
  for (int x = 47; x < 53; ++x) EXPECT_EQ(At(x, 27), 0u) << x;
  for (int x = 48; x < 52; ++x) EXPECT_EQ(At(x, 28), 0xFFFFFFu) << x;
  EXPECT_EQ(At(47, 28), 0u);
  EXPECT_EQ(At(52, 28), 0u);
  EXPECT_EQ(At(50, 32), 0u);
  // A kind above 8 is refused.
  TGradientFill bad = g;
  bad.Kind = 9;
  EXPECT_ANY_THROW(drawer->FillGradientQuad({0, 0}, {}, bad, {1, 0}, {0, 1}));
}

TEST_F(TDrawerOnDevice, AFeatheredGradientEdgeFadesOverOnePixel) {
  TGradientFill edged;
  edged.Colour1 = TColor32::FromValue(0xFFFFFFFFu);
  edged.ScaleX = edged.ScaleY = 10;
  edged.Edges[0] = true;
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.FillGradientQuad({20.5f, 20}, {}, edged, {1, 0}, {0, 1}); }));
  Capture();
  EXPECT_NEAR(Channel(At(20, 25), 8), 127.5, 1.0);
  EXPECT_EQ(At(19, 25), 0u);
  EXPECT_EQ(At(21, 25), 0xFFFFFFu);
  EXPECT_EQ(At(31, 25), 0u);
}

// ---- Colour grading ------------------------------------------------------------------------

// A grade table on the drawer's screen, inverting when asked.
TRef<TCustomColorGradeTexture> GradeTable(T3DDrawer& d, std::uint8_t kind, bool invert) {
  TRef<TCustomColorGradeTexture> t = MakeRef<TCustomColorGradeTexture>(d.Screen(), kind);
  if (invert) {
    TRef<TObjectFilter> f = MakeRef<TInvertColor>();
    f->Prepare();
    t->SetGradeFilter(f.get());
  }
  return t;
}

std::uint32_t Invert(std::uint32_t c) { return ~c & 0xFFFFFFu; }
// a + t * (b - a), channel by channel.
std::uint32_t Mix(std::uint32_t a, std::uint32_t b, double t) {
  std::uint32_t r = 0;
  for (int s = 0; s < 24; s += 8)
    r |= std::uint32_t(std::lround(Channel(a, s) + t * (Channel(b, s) - Channel(a, s)))) << s;
  return r;
}

// A picture of four two-pixel columns, drawn graded by curves and by cubes:
// each pixel is its table's entry for the input colour, the mix weighting the
// second table, and a plain draw after them is left ungraded.
TEST_F(TDrawerOnDevice, GradedPicturesShowTheirTablesEntries) {
  const std::uint32_t cols[4] = {0xFF804020u, 0xFF10E0F0u, 0xFF000000u, 0xFFFFFFFFu};
  TRef<TImage> img = MakeImage(8, 8, [&](int x, int) { return cols[x / 2]; });
  TRef<TCustomColorGradeTexture> stripId = GradeTable(*drawer, gkStrip, false);
  TRef<TCustomColorGradeTexture> stripInv = GradeTable(*drawer, gkStrip, true);
  TRef<TCustomColorGradeTexture> cubeId = GradeTable(*drawer, gkVolume, false);
  TRef<TCustomColorGradeTexture> cubeInv = GradeTable(*drawer, gkVolume, true);
  struct TCase {
    std::int32_t mode;
    TCustomColorGradeTexture *t1, *t2;
    float mix;
    std::function<std::uint32_t(std::uint32_t)> want;
    int tol;
  };
  const std::vector<TCase> cases = {
      {2, stripInv.get(), stripInv.get(), 0.0f, Invert, 1},
      {2, stripId.get(), stripId.get(), 0.5f, [](std::uint32_t c) { return c & 0xFFFFFFu; }, 1},
      {2, stripId.get(), stripInv.get(), 0.25f, [](std::uint32_t c) { return Mix(c, Invert(c), 0.25); }, 2},
      // The cube's lattice levels are 8 i + i div 4: between them the
      // identity and the inversion are close, not exact.
      {1, cubeId.get(), cubeId.get(), 0.0f, [](std::uint32_t c) { return c & 0xFFFFFFu; }, 3},
      {1, cubeId.get(), cubeInv.get(), 1.0f, Invert, 3},
  };
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      TImageDrawParams p;
      p.Filtering = 0;
      p.GradeMode = cases[i].mode;
      p.GradeTable1 = cases[i].t1;
      p.GradeTable2 = cases[i].t2;
      p.GradeMix = cases[i].mix;
      d.DrawImage(img.get(), {float(10 * i), 0}, p, {1, 0}, {0, 1});
    }
    TImageDrawParams plain;
    plain.Filtering = 0;
    d.DrawImage(img.get(), {0, 20}, plain, {1, 0}, {0, 1});
    EXPECT_TRUE(d.ShaderStack.empty());
  }));
  Capture();
  for (std::size_t i = 0; i < cases.size(); ++i)
    for (int x = 0; x < 8; ++x) {
      const std::uint32_t in = cols[x / 2];
      EXPECT_TRUE(Near(At(int(10 * i) + x, 4), cases[i].want(in), cases[i].tol)) << "case " << i << " x " << x;
      EXPECT_EQ(At(x, 24), in & 0xFFFFFFu) << x;
    }
  // A mode without tables draws through empty samplers, never crashing.
  TImageDrawParams bare;
  bare.GradeMode = 7;
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(img.get(), {0, 0}, bare, {1, 0}, {0, 1}); }));
}

// Smoothed edges of pictures and frames on whole pixels fade over half a
// pixel on every side, the same on the left as on the right, and the
// picture's texels still land on the pixels unblurred.
TEST_F(TDrawerOnDevice, SmoothedEdgesAddHalfAPixelOnEachSide) {
  TRef<TImage> img = MakeImage(8, 8, [](int x, int) { return x < 4 ? 0xFFFF0000u : 0xFF00FF00u; });
  TImageDrawParams smooth;
  smooth.Filtering = 1;
  smooth.Antialiased = true;
  TImageDrawParams sharp = smooth;
  sharp.Antialiased = false;
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
    d.DrawImage(img.get(), {10, 10}, smooth, {1, 0}, {0, 1});
    d.DrawImage(img.get(), {10, 30}, sharp, {1, 0}, {0, 1});
    d.DrawGradientFrame(true, {30, 10}, true, 100, TColor32::FromValue(~0u), {10, 10}, {2, 2});
  }));
  Capture();
  const auto red = [&](int x, int y) { return Channel(At(x, y), 16); };
  const auto green = [&](int x, int y) { return Channel(At(x, y), 8); };
  // Row 14: half of the edge colours outside, the picture exact inside.
  EXPECT_EQ(At(8, 14), 0u);
  EXPECT_NEAR(red(9, 14), 127.5, 1.5);
  for (int x = 10; x < 14; ++x) EXPECT_EQ(At(x, 14), 0xFF0000u) << x;
  for (int x = 14; x < 18; ++x) EXPECT_EQ(At(x, 14), 0x00FF00u) << x;
  EXPECT_NEAR(green(18, 14), 127.5, 1.5);
  EXPECT_EQ(At(19, 14), 0u);
  // Column 12: the same above and below.
  EXPECT_EQ(At(12, 8), 0u);
  EXPECT_NEAR(red(12, 9), 127.5, 1.5);
  EXPECT_EQ(At(12, 10), 0xFF0000u);
  EXPECT_EQ(At(12, 17), 0xFF0000u);
  EXPECT_NEAR(red(12, 18), 127.5, 1.5);
  EXPECT_EQ(At(12, 19), 0u);
  // Unsmoothed: the eight pixels alone.
  EXPECT_EQ(At(9, 34), 0u);
  EXPECT_EQ(At(10, 34), 0xFF0000u);
  EXPECT_EQ(At(17, 34), 0x00FF00u);
  EXPECT_EQ(At(18, 34), 0u);
  EXPECT_EQ(At(12, 29), 0u);
  EXPECT_EQ(At(12, 38), 0u);
  // The frame, 2 pixels thick, smoothed on its outer edges only.
  const int row[] = {0, 128, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 128, 0};
  for (int i = 0; i < 14; ++i) EXPECT_NEAR(green(28 + i, 15), row[i], 1.5) << 28 + i;
  EXPECT_NEAR(green(35, 9), 127.5, 1.5);
  EXPECT_EQ(At(35, 10), 0xFFFFFFu);
  EXPECT_EQ(At(35, 12), 0u);
  EXPECT_EQ(At(35, 19), 0xFFFFFFu);
  EXPECT_NEAR(green(35, 20), 127.5, 1.5);

  // A texture attached to the picture (here an off-screen layer) the same.
  TRef<TImage> layered = MakeImage(8, 8, [](int, int) { return 0xFF000000u; });
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
    TRef<TRenderTargetTexture> t = d.BeginRenderTarget();
    ASSERT_TRUE(t);
    d.Clear(TColor32::FromValue(~0u), false);
    d.EndRenderTarget();
    layered->GetCacheList()->Add(t.get());
    d.DrawImage(layered.get(), {10, 10}, smooth, {1, 0}, {0, 1});
    layered->GetCacheList()->Remove(t.get());
    TRenderTargetTexture::FreeTarget(t);
  }));
  Capture();
  const int line[] = {0, 128, 255, 255, 255, 255, 255, 255, 255, 255, 128, 0};
  for (int i = 0; i < 12; ++i) {
    EXPECT_NEAR(green(8 + i, 14), line[i], 1.5) << 8 + i;
    EXPECT_NEAR(green(14, 8 + i), line[i], 1.5) << 8 + i;
  }
}

// ---- Texture store -----------------------------------------------------------------------

TEST(TextureStoreKey, IsTheParametersInDecimalAndBooleanWords) {
  TImageDrawParams p;
  EXPECT_EQ(oru::TextureStoreKey(p), "MultiTexID: 0:1:1:False:False");
  p.Level = 2;
  p.Columns = 3;
  p.Rows = 12;
  p.Premultiplied = true;
  p.Tiled = true;
  EXPECT_EQ(oru::TextureStoreKey(p), "MultiTexID: 2:3:12:True:True");
  p.Level = -1;
  p.Columns = -2147483647 - 1;
  EXPECT_EQ(oru::TextureStoreKey(p), "MultiTexID: -1:-2147483648:12:True:True");
}

TEST_F(TDrawerOnDevice, ImagesOverOneStoreShareItsTexturesUntilReleased) {
  TRef<TImage> a = MakeImage(40, 30, [](int, int) { return 0xFF808080u; });
  TRef<TImage> b = a->CreateCopy();
  TImageDrawParams p;
  drawer->PrepareImage(a.get(), p);
  drawer->PrepareImage(b.get(), p);
  TList* cache = a->Store()->GetCacheList();
  ASSERT_EQ(cache->Count(), 1);
  auto* store = dynamic_cast<oru::TTextureStore2*>(cache->Get(0));
  ASSERT_TRUE(store);
  ASSERT_EQ(store->Textures.size(), 1u);
  EXPECT_EQ(store->Textures[0].Key, "MultiTexID: 0:1:1:False:False");
  TMultiTexture6* first = store->Textures[0].Texture.get();
  EXPECT_GT(first->TileCount(), 0);
  p.Level = 1;
  drawer->PrepareImage(b.get(), p);
  ASSERT_EQ(store->Textures.size(), 2u);
  EXPECT_EQ(store->Textures[1].Key, "MultiTexID: 1:1:1:False:False");
  EXPECT_EQ(store->Textures[1].Texture->PictureSize(), (TSize{20, 15}));

  // Released through either image, the next prepare builds afresh.
  drawer->ReleaseImageTextures(b.get());
  EXPECT_EQ(cache->Count(), 0);
  drawer->ReleaseImageTextures(b.get());
  drawer->ReleaseImageTextures(nullptr);
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(a.get(), {0, 0}, TImageDrawParams{}, {1, 0}, {0, 1}); }));
  ASSERT_EQ(cache->Count(), 1);
  EXPECT_EQ(static_cast<oru::TTextureStore2*>(cache->Get(0))->Textures.size(), 1u);
  Capture();
  EXPECT_EQ(At(39, 29), 0x808080u);
  EXPECT_EQ(At(40, 29), 0u);
}

// A picture no image holds any more (its slide is gone) leaves the drawer
// with its textures and what it was read from once another picture is
// prepared; one still held keeps them.
TEST_F(TDrawerOnDevice, TexturesOfPicturesNoImageHoldsGoWithTheNextStore) {
  int disposed = 0;
  TRef<TImage> gone = MakeImage(40, 30, [](int, int) { return 0xFF808080u; });
  gone->Store()->Source = MakeRef<zmtest::TCountedStream>(&disposed);
  TRef<TImage> kept = MakeImage(20, 20, [](int, int) { return 0xFF404040u; });
  TImageDrawParams p;
  drawer->PrepareImage(gone.get(), p);
  drawer->PrepareImage(kept.get(), p);
  TList* keptCache = kept->Store()->GetCacheList();
  ASSERT_EQ(keptCache->Count(), 1);
  TMultiTexture6* keptTexture = static_cast<oru::TTextureStore2*>(keptCache->Get(0))->Textures[0].Texture.get();
  gone = nullptr;
  EXPECT_EQ(disposed, 0);  // nothing new was prepared yet
  TRef<TImage> next = MakeImage(10, 10, [](int, int) { return 0xFFFFFFFFu; });
  drawer->PrepareImage(next.get(), p);
  EXPECT_EQ(disposed, 1);
  ASSERT_EQ(keptCache->Count(), 1);
  EXPECT_EQ(static_cast<oru::TTextureStore2*>(keptCache->Get(0))->Textures[0].Texture.get(), keptTexture);
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(kept.get(), {0, 0}, TImageDrawParams{}, {1, 0}, {0, 1}); }));
  Capture();
  EXPECT_EQ(At(19, 19), 0x404040u);
}

TEST_F(TDrawerOnDevice, APictureWiderThanOneTileHasNoSeams) {
  // 600 pixels: tiles of 510 content pixels meet at picture x = 510. Every
  // column differs from the next, so a wrong border shows.
  const auto pixel = [](int x, int y) {
    return 0xFF000000u | std::uint32_t((x * 37) & 255) << 16 | std::uint32_t((y * 50) & 255) << 8;
  };
  TRef<TImage> wide = MakeImage(600, 20, pixel);
  // The same 64 columns (picture x 480..543) as a picture of one tile.
  TRef<TImage> window = MakeImage(64, 20, [&](int x, int y) { return pixel(x + 480, y); });
  for (std::uint8_t filtering : {std::uint8_t(0), std::uint8_t(1)}) {
    TImageDrawParams p;
    p.Filtering = filtering;
    ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(wide.get(), {-480, 4}, p, {1, 0}, {0, 1}); }));
    Capture();
    const std::vector<std::uint32_t> tiled = px;
    ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(window.get(), {0, 4}, p, {1, 0}, {0, 1}); }));
    Capture();
    // The window's own first and last columns meet its edges, not neighbours.
    for (int y = 5; y < 23; ++y)
      for (int x = 1; x < 63; ++x) {
        ASSERT_EQ(tiled[std::size_t(y * 64 + x)] & 0xFFFFFFu, At(x, y)) << int(filtering) << ": " << x << "," << y;
        if (filtering == 0) {
          ASSERT_EQ(At(x, y), pixel(x + 480, y - 4) & 0xFFFFFFu) << x << "," << y;
        }
      }
  }
}

TEST_F(TDrawerOnDevice, ATwentyFourBitLevelIsTiledWithoutAConvertedCopy) {
  // A photo's level is R8G8B8: the tiles convert its rows themselves, so the
  // store keeps no full-size 32-bit copy, and the pixels come out opaque and
  // unchanged, across a tile seam and in the cells of a strip alike.
  const auto pixel = [](int x, int y) {
    return std::uint32_t((x * 37) & 255) << 16 | std::uint32_t((y * 50) & 255) << 8 | std::uint32_t(x & 7) * 30;
  };
  TRef<TSysBitmap> rgb = CreateSysBitmap(600, 20, pfR8G8B8);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 600; ++x) {
      const std::uint32_t p = pixel(x, y);
      std::uint8_t* d = rgb->ScanLine(y) + 3 * x;
      d[0] = std::uint8_t(p), d[1] = std::uint8_t(p >> 8), d[2] = std::uint8_t(p >> 16);
    }
  TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(u"rgb", TImageLoadHandler{}, false, rgb.get());
  TRef<TImage> photo = MakeRef<TImage>(store.get());
  TImageDrawParams p;
  p.Filtering = 0;
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(photo.get(), {-480, 4}, p, {1, 0}, {0, 1}); }));
  Capture();
  for (int y = 4; y < 24; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(At(x, y), pixel(x + 480, y - 4)) << x << "," << y;
  EXPECT_EQ(store->LevelBitmapCount(0), 1);

  // Two cells of 300 x 20; the second cell starts at strip x 303.
  p.Tiled = true;
  p.Columns = 2;
  p.SourceRect = {303, 1, 603, 21};
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(photo.get(), {-303, 3}, p, {1, 0}, {0, 1}); }));
  Capture();
  for (int y = 4; y < 24; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(At(x, y), pixel(x + 300, y - 4)) << x << "," << y;
  EXPECT_EQ(store->LevelBitmapCount(0), 1);
}

// ---- Blur -----------------------------------------------------------------------------------

TEST(BlurPlan, FollowsTheHalvedRadius) {
  using oru::TBlurPass;
  using V = std::vector<TBlurPass>;
  EXPECT_EQ(oru::PlanBlurPasses(0.5f), V{});      // the mix of full and half pictures
  EXPECT_EQ(oru::PlanBlurPasses(0.00001f), V{});
  EXPECT_EQ(oru::PlanBlurPasses(0.000005f), (V{{0, 1}}));
  EXPECT_EQ(oru::PlanBlurPasses(1), (V{{0, 1}}));  // a blur of 2 pixels
  EXPECT_EQ(oru::PlanBlurPasses(4), (V{{0.5f, 1}}));
  EXPECT_EQ(oru::PlanBlurPasses(7), (V{{1, 1}}));
  EXPECT_EQ(oru::PlanBlurPasses(14), (V{{1, 1}, {1, 2}}));  // a blur of 28 pixels
  const V p21 = oru::PlanBlurPasses(21);                  // n = log2 3
  ASSERT_EQ(p21.size(), 3u);
  EXPECT_EQ(p21[0], (TBlurPass{1, 1}));
  EXPECT_EQ(p21[1], (TBlurPass{1, 2}));
  EXPECT_NEAR(p21[2].Strength, std::log2(3.0) - 1, 1e-6);
  EXPECT_EQ(p21[2].Step, 4);
  EXPECT_EQ(oru::PlanBlurPasses(std::nanf("")), V{});
  EXPECT_EQ(oru::PlanBlurPasses(3e38f).size(), 32u);  // held to 2^30 steps
}

class BlurOnDevice : public TDrawerOnDevice {
protected:
  // White left of x = 32, drawn by an item of the given blur radius.
  void EdgeFrame(float radius) {
    plans.clear();
    drawer->OnBlurPlan = [this](const std::vector<oru::TBlurPass>& p) { plans.push_back(p); };
    TRef<TFnItem> edge = MakeRef<TFnItem>(
        [](T3DDrawer& d) { d.FillRectF({0, 0}, {32, 48}, TColor32::FromValue(0xFFFFFFFFu)); }, radius);
    ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { EXPECT_TRUE(d.Draw(edge.get())); }));
    Capture();
  }
  std::vector<std::vector<oru::TBlurPass>> plans;
};

TEST_F(BlurOnDevice, TheRadiusThresholdAndTheTwoPixelBlur) {
  EdgeFrame(0.000005f);
  EXPECT_TRUE(plans.empty());
  EXPECT_EQ(At(31, 10), 0xFFFFFFu);
  EXPECT_EQ(At(32, 10), 0u);
  // 0.00001 blurs: through half size and back, with one pass pair of
  // strength 0. Surface pixel x reads half-size texel x / 2 - 0.25.
  EdgeFrame(0.00001f);
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0], (std::vector<oru::TBlurPass>{{0, 1}}));
  for (int y : {1, 24, 46}) {
    EXPECT_EQ(At(30, y), 0xFFFFFFu);
    EXPECT_TRUE(Near(At(31, y), 0xBFBFBFu, 1)) << y;
    EXPECT_TRUE(Near(At(32, y), 0x404040u, 1)) << y;
    EXPECT_EQ(At(33, y), 0u);
  }
  // Drawn at the top level, the pass gets a frame of its own.
  plans.clear();
  TRef<TFnItem> top = MakeRef<TFnItem>(
      [](T3DDrawer& d) {
        d.Clear(TColor32::FromValue(kBlack), false);
        d.FillRectF({0, 0}, {32, 48}, TColor32::FromValue(0xFFFFFFFFu));
      },
      0.00001f);
  ASSERT_TRUE(drawer->Draw(top.get()));
  Capture();
  EXPECT_EQ(plans.size(), 1u);
  EXPECT_TRUE(Near(At(31, 5), 0xBFBFBFu, 1));
  EXPECT_EQ(drawer->DrawDepth, 0);
  // 2 pixels is the same plan; 28 pixels one full pair and a last one at step 2.
  EdgeFrame(2000);
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0], (std::vector<oru::TBlurPass>{{0, 1}}));
  EdgeFrame(28000);
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0], (std::vector<oru::TBlurPass>{{1, 1}, {1, 2}}));
  // Blurred, the edge spreads but the far sides keep their colours.
  EXPECT_EQ(At(2, 24), 0xFFFFFFu);
  EXPECT_EQ(At(62, 24), 0u);
  EXPECT_GT(Channel(At(36, 24), 8), 0);
  EXPECT_LT(Channel(At(27, 24), 8), 255);
  // Every target went back to its pool.
  EXPECT_FALSE(drawer->Blurring);
  EXPECT_GE(drawer->TargetPool->FreeCount(), 1);
  EXPECT_GE(drawer->HalfTargetPool->FreeCount(), 3);
}

TEST_F(BlurOnDevice, ABlurBelowOnePixelMixesTheFullAndHalfPictures) {
  // R = 1 pixel: r = 0.5, alpha (0.5 - 0.00001) / 0.99999.
  EdgeFrame(1000);
  EXPECT_TRUE(plans.empty());
  const double alpha = (0.5 - 0.00001) / 0.99999;
  EXPECT_NEAR(Channel(At(31, 20), 8), 255 * (1 - alpha) + 191.25 * alpha, 1.5);
  EXPECT_NEAR(Channel(At(32, 20), 8), 63.75 * alpha, 1.5);
  EXPECT_EQ(At(30, 20), 0xFFFFFFu);
}

TEST_F(BlurOnDevice, OneFullStrengthPassPairOnALine) {
  // R = 14 pixels: r = 7, one pair of strength 1 at step 1 on the half
  // picture. A white line two pixels wide at x = 20 is one half-size texel
  // (10) that spreads over 10 - 3 .. 10 + 3 with the seven weights.
  plans.clear();
  drawer->OnBlurPlan = [this](const std::vector<oru::TBlurPass>& p) { plans.push_back(p); };
  TRef<TFnItem> line = MakeRef<TFnItem>(
      [](T3DDrawer& d) {
        d.FillRectF({20, 0}, {22, 48}, TColor32::FromValue(0xFFFFFFFFu));
        // What the pass drew, in surface pixels rounded outwards and held to the surface.
        EXPECT_EQ(d.DrawnBounds.Left, 20);
        EXPECT_EQ(d.DrawnBounds.Right, 22);
        EXPECT_EQ(d.DrawnBounds.Bottom, 48);
        d.FillRectF({-3.5f, 10.2f}, {20.5f, 12}, TColor32::FromValue(0x01000000u));  // invisible
        EXPECT_EQ(d.DrawnBounds.Left, 0);
        EXPECT_EQ(d.DrawnBounds.Right, 22);
      },
      14000);
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.Draw(line.get()); }));
  Capture();
  ASSERT_EQ(plans.size(), 1u);
  const double wts[4] = {0.294544, 0.17865, 0.108356, 0.065722};
  // Surface x reads texel t = x / 2 - 0.25 linearly; texel k holds wts[|k - 10|].
  const auto texel = [&](int k) { return std::abs(k - 10) <= 3 ? wts[std::abs(k - 10)] : 0.0; };
  for (int x = 10; x < 34; ++x) {
    const double t = x / 2.0 - 0.25;
    const int k = int(std::floor(t));
    const double f = t - k;
    const double want = 255 * (texel(k) * (1 - f) + texel(k + 1) * f);
    EXPECT_NEAR(Channel(At(x, 24), 0), want, 1.5) << x;
  }
}

// ---- Sharpen, mask, trail -----------------------------------------------------------------------

TEST_F(TDrawerOnDevice, SharpenRaisesTheContrastOfALine) {
  ASSERT_EQ(drawer->ShaderLevel(), 2);
  // -10000 asks for amount 100 of EndSharpen, 1.0 in the shader.
  int nested = 0;
  TRef<TFnItem> inner = MakeRef<TFnItem>([&](T3DDrawer&) { ++nested; }, -50);
  TRef<TFnItem> line = MakeRef<TFnItem>(
      [&](T3DDrawer& d) {
        d.FillRectF({0, 0}, {64, 48}, TColor32::FromValue(0xFF808080u));
        d.FillRectF({20, 0}, {21, 48}, TColor32::FromValue(0xFFFFFFFFu));
        EXPECT_TRUE(d.SharpenTarget);
        d.Draw(inner.get());  // no sharpen inside a sharpen
      },
      -10000);
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.Draw(line.get()); }));
  EXPECT_EQ(nested, 1);
  EXPECT_FALSE(drawer->SharpenTarget);
  Capture();
  const double g = 128 / 255.0;
  // x = 21: centre g, the line on the left, corners two line pixels.
  const double b21 = (4 * g + 2 * (1 + g + g + g) + (1 + 1 + g + g)) / 16;
  const double b19 = b21;
  EXPECT_EQ(At(20, 24), 0xFFFFFFu);  // 1 + D clamps to 1
  EXPECT_NEAR(Channel(At(21, 24), 0), 255 * (g + (g - b21)), 1.5);
  EXPECT_NEAR(Channel(At(19, 24), 0), 255 * (g + (g - b19)), 1.5);
  EXPECT_EQ(At(10, 24), 0x808080u);  // flat areas stay
}

TEST_F(TDrawerOnDevice, MaskedContentShowsWhereTheMaskIsLight) {
  int contentDraws = 0, maskDraws = 0;
  TRef<TFnItem> content = MakeRef<TFnItem>([&](T3DDrawer& d) {
    ++contentDraws;
    EXPECT_EQ(d.ContentDepth, 1);
    d.FillRectF({0, 0}, {64, 48}, TColor32::FromValue(0xFFFF0000u));
  });
  TRef<TFnItem> mask = MakeRef<TFnItem>([&](T3DDrawer& d) {
    ++maskDraws;
    EXPECT_EQ(d.MaskDepth, 1);
    d.FillRectF({0, 0}, {32, 48}, TColor32::FromValue(0xFFFFFFFFu));
    d.FillRectF({32, 0}, {48, 48}, TColor32::FromValue(0xFF808080u));  // grey turns white, alpha 128
  });
  for (float opacity : {100.0f, 50.0f, 0.0f}) {
    ASSERT_TRUE(Frame(0xFF0000FFu, [&](T3DDrawer& d) { EXPECT_TRUE(d.DrawMasked(mask.get(), content.get(), opacity, nullptr)); }));
    Capture();
    const double a = std::nearbyint(opacity * 2.55) / 255;
    EXPECT_TRUE(Near(At(10, 10), std::uint32_t(std::lround(255 * a)) << 16 | std::uint32_t(std::lround(255 * (1 - a))), 1))
        << opacity;
    const double a2 = a * 128 / 255;
    EXPECT_TRUE(Near(At(40, 10), std::uint32_t(std::lround(255 * a2)) << 16 | std::uint32_t(std::lround(255 * (1 - a2))), 1))
        << opacity;
    EXPECT_EQ(At(50, 10), 0x0000FFu) << opacity;
  }
  EXPECT_EQ(contentDraws, 3);
  EXPECT_EQ(maskDraws, 3);
  EXPECT_EQ(drawer->ContentDepth, 0);
  EXPECT_EQ(drawer->MaskDepth, 0);
  // Outside a frame, or without items, nothing runs.
  EXPECT_FALSE(drawer->DrawMasked(mask.get(), content.get()));
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
    EXPECT_FALSE(d.DrawMasked(nullptr, content.get()));
    EXPECT_FALSE(d.DrawMasked(mask.get(), nullptr));
  }));
  EXPECT_EQ(contentDraws, 3);
}

TEST_F(TDrawerOnDevice, TheTrailBlendsEachFrameIntoTheOnesBefore) {
  std::uint32_t colour = 0xFFFF0000u;
  float decay = 50;
  TRef<TFnItem> child = MakeRef<TFnItem>([&](T3DDrawer& d) { d.FillRectF({0, 0}, {64, 48}, TColor32::FromValue(colour)); });
  const auto frame = [&] {
    ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
      d.BeginTrail(decay);
      d.Draw(child.get());
      d.EndTrail();
    }));
    Capture();
  };
  // Decay 0 changes nothing: the child is drawn straight.
  decay = 0;
  frame();
  EXPECT_FALSE(drawer->TrailAccumulator);
  EXPECT_EQ(At(5, 5), 0xFF0000u);
  // The first accumulated frame has weight 1.
  decay = 50;
  frame();
  EXPECT_TRUE(drawer->TrailAccumulator);
  EXPECT_FALSE(drawer->TrailTarget);
  EXPECT_EQ(At(5, 5), 0xFF0000u);
  colour = 0xFF0000FFu;
  frame();
  EXPECT_TRUE(Near(At(5, 5), 0x800080u, 1));
  frame();
  EXPECT_TRUE(Near(At(5, 5), 0x4000BFu, 1));
  // A new surface size gives the kept accumulator back before the pools
  // change (it would not fit them afterwards).
  ASSERT_TRUE(drawer->TrailAccumulator);
  form->SetBounds({0, 0, 300, 200});
  device->UpdateFromForm();
  // The window's device is made again at the new size: the frame that finds
  // the size draws nothing (it was laid out for the old surface), the next
  // one is presented whole.
  EXPECT_FALSE(Frame(kBlack, nullptr));
  EXPECT_FALSE(drawer->TrailAccumulator);
  EXPECT_NE(drawer->TargetPool->PoolSize(), (TSize{64, 64}));
  EXPECT_TRUE(Frame(kBlack, nullptr));
}

// ---- Transitions ------------------------------------------------------------------------------------

std::string gLog;

class TSlide : public TDrawItem {
public:
  explicit TSlide(std::string name) : Name(std::move(name)) {}
  void Draw(TDeviceDrawer& d) override {
    auto& drawer = static_cast<T3DDrawer&>(d);
    gLog += Name;
    if (drawer.Screen()->TargetStack()->Count() > 1) gLog += "@";
    if (TransitionFlag) gLog += "!";
    if (d.OffsetSet) gLog += "+" + std::to_string(int(d.DrawOffset.X));
    gLog += " ";
  }
  std::string Name;
};

class TTestFilter : public oru::TDrawFilter {
public:
  void Draw(oru::TCustomD3DEffecter* e) override {
    gLog += "F ";
    if (!e || !e->Controller()) return;
    // The picture over the whole target, opaque.
    const TRect& r = TargetRect;
    const float l = float(r.Left), t = float(r.Top), rr = float(r.Right), b = float(r.Bottom);
    oru::TEffTile* tile = e->Controller()->GetMultiTile();
    tile->Begin(oru::emTextured, false);
    tile->AddTriangle({{{l, t, 255}, {rr, t, 255}, {rr, b, 255}}});
    tile->AddTriangle({{{l, t, 255}, {rr, b, 255}, {l, b, 255}}});
    tile->End();
  }
  oru::TFilterPassMode PassMode() const override { return Mode; }
  TFloatPoint PushOffset(const TRect& visible) const override { return {float(visible.Right - visible.Left) / 4, 0}; }
  bool SlideFlag() const override { return true; }
  void SetSlideValue(float v) override { gLog += "v" + std::to_string(int(v * 10)) + " "; }
  void SetSlides(TDrawItem* a, TDrawItem* b) override { gLog += a && b ? "slides " : "? "; }
  void SetEffecter(oru::TCustomD3DEffecter* e) override { gLog += e ? "eff " : "? "; }
  TDrawItem* SlideDrawItem() override { return Own.get(); }
  void FinishSlideEffect() override { gLog += "done"; }

  oru::TFilterPassMode Mode = oru::TFilterPassMode::Plain;
  TRef<TSlide> Own = MakeRef<TSlide>("own");
};

oru::TFilterPassMode gMode;
bool gReverse = false;
int gMade = 0;

TRef<oru::TDrawFilter> MakeTestFilter(const TRect& rect, TRefObject*, TDrawItem*, bool) {
  ++gMade;
  TRef<TTestFilter> f = MakeRef<TTestFilter>();
  f->Init(rect, 0, 1.0f);
  f->Mode = gMode;
  f->Reverse = gReverse;
  return f;
}

class TransitionOnDevice : public TDrawerOnDevice {
protected:
  void SetUp() override {
    TDrawerOnDevice::SetUp();
    effectFilter_.Set(&MakeTestFilter);
    gMade = 0;
  }
  void TearDown() override {
    effectFilter_.Restore();
    TDrawerOnDevice::TearDown();
  }
  zm::THookScope<oru::TCreateEffectFilterProc> effectFilter_{oru::CreateEffectFilterHook};
  std::string Run(oru::TFilterPassMode mode, bool reverse, float progress, TFilterParams* params = nullptr) {
    gMode = mode;
    gReverse = reverse;
    TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
    p->Progress = progress;
    gLog.clear();
    EXPECT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawTransition(a.get(), b.get(), params ? params : p.get()); }));
    return gLog;
  }
  TRef<TSlide> a = MakeRef<TSlide>("A"), b = MakeRef<TSlide>("B");
};

TEST_F(TransitionOnDevice, EachPassModeDrawsTheSlidesInItsOrder) {
  using M = oru::TFilterPassMode;
  EXPECT_EQ(Run(M::Plain, false, 0.3f), "A B@ F ");
  EXPECT_EQ(Run(M::Plain, true, 0.3f), "B A@ F ");
  EXPECT_EQ(Run(M::Overturn, false, 0.3f), "A@ F ");
  EXPECT_EQ(Run(M::Overturn, false, 0.5f), "B@ F ");
  EXPECT_EQ(Run(M::Overturn, true, 0.3f), "B@ F ");
  EXPECT_EQ(Run(M::Overturn, true, 0.7f), "A@ F ");
  EXPECT_EQ(Run(M::TwoSlides, false, 0.3f), "B@ F A@ F ");
  EXPECT_EQ(Run(M::TwoSlides, false, 0.6f), "A@ F B@ F ");
  EXPECT_EQ(Run(M::TwoSlides, true, 0.3f), "A@ F B@ F ");
  EXPECT_EQ(Run(M::TwoSlides, true, 0.6f), "B@ F A@ F ");
  EXPECT_EQ(Run(M::Push, false, 0.3f), "A+16 B@ F ");
  EXPECT_EQ(Run(M::Push, true, 0.3f), "B A@ F ");  // reversed push is a plain filter
  EXPECT_EQ(Run(M::SlideEffect, false, 0.4f), "A@! B@! v4 slides eff own done");
  EXPECT_FALSE(a->TransitionFlag);
  EXPECT_FALSE(drawer->InTransition);
  EXPECT_FALSE(drawer->OffsetSet);
  EXPECT_EQ(drawer->Effecter->GetPicture(0), nullptr);  // pictures went back
  EXPECT_EQ(drawer->Effecter->GetPicture(1), nullptr);
}

TEST_F(TransitionOnDevice, WithoutAFilterOrOutsideItsRangeTheIncomingSlideShows) {
  using M = oru::TFilterPassMode;
  EXPECT_EQ(Run(M::Plain, false, -0.1f), "B ");
  EXPECT_EQ(Run(M::Plain, false, 1.0f), "B ");
  EXPECT_EQ(Run(M::Plain, false, std::nanf("")), "B ");
  TRef<TFilterParams> other = MakeRef<TFilterParams>();
  EXPECT_EQ(Run(M::Plain, false, 0.3f, other.get()), "A ");
  effectFilter_.Set(nullptr);
  EXPECT_EQ(Run(M::Plain, false, 0.3f), "B ");
  // The filter is made once per parameter object.
  effectFilter_.Set(&MakeTestFilter);
  gMade = 0;
  TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
  p->Progress = 0.2f;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawTransition(a.get(), b.get(), p.get()); }));
  EXPECT_EQ(gMade, 1);
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
    d.DrawTransition(nullptr, nullptr, p.get());
    d.DrawTransition(nullptr, nullptr, nullptr);
  }));
}

TEST_F(TransitionOnDevice, APreparedTransitionMakesNothingInItsFirstFrame) {
  using M = oru::TFilterPassMode;
  const auto made = [&](M mode, TDrawItem* preparedFor, bool prepare) {
    gMode = mode;
    gReverse = false;
    gMade = 0;
    TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
    p->Progress = 0.3f;
    if (prepare) drawer->PrepareTransition(preparedFor, p.get());
    Dev()->Debug().ClearCalls();
    Dev()->Debug().RecordCalls(true);
    gLog.clear();
    EXPECT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawTransition(a.get(), b.get(), p.get()); }));
    Dev()->Debug().RecordCalls(false);
    std::size_t textures = 0;
    for (const plat::gfx::CallRecord& c : Dev()->Debug().Calls()) textures += c.call == plat::gfx::CallKind::CreateTexture;
    return std::to_string(gMade) + " filters, " + std::to_string(textures) + " textures: " + gLog;
  };
  // Before any frame there is no frame to make the filter for.
  TRef<oru::TOruFilter> early = MakeRef<oru::TOruFilter>();
  drawer->PrepareTransition(a.get(), early.get());
  EXPECT_FALSE(early->FilterMade);
  drawer->PrepareTransition(a.get(), nullptr);
  ASSERT_TRUE(Frame(kBlack, nullptr));
  // Unprepared, the first frame makes the filter and its picture.
  EXPECT_EQ(made(M::Plain, a.get(), false), "1 filters, 2 textures: A B@ F ");
  drawer->TargetPool->ClearPool();
  drawer->Effecter->RTManager()->ClearPool();
  EXPECT_EQ(made(M::Plain, a.get(), true), "1 filters, 0 textures: A B@ F ");
  EXPECT_EQ(made(M::TwoSlides, a.get(), true), "1 filters, 0 textures: B@ F A@ F ");
  EXPECT_EQ(made(M::SlideEffect, a.get(), true), "1 filters, 0 textures: A@! B@! v3 slides eff own done");
  // Prepared for another outgoing slide: made again for this one.
  EXPECT_EQ(made(M::Plain, b.get(), true), "2 filters, 0 textures: A B@ F ");
}

TEST_F(TransitionOnDevice, TheIncomingSlidePaintsOverTheOutgoingOne) {
  struct TFill : TDrawItem {
    std::uint32_t C;
    explicit TFill(std::uint32_t c) : C(c) {}
    void Draw(TDeviceDrawer& d) override { d.FillRectF({0, 0}, {32, 48}, TColor32::FromValue(C)); }
  };
  TRef<TFill> red = MakeRef<TFill>(0xFFFF0000u);
  TRef<TFill> green = MakeRef<TFill>(0xFF00FF00u);
  gMode = oru::TFilterPassMode::Plain;
  gReverse = false;
  TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
  p->Progress = 0.5f;
  ASSERT_TRUE(Frame(0xFF0000FFu, [&](T3DDrawer& d) { d.DrawTransition(red.get(), green.get(), p.get()); }));
  Capture();
  EXPECT_EQ(At(5, 5), 0x00FF00u);
  EXPECT_EQ(At(40, 5), 0x0000FFu);  // the picture is transparent outside the slide
}

// ---- Frames, capture, lost devices, bad input ------------------------------------------------------------

TEST_F(TDrawerOnDevice, ReadFrameCopiesThePresentedFrameOnlyInCaptureMode) {
  TRef<TSysBitmap> bmp = CreateSysBitmap(64, 48, pfA8R8G8B8);
  std::memset(bmp->ScanLine(0), 0x5A, 4);
  ASSERT_TRUE(Frame(0xFF336699u, [](T3DDrawer& d) { d.FillRectF({10, 10}, {20, 20}, TColor32::FromValue(0xFFFFFFFFu)); }));
  EXPECT_TRUE(drawer->ReadFrame(bmp.get()));
  EXPECT_EQ(bmp->ScanLine(0)[0], 0x5A);
  EXPECT_TRUE(drawer->ReadFrame(nullptr));
  Capture();
  const int presents = plat::headless::PresentCount(device->Window());

  drawer->CaptureMode = true;
  ASSERT_TRUE(Frame(0xFF336699u, [](T3DDrawer& d) { d.FillRectF({10, 10}, {20, 20}, TColor32::FromValue(0xFFFFFFFFu)); }));
  EXPECT_EQ(plat::headless::PresentCount(device->Window()), presents);  // not presented
  ASSERT_TRUE(drawer->ReadFrame(bmp.get()));
  EXPECT_FALSE(drawer->ReadFrame(nullptr));
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      std::uint32_t v;
      std::memcpy(&v, bmp->ScanLine(y) + 4 * x, 4);
      ASSERT_EQ(v & 0xFFFFFFu, At(x, y)) << x << "," << y;
    }
  TRef<TImage> frame = drawer->CaptureFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->Params.Width, 64);
  drawer->Close();
  EXPECT_FALSE(drawer->ReadFrame(bmp.get()));
  drawer->CaptureMode = false;
}

TEST_F(TDrawerOnDevice, ALostDeviceDropsTheFrameAndTexturesComeBackNextFrame) {
  TRef<TImage> img = MakeImage(16, 16, [](int, int) { return 0xFF20C040u; });
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(img.get(), {4, 4}, TImageDrawParams{}, {1, 0}, {0, 1}); }));
  Capture();
  const std::vector<std::uint32_t> before = px;
  const int presents = plat::headless::PresentCount(device->Window());
  TRef<TFnItem> blurred = MakeRef<TFnItem>([&](T3DDrawer& d) { d.FillRectF({0, 0}, {8, 8}, TColor32::FromValue(~0u)); }, 4000);
  EXPECT_FALSE(Frame(0xFFFFFFFFu, [&](T3DDrawer& d) {
    d.DrawImage(img.get(), {30, 4}, TImageDrawParams{}, {1, 0}, {0, 1});
    Dev()->Debug().LoseDevice(plat::gfx::LossMode::EveryCall);
    d.Draw(blurred.get());
    d.DrawImage(img.get(), {30, 24}, TImageDrawParams{}, {1, 0}, {0, 1});
    TGradientFill g;
    d.FillGradientQuad({0, 0}, {}, g, {5, 0}, {0, 5});
  }));
  EXPECT_FALSE(drawer->CanDraw());
  EXPECT_EQ(plat::headless::PresentCount(device->Window()), presents);
  Capture();
  EXPECT_EQ(px, before);
  EXPECT_FALSE(drawer->Blurring);
  // The next frame makes a new device and draws the picture again.
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(img.get(), {30, 24}, TImageDrawParams{}, {1, 0}, {0, 1}); }));
  Capture();
  EXPECT_EQ(At(30, 24), 0x20C040u);
  EXPECT_EQ(At(45, 39), 0x20C040u);
  EXPECT_EQ(At(4, 4), 0u);
}

class TNoPictureStore : public TBitmapStore {
public:
  void BuildMipLevel(std::int32_t, TPixelFormat*, TMipLevelResult&, const TBitmapClass*) override {}
};

TEST_F(TDrawerOnDevice, BadInputDrawsNothing) {
  TRef<TBitmapStore> empty = MakeRef<TNoPictureStore>();
  TRef<TImage> none = MakeRef<TImage>(empty.get());
  TRef<TImage> img = MakeImage(4, 4, [](int, int) { return 0xFFFFFFFFu; });
  TImageDrawParams negative;
  negative.Level = -1;
  TImageDrawParams deep;
  deep.Level = 40;
  TImageDrawParams badTiles;
  badTiles.Tiled = true;
  badTiles.Rows = 0;
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
    d.DrawImage(none.get(), {0, 0}, TImageDrawParams{}, {1, 0}, {0, 1});
    d.DrawImage(nullptr, {0, 0}, TImageDrawParams{}, {1, 0}, {0, 1});
    d.DrawImage(img.get(), {0, 0}, negative, {1, 0}, {0, 1});
    d.DrawImage(img.get(), {0, 0}, deep, {1, 0}, {0, 1});
    d.DrawImage(img.get(), {0, 0}, badTiles, {1, 0}, {0, 1});
    EXPECT_FALSE(d.Draw(nullptr));
    d.DrawGradientFrame(true, {0, 0}, true, 100, TColor32::FromValue(~0u), {10, 10}, {0, 3});
    d.DrawVideoImage(zm::TVideoDrawParams{}, {0, 0}, {1, 0}, {0, 1});
    d.PopShader();
  }));
  drawer->PrepareImage(none.get(), TImageDrawParams{});
  drawer->PrepareImage(nullptr, TImageDrawParams{});
  drawer->ReleaseImageTextures(none.get());
  EXPECT_FALSE(drawer->CreateVideoImage(0, 16, true));
  Capture();
  for (std::uint32_t p : px) ASSERT_EQ(p & 0xFFFFFFu, 0u);
  // The frame strips and their feathered outer edges.
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
    d.DrawGradientFrame(true, {10, 10}, false, 100, TColor32::FromValue(~0u), {20, 16}, {2, 3});
  }));
  Capture();
  EXPECT_EQ(At(10, 10), 0xFFFFFFu);
  EXPECT_EQ(At(29, 25), 0xFFFFFFu);
  EXPECT_EQ(At(11, 20), 0xFFFFFFu);
  EXPECT_EQ(At(12, 20), 0u);
  EXPECT_EQ(At(27, 20), 0u);
  EXPECT_EQ(At(28, 20), 0xFFFFFFu);
  EXPECT_EQ(At(20, 12), 0xFFFFFFu);
  EXPECT_EQ(At(20, 13), 0u);
  EXPECT_EQ(At(30, 20), 0u);
}

TEST_F(TDrawerOnDevice, LayoutFixedFrameAndShaders) {
  EXPECT_EQ(drawer->Bounds, (TRect{0, 0, 64, 48}));
  EXPECT_EQ(drawer->Camera, (TFloatPoint3{32, 24, -48}));
  EXPECT_EQ(drawer->TargetPool->PoolSize(), (TSize{64, 64}));
  EXPECT_EQ(drawer->HalfTargetPool->PoolSize(), (TSize{32, 32}));
  for (int i = 0; i < oru::kShaderCount; ++i) EXPECT_TRUE(drawer->ShaderAt(i)) << i;
  EXPECT_EQ(drawer->ShaderAt(oru::kShaderCount), nullptr);
  // Centred, halves to even: (64 - 21) / 2 = 21.5 -> 22; (48 - 11) / 2 = 18.5 -> 18.
  drawer->SetFixedFrameSize({21, 11});
  EXPECT_EQ(drawer->FrameRect, (TRect{22, 18, 43, 29}));
  ASSERT_TRUE(Frame(kBlack, nullptr));
  EXPECT_EQ(drawer->FrameRect, (TRect{22, 18, 43, 29}));
  drawer->SetView({0, 0, 64, 48}, {128, 96}, true, {64, 48, -96});
  EXPECT_FLOAT_EQ(drawer->PixelScale(), 128.0f / 21);
  // The shader stack: pop of an empty stack is harmless.
  ASSERT_TRUE(Frame(kBlack, [](T3DDrawer& d) {
    d.PushShader(d.ShaderAt(oru::shUnsharp));
    d.PushShader(d.ShaderAt(oru::shGaussMix));
    d.PopShader();
    EXPECT_EQ(d.ShaderStack.size(), 1u);
    d.PopShader();
    d.PopShader();
    EXPECT_TRUE(d.ShaderStack.empty());
  }));
}

TEST_F(TDrawerOnDevice, AnOffScreenLayerIsDrawnWithItsAlpha) {
  ASSERT_TRUE(Frame(0xFF0000FFu, [](T3DDrawer& d) {
    TRef<TRenderTargetTexture> t = d.BeginRenderTarget();
    ASSERT_TRUE(t);
    EXPECT_TRUE(d.Redirected);
    d.FillRectF({0, 0}, {10, 10}, TColor32::FromValue(0xFFFF0000u));
    d.EndRenderTarget();
    EXPECT_FALSE(d.Redirected);
    d.DrawRenderTarget(t, 128);
  }));
  Capture();
  EXPECT_TRUE(Near(At(5, 5), 0x80007Fu, 1));
  EXPECT_EQ(At(15, 5), 0x0000FFu);
}

// A store whose decode waits until it is let go, and says when it began.
class TGatedStore : public TSysBitmapStore {
public:
  TGatedStore() : TSysBitmapStore(u"gated", TImageLoadHandler{}, {40, 30}, pfA8R8G8B8) {}
  void GetSourceLevel(std::int32_t level, TMipLevelResult& result) override {
    if (level != 0) return;
    {
      std::unique_lock<std::mutex> l(M);
      Entered = true;
      C.notify_all();
      C.wait(l, [&] { return Open; });
    }
    TRef<TSysBitmap> b = CreateSysBitmap(40, 30, pfA8R8G8B8);
    b->FillRect({0, 0, 40, 30}, TColor32::FromValue(0xFF405060u));
    result.Bitmap = b;
    result.Owned = true;
    result.Level = 0;
  }
  std::mutex M;
  std::condition_variable C;
  bool Entered = false, Open = false;
};

TEST_F(TDrawerOnDevice, AFrameIsDrawnWhileAPreparedPictureDecodes) {
  TRef<TGatedStore> store = MakeRef<TGatedStore>();
  TRef<TImage> slow = MakeRef<TImage>(store.get());
  TRef<TImage> other = MakeImage(8, 8, [](int, int) { return 0xFF00FF00u; });
  std::thread loader([&] { drawer->PrepareImage(slow.get(), TImageDrawParams{}); });
  {
    std::unique_lock<std::mutex> l(store->M);
    store->C.wait(l, [&] { return store->Entered; });
  }
  // The decode holds no drawer lock: the frame is drawn before it ends. (A
  // frame that waited for it would be let go by the watchdog, and fail.)
  bool drawn = false, forced = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> l(store->M);
    if (!store->C.wait_for(l, std::chrono::seconds(30), [&] { return drawn; })) forced = true;
    store->Open = true;
    store->C.notify_all();
  });
  const bool ok =
      Frame(kBlack, [&](T3DDrawer& d) { d.DrawImage(other.get(), {0, 0}, TImageDrawParams{}, {1, 0}, {0, 1}); });
  {
    std::lock_guard<std::mutex> l(store->M);
    drawn = true;
  }
  store->C.notify_all();
  watchdog.join();
  loader.join();
  EXPECT_TRUE(ok);
  EXPECT_FALSE(forced);
  TList* cache = store->GetCacheList();
  ASSERT_EQ(cache->Count(), 1);
  auto* textures = dynamic_cast<oru::TTextureStore2*>(cache->Get(0));
  ASSERT_TRUE(textures);
  ASSERT_EQ(textures->Textures.size(), 1u);
  EXPECT_GT(textures->Textures[0].Texture->TileCount(), 0);
  Capture();
  EXPECT_EQ(At(3, 3), 0x00FF00u);
  drawer->ReleaseImageTextures(slow.get());
}

TEST_F(TDrawerOnDevice, TheLoaderPreparesWhileTheEngineDraws) {
  TRef<TImage> img = MakeImage(300, 40, [](int x, int) { return 0xFF000000u | std::uint32_t(x & 255); });
  std::atomic<bool> stop{false};
  std::thread loader([&] {
    TImageDrawParams p;
    while (!stop.load()) {
      p.Level = p.Level == 0 ? 1 : 0;
      drawer->PrepareImage(img.get(), p);
      drawer->ReleaseImageTextures(img.get());
    }
  });
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
      TImageDrawParams p;
      p.Filtering = 0;
      d.DrawImage(img.get(), {0, 0}, p, {1, 0}, {0, 1});
    }));
  stop = true;
  loader.join();
  Capture();
  EXPECT_EQ(At(63, 10), 63u);
}


}  // namespace drawertest
