// Pixel-exact tests of the vertex stage and rasteriser through DrawPrimitives.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "Platform/Gfx/GfxRaster.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "tests/Platform/Gfx/GfxTestScene.h"

namespace plat::gfx::test {
namespace {

// Additive blending of colour 1 makes each pixel count how often it was drawn.
struct Coverage {
  Image target{97, 83, 0};
  Scene scene{target};
  Coverage() { scene.Additive(); }
  void Triangle(double ax, double ay, double bx, double by, double cx, double cy, std::vector<TlVertex>& out) {
    for (auto [x, y] : {std::pair{ax, ay}, {bx, by}, {cx, cy}})
      out.push_back({static_cast<float>(x), static_cast<float>(y), 0, 1, 0x01010101u, 0, 0});
  }
};

// Inside a convex polygon given clockwise on screen, by a margin.
bool DeepInside(const std::vector<std::pair<double, double>>& poly, double x, double y, double margin) {
  for (std::size_t i = 0; i < poly.size(); ++i) {
    const auto [ax, ay] = poly[i];
    const auto [bx, by] = poly[(i + 1) % poly.size()];
    const double cross = (bx - ax) * (y - ay) - (by - ay) * (x - ax);
    if (cross / std::hypot(bx - ax, by - ay) < margin) return false;
  }
  return true;
}

TEST(GfxRaster, SharedEdgesCoverEachPixelOnce) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> jitter(-0.49, 0.49);
  for (int round = 0; round < 40; ++round) {
    Coverage c;
    // A convex polygon around an odd centre, cut into a fan: every edge
    // between two triangles is shared, at many angles.
    const double cx = 48.3 + jitter(rng), cy = 41.7 + jitter(rng);
    std::vector<std::pair<double, double>> poly;
    const int n = 3 + round % 9;
    for (int k = 0; k < n; ++k) {
      const double a = 2 * M_PI * (k + 0.3 * jitter(rng)) / n;
      const double r = 30 + 10 * jitter(rng);
      poly.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
    }
    std::vector<TlVertex> v;
    for (int k = 0; k < n; ++k) {
      const auto [ax, ay] = poly[k];
      const auto [bx, by] = poly[(k + 1) % n];
      // Alternate the winding: culling is off.
      if (k & 1)
        c.Triangle(cx, cy, bx, by, ax, ay, v);
      else
        c.Triangle(cx, cy, ax, ay, bx, by, v);
    }
    c.scene.Draw(v, FvfXyzRhw | FvfDiffuse);
    for (std::uint32_t y = 0; y < c.target.height; ++y)
      for (std::uint32_t x = 0; x < c.target.width; ++x) {
        const std::uint32_t count = c.target.At(x, y) & 255;
        ASSERT_LE(count, 1u) << "round " << round << " pixel " << x << "," << y;
        if (DeepInside(poly, x, y, 1e-3)) {
          ASSERT_EQ(count, 1u) << "hole at " << x << "," << y;
        }
      }
  }
}

TEST(GfxRaster, PixelCentresAndTopLeftRule) {
  Coverage c;
  std::vector<TlVertex> v;
  // A square with corners on pixel centres: the top and left rows are drawn,
  // the bottom and right ones are not.
  c.Triangle(2, 2, 6, 2, 2, 6, v);
  c.Triangle(6, 2, 6, 6, 2, 6, v);
  c.scene.Draw(v, FvfXyzRhw | FvfDiffuse);
  for (std::uint32_t y = 0; y < 8; ++y)
    for (std::uint32_t x = 0; x < 8; ++x)
      EXPECT_EQ(c.target.At(x, y) & 255, (x >= 2 && x < 6 && y >= 2 && y < 6) ? 1u : 0u) << x << "," << y;
}

TEST(GfxRaster, OneToOneQuadCopiesTheSource) {
  Image src(37, 23);
  std::mt19937 rng(3);
  for (auto& p : src.pixels) p = rng();
  for (bool bilinear : {true, false}) {
    Image dst(40, 30, 0xFF000000u);
    Scene s(dst);
    s.Texture(src, false);
    s.Filter(bilinear ? 2 : 1);
    s.Draw(Quad(1.5f, 2.5f, 38.5f, 25.5f, 0xFFFFFFFFu), kTlFvf);
    for (std::uint32_t y = 0; y < src.height; ++y)
      for (std::uint32_t x = 0; x < src.width; ++x) ASSERT_EQ(dst.At(x + 2, y + 3), src.At(x, y)) << x << "," << y;
    EXPECT_EQ(dst.At(1, 3), 0xFF000000u);
    EXPECT_EQ(dst.At(39, 3), 0xFF000000u);
  }
  // Without the half-pixel offset, bilinear sampling blurs.
  Image dst(40, 30, 0);
  Scene s(dst);
  s.Texture(src, false);
  s.Draw(Quad(2, 3, 39, 26, 0xFFFFFFFFu), kTlFvf);
  int same = 0;
  for (std::uint32_t y = 0; y < src.height; ++y)
    for (std::uint32_t x = 0; x < src.width; ++x) same += dst.At(x + 2, y + 3) == src.At(x, y);
  EXPECT_LT(same, 20);
}

// A perspective projection (row vectors): x/z and y/z, depth 0 at zn.
Matrix Perspective(float zn, float zf) {
  Matrix m;
  const float q = zf / (zf - zn);
  m.m[2][2] = q;
  m.m[2][3] = 1;
  m.m[3][2] = -q * zn;
  m.m[3][3] = 0;
  return m;
}

TEST(GfxRaster, PerspectiveCorrectTiltedQuad) {
  Image tex(2, 1);
  tex.pixels = {0xFFFF0000u, 0xFF00FF00u};  // u < 0.5 red, else green
  Image dst(64, 64, 0);
  Scene s(dst);
  s.Texture(tex, false);
  s.Filter(1);
  s.call.projection = Perspective(0.5f, 100.0f);
  // Left edge near (z 2), right edge far (z 6). The centre projects to x 32;
  // affine interpolation would put the colour change near x 26.7.
  const std::vector<Vertex3> v = {{-1, 1, 2, 0xFFFFFFFFu, 0, 0}, {1, 1, 6, 0xFFFFFFFFu, 1, 0},
                                  {-1, -1, 2, 0xFFFFFFFFu, 0, 1}, {1, 1, 6, 0xFFFFFFFFu, 1, 0},
                                  {1, -1, 6, 0xFFFFFFFFu, 1, 1},  {-1, -1, 2, 0xFFFFFFFFu, 0, 1}};
  s.Draw(v, k3Fvf);
  EXPECT_EQ(dst.At(20, 32), 0xFFFF0000u);
  EXPECT_EQ(dst.At(30, 32), 0xFFFF0000u);
  EXPECT_EQ(dst.At(31, 32), 0xFFFF0000u);
  EXPECT_EQ(dst.At(33, 32), 0xFF00FF00u);
  EXPECT_EQ(dst.At(36, 32), 0xFF00FF00u);
  EXPECT_EQ(dst.At(10, 32), 0u);  // left of the near edge at x 16
}

TEST(GfxRaster, NearClippingKeepsGeometryInFront) {
  Image dst(64, 64, 0);
  Scene s(dst);
  s.call.projection = Perspective(0.5f, 1000.0f);
  // A floor from behind the camera to far ahead: only the part in front is
  // drawn, below the horizon; nothing comes back mirrored above it.
  const std::uint32_t w = 0xFFFFFFFFu;
  const std::vector<Vertex3> v = {{-4, -1, -3, w, 0, 0}, {4, -1, -3, w, 0, 0}, {-4, -1, 50, w, 0, 0},
                                  {4, -1, -3, w, 0, 0},  {4, -1, 50, w, 0, 0},  {-4, -1, 50, w, 0, 0}};
  s.Draw(v, FvfXyz | FvfDiffuse | FvfTex1);
  int above = 0, below = 0;
  for (std::uint32_t y = 0; y < 64; ++y)
    for (std::uint32_t x = 0; x < 64; ++x) (y <= 32 ? above : below) += dst.At(x, y) != 0;
  EXPECT_EQ(above, 0);
  EXPECT_GT(below, 500);
  EXPECT_EQ(dst.At(32, 63), w);
}

TEST(GfxRaster, CullingAndStripWinding) {
  Image dst(16, 16, 0);
  Scene s(dst);
  s.rs[static_cast<int>(RenderState::CullMode)] = static_cast<std::uint32_t>(Cull::Ccw);
  const std::uint32_t w = 0xFFFFFFFFu;
  // A strip of two: clockwise first triangle, the second reversed by the strip.
  const std::vector<TlVertex> strip = {{0, 0, 0, 1, w, 0, 0}, {16, 0, 0, 1, w, 0, 0}, {0, 16, 0, 1, w, 0, 0},
                                       {16, 16, 0, 1, w, 0, 0}};
  s.Draw(strip, kTlFvf, PrimitiveType::TriangleStrip);
  for (std::uint32_t y = 0; y < 16; ++y)
    for (std::uint32_t x = 0; x < 16; ++x) ASSERT_EQ(dst.At(x, y), w);
  // The same strip listed the other way round is counter-clockwise: culled.
  Image dst2(16, 16, 0);
  Scene s2(dst2);
  s2.rs[static_cast<int>(RenderState::CullMode)] = static_cast<std::uint32_t>(Cull::Ccw);
  const std::vector<TlVertex> back = {strip[1], strip[0], strip[3], strip[2]};
  s2.Draw(back, kTlFvf, PrimitiveType::TriangleStrip);
  for (auto p : dst2.pixels) ASSERT_EQ(p, 0u);
}

TEST(GfxRaster, StageWithoutTexturePassesVertexColour) {
  Image tex(1, 1, 0xFF123456u);
  Image dst(8, 8, 0);
  Scene s(dst);
  s.Texture(tex);
  s.call.textures[0] = TTextureView{};  // the stage still says SELECTARG1(TEXTURE)
  s.Draw(Quad(0, 0, 8, 8, 0x80FF8040u), kTlFvf);
  EXPECT_EQ(dst.At(3, 3), 0x80FF8040u);
  // Gouraud: the colour is interpolated between vertices.
  Image g(9, 1, 0);
  Scene sg(g);
  std::vector<TlVertex> v = {{0, -1, 0, 1, 0xFF000000u, 0, 0}, {8, -1, 0, 1, 0xFF0000FFu, 0, 0},
                             {0, 2, 0, 1, 0xFF000000u, 0, 0},  {8, -1, 0, 1, 0xFF0000FFu, 0, 0},
                             {8, 2, 0, 1, 0xFF0000FFu, 0, 0},  {0, 2, 0, 1, 0xFF000000u, 0, 0}};
  sg.Draw(v, kTlFvf);
  EXPECT_EQ(g.At(0, 0), 0xFF000000u);
  EXPECT_EQ(g.At(4, 0), 0xFF000080u);  // 127.5 rounds up
  EXPECT_EQ(g.At(8, 0), 0u);           // the right edge is not drawn
}

TEST(GfxRaster, TwoStagesWithTwoTextureSets) {
  // The screen's batch layout: XYZ | DIFFUSE | TEX2, stride 32.
  struct V {
    float x, y, z;
    std::uint32_t color;
    float u0, v0, u1, v1;
  };
  Image a(1, 1, 0x00804020u, Format::X8R8G8B8);  // stored alpha 0 reads as 1
  Image b(2, 1);
  b.pixels = {0x80FF8000u, 0xFF0000FFu};
  Image dst(8, 8, 0);
  Scene s(dst);
  s.Texture(a, false);
  s.Filter(1);
  s.ss[1] = s.ss[0];
  s.call.textures[1].kind = TTextureKind::Texture2D;
  s.call.textures[1].levelCount = 1;
  s.call.textures[1].levels[0] = b.View();
  auto& st1 = s.st[1];
  st1[static_cast<int>(StageState::ColorOp)] = static_cast<std::uint32_t>(TextureOp::Modulate);
  st1[static_cast<int>(StageState::ColorArg1)] = ArgTexture;
  st1[static_cast<int>(StageState::ColorArg2)] = ArgCurrent;
  st1[static_cast<int>(StageState::AlphaOp)] = static_cast<std::uint32_t>(TextureOp::Modulate);
  st1[static_cast<int>(StageState::AlphaArg1)] = ArgTexture;
  st1[static_cast<int>(StageState::AlphaArg2)] = ArgCurrent;
  st1[static_cast<int>(StageState::TexCoordIndex)] = 1;
  // Set 1 picks the left texel of b on the left half, the right one on the right.
  const std::uint32_t w = 0xFFFFFFFFu;
  const std::vector<V> v = {{-1, 1, 0.5f, w, 0.5f, 0.5f, 0, 0.5f}, {1, 1, 0.5f, w, 0.5f, 0.5f, 1, 0.5f},
                            {-1, -1, 0.5f, w, 0.5f, 0.5f, 0, 0.5f}, {1, -1, 0.5f, w, 0.5f, 0.5f, 1, 0.5f}};
  s.Draw(v, FvfXyz | FvfDiffuse | FvfTex2, PrimitiveType::TriangleStrip);
  EXPECT_EQ(dst.At(1, 4), 0x80802000u);
  EXPECT_EQ(dst.At(6, 4), 0xFF000020u);
  // Stage 1 disabled: the cascade stops after stage 0.
  st1[static_cast<int>(StageState::ColorOp)] = static_cast<std::uint32_t>(TextureOp::Disable);
  s.Draw(v, FvfXyz | FvfDiffuse | FvfTex2, PrimitiveType::TriangleStrip);
  EXPECT_EQ(dst.At(1, 4), 0xFF804020u);
}

TEST(GfxRaster, TransparentQuadLeavesTargetBitExact) {
  Image dst(32, 32);
  std::mt19937 rng(11);
  for (auto& p : dst.pixels) p = rng();
  const auto before = dst.pixels;
  Scene s(dst);
  s.SourceOver();
  s.Draw(Quad(-0.5f, -0.5f, 31.5f, 31.5f, 0x00FFFFFFu), kTlFvf, PrimitiveType::TriangleList);
  EXPECT_EQ(dst.pixels, before);
}

// Triangles of coverage 0 are left out only where they change nothing: a
// premultiplied source keeps its colour at alpha 0 and adds it, so it is
// drawn; source over with alpha 0, and nothing at all, leave the target.
TEST(GfxRaster, ZeroCoverageDrawsWhatTheBlendGives) {
  std::mt19937 rng(23);
  Image tex(16, 12);
  for (auto& p : tex.pixels) p = rng();
  struct Case {
    const char* name;
    Blend src, dst;
    bool separate, textured;
    std::uint32_t colour;  // at all three corners
  };
  const Case cases[] = {
      {"over, texture", Blend::SrcAlpha, Blend::InvSrcAlpha, false, true, 0x00FFFFFFu},
      {"over keeping coverage", Blend::SrcAlpha, Blend::InvSrcAlpha, true, true, 0x00FFFFFFu},
      {"premultiplied, texture colour", Blend::One, Blend::InvSrcAlpha, false, true, 0x00FFFFFFu},
      {"premultiplied, vertex colour", Blend::One, Blend::InvSrcAlpha, false, false, 0x00304050u},
      {"premultiplied, nothing", Blend::One, Blend::InvSrcAlpha, false, false, 0x00000000u},
      {"additive, texture colour", Blend::One, Blend::One, false, true, 0x00FFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image dst(16, 12);
    for (auto& p : dst.pixels) p = rng();
    const std::vector<std::uint32_t> before = dst.pixels;
    Scene s(dst);
    s.SourceOver();
    s.rs[static_cast<int>(RenderState::SrcBlend)] = static_cast<std::uint32_t>(c.src);
    s.rs[static_cast<int>(RenderState::DestBlend)] = static_cast<std::uint32_t>(c.dst);
    if (c.separate) {
      s.rs[static_cast<int>(RenderState::SeparateAlphaBlendEnable)] = 1;
      s.rs[static_cast<int>(RenderState::SrcBlendAlpha)] = static_cast<std::uint32_t>(Blend::One);
      s.rs[static_cast<int>(RenderState::DestBlendAlpha)] = static_cast<std::uint32_t>(Blend::InvSrcAlpha);
      s.rs[static_cast<int>(RenderState::BlendOpAlpha)] = static_cast<std::uint32_t>(BlendOp::Add);
    }
    if (c.textured) {
      s.Texture(tex);
      s.Filter(1);
    }
    // One texel per pixel, texel centres on pixel centres.
    s.Draw(Quad(-0.5f, -0.5f, 15.5f, 11.5f, c.colour), kTlFvf);
    const BlendSetup b = MakeBlendSetup(s.rs);
    for (std::size_t i = 0; i < dst.pixels.size(); ++i) {
      const std::uint32_t source = c.textured ? (tex.pixels[i] & 0x00FFFFFFu) : c.colour;
      ASSERT_EQ(dst.pixels[i], BlendPixel(b, source, before[i])) << "pixel " << i;
    }
  }
}

TEST(GfxRaster, HostileVerticesNeverCrashOrHang) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const float values[] = {nan, inf, -inf, 1e30f, -1e30f, 3e38f, 1e-30f, 0.0f, 70000.0f, -70000.0f, 20.0f};
  Image tex(4, 4, 0xFF808080u);
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    Image dst(24, 24, 0);
    Scene s(dst);
    s.Texture(tex);
    s.Address(1 + round % 3);
    s.SourceOver();
    auto pick = [&] { return values[rng() % std::size(values)]; };
    std::vector<TlVertex> tl;
    std::vector<Vertex3> v3;
    for (int k = 0; k < 6; ++k) {
      tl.push_back({pick(), pick(), pick(), pick(), static_cast<std::uint32_t>(rng()), pick(), pick()});
      v3.push_back({pick(), pick(), pick(), static_cast<std::uint32_t>(rng()), pick(), pick()});
    }
    s.Draw(tl, kTlFvf, round & 1 ? PrimitiveType::TriangleStrip : PrimitiveType::TriangleList);
    if (round % 5 == 0) s.call.projection = Perspective(0.1f, 1e6f);
    if (round % 7 == 0) s.call.world.m[0][0] = pick();
    s.Draw(v3, k3Fvf, round & 2 ? PrimitiveType::TriangleFan : PrimitiveType::TriangleList);
    // More primitives than vertices, a stride below the layout, no vertices.
    s.call.primitiveCount = 1000000;
    DrawPrimitives(s.call);
    s.call.vertexStride = 4;
    DrawPrimitives(s.call);
    s.call.vertices = nullptr;
    DrawPrimitives(s.call);
  }
  // A huge triangle is clipped to the guard band and still fills the target.
  Image dst(24, 24, 0);
  Scene s(dst);
  const std::vector<TlVertex> big = {{-1e30f, -1e30f, 0, 1, 0xFFFFFFFFu, 0, 0},
                                     {1e30f, -1e30f, 0, 1, 0xFFFFFFFFu, 0, 0},
                                     {0, 1e30f, 0, 1, 0xFFFFFFFFu, 0, 0}};
  s.Draw(big, kTlFvf);
  for (auto p : dst.pixels) ASSERT_EQ(p, 0xFFFFFFFFu);
}

