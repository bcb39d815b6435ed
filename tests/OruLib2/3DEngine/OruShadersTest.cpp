#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/3DEngine/OruShaders.h"
#include "Platform/Gfx/GfxDevice.h"
#include "Platform/Gfx/GfxPresent.h"
#include "Platform/Gfx/GfxShaderAbi.h"

namespace orushaderstest {

namespace gfx = plat::gfx;
using gfx::Format;
using gfx::Pool;
using gfx::Ref;
using gfx::Result;
using gfx::SamplerState;

// Pre-transformed vertices with two texture coordinate sets.
struct Vertex {
  float x, y, z, rhw;
  std::uint32_t color;
  float u0, v0, u1, v1;
};
constexpr std::uint32_t kFvf = gfx::FvfXyzRhw | gfx::FvfDiffuse | gfx::FvfTex2;

std::uint32_t Argb(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return a << 24 | r << 16 | g << 8 | b;
}
std::uint32_t Grey(std::uint32_t v) { return Argb(255, v, v, v); }

std::string Hex(std::uint32_t v) {
  char b[11];
  std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(v));
  return b;
}

// Channel by channel within `tol` steps of 255.
::testing::AssertionResult Near(std::uint32_t got, std::uint32_t want, int tol) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int g = static_cast<int>(got >> shift & 255), w = static_cast<int>(want >> shift & 255);
    if (std::abs(g - w) > tol)
      return ::testing::AssertionFailure() << "got " << Hex(got) << ", want " << Hex(want);
  }
  return ::testing::AssertionSuccess();
}

class OruShadersTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(oru::RegisterShaders());
    gfx::SystemConfig cfg;
    cfg.presentSink = &sink;
    system = gfx::CreateSystem(gfx::kSdkVersion, cfg);
    ASSERT_TRUE(system);
    gfx::PresentParameters pp;
    pp.backBufferWidth = 8;
    pp.backBufferHeight = 8;
    pp.backBufferFormat = Format::X8R8G8B8;
    ASSERT_EQ(system->CreateDevice(0, gfx::DeviceType::Hal, nullptr, 0x26, pp, device), Result::Ok);
  }

  // The code the drawer hands to the renderer: the 4-byte count is skipped.
  void Use(std::string_view name) {
    const zm::TByteString code = oru::GetShaderCode(name);
    ASSERT_GT(code.Length(), 4) << name;
    Ref<gfx::PixelShader> s;
    ASSERT_EQ(device->CreatePixelShader({code.Data() + 4, std::size_t(code.Length() - 4)}, s), Result::Ok) << name;
    ASSERT_EQ(device->SetPixelShader(s.Get()), Result::Ok);
  }
  void Constant(std::uint32_t reg, float x, float y = 0, float z = 0, float w = 0) {
    const float v[4] = {x, y, z, w};
    ASSERT_EQ(device->SetPixelShaderConstantF(reg, v, 1), Result::Ok);
  }
  // A w x h texture on sampler `stage`, point sampled and clamped.
  void Texture(std::uint32_t stage, std::uint32_t w, std::uint32_t h, const std::vector<std::uint32_t>& px) {
    Ref<gfx::Texture> t;
    ASSERT_EQ(device->CreateTexture(w, h, 1, 0, Format::A8R8G8B8, Pool::Managed, t), Result::Ok);
    gfx::LockedRect lr;
    ASSERT_EQ(t->LockRect(0, lr, nullptr, 0), Result::Ok);
    for (std::uint32_t y = 0; y < h; ++y)
      std::memcpy(static_cast<std::uint8_t*>(lr.bits) + y * lr.pitch, &px[y * w], w * 4);
    ASSERT_EQ(t->UnlockRect(0), Result::Ok);
    ASSERT_EQ(device->SetTexture(stage, t.Get()), Result::Ok);
    Sampling(stage, gfx::TextureFilter::Point);
  }
  void Sampling(std::uint32_t stage, gfx::TextureFilter f) {
    for (auto st : {SamplerState::AddressU, SamplerState::AddressV, SamplerState::AddressW})
      ASSERT_EQ(device->SetSamplerState(stage, st, static_cast<std::uint32_t>(gfx::TextureAddress::Clamp)),
                Result::Ok);
    for (auto st : {SamplerState::MagFilter, SamplerState::MinFilter})
      ASSERT_EQ(device->SetSamplerState(stage, st, static_cast<std::uint32_t>(f)), Result::Ok);
  }
  // A 32^3 table, linearly filtered: `reversed` false gives texel (x, y, z) =
  // (8x, 8y, 8z), so a lookup at p = c * 0.96875 + 0.015625 yields 248c;
  // true gives 248 - 8x etc., so 248(1 - c).
  void Volume(std::uint32_t stage, bool reversed) {
    Ref<gfx::VolumeTexture> vol;
    ASSERT_EQ(device->CreateVolumeTexture(32, 32, 32, 1, 0, Format::A8R8G8B8, Pool::Managed, vol), Result::Ok);
    gfx::LockedBox lb;
    ASSERT_EQ(vol->LockBox(0, lb, nullptr, 0), Result::Ok);
    for (std::uint32_t z = 0; z < 32; ++z)
      for (std::uint32_t y = 0; y < 32; ++y)
        for (std::uint32_t x = 0; x < 32; ++x) {
          const auto f = [&](std::uint32_t i) { return reversed ? 248 - 8 * i : 8 * i; };
          const std::uint32_t p = Argb(255, f(x), f(y), f(z));
          std::memcpy(static_cast<std::uint8_t*>(lb.bits) + z * lb.slicePitch + y * lb.rowPitch + x * 4, &p, 4);
        }
    ASSERT_EQ(vol->UnlockBox(0), Result::Ok);
    ASSERT_EQ(device->SetTexture(stage, vol.Get()), Result::Ok);
    Sampling(stage, gfx::TextureFilter::Linear);
  }
  // Draws one quad over a w x h target cleared to 0x11223344: t0 runs 0..1
  // over it (texel centres of a w x h texture), t1 runs the other way in u.
  std::vector<std::uint32_t> Draw(std::uint32_t w, std::uint32_t h, std::uint32_t colour = 0xFFFFFFFFu) {
    Ref<gfx::Texture> rt;
    Ref<gfx::Surface> surface;
    EXPECT_EQ(device->CreateTexture(w, h, 1, gfx::UsageRenderTarget, Format::A8R8G8B8, Pool::Default, rt), Result::Ok);
    EXPECT_EQ(rt->GetSurfaceLevel(0, surface), Result::Ok);
    EXPECT_EQ(device->BeginScene(), Result::Ok);
    EXPECT_EQ(device->SetRenderTarget(0, surface.Get()), Result::Ok);
    EXPECT_EQ(device->Clear(0, nullptr, gfx::ClearTarget, 0x11223344u, 1.0f, 0), Result::Ok);
    EXPECT_EQ(device->SetRenderState(gfx::RenderState::CullMode, 1), Result::Ok);
    EXPECT_EQ(device->SetFVF(kFvf), Result::Ok);
    const float x0 = -0.5f, y0 = -0.5f, x1 = float(w) - 0.5f, y1 = float(h) - 0.5f;
    const Vertex a{x0, y0, 0, 1, colour, 0, 0, 1, 0}, b{x1, y0, 0, 1, colour, 1, 0, 0, 0},
        c{x0, y1, 0, 1, colour, 0, 1, 1, 1}, d{x1, y1, 0, 1, colour, 1, 1, 0, 1};
    const Vertex q[6] = {a, b, c, b, d, c};
    EXPECT_EQ(device->DrawPrimitiveUP(gfx::PrimitiveType::TriangleList, 2, q, sizeof(Vertex)), Result::Ok);
    EXPECT_EQ(device->EndScene(), Result::Ok);
    Ref<gfx::Surface> sys;
    EXPECT_EQ(device->CreateOffscreenPlainSurface(w, h, Format::A8R8G8B8, Pool::SystemMem, sys), Result::Ok);
    EXPECT_EQ(device->GetRenderTargetData(surface.Get(), sys.Get()), Result::Ok);
    gfx::LockedRect lr;
    EXPECT_EQ(sys->LockRect(lr, nullptr, gfx::LockReadOnly), Result::Ok);
    std::vector<std::uint32_t> out(std::size_t(w) * h);
    for (std::uint32_t y = 0; y < h; ++y)
      std::memcpy(&out[y * w], static_cast<std::uint8_t*>(lr.bits) + y * lr.pitch, w * 4);
    EXPECT_EQ(sys->UnlockRect(), Result::Ok);
    return out;
  }

  gfx::MemorySink sink;
  Ref<gfx::System> system;
  Ref<gfx::Device> device;
};

