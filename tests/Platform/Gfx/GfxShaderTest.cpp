#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/Gfx/GfxPresent.h"
#include "Platform/Gfx/GfxRaster.h"
#include "Platform/Gfx/GfxShaderAbi.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "tests/Platform/Gfx/GfxTestScene.h"

namespace gfxshadertest {

using namespace plat::gfx;
using plat::gfx::test::kTlFvf;
using plat::gfx::test::Quad;
using plat::gfx::test::TlVertex;

// out = tex0 * c0
void TexTimesC0(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  for (int i = 0; i < in.count; ++i) {
    const Float4 t = Tex2D(*e.s[0], in.t[0][0][i], in.t[0][1][i]);
    out[i] = {t.r * e.c[0].r, t.g * e.c[0].g, t.b * e.c[0].b, t.a * e.c[0].a};
  }
}
// The volume on s1 at (t0, c0.r), alpha times the vertex alpha.
void VolumeLookup(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  for (int i = 0; i < in.count; ++i) {
    out[i] = Tex3D(*e.s[1], in.t[0][0][i], in.t[0][1][i], e.c[0].r);
    out[i].a *= in.v0[3][i];
  }
}
// Values the output stage must saturate.
void OutOfRange(const ShaderEnv&, const ShaderVaryings& in, Float4* out) {
  for (int i = 0; i < in.count; ++i) out[i] = {std::numeric_limits<float>::quiet_NaN(), 2.0f, -1.0f, 0.5f};
}
// A cross-fade of two bilinear taps, weighted by c0 and by the vertex colour.
void Mix(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  for (int i = 0; i < in.count; ++i) {
    const Float4 a = Tex2D(*e.s[0], in.t[0][0][i], in.t[0][1][i]);
    const Float4 b = Tex2D(*e.s[1], in.t[0][1][i] * 1.7f, in.t[0][0][i] * 0.6f);
    const float t = e.c[0].r * in.v0[0][i];
    out[i] = {a.r + t * (b.r - a.r), a.g + t * (b.g - a.g), a.b + t * (b.b - a.b), a.a * in.v0[3][i]};
  }
}

ShaderInfo TexTimesC0Info() {
  return ShaderInfo{"test_tex_times_c0", {{0, SamplerType::Texture2D, "image"}}, {{0, 1, "tint"}}, &TexTimesC0};
}
ShaderInfo VolumeInfo() {
  return ShaderInfo{"test_volume", {{1, SamplerType::Volume, "table"}}, {{0, 1, "depth"}}, &VolumeLookup};
}

void RegisterTestShaders() {
  ASSERT_TRUE(RegisterPixelShader(TexTimesC0Info()));
  ASSERT_TRUE(RegisterPixelShader(VolumeInfo()));
  ASSERT_TRUE(RegisterPixelShader(ShaderInfo{"test_out_of_range", {}, {}, &OutOfRange}));
  ASSERT_TRUE(RegisterPixelShader(ShaderInfo{
      "test_mix", {{0, SamplerType::Texture2D, "a"}, {1, SamplerType::Texture2D, "b"}}, {{0, 1, "t"}}, &Mix}));
}

constexpr std::uint32_t kW = 16, kH = 12;

class GfxShaderFixture : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterTestShaders();
    SystemConfig cfg;
    cfg.presentSink = &sink;
    system = CreateSystem(kSdkVersion, cfg);
    ASSERT_TRUE(system);
    ASSERT_EQ(Make(device), Result::Ok);
    ASSERT_EQ(device->CreateTexture(kW, kH, 1, UsageRenderTarget, Format::A8R8G8B8, Pool::Default, rt), Result::Ok);
    ASSERT_EQ(rt->GetSurfaceLevel(0, rtSurface), Result::Ok);
  }
  Result Make(Ref<Device>& out) {
    PresentParameters pp;
    pp.backBufferWidth = kW;
    pp.backBufferHeight = kH;
    pp.backBufferFormat = Format::X8R8G8B8;
    return system->CreateDevice(0, DeviceType::Hal, nullptr, 0x26, pp, out);
  }
  Ref<PixelShader> Shader(std::string_view name) {
    Ref<PixelShader> s;
    const auto code = PixelShaderDescriptor(name);
    EXPECT_EQ(device->CreatePixelShader(code, s), Result::Ok) << name;
    return s;
  }
  // A 4 x 4 managed texture: red 0x40 * x, green 0x20 * y, blue 0x7F.
  Ref<Texture> Ramp() {
    Ref<Texture> t;
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, t), Result::Ok);
    LockedRect lr;
    EXPECT_EQ(t->LockRect(0, lr, nullptr, 0), Result::Ok);
    for (std::uint32_t y = 0; y < 4; ++y)
      for (std::uint32_t x = 0; x < 4; ++x) {
        const std::uint32_t p = 0xFF000000u | (x * 0x40) << 16 | (y * 0x20) << 8 | 0x7F;
        std::memcpy(static_cast<std::uint8_t*>(lr.bits) + y * lr.pitch + x * 4, &p, 4);
      }
    EXPECT_EQ(t->UnlockRect(0), Result::Ok);
    return t;
  }
  // Clears the target to grey and draws a quad of pixels [x, x+4) x [y, y+4), uv 0..uvMax.
  void DrawQuad(std::int32_t x, std::int32_t y, std::uint32_t colour = 0xFFFFFFFFu, float uvMax = 1.0f) {
    ASSERT_EQ(device->BeginScene(), Result::Ok);
    ASSERT_EQ(device->SetRenderTarget(0, rtSurface.Get()), Result::Ok);
    ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF808080u, 1.0f, 0), Result::Ok);
    ASSERT_EQ(device->SetRenderState(RenderState::CullMode, 1), Result::Ok);
    ASSERT_EQ(device->SetFVF(kTlFvf), Result::Ok);
    const auto q = Quad(x - 0.5f, y - 0.5f, x + 3.5f, y + 3.5f, colour, 0, 0, uvMax, uvMax);
    ASSERT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, 2, q.data(), sizeof(TlVertex)), Result::Ok);
    ASSERT_EQ(device->EndScene(), Result::Ok);
  }
  std::vector<std::uint32_t> Pixels() {
    Ref<Surface> sys;
    EXPECT_EQ(device->CreateOffscreenPlainSurface(kW, kH, Format::A8R8G8B8, Pool::SystemMem, sys), Result::Ok);
    EXPECT_EQ(device->GetRenderTargetData(rtSurface.Get(), sys.Get()), Result::Ok);
    LockedRect lr;
    EXPECT_EQ(sys->LockRect(lr, nullptr, LockReadOnly), Result::Ok);
    std::vector<std::uint32_t> out(kW * kH);
    for (std::uint32_t y = 0; y < kH; ++y) std::memcpy(&out[y * kW], static_cast<std::uint8_t*>(lr.bits) + y * lr.pitch, kW * 4);
    EXPECT_EQ(sys->UnlockRect(), Result::Ok);
    return out;
  }

  MemorySink sink;
  Ref<System> system;
  Ref<Device> device;
  Ref<Texture> rt;
  Ref<Surface> rtSurface;
};