// A busy frame: perspective, bilinear, wrap, gouraud, blending, many triangles.
std::vector<std::uint32_t> RenderBusyFrame(bool fastPath) {
  SetGfxFastPathEnabled(fastPath);
  Image tex(64, 48);
  std::mt19937 rng(21);
  for (auto& p : tex.pixels) p = rng();
  Image dst(320, 240, 0xFF203040u);
  Scene s(dst);
  s.Texture(tex);
  s.Address(1);
  s.SourceOver();
  s.Draw(Quad(-0.5f, -0.5f, 319.5f, 239.5f, 0xC0FFFFFFu, -0.3f, 0.1f, 2.7f, 1.9f), kTlFvf);
  std::uniform_real_distribution<float> pos(-50, 370), uv(-2, 3), rhw(0.2f, 2.0f);
  std::vector<TlVertex> v;
  for (int k = 0; k < 300; ++k) v.push_back({pos(rng), pos(rng) * 0.75f, 0, rhw(rng), static_cast<std::uint32_t>(rng()), uv(rng), uv(rng)});
  s.Address(2);
  s.Draw(v, kTlFvf);
  SetGfxFastPathEnabled(true);
  return dst.pixels;
}

TEST(GfxRaster, SameResultWithAnyThreadCount) {
  GfxWorkers& w = GfxWorkers::Instance();
  const std::uint32_t saved = w.ThreadCount();
  w.SetThreadCount(1);
  const auto one = RenderBusyFrame(true);
  w.SetThreadCount(2);
  EXPECT_EQ(RenderBusyFrame(true), one);
  w.SetThreadCount(8);
  EXPECT_EQ(RenderBusyFrame(true), one);
  w.SetThreadCount(saved);
}