// ---- names and codes ---------------------------------------------------------------

TEST(OruShaderCodes, EveryNameResolvesToItsOwnDescriptor) {
  ASSERT_TRUE(oru::RegisterShaders());
  const char* const names[oru::kShaderCount] = {
      "unsharp",     "videomask", "color_grading", "color_grade_linear", "color_grade_video",
      "color_grade_deinter", "color_grade_chromakey", "color_grade_chroma_deinter", "motion_blur",
      "premul",      "premul2",   "premul3",       "gauss_blur_h7",      "gauss_blur_v7", "gauss_mix"};
  for (std::int32_t i = 0; i < oru::kShaderCount; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(oru::ShaderName(i), names[i]);
    const zm::TByteString code = oru::GetShaderCode(names[i]);
    ASSERT_GT(code.Length(), 4);
    EXPECT_EQ(code, oru::GetShaderCode(i));
    const std::uint32_t count =
        std::uint32_t(code[0]) | std::uint32_t(code[1]) << 8 | std::uint32_t(code[2]) << 16 | std::uint32_t(code[3]) << 24;
    EXPECT_EQ(count, std::uint32_t(code.Length() - 4));
    gfx::ShaderDescriptor d;
    ASSERT_TRUE(gfx::DecodeShaderDescriptor({code.Data() + 4, count}, d));
    EXPECT_EQ(d.kind, gfx::ShaderKind::Pixel);
    EXPECT_EQ(d.name, names[i]);
    const gfx::ShaderInfo* info = gfx::FindPixelShader(names[i]);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(d.samplers, info->samplers);
    EXPECT_EQ(d.constants, info->constants);
  }
  // The constants whose names and registers bind.
  const gfx::ShaderInfo* chroma = gfx::FindPixelShader("color_grade_chroma_deinter");
  ASSERT_NE(chroma, nullptr);
  const std::vector<gfx::ConstantDecl> want = {
      {0, 1, "t"}, {1, 1, "srcsizey"}, {2, 1, "offsy"}, {3, 1, "deltas"}, {4, 1, "chromakey"}};
  EXPECT_EQ(chroma->constants, want);
  EXPECT_EQ(gfx::FindPixelShader("unsharp")->constants,
            (std::vector<gfx::ConstantDecl>{{0, 1, "invsize"}, {1, 1, "Threshold"}, {2, 1, "amount"}}));
}

TEST(OruShaderCodes, UnknownNamesAndIndicesGiveNoCode) {
  for (std::string_view name : {"", "UNSHARP", "unsharp ", "gauss_blur_h5", "color_grade"})
    EXPECT_TRUE(oru::GetShaderCode(name).IsEmpty()) << name;
  for (std::int32_t i : {-1, oru::kShaderCount, 1 << 30}) {
    EXPECT_TRUE(oru::GetShaderCode(i).IsEmpty());
    EXPECT_TRUE(oru::ShaderName(i).empty());
  }
}

TEST(OruShaderCodes, RegisteringAgainIsHarmless) {
  const zm::TByteString before = oru::GetShaderCode("motion_blur");
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (std::size_t i = 0; i < ok.size(); ++i) threads.emplace_back([&ok, i] { ok[i] = oru::RegisterShaders() ? 1 : 0; });
  for (auto& t : threads) t.join();
  for (int v : ok) EXPECT_EQ(v, 1);
  EXPECT_TRUE(oru::RegisterShaders());
  EXPECT_EQ(oru::GetShaderCode("motion_blur"), before);
  // A different shader under a taken name is refused; ours stays.
  const gfx::ShaderInfo* mine = gfx::FindPixelShader("motion_blur");
  ASSERT_NE(mine, nullptr);
  gfx::ShaderInfo other = *mine;
  other.constants = {{1, 1, "t"}};
  EXPECT_FALSE(gfx::RegisterPixelShader(other));
  EXPECT_EQ(gfx::FindPixelShader("motion_blur"), mine);
  EXPECT_EQ(gfx::FindPixelShader("motion_blur")->constants, (std::vector<gfx::ConstantDecl>{{0, 1, "t"}}));
}