// ---- drawing --------------------------------------------------------------------------------------

TEST_F(GfxShaderFixture, TextureTimesConstantReplacesTheStages) {
  Ref<Texture> tex = Ramp();
  Ref<PixelShader> s = Shader("test_tex_times_c0");
  ASSERT_TRUE(s);
  const float tint[4] = {1.0f, 0.5f, 0.25f, 1.0f};
  ASSERT_EQ(device->SetPixelShaderConstantF(0, tint, 1), Result::Ok);
  ASSERT_EQ(device->SetTexture(0, tex.Get()), Result::Ok);
  // Stage states that would disable the texture must not matter.
  ASSERT_EQ(device->SetTextureStageState(0, StageState::ColorOp, static_cast<std::uint32_t>(TextureOp::Disable)),
            Result::Ok);
  ASSERT_EQ(device->SetPixelShader(s.Get()), Result::Ok);
  DrawQuad(2, 3, 0x00000000u);  // the shader ignores the vertex colour
  const auto px = Pixels();
  for (std::uint32_t y = 0; y < kH; ++y)
    for (std::uint32_t x = 0; x < kW; ++x) {
      const bool inside = x >= 2 && x < 6 && y >= 3 && y < 7;
      const std::uint32_t want =
          inside ? 0xFF000000u | ((x - 2) * 0x40) << 16 | ((y - 3) * 0x10) << 8 | 0x20 : 0xFF808080u;
      ASSERT_EQ(px[y * kW + x], want) << x << "," << y;
    }
  // Output saturation: NaN -> 0, 2 -> 255, -1 -> 0, 0.5 -> 128.
  Ref<PixelShader> sat = Shader("test_out_of_range");
  ASSERT_EQ(device->SetPixelShader(sat.Get()), Result::Ok);
  DrawQuad(0, 0);
  EXPECT_EQ(Pixels()[kW + 1], 0x8000FF00u);
}

