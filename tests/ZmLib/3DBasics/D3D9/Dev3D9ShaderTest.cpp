#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/Gfx/GfxShaderAbi.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmForms.h"
#include "tests/support/HeadlessApp.h"

namespace {

namespace gfx = plat::gfx;
using namespace zm;

// c0 times the vertex colour.
void ConstantTimesColour(const gfx::ShaderEnv& e, const gfx::ShaderVaryings& in, gfx::Float4* out) {
  for (int i = 0; i < in.count; ++i)
    out[i] = {e.c[0].r * in.v0[0][i], e.c[0].g * in.v0[1][i], e.c[0].b * in.v0[2][i], e.c[0].a * in.v0[3][i]};
}

gfx::ShaderInfo TestShader() { return gfx::ShaderInfo{"test_d3d9_fill", {}, {{0, 1, "colour"}}, &ConstantTimesColour}; }

// The stored form: a 4-byte little-endian count, then the descriptor.
TByteString StoredCode(const std::vector<std::uint8_t>& descriptor) {
  std::vector<std::uint8_t> bytes(4);
  const auto n = static_cast<std::uint32_t>(descriptor.size());
  for (int i = 0; i < 4; ++i) bytes[std::size_t(i)] = static_cast<std::uint8_t>(n >> (8 * i));
  bytes.insert(bytes.end(), descriptor.begin(), descriptor.end());
  return TByteString(bytes.data(), bytes.size());
}

class D3D9ShaderTest : public zmtest::THeadlessAppTest {
protected:
  void SetUp() override {
    ASSERT_TRUE(gfx::RegisterPixelShader(TestShader()));
    THeadlessAppTest::SetUp();
    window = MakeRef<TDumbWindow>();
    window->SetBounds({0, 0, 64, 48});
    device = MakeRef<TDrawDevice>(window->Handle());
    device->SetBounds({0, 0, 64, 48}, {0, 0}, false);
  }
  void TearDown() override {
    device = nullptr;
    engine = nullptr;
    window = nullptr;
    THeadlessAppTest::TearDown();
  }
  TRef<T3DRenderer9> MakeRenderer() {
    engine = Create3DEngineHook ? RefCast<T3DEngine9>(Create3DEngineHook(0)) : nullptr;
    if (!engine) return nullptr;
    T3DDisplayMode mode;
    EXPECT_TRUE(engine->GetDisplayMode(0, mode));
    return RefCast<T3DRenderer9>(engine->CreateRenderer(device.get(), mode));
  }