TEST_F(OruShadersTest, EmptyCodeMakesNoShader) {
  Ref<gfx::PixelShader> s;
  const zm::TByteString code = oru::GetShaderCode("no_such_shader");
  EXPECT_NE(device->CreatePixelShader({code.Data(), std::size_t(code.Length())}, s), Result::Ok);
  EXPECT_FALSE(s);
}

// ---- sharpening and masks ----------------------------------------------------------

// 3 x 3 grey 64 with a centre of 192, alpha 0x80 throughout. Blur at the centre:
// (4*192 + 2*4*64 + 4*64)/16 = 96, D = 96; at (1, 0), clamped: (4*64 + 2*(3*64 + 192)
// + 4*64)/16 = 80, D = -16; at (0, 0): (4*64 + 2*4*64 + 3*64 + 192)/16 = 72, D = -8.
TEST_F(OruShadersTest, UnsharpSharpensByTheKernelAboveTheThreshold) {
  const std::uint32_t lo = 0x80404040u, hi = 0x80C0C0C0u;
  Texture(0, 3, 3, {lo, lo, lo, lo, hi, lo, lo, lo, lo});
  Use("unsharp");
  Constant(0, 1.0f / 3, 1.0f / 3);
  Constant(1, 0);
  Constant(2, 0.5f);
  auto px = Draw(3, 3);
  EXPECT_TRUE(Near(px[4], 0x80F0F0F0u, 0));  // 192 + 48
  EXPECT_TRUE(Near(px[1], 0x80383838u, 0));  // 64 - 8
  EXPECT_TRUE(Near(px[0], 0x803C3C3Cu, 0));  // 64 - 4
  EXPECT_TRUE(Near(px[8], 0x803C3C3Cu, 0));
  // |D| = 8 is under a threshold of 10, |D| = 16 is not.
  Constant(1, 10.0f / 255);
  px = Draw(3, 3);
  EXPECT_TRUE(Near(px[0], lo, 0));
  EXPECT_TRUE(Near(px[1], 0x80383838u, 0));
  // Amount 0 gives the source back.
  Constant(1, 0);
  Constant(2, 0);
  px = Draw(3, 3);
  EXPECT_EQ(px, (std::vector<std::uint32_t>{lo, lo, lo, lo, hi, lo, lo, lo, lo}));
}

// L = (Y - 0.0625) * 1.16438: Y 16 -> 0, 235 -> 1.0003, 128 -> 0.5117 (130.5).
TEST_F(OruShadersTest, VideoMaskExpandsVideoRangeAndInverts) {
  Texture(0, 3, 1, {Grey(16), Grey(235), Grey(128)});
  Use("videomask");
  Constant(0, 0);
  auto px = Draw(3, 1, 0x80FFFFFFu);  // alpha = value x 128/255
  EXPECT_TRUE(Near(px[0], 0x00000000u, 0));
  EXPECT_TRUE(Near(px[1], 0x80FFFFFFu, 0));
  EXPECT_TRUE(Near(px[2], Argb(65, 130, 130, 130), 1));
  Constant(0, 1);
  px = Draw(3, 1, 0x80FFFFFFu);
  EXPECT_TRUE(Near(px[0], 0x80FFFFFFu, 0));
  EXPECT_TRUE(Near(px[1], 0x00000000u, 0));
  EXPECT_TRUE(Near(px[2], Argb(63, 124, 124, 124), 1));
}