TEST(GfxRaster, FastPathEqualsGeneralPath) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> unit(0, 1);
  const std::uint64_t before = GfxFastPathCount();
  for (int round = 0; round < 120; ++round) {
    Image tex(1 + rng() % 40, 1 + rng() % 30, 0, round % 3 == 0 ? Format::X8R8G8B8 : Format::A8R8G8B8);
    for (auto& p : tex.pixels) p = rng();
    Image targets[2];
    for (int pass = 0; pass < 2; ++pass) {
      std::mt19937 same(round);
      targets[pass] = Image(50, 40, 0, round % 4 == 1 ? Format::X8R8G8B8 : Format::A8R8G8B8);
      for (auto& p : targets[pass].pixels) p = same();
      Scene s(targets[pass]);
      s.Texture(tex, round % 2 == 0);
      s.Filter(round % 5 == 0 ? 1 : 2);
      s.Address(1 + round % 3);
      if (round % 6 == 0) s.Additive();
      else if (round % 6 != 3) s.SourceOver();
      std::mt19937 geo(round * 7 + 1);
      std::uniform_real_distribution<float> u(0, 1);
      auto r = [&](float lo, float hi) { return lo + (hi - lo) * u(geo); };
      // 1:1 draws (texel centres on pixel centres) and scaled ones.
      const bool exact = round % 4 == 2;
      const float x0 = exact ? std::floor(r(-5, 20)) - 0.5f : r(-5, 30), y0 = exact ? std::floor(r(-5, 20)) - 0.5f : r(-5, 25);
      const float x1 = exact ? x0 + tex.width : r(x0 + 1, 60), y1 = exact ? y0 + tex.height : r(y0 + 1, 50);
      const std::uint32_t colour = static_cast<std::uint32_t>(geo()) | (round % 8 == 0 ? 0xFF000000u : 0);
      const auto quad = exact ? Quad(x0, y0, x1, y1, colour) : Quad(x0, y0, x1, y1, colour, r(-2, 2), r(-2, 2), r(-2, 3), r(-2, 3));
      SetGfxFastPathEnabled(pass == 0);
      s.Draw(quad, kTlFvf);
    }
    SetGfxFastPathEnabled(true);
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round;
  }
  EXPECT_GE(GfxFastPathCount() - before, 200u);
}