TEST_F(GfxShaderFixture, VolumeShaderHonoursTheSamplerStates) {
  Ref<VolumeTexture> vol;
  ASSERT_EQ(device->CreateVolumeTexture(32, 32, 32, 1, 0, Format::A8R8G8B8, Pool::Managed, vol), Result::Ok);
  LockedBox lb;
  ASSERT_EQ(vol->LockBox(0, lb, nullptr, 0), Result::Ok);
  for (std::uint32_t z = 0; z < 32; ++z)
    for (std::uint32_t y = 0; y < 32; ++y)
      for (std::uint32_t x = 0; x < 32; ++x) {
        const std::uint32_t p = 0xFF000000u | (x * 8) << 16 | (y * 8) << 8 | z * 8;
        std::memcpy(static_cast<std::uint8_t*>(lb.bits) + z * lb.slicePitch + y * lb.rowPitch + x * 4, &p, 4);
      }
  ASSERT_EQ(vol->UnlockBox(0), Result::Ok);
  Ref<PixelShader> s = Shader("test_volume");
  ASSERT_EQ(device->SetTexture(1, vol.Get()), Result::Ok);
  for (auto st : {SamplerState::AddressU, SamplerState::AddressV, SamplerState::AddressW})
    ASSERT_EQ(device->SetSamplerState(1, st, 3), Result::Ok);
  ASSERT_EQ(device->SetPixelShader(s.Get()), Result::Ok);
  // Point: pixel i reads texel i, slice 5; the vertex alpha scales alpha.
  const float pointDepth[4] = {5.5f / 32, 0, 0, 0};
  ASSERT_EQ(device->SetPixelShaderConstantF(0, pointDepth, 1), Result::Ok);
  DrawQuad(0, 0, 0x80FFFFFFu, 4.0f / 32);
  auto px = Pixels();
  for (std::uint32_t y = 0; y < 4; ++y)
    for (std::uint32_t x = 0; x < 4; ++x) ASSERT_EQ(px[y * kW + x], 0x80000028u | (x * 8) << 16 | (y * 8) << 8);
  // Linear: halfway between slices 4 and 5 in w, texel centres in u and v.
  ASSERT_EQ(device->SetSamplerState(1, SamplerState::MagFilter, 2), Result::Ok);
  ASSERT_EQ(device->SetSamplerState(1, SamplerState::MinFilter, 2), Result::Ok);
  const float linearDepth[4] = {5.0f / 32, 0, 0, 0};
  ASSERT_EQ(device->SetPixelShaderConstantF(0, linearDepth, 1), Result::Ok);
  DrawQuad(0, 0, 0xFFFFFFFFu, 4.0f / 32);
  px = Pixels();
  for (std::uint32_t y = 0; y < 4; ++y)
    for (std::uint32_t x = 0; x < 4; ++x) ASSERT_EQ(px[y * kW + x], 0xFF000024u | (x * 8) << 16 | (y * 8) << 8);
  // Nothing bound to the declared sampler reads (0, 0, 0, 1).
  ASSERT_EQ(device->SetTexture(1, nullptr), Result::Ok);
  DrawQuad(0, 0);
  EXPECT_EQ(Pixels()[0], 0xFF000000u);
}