// The mask's brightness is the coverage; grey turns white, colour tints.
TEST_F(OruShadersTest, Premul3MasksByBrightnessAndTintsByColour) {
  const std::uint32_t content = Argb(255, 60, 100, 160);
  // t1 runs backwards: pixel x reads content texel 3 - x.
  Texture(0, 4, 1, {Grey(128), Argb(255, 0, 0, 0), Argb(255, 255, 0, 0), Grey(255)});
  Texture(1, 4, 1, {0x00000000u, content, content, content});
  Use("premul3");
  auto px = Draw(4, 1);
  EXPECT_TRUE(Near(px[0], Argb(128, 60, 100, 160), 0));
  EXPECT_TRUE(Near(px[1], Argb(0, 60, 100, 160), 0));  // black hides
  EXPECT_TRUE(Near(px[2], Argb(255, 60, 0, 0), 0));    // red tints
  EXPECT_EQ(px[3], 0x00000000u);                       // content alpha 0: defined, not NaN
  // Content alpha is divided out of the colour; vertex alpha scales alpha.
  Texture(1, 1, 1, {Argb(200, 50, 100, 150)});
  px = Draw(4, 1, 0x80FFFFFFu);
  EXPECT_TRUE(Near(px[3], Argb(100, 64, 128, 191), 1));  // 200 * 128/255, rgb * 255/200
}

TEST_F(OruShadersTest, PremulAndPremul2DivideByAlpha) {
  Texture(0, 2, 1, {Argb(128, 255, 128, 64), Argb(0, 255, 255, 255)});
  Texture(1, 2, 1, {Argb(255, 255, 255, 255), Argb(255, 128, 255, 255)});  // read backwards
  Use("premul");
  auto px = Draw(2, 1);
  // p = (128, 128, 64, 128) / 255; rgb / p.a = (1, 1, 0.5).
  EXPECT_TRUE(Near(px[0], Argb(128, 255, 255, 128), 1));
  EXPECT_EQ(px[1], 0x00000000u);
  // s1 unpremultiplied: (32, 128, 64) / 128 -> (0.25, 1, 0.5); times s0.
  Texture(0, 2, 1, {Argb(200, 255, 200, 100), Argb(255, 255, 255, 255)});
  Texture(1, 2, 1, {Argb(0, 10, 20, 30), Argb(128, 32, 128, 64)});
  Use("premul2");
  px = Draw(2, 1, 0x80FFFFFFu);
  EXPECT_TRUE(Near(px[0], Argb(50, 64, 200, 50), 1));  // a = 200 * 128/255 * 128/255
  EXPECT_EQ(px[1] & 0x00FFFFFFu, 0u);                   // s1 alpha 0: colour 0, not NaN
}

// ---- mixes and blurs ---------------------------------------------------------------

TEST_F(OruShadersTest, MotionBlurAndGaussMixInterpolateAllChannels) {
  Texture(0, 1, 1, {Argb(255, 100, 0, 200)});
  Texture(1, 1, 1, {Argb(55, 200, 100, 0)});
  Use("motion_blur");
  Constant(0, 0.25f);
  EXPECT_TRUE(Near(Draw(1, 1)[0], Argb(205, 125, 25, 150), 0));
  Constant(0, 1);
  EXPECT_TRUE(Near(Draw(1, 1)[0], Argb(55, 200, 100, 0), 0));
  // Small is read at t1 (backwards here).
  Texture(0, 2, 1, {Argb(255, 200, 100, 0), Argb(255, 200, 100, 0)});
  Texture(1, 2, 1, {Argb(55, 0, 100, 200), Argb(255, 255, 255, 255)});
  Use("gauss_mix");
  Constant(0, 0.25f);
  const auto px = Draw(2, 1);
  EXPECT_TRUE(Near(px[0], Argb(255, 214, 139, 64), 0));
  EXPECT_TRUE(Near(px[1], Argb(205, 150, 100, 50), 0));
}