// Every kernel width against the one-pixel blend, over all channel pairs
// (s, d) for each alpha and several opacities, at offsets that give heads
// and tails of every length.
TEST(GfxRaster, SpanKernelsMatchThePixelBlend) {
  std::vector<std::uint32_t> texels(65536 + 40), base(texels.size()), want(texels.size()), got(texels.size());
  for (std::uint32_t j = 0; j < texels.size(); ++j) {
    const std::uint32_t x = j & 255, y = (j >> 8) & 255;
    texels[j] = x << 16 | y << 8 | (x ^ y);
    base[j] = y << 24 | y << 16 | x << 8 | (255 - x);
  }
  for (int level = 0; level <= 3; ++level) {
    LimitSpanKernels(level);
    for (std::uint32_t alpha = 0; alpha < 256; alpha += level == 3 ? 1 : 17) {
      const std::uint32_t scale = alpha % 3 == 0 ? 255 : (alpha * 7 + 1) % 256;
      const bool x8s = alpha % 5 == 1, x8t = alpha % 7 == 2;
      const std::size_t from = alpha % 23, n = texels.size() - from - alpha % 19;
      for (std::size_t j = 0; j < texels.size(); ++j) texels[j] = (texels[j] & 0x00FFFFFFu) | alpha << 24;
      got = base;
      want = base;
      for (std::size_t j = from; j < from + n; ++j) {
        const std::uint32_t s = texels[j] | (x8s ? 0xFF000000u : 0), fill = x8t ? 0xFF000000u : 0;
        want[j] = BlendSourceOver((s & 0x00FFFFFFu) | Mul255(s >> 24, scale) << 24, want[j] | fill) | fill;
      }
      BlendSpanSourceOver(texels.data() + from, got.data() + from, n, scale, x8s, x8t);
      ASSERT_EQ(got, want) << "level " << level << " alpha " << alpha;
    }
  }
  LimitSpanKernels(3);
}