// ---- creation ---------------------------------------------------------------------------------------

TEST_F(GfxShaderFixture, BadDescriptorsAndUnknownNamesAreRefused) {
  const std::size_t live = device->Debug().LiveResources();
  Ref<PixelShader> s;
  const auto good = PixelShaderDescriptor("test_tex_times_c0");
  ASSERT_FALSE(good.empty());
  EXPECT_TRUE(PixelShaderDescriptor("no_such_shader").empty());
  // Every truncation, and one byte too many.
  for (std::size_t n = 0; n < good.size(); ++n) {
    EXPECT_EQ(device->CreatePixelShader(std::span(good.data(), n), s), Result::InvalidCall) << n;
    EXPECT_FALSE(s);
  }
  auto longer = good;
  longer.push_back(0);
  EXPECT_EQ(device->CreatePixelShader(longer, s), Result::InvalidCall);
  // A well-formed descriptor of an unregistered name.
  ShaderInfo unknown = TexTimesC0Info();
  unknown.name = "test_never_registered";
  EXPECT_EQ(device->CreatePixelShader(EncodeShaderDescriptor(ShaderKind::Pixel, unknown), s), Result::InvalidCall);
  // The right name with a table that does not bind: renamed constant, other register, other sampler type.
  ShaderInfo wrong = TexTimesC0Info();
  wrong.constants[0].name = "Tint";
  EXPECT_EQ(device->CreatePixelShader(EncodeShaderDescriptor(ShaderKind::Pixel, wrong), s), Result::InvalidCall);
  wrong = TexTimesC0Info();
  wrong.constants[0].reg = 1;
  EXPECT_EQ(device->CreatePixelShader(EncodeShaderDescriptor(ShaderKind::Pixel, wrong), s), Result::InvalidCall);
  wrong = TexTimesC0Info();
  wrong.samplers[0].type = SamplerType::Volume;
  EXPECT_EQ(device->CreatePixelShader(EncodeShaderDescriptor(ShaderKind::Pixel, wrong), s), Result::InvalidCall);
  // A vertex descriptor is not a pixel shader, and vertex shaders cannot be made.
  const auto vertexCode = EncodeShaderDescriptor(ShaderKind::Vertex, TexTimesC0Info());
  EXPECT_EQ(device->CreatePixelShader(vertexCode, s), Result::InvalidCall);
  Ref<VertexShader> vs;
  EXPECT_EQ(device->CreateVertexShader(vertexCode, vs), Result::InvalidCall);
  EXPECT_EQ(device->SetVertexShader(nullptr), Result::Ok);
  // Random bytes, some behind a valid magic.
  std::mt19937 rng(5);
  for (int k = 0; k < 300; ++k) {
    std::vector<std::uint8_t> junk(rng() % 64);
    for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
    if (k % 2 && junk.size() >= 8) std::copy(good.begin(), good.begin() + 8, junk.begin());
    Result r = device->CreatePixelShader(junk, s);
    EXPECT_EQ(r, Result::InvalidCall);
  }
  // A name has one declaration; bad declarations are not registered.
  ShaderInfo conflict = TexTimesC0Info();
  conflict.constants.push_back({1, 1, "extra"});
  EXPECT_FALSE(RegisterPixelShader(conflict));
  EXPECT_FALSE(RegisterPixelShader(ShaderInfo{"test_no_fn", {}, {}, nullptr}));
  EXPECT_FALSE(RegisterPixelShader(ShaderInfo{"test_bad_reg", {}, {{31, 2, "c"}}, &OutOfRange}));
  EXPECT_FALSE(RegisterPixelShader(ShaderInfo{"test_bad_sampler", {{16, SamplerType::Texture2D, "s"}}, {}, &OutOfRange}));
  EXPECT_EQ(FindPixelShader("test_bad_reg"), nullptr);
  EXPECT_EQ(device->Debug().LiveResources(), live);
}