// One white texel at the left edge; weights (0.04, 0.08, 0.12, 0.2). Taps left
// of the edge are clamped onto it: pixel 0 gets all four of -3..0 (0.44),
// pixel 1 gets -1..-3 (0.24), pixel 2 -2, -3 (0.12), pixel 3 only -3.
TEST_F(OruShadersTest, GaussBlurWeighsSevenClampedTaps) {
  const std::vector<std::uint32_t> src = {0xFFFFFFFFu, 0, 0, 0, 0, 0, 0};
  const std::vector<std::uint32_t> want = {Argb(112, 112, 112, 112), Argb(61, 61, 61, 61), Argb(31, 31, 31, 31),
                                           Argb(10, 10, 10, 10), 0, 0, 0};
  Texture(0, 7, 1, src);
  Use("gauss_blur_h7");
  Constant(0, 0.04f, 0.08f, 0.12f, 0.2f);
  Constant(1, 1.0f / 7, 0.5f);  // the vertical step must not matter
  auto px = Draw(7, 1);
  for (std::size_t i = 0; i < 7; ++i) EXPECT_TRUE(Near(px[i], want[i], 1)) << i;
  Texture(0, 1, 7, src);
  Use("gauss_blur_v7");
  Constant(1, 0.5f, 1.0f / 7);
  px = Draw(1, 7);
  for (std::size_t i = 0; i < 7; ++i) EXPECT_TRUE(Near(px[i], want[i], 1)) << i;
  // A symmetric pair: pixel 3 of two white texels at 1 and 5 gets 2 * 0.08.
  Texture(0, 1, 7, {0, 0xFFFFFFFFu, 0, 0, 0, 0xFFFFFFFFu, 0});
  px = Draw(1, 7);
  EXPECT_TRUE(Near(px[3], Argb(41, 41, 41, 41), 1));
  // Strength 0: (0, 0, 0, 1) gives the source back.
  const std::vector<std::uint32_t> ramp = {0x10203040u, 0x50607080u, 0x90A0B0C0u, 0xD0E0F0FFu, 0x01020304u,
                                           0xFF000000u, 0x00FFFFFFu};
  Texture(0, 7, 1, ramp);
  Use("gauss_blur_h7");
  Constant(0, 0, 0, 0, 1);
  Constant(1, 1.0f / 7, 1.0f / 7);
  EXPECT_EQ(Draw(7, 1), ramp);
}

// ---- colour grading ----------------------------------------------------------------

// With the linear tables, a lookup of c yields 248c from s1 and 248(1 - c) from s2.
TEST_F(OruShadersTest, ColorGradingMixesTheTwoVolumes) {
  Texture(0, 2, 1, {Argb(255, 255, 0, 255), Argb(128, 0, 0, 0)});
  Volume(1, false);
  Volume(2, true);
  Use("color_grading");
  Constant(0, 0);
  auto px = Draw(2, 1);
  EXPECT_TRUE(Near(px[0], Argb(255, 248, 0, 248), 1));
  EXPECT_TRUE(Near(px[1], Argb(128, 0, 0, 0), 1));
  Constant(0, 1);
  px = Draw(2, 1);
  EXPECT_TRUE(Near(px[0], Argb(255, 0, 248, 0), 1));
  EXPECT_TRUE(Near(px[1], Argb(128, 248, 248, 248), 1));
  // The vertex colour scales the image before the lookup: c = 128/255 reads
  // 124.5 and 123.5, mixed a quarter of the way: 124.25.
  Constant(0, 0.25f);
  px = Draw(2, 1, 0x80808080u);
  EXPECT_TRUE(Near(px[0], Argb(128, 124, 62, 124), 1));
  EXPECT_TRUE(Near(px[1], Argb(64, 62, 62, 62), 1));
}

// Curves of 256 texels: s1 gives (255 - x, x, x / 2), s2 (x, x, x).
TEST_F(OruShadersTest, ColorGradeLinearReadsEachChannelsCurve) {
  std::vector<std::uint32_t> c1(256), c2(256);
  for (std::uint32_t x = 0; x < 256; ++x) {
    c1[x] = Argb(255, 255 - x, x, x / 2);
    c2[x] = Argb(255, x, x, x);
  }
  Texture(0, 1, 1, {Argb(200, 64, 128, 192)});
  Texture(1, 256, 1, c1);
  Texture(2, 256, 1, c2);
  Use("color_grade_linear");
  Constant(0, 0);
  EXPECT_TRUE(Near(Draw(1, 1, 0x80FFFFFFu)[0], Argb(100, 191, 128, 96), 1));
  Constant(0, 1);
  EXPECT_TRUE(Near(Draw(1, 1)[0], Argb(200, 64, 128, 192), 0));
  Constant(0, 0.25f);
  EXPECT_TRUE(Near(Draw(1, 1)[0], Argb(200, 159, 128, 120), 1));
}