// The direct texel read (1:1 step, texel centres on pixel centres) against
// the general path: odd widths for the tails, quads partly off the target,
// and quads off by a fraction of a pixel, which must filter instead.
TEST(GfxRaster, DirectTexelReadEqualsGeneralPath) {
  std::mt19937 rng(17);
  struct Case {
    float x0, y0;
    std::uint32_t w, h;
    bool direct;
  };
  const Case cases[] = {{-0.5f, -0.5f, 61, 37, true},   {2.5f, 4.5f, 33, 9, true},     {-9.5f, -3.5f, 47, 20, true},
                        {40.5f, 30.5f, 29, 19, true},   {-0.5f, -0.5f, 1, 1, true},    {3.5f, 0.5f, 17, 40, true},
                        {-0.25f, -0.5f, 61, 37, false}, {2.5f, 4.625f, 33, 9, false}, {-9.5f, -3.375f, 47, 20, false},
                        {0.5f + 1.0f / 128, 0.5f, 31, 11, false}};
  for (int level : {3, 2, 1, 0}) {
    LimitSpanKernels(level);
    for (const Case& c : cases) {
      for (int variant = 0; variant < 4; ++variant) {
        Image tex(c.w, c.h, 0, variant & 1 ? Format::X8R8G8B8 : Format::A8R8G8B8);
        for (auto& p : tex.pixels) p = rng();
        const std::uint32_t colour = variant & 2 ? 0xB4FFFFFFu : 0xFFFFFFFFu;
        Image targets[2];
        std::uint64_t direct[2] = {};
        for (int pass = 0; pass < 2; ++pass) {
          std::mt19937 same(variant);
          targets[pass] = Image(57, 43, 0, variant == 2 ? Format::X8R8G8B8 : Format::A8R8G8B8);
          for (auto& p : targets[pass].pixels) p = same();
          Scene s(targets[pass]);
          s.Texture(tex, variant != 3);
          s.Filter(2);
          s.Address(3);
          s.SourceOver();
          SetGfxFastPathEnabled(pass == 0);
          const std::uint64_t before = GfxDirectRowCount();
          s.Draw(Quad(c.x0, c.y0, c.x0 + static_cast<float>(c.w), c.y0 + static_cast<float>(c.h), colour), kTlFvf);
          direct[pass] = GfxDirectRowCount() - before;
        }
        SetGfxFastPathEnabled(true);
        ASSERT_EQ(targets[0].pixels, targets[1].pixels) << c.x0 << "," << c.y0 << " " << c.w << " level " << level;
        EXPECT_EQ(direct[1], 0u);
        EXPECT_EQ(direct[0] > 0, c.direct) << c.x0 << "," << c.y0 << " " << c.w;
      }
    }
  }
  LimitSpanKernels(3);
}

}  // namespace
}  // namespace plat::gfx::test