TEST_F(GfxShaderFixture, FaultsLossAndReset) {
  const auto code = PixelShaderDescriptor("test_tex_times_c0");
  Ref<PixelShader> s;
  device->Debug().FailNext(CallKind::CreatePixelShader, Result::OutOfMemory);
  EXPECT_EQ(device->CreatePixelShader(code, s), Result::OutOfMemory);
  EXPECT_FALSE(s);
  device->Debug().LoseDevice(LossMode::EveryCall);
  EXPECT_EQ(device->CreatePixelShader(code, s), Result::DeviceLost);
  EXPECT_EQ(device->SetPixelShader(nullptr), Result::DeviceLost);
  device->Debug().AllowReset();
  rtSurface = nullptr;
  rt = nullptr;
  PresentParameters pp;
  pp.backBufferWidth = kW;
  pp.backBufferHeight = kH;
  pp.backBufferFormat = Format::X8R8G8B8;
  ASSERT_EQ(device->Reset(pp), Result::Ok);
  ASSERT_EQ(device->CreatePixelShader(code, s), Result::Ok);
  // A shader does not block a reset, is unbound by it and stays usable.
  ASSERT_EQ(device->SetPixelShader(s.Get()), Result::Ok);
  const float c[4] = {1, 2, 3, 4};
  ASSERT_EQ(device->SetPixelShaderConstantF(5, c, 1), Result::Ok);
  ASSERT_EQ(device->Reset(pp), Result::Ok);
  Ref<PixelShader> bound;
  EXPECT_EQ(device->GetPixelShader(bound), Result::Ok);
  EXPECT_FALSE(bound);
  float back[4] = {9, 9, 9, 9};
  EXPECT_EQ(device->GetPixelShaderConstantF(5, back, 1), Result::Ok);
  EXPECT_EQ(back[0], 0.0f);
  EXPECT_EQ(device->SetPixelShader(s.Get()), Result::Ok);
}

TEST_F(GfxShaderFixture, ConstantRangesAreChecked) {
  float c[32 * 4];
  for (int i = 0; i < 32 * 4; ++i) c[i] = static_cast<float>(i);
  EXPECT_EQ(device->SetPixelShaderConstantF(0, c, 32), Result::Ok);
  const float other[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  EXPECT_EQ(device->SetPixelShaderConstantF(31, other, 2), Result::InvalidCall);
  EXPECT_EQ(device->SetPixelShaderConstantF(32, other, 1), Result::InvalidCall);
  EXPECT_EQ(device->SetPixelShaderConstantF(0xFFFFFFFFu, other, 2), Result::InvalidCall);
  EXPECT_EQ(device->SetPixelShaderConstantF(0, nullptr, 1), Result::InvalidCall);
  float back[32 * 4] = {};
  EXPECT_EQ(device->GetPixelShaderConstantF(30, back, 3), Result::InvalidCall);
  EXPECT_EQ(device->GetPixelShaderConstantF(0xFFFFFFFFu, back, 1), Result::InvalidCall);
  ASSERT_EQ(device->GetPixelShaderConstantF(0, back, 32), Result::Ok);
  for (int i = 0; i < 32 * 4; ++i) ASSERT_EQ(back[i], c[i]);  // refused calls wrote nothing
  EXPECT_EQ(device->SetPixelShaderConstantF(31, other, 1), Result::Ok);
  EXPECT_EQ(device->GetPixelShaderConstantF(31, back, 1), Result::Ok);
  EXPECT_EQ(back[0], -1.0f);
}

TEST_F(GfxShaderFixture, ShaderReleasedWhileBoundStillDrawsAndUnbindingRestoresTheStages) {
  Ref<Texture> tex = Ramp();
  ASSERT_EQ(device->SetTexture(0, tex.Get()), Result::Ok);
  const float tint[4] = {1.0f, 0.5f, 0.25f, 1.0f};
  ASSERT_EQ(device->SetPixelShaderConstantF(0, tint, 1), Result::Ok);
  const std::size_t live = device->Debug().LiveResources();
  {
    Ref<PixelShader> s = Shader("test_tex_times_c0");
    ASSERT_EQ(device->SetPixelShader(s.Get()), Result::Ok);
    EXPECT_EQ(s.Detach()->Release(), 0u);
  }
  EXPECT_EQ(device->Debug().LiveResources(), live + 1);  // the binding keeps it
  DrawQuad(0, 0);
  EXPECT_EQ(Pixels()[kW * 3 + 3], 0xFFC03020u);
  // The getter hands out a caller reference again.
  Ref<PixelShader> back;
  ASSERT_EQ(device->GetPixelShader(back), Result::Ok);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Info().name, "test_tex_times_c0");
  back = nullptr;
  // A shader of another device is refused.
  Ref<Device> other;
  ASSERT_EQ(Make(other), Result::Ok);
  Ref<PixelShader> foreign;
  ASSERT_EQ(other->CreatePixelShader(PixelShaderDescriptor("test_tex_times_c0"), foreign), Result::Ok);
  EXPECT_EQ(device->SetPixelShader(foreign.Get()), Result::InvalidCall);
  // Unbinding frees it; the default stage 0 (texture x diffuse) draws again.
  ASSERT_EQ(device->SetPixelShader(nullptr), Result::Ok);
  EXPECT_EQ(device->Debug().LiveResources(), live);
  DrawQuad(0, 0);
  EXPECT_EQ(Pixels()[kW * 3 + 3], 0xFFC0607Fu);
}