  TRef<TDumbWindow> window;
  TRef<TDrawDevice> device;
  TRef<T3DEngine9> engine;
};

TEST_F(D3D9ShaderTest, ShaderMadeThroughTheRendererDrawsWithItsConstants) {
  TRef<T3DRenderer9> r = MakeRenderer();
  ASSERT_TRUE(r);
  const std::size_t before = r->Store()->ResourceCount();
  // Unknown names, short code and vertex shaders are refused with the device's code.
  gfx::ShaderInfo unknown = TestShader();
  unknown.name = "test_d3d9_unknown";
  EXPECT_FALSE(r->CreateShader(StoredCode(gfx::EncodeShaderDescriptor(gfx::ShaderKind::Pixel, unknown)), false));
  EXPECT_EQ(r->LastResult(), drInvalidCall);
  EXPECT_FALSE(r->CreateShader(TByteString("abc"), false));
  EXPECT_FALSE(r->CreateShader(StoredCode(gfx::PixelShaderDescriptor("test_d3d9_fill")), true));
  EXPECT_EQ(r->Store()->ResourceCount(), before);

  TRef<T3DShader> shader = r->CreateShader(StoredCode(gfx::PixelShaderDescriptor("test_d3d9_fill")), false);
  ASSERT_TRUE(shader);
  EXPECT_EQ(r->Store()->ResourceCount(), before + 1);

  TRef<T3DVertexList> l = r->CreateVertexList(4, vcDiffuse, 1);
  ASSERT_TRUE(l);
  T3DVertex v[4];
  for (int i = 0; i < 4; ++i) {
    v[i].X = float(i & 1) * 64;
    v[i].Y = float(i >> 1) * 48;
    v[i].Diffuse = 0xFFFFFF80;  // blue at half
  }
  ASSERT_TRUE(l->SetVertices(0, v, 0, 4));
  ASSERT_TRUE(l->SetPrimitive(0, 2, ptTriangleStrip));

  ASSERT_TRUE(r->BeginScene());
  // Pixel coordinates straight to the target.
  T3DMatrix identity, projection;
  for (int i = 0; i < 4; ++i) identity.M[i][i] = 1;
  projection.M[0][0] = 2.0f / 64;
  projection.M[1][1] = -2.0f / 48;
  projection.M[2][2] = 1;
  projection.M[3][0] = -1;
  projection.M[3][1] = 1;
  projection.M[3][3] = 1;
  ASSERT_TRUE(r->SetTransform(identity, ttWorld));
  ASSERT_TRUE(r->SetTransform(identity, ttView));
  ASSERT_TRUE(r->SetTransform(projection, ttProjection));
  ASSERT_TRUE(r->SetCullNone(true));
  const T3DFloat4 colour[] = {{0.25f, 0.5f, 1.0f, 1.0f}};
  ASSERT_TRUE(r->SetShaderConstants(false, 0, colour));
  const T3DFloat4 tooMany[] = {{}, {}};
  EXPECT_FALSE(r->SetShaderConstants(false, 31, tooMany));
  EXPECT_FALSE(r->SetShaderConstants(false, -1, colour));
  ASSERT_TRUE(r->SetShader(shader.get()));
  gfx::Device* d = r->D3DDevice();
  gfx::Ref<gfx::PixelShader> bound;
  ASSERT_EQ(d->GetPixelShader(bound), gfx::Result::Ok);
  ASSERT_TRUE(bound);
  EXPECT_EQ(bound->Info().name, "test_d3d9_fill");
  bound = nullptr;
  TBaseTexture* none[] = {nullptr};
  EXPECT_TRUE(r->DrawVertexList(l.get(), none, 0));
  EXPECT_TRUE(r->EndScene());

  // Read the target back: every pixel is c0 x the vertex colour.
  auto* target = dynamic_cast<T3DSurface9*>(r->GetRenderTarget().get());
  ASSERT_NE(target, nullptr);
  gfx::SurfaceDesc desc;
  ASSERT_EQ(target->Surface()->GetDesc(desc), gfx::Result::Ok);
  gfx::Ref<gfx::Surface> sys;
  ASSERT_EQ(d->CreateOffscreenPlainSurface(desc.width, desc.height, desc.format, gfx::Pool::SystemMem, sys),
            gfx::Result::Ok);
  ASSERT_EQ(d->GetRenderTargetData(target->Surface(), sys.Get()), gfx::Result::Ok);
  gfx::LockedRect lr;
  ASSERT_EQ(sys->LockRect(lr, nullptr, gfx::LockReadOnly), gfx::Result::Ok);
  for (std::uint32_t y = 0; y < desc.height; ++y)
    for (std::uint32_t x = 0; x < desc.width; ++x) {
      std::uint32_t p;
      std::memcpy(&p, static_cast<std::uint8_t*>(lr.bits) + y * lr.pitch + x * 4, 4);
      ASSERT_EQ(p & 0x00FFFFFFu, 0x00408080u) << x << "," << y;
    }
  ASSERT_EQ(sys->UnlockRect(), gfx::Result::Ok);
  sys = nullptr;

  // An object without a pixel shader binds its vertex shader, here none:
  // accepted, and the pixel shader stays bound. Another back end's object
  // is refused.
  EXPECT_TRUE(r->SetShader(MakeRef<T3DShader9>().get()));
  ASSERT_EQ(d->GetPixelShader(bound), gfx::Result::Ok);
  EXPECT_TRUE(bound);
  EXPECT_FALSE(r->SetShader(MakeRef<T3DShader>().get()));
  EXPECT_EQ(r->LastResult(), drInvalidCall);

  // nil unbinds; a shader released while bound stays usable to the device.
  EXPECT_TRUE(r->SetShader(nullptr));
  ASSERT_EQ(d->GetPixelShader(bound), gfx::Result::Ok);
  EXPECT_FALSE(bound);
  ASSERT_TRUE(r->SetShader(shader.get()));
  shader = nullptr;
  EXPECT_EQ(r->Store()->ResourceCount(), before + 1);  // the vertex list
  ASSERT_TRUE(r->BeginScene());
  EXPECT_TRUE(r->DrawVertexList(l.get(), none, 0));
  EXPECT_TRUE(r->SetShader(nullptr));
  EXPECT_TRUE(r->EndScene());
}

}  // namespace