// The video tables map (V, U, Y) to (248V, 248U, 248Y) and its reverse.
class OruVideoShadersTest : public OruShadersTest {
protected:
  void Planes(const std::vector<std::uint32_t>& y, const std::vector<std::uint32_t>& u,
              const std::vector<std::uint32_t>& v, std::uint32_t w, std::uint32_t h) {
    const auto grey = [](const std::vector<std::uint32_t>& p) {
      std::vector<std::uint32_t> g;
      for (std::uint32_t x : p) g.push_back(Grey(x));
      return g;
    };
    Texture(0, w, h, grey(y));
    Texture(1, w, h, grey(u));
    Texture(2, w, h, grey(v));
    Volume(3, false);
    Volume(4, true);
  }
};

TEST_F(OruVideoShadersTest, VideoIndexesTheTablesByVUY) {
  Planes({255, 0}, {0, 255}, {128, 0}, 2, 1);
  Use("color_grade_video");
  Constant(0, 0);
  auto px = Draw(2, 1, 0x80FFFFFFu);
  EXPECT_TRUE(Near(px[0], Argb(128, 124, 0, 248), 1));
  EXPECT_TRUE(Near(px[1], Argb(128, 0, 248, 0), 1));
  Constant(0, 1);
  px = Draw(2, 1);
  EXPECT_TRUE(Near(px[0], Argb(255, 124, 248, 0), 1));
}

// Rows of Y: 0, 40, 80, 120 (H = 4). Even field (offsy 0, 0): rows 0, 0|2, 2,
// 2|3 (the last clamped); odd field (1, -1): 0|1, 1, 1|3, 3.
TEST_F(OruVideoShadersTest, DeinterlaceTakesLumaFromOneField) {
  Planes({0, 40, 80, 120}, {0, 0, 0, 0}, {0, 0, 0, 0}, 1, 4);
  for (const char* name : {"color_grade_deinter", "color_grade_chroma_deinter"}) {
    SCOPED_TRACE(name);
    Use(name);
    Constant(0, 0);
    Constant(1, 4, 0.25f);
    Constant(3, 0, 0);  // no key
    Constant(4, 0, 0);
    Constant(2, 0, 0);
    auto px = Draw(1, 4);
    const double k = 248.0 / 255;
    const double even[4] = {0, 40, 80, 100}, odd[4] = {20, 40, 80, 120};
    for (int i = 0; i < 4; ++i)
      EXPECT_TRUE(Near(px[i], Argb(255, 0, 0, std::uint32_t(std::lround(even[i] * k))), 1)) << i;
    Constant(2, 1, -1);
    px = Draw(1, 4);
    for (int i = 0; i < 4; ++i)
      EXPECT_TRUE(Near(px[i], Argb(255, 0, 0, std::uint32_t(std::lround(odd[i] * k))), 1)) << i;
  }
}

// Key (128, 128)/255, tolerance 0.2: h = |dU + dV| / 2. U 128 -> h ~0 (keyed out),
// U 179 -> h = 0.1 -> (0.1 * 5)^2 = 0.25, U 255 -> h = 0.25 >= 0.2 (kept).
TEST_F(OruVideoShadersTest, ChromaKeyFadesNearTheKey) {
  Planes({0, 0, 0}, {128, 179, 255}, {128, 128, 128}, 3, 1);
  for (const char* name : {"color_grade_chromakey", "color_grade_chroma_deinter"}) {
    SCOPED_TRACE(name);
    Use(name);
    Constant(0, 0);
    Constant(1, 1, 1);
    Constant(2, 0, 0);
    Constant(3, 0.2f, 5.0f);
    Constant(4, 128.0f / 255, 128.0f / 255);
    auto px = Draw(3, 1);
    EXPECT_EQ(px[0] >> 24, 0u);
    EXPECT_NEAR(int(px[1] >> 24), 64, 1);
    EXPECT_EQ(px[2] >> 24, 255u);
    EXPECT_TRUE(Near(px[2], Argb(255, 124, 248, 0), 1));
    // Tolerance 0: deltas (0, 0) keeps every pixel at the vertex alpha.
    Constant(3, 0, 0);
    px = Draw(3, 1, 0x80FFFFFFu);
    for (std::uint32_t p : px) EXPECT_EQ(p >> 24, 128u);
  }
}

}  // namespace orushaderstest