// ---- threads ----------------------------------------------------------------------------------------

std::vector<std::uint32_t> RenderShadedFrame() {
  using test::Image;
  using test::Scene;
  Image a(64, 48), b(37, 23);
  std::mt19937 rng(3);
  for (auto& p : a.pixels) p = rng();
  for (auto& p : b.pixels) p = rng();
  Image dst(320, 240, 0xFF203040u);
  Scene s(dst);
  s.SourceOver();
  s.call.textures[0].kind = s.call.textures[1].kind = TTextureKind::Texture2D;
  s.call.textures[0].levelCount = s.call.textures[1].levelCount = 1;
  s.call.textures[0].levels[0] = a.View();
  s.call.textures[1].levels[0] = b.View();
  s.ss[1][static_cast<int>(SamplerState::AddressU)] = 2;  // mirror
  float c[kMaxShaderConstants * 4] = {0.75f};
  s.call.pixelShaderConstants = c;
  s.call.pixelShader = FindPixelShader("test_mix");
  std::uniform_real_distribution<float> pos(-50, 370), uv(-2, 3), rhw(0.2f, 2.0f);
  std::vector<TlVertex> v = Quad(-0.5f, -0.5f, 319.5f, 239.5f, 0xC0FFFFFFu, -0.3f, 0.1f, 2.7f, 1.9f);
  for (int k = 0; k < 240; ++k)
    v.push_back({pos(rng), pos(rng) * 0.75f, 0, rhw(rng), static_cast<std::uint32_t>(rng()), uv(rng), uv(rng)});
  s.Draw(v, kTlFvf);
  return dst.pixels;
}

TEST(GfxShaderThreads, SameResultWithOneTwoAndEightThreads) {
  RegisterTestShaders();
  GfxWorkers& w = GfxWorkers::Instance();
  const std::uint32_t saved = w.ThreadCount();
  w.SetThreadCount(1);
  const auto one = RenderShadedFrame();
  w.SetThreadCount(2);
  EXPECT_EQ(RenderShadedFrame(), one);
  w.SetThreadCount(8);
  EXPECT_EQ(RenderShadedFrame(), one);
  w.SetThreadCount(saved);
  // The shader ran (the frame is not the fixed-function one).
  EXPECT_NE(one[160 * 320 + 100], 0xFF203040u);
}

}  // namespace gfxshadertest