namespace plat::gfx::test {
namespace {

// The row-batched drawing of the common state against the per-pixel path:
// perspective, every address mode, both filters, X8 and A8 on either side,
// huge coordinates, and triangles reaching past the target.
TEST(GfxRaster, RowBatchesEqualThePerPixelPath) {
  std::mt19937 rng(4242);
  std::uniform_real_distribution<float> pos(-60, 260), rhw(0.1f, 3.0f), uv(-3, 4), huge(-70000, 70000);
  for (int round = 0; round < 60; ++round) {
    Image tex(1 + rng() % 37, 1 + rng() % 29, 0, round % 3 == 0 ? Format::X8R8G8B8 : Format::A8R8G8B8);
    for (auto& p : tex.pixels) p = rng();
    std::vector<TlVertex> v;
    for (int k = 0; k < 12; ++k) {
      const bool far = round % 7 == 0 && k == 0;
      v.push_back({pos(rng), pos(rng) * 0.8f, 0, round % 2 ? rhw(rng) : 1.0f, static_cast<std::uint32_t>(rng()),
                   far ? huge(rng) : uv(rng), uv(rng)});
    }
    Image targets[2];
    for (int pass = 0; pass < 2; ++pass) {
      SetGfxRowPathEnabled(pass == 0);
      std::mt19937 same(round);
      targets[pass] = Image(200, 160, 0, round % 4 == 1 ? Format::X8R8G8B8 : Format::A8R8G8B8);
      for (auto& p : targets[pass].pixels) p = same();
      Scene s(targets[pass]);
      s.Texture(tex, round % 2 == 0);
      s.Filter(round % 5 == 0 ? 1 : 2);
      s.Address(1 + round % 5);
      s.SourceOver();
      s.Draw(v, kTlFvf);
    }
    SetGfxRowPathEnabled(true);
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round;
  }
}

// What transitions draw: a picture of the target's own size read 1:1
// (texel centres on pixel centres) under triangles whose vertex colours ramp
// a coverage; and opaque fills. The row path, reading the texels in place
// and filling, against the per-pixel path; every blend the drawer uses, X8
// either side, and a picture off by a fraction of a texel, which is filtered.
TEST(GfxRaster, TargetSizedPicturesAndOpaqueFillsEqualThePerPixelPath) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> pos(-30, 150);
  for (int round = 0; round < 48; ++round) {
    const std::uint32_t w = 97 + rng() % 13, h = 61 + rng() % 9;
    Image tex(w, h, 0, round % 3 == 1 ? Format::X8R8G8B8 : Format::A8R8G8B8);
    for (auto& p : tex.pixels) p = rng() | (round % 2 ? 0xFF000000u : 0);
    const float shift = round % 8 == 5 ? 0.3f : 0.0f;
    const bool fill = round % 6 == 4;
    std::vector<TlVertex> v;
    std::uint32_t solid = 0;
    for (int k = 0; k < 60; ++k) {
      const float x = pos(rng), y = pos(rng) * 0.6f;
      std::uint32_t c = rng() % 3 == 0 ? 0xFFFFFFFFu : (rng() % 256) * 0x01010101u;
      if (k % 3 == 0) solid = rng() % 5 == 0 ? 0x80000000u | (rng() & 0xFFFFFF) : rng() | 0xFF000000u;
      // Fills and, now and then, flat coverage: one colour a triangle.
      if (fill || round % 4 == 3) c = fill ? solid : (solid >> 24) * 0x01010101u;
      v.push_back({x, y, 0, 1, c, (x + 0.5f + shift) / float(w), (y + 0.5f) / float(h)});
    }
    Image targets[2];
    std::uint64_t runs[2] = {};
    for (int pass = 0; pass < 2; ++pass) {
      SetGfxRowPathEnabled(pass == 0);
      std::mt19937 same(round);
      targets[pass] = Image(w, h, 0, round % 4 == 2 ? Format::X8R8G8B8 : Format::A8R8G8B8);
      for (auto& p : targets[pass].pixels) p = same();
      Scene s(targets[pass]);
      if (!fill) {
        s.Texture(tex, true);
        // Colour times the vertex colour, as the effecter's tiles draw.
        s.st[0][static_cast<int>(StageState::ColorOp)] = static_cast<std::uint32_t>(TextureOp::Modulate);
        s.st[0][static_cast<int>(StageState::ColorArg2)] = ArgCurrent;
      }
      s.Filter(round % 5 == 0 ? 1 : 2);
      s.SourceOver();
      if (round % 3 == 2) {  // premultiplied, alpha as coverage
        s.rs[static_cast<int>(RenderState::SrcBlend)] = static_cast<std::uint32_t>(Blend::One);
        s.rs[static_cast<int>(RenderState::SeparateAlphaBlendEnable)] = 1;
        s.rs[static_cast<int>(RenderState::SrcBlendAlpha)] = static_cast<std::uint32_t>(Blend::One);
        s.rs[static_cast<int>(RenderState::DestBlendAlpha)] = static_cast<std::uint32_t>(Blend::InvSrcAlpha);
      }
      const std::uint64_t before = GfxDirectRunCount();
      s.Draw(v, kTlFvf);
      runs[pass] = GfxDirectRunCount() - before;
    }
    SetGfxRowPathEnabled(true);
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round;
    EXPECT_EQ(runs[1], 0u);
    // Point sampling reads whole texels however far off their centres.
    if (!fill) EXPECT_EQ(runs[0] > 0, shift == 0 || round % 5 == 0) << "round " << round;
  }
}

// A picture with smoothed edges as the drawer makes it: its inside, of one
// colour, and a band one pixel wide around it whose outer corners have
// alpha 0, nine cells of two triangles.
std::vector<TlVertex> SmoothedPicture(float l, float t, float r, float b, std::uint32_t colour, float u0, float v0,
                                      float u1, float v1) {
  const float xs[4] = {l - 1, l, r, r + 1}, ys[4] = {t - 1, t, b, b + 1};
  const auto at = [&](int i, int j) {
    const float u = u0 + (xs[i] - l) / (r - l) * (u1 - u0), v = v0 + (ys[j] - t) / (b - t) * (v1 - v0);
    const bool outer = i == 0 || i == 3 || j == 0 || j == 3;
    return TlVertex{xs[i], ys[j], 0, 1, outer ? colour & 0x00FFFFFFu : colour, u, v};
  };
  std::vector<TlVertex> out;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      const TlVertex a = at(i, j + 1), c = at(i, j), d = at(i + 1, j + 1), e = at(i + 1, j);
      out.insert(out.end(), {a, c, d, d, c, e});
    }
  return out;
}

// The inside of such a picture goes the span path on its own, the band by
// rows, where no other triangle of the draw shares its pixels; where one
// does (pictures overlapping in one draw, edges on whole pixels) the order
// of the draw is kept. Every way gives the per-pixel path's pixels.
TEST(GfxRaster, SmoothedPicturesInsideBySpansEqualThePerPixelPath) {
  std::mt19937 rng(515);
  std::uniform_real_distribution<float> pos(-20, 150), size(3, 120), frac(0, 1);
  for (int round = 0; round < 40; ++round) {
    Image tex(1 + rng() % 40, 1 + rng() % 30, 0, round % 5 == 3 ? Format::X8R8G8B8 : Format::A8R8G8B8);
    for (auto& p : tex.pixels) p = rng() | (round % 2 ? 0xFF000000u : 0);
    std::vector<TlVertex> v;
    const int pictures = round % 4 == 1 ? 3 : 1;
    for (int k = 0; k < pictures; ++k) {
      float l = pos(rng), t = pos(rng) * 0.7f;
      // Edges on whole pixels, on half pixels, or anywhere.
      if (round % 3 == 0) l = std::floor(l), t = std::floor(t);
      if (round % 3 == 1) l = std::floor(l) + 0.5f, t = std::floor(t) + 0.5f;
      const float w = round % 7 == 0 ? float(tex.width) : size(rng), h = round % 7 == 0 ? float(tex.height) : size(rng);
      const std::uint32_t colour = round % 6 == 5 ? 0x9FFFFFFFu : 0xFFFFFFFFu;
      const std::vector<TlVertex> one = SmoothedPicture(l, t, l + w, t + h, colour, 0, 0, 1, 1);
      v.insert(v.end(), one.begin(), one.end());
    }
    Image targets[3];
    std::uint64_t spans[3] = {};
    for (int pass = 0; pass < 3; ++pass) {
      SetGfxFastPathEnabled(pass != 1);
      SetGfxRowPathEnabled(pass != 2);
      std::mt19937 same(round);
      targets[pass] = Image(180, 130, 0, round % 4 == 2 ? Format::X8R8G8B8 : Format::A8R8G8B8);
      for (auto& p : targets[pass].pixels) p = same();
      Scene s(targets[pass]);
      s.Texture(tex, true);
      s.Filter(round % 5 == 4 ? 1 : 2);
      s.SourceOver();
      const std::uint64_t before = GfxFastPathCount();
      s.Draw(v, kTlFvf);
      spans[pass] = GfxFastPathCount() - before;
    }
    SetGfxFastPathEnabled(true);
    SetGfxRowPathEnabled(true);
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round;
    ASSERT_EQ(targets[0].pixels, targets[2].pixels) << "round " << round;
    EXPECT_EQ(spans[1], 0u);
    // One picture off whole pixels: its inside by spans.
    if (pictures == 1 && round % 3 != 0) EXPECT_GT(spans[0], 0u) << "round " << round;
  }
}

}  // namespace
}  // namespace plat::gfx::test
