#include "ZmLib/3DBasics/CustomTexture.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
#include "tests/ZmLib/3DBasics/Dev3DAppDoubles.h"

using namespace zm;
using namespace zmtest;

namespace custom_texture_test {

// One level of a fake texture: its pixels in memory, locks counted.
class TLevelSurface : public TFakeSurface {
public:
  TLevelSurface(TSize size, TPixelFormat* format)
      : TFakeSurface(size), Format(format), Bytes(std::size_t(size.cx) * size.cy * format->BytesPerPixel) {}
  TRef<TSysBitmap> Lock(const TRect& r, bool) override {
    if (r != TRect{0, 0, Size.cx, Size.cy}) return nullptr;
    ++Locks;
    return MakeRef<TRefBitmap>(TPoint{Size.cx, Size.cy}, Size.cx * Format->BytesPerPixel, Bytes.data(), Format);
  }
  bool Unlock(TRef<TSysBitmap>& b) override {
    b = nullptr;
    ++Unlocks;
    return true;
  }
  std::uint32_t Pixel(std::int32_t x, std::int32_t y) const {
    std::uint32_t v = 0;
    std::memcpy(&v, &Bytes[(std::size_t(y) * Size.cx + x) * 4], 4);
    return v;
  }
  TPixelFormat* Format;
  std::vector<std::uint8_t> Bytes;
  int Locks = 0, Unlocks = 0;
};

class TLevelTexture : public TFakeTexture {
public:
  TLevelTexture(std::uint8_t kind, bool mipmapped) : TFakeTexture(nullptr), Kind(kind), Mipmapped(mipmapped) {}
  std::int32_t GetLevelCount() override { return std::int32_t(Levels.size()); }
  TRef<T3DSurface> GetSurface(std::int32_t i) override {
    return i >= 0 && std::size_t(i) < Levels.size() ? TRef<T3DSurface>(Levels[std::size_t(i)]) : nullptr;
  }
  void PreLoad() override { ++PreLoads; }
  TLevelSurface* Level(std::size_t i) const { return Levels[i].get(); }
  std::uint8_t Kind;
  bool Mipmapped;
  std::vector<TRef<TLevelSurface>> Levels;
  int PreLoads = 0;
};

// Makes textures with a full mip chain when asked (or with OddChain, levels
// that are not exact halves); render targets fail as told.
class TTexRenderer : public TRecRenderer {
public:
  using TRecRenderer::TRecRenderer;
  TRef<T3DTexture> CreateTexture(std::uint8_t kind, std::int32_t w, std::int32_t h, bool mip) override {
    Note("CreateTexture " + std::to_string(kind) + " " + std::to_string(w) + "x" + std::to_string(h) +
         (mip ? " mip" : ""));
    if ((kind == tkTarget || kind == tkTargetAlpha) && TargetFailures > 0) {
      --TargetFailures;
      SetLastResult(FailCode);
      return nullptr;
    }
    SetLastResult(drOk);
    TPixelFormat* format = kind == tkLuminance8 ? pfY8 : pfA8R8G8B8;
    auto t = MakeRef<TLevelTexture>(kind, mip);
    for (std::int32_t i = 0; i == 0 || (mip && (w > 1 || h > 1)); ++i) {
      if (i > 0) {
        w = OddChain ? std::max(1, w * 2 / 5) : std::max(1, w / 2);
        h = OddChain ? std::max(1, h * 2 / 5) : std::max(1, h / 2);
      }
      t->Levels.push_back(MakeRef<TLevelSurface>(TSize{w, h}, format));
    }
    Textures.push_back(t);
    return t;
  }
  // A store going: every texture is told, then the renderer's owner.
  void LoseAll() {
    SetState(rsDeviceLost);
    for (auto& t : Textures) t->DoLost(t.get());
    LoseDevice();
  }
  std::vector<TRef<TLevelTexture>> Textures;
  int TargetFailures = 0;
  std::uint8_t FailCode = drOutOfVideoMemory;
  bool OddChain = false;
};

TTexRenderer* gLast = nullptr;
bool gOddChain = false;

class TTexEngine : public TFakeEngine {
public:
  TRef<T3DRenderer> CreateRenderer(TDrawDevice* device, const T3DDisplayMode&) override {
    auto r = MakeRef<TTexRenderer>(device, TSize{320, 240});
    r->OddChain = gOddChain;
    Renderers.push_back(r);
    gLast = r.get();
    return r;
  }
};

TRef<TTexEngine> gEngine;
TRef<T3DEngine> EngineHook(std::int32_t) { return gEngine; }

// A picture whose pixel (x, y) is a known function, written inside Size.
class TPatternTexture : public TCustomTexture {
public:
  TPatternTexture(T3DScreen* screen, TSize size, std::uint8_t kind = tkColorAlpha)
      : TCustomTexture(screen, size, kind, "TPatternTexture") {}
  static std::uint32_t At(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    return 0xFF000000u | (std::uint32_t(x * 7 + seed) & 0xFF) << 16 | (std::uint32_t(y * 5) & 0xFF) << 8 |
           std::uint32_t(x ^ y);
  }
  void FillLevel(TSysBitmap* data) override {
    ++Fills;
    for (std::int32_t y = 0; y < std::min(Size().cy, data->Height()); ++y)
      for (std::int32_t x = 0; x < std::min(Size().cx, data->Width()); ++x) {
        if (data->BytesPerPixel() == 4)
          data->Row32(y)[x] = At(x, y, Seed);
        else
          data->ScanLine(y)[x] = std::uint8_t(x + y);
      }
  }
  std::uint32_t Seed = 0;
  int Fills = 0;
};

class TLinesLog : public TLog {
public:
  void WriteText(const WideString& line) override { Lines.push_back(line); }
  std::vector<WideString> Lines;
};

class CustomTexture : public ::testing::Test {
protected:
  void SetUp() override {
    FiniDev3DApp2();
    gEngine = MakeRef<TTexEngine>();
    gOddChain = false;
    engine_.Set(&EngineHook);
    InitDev3DApp2();
    device = MakeRef<TDrawDevice>(reinterpret_cast<HWND>(std::uintptr_t(0x4242)));
    device->SetBounds({0, 0, 320, 240}, {0, 0}, false);
    screen = MakeRef<T3DScreen>();
  }
  void TearDown() override {
    screen = nullptr;
    device = nullptr;
    FiniDev3DApp2();
    engine_.Restore();
    gEngine = nullptr;
    gLast = nullptr;
    InitDev3DApp2();
  }
  void Open() {
    screen->Open(device.get());
    ASSERT_TRUE(screen->CanDraw());
    screen->BeginFrame();
  }
  static int Creates(const TTexRenderer* r) {
    int n = 0;
    for (const std::string& c : r->Calls) n += c.rfind("CreateTexture", 0) == 0;
    return n;
  }
  TRef<TDrawDevice> device;
  TRef<T3DScreen> screen;

private:
  zm::THookScope<TCreate3DEngineHook> engine_{Create3DEngineHook};
};

TEST_F(CustomTexture, ExtentsAndNothingMadeBeforeFirstUse) {
  Open();
  TRef<TPatternTexture> a = MakeRef<TPatternTexture>(screen.get(), TSize{1, 1});
  TRef<TPatternTexture> b = MakeRef<TPatternTexture>(screen.get(), TSize{33, 100});
  EXPECT_EQ(a->Extent(), (TSize{32, 32}));
  EXPECT_EQ(b->Extent(), (TSize{64, 128}));
  EXPECT_EQ(b->RecipWidth, 1.0 / 64);
  EXPECT_EQ(b->RecipHeight, 1.0 / 128);
  EXPECT_EQ(a->Alpha, 255);
  EXPECT_EQ(Creates(gLast), 0);
  EXPECT_EQ(b->DeviceTexture(), nullptr);
  EXPECT_EQ(b->Fills, 0);

  b->Prepare();
  ASSERT_NE(b->DeviceTexture(), nullptr);
  EXPECT_TRUE(gLast->Called("CreateTexture 0 64x128"));
  auto* t = static_cast<TLevelTexture*>(b->DeviceTexture());
  EXPECT_EQ(t->PreLoads, 1);
  EXPECT_EQ(b->Fills, 1);
  EXPECT_EQ(t->Level(0)->Pixel(32, 99), TPatternTexture::At(32, 99, 0));
  EXPECT_EQ(t->Level(0)->Locks, t->Level(0)->Unlocks);
  // Used again: the same texture, not filled again.
  EXPECT_EQ(b->Realize(), t);
  EXPECT_EQ(Creates(gLast), 1);
  EXPECT_EQ(b->Fills, 1);
  EXPECT_EQ(a->DeviceTexture(), nullptr);
}

TEST_F(CustomTexture, NothingIsMadeForAnEmptySizeOrAScreenThatCannotDraw) {
  TRef<TPatternTexture> early = MakeRef<TPatternTexture>(screen.get(), TSize{8, 8});
  EXPECT_EQ(early->Realize(), nullptr);  // the screen is not open yet
  early->Prepare();
  Open();
  for (TSize s : {TSize{0, 10}, TSize{10, 0}, TSize{-5, 5}, TSize{0, 0}, TSize{1 << 30 | 1, 4}}) {
    TRef<TPatternTexture> t = MakeRef<TPatternTexture>(screen.get(), s);
    EXPECT_EQ(t->Extent().cx * t->Extent().cy, 0) << s.cx << "x" << s.cy;
    EXPECT_EQ(t->Realize(), nullptr);
    t->Prepare();
    EXPECT_EQ(t->Fills, 0);
  }
  EXPECT_EQ(Creates(gLast), 0);
  // Given a size later, it is made; an empty size again lets it go.
  TRef<TPatternTexture> t = MakeRef<TPatternTexture>(screen.get(), TSize{0, 10});
  t->SetSize({4, 10});
  ASSERT_NE(t->Realize(), nullptr);
  t->SetSize({0, 10});
  EXPECT_EQ(t->DeviceTexture(), nullptr);
  EXPECT_EQ(t->Realize(), nullptr);
  EXPECT_NE(early->Realize(), nullptr);
}

TEST_F(CustomTexture, LostWithTheDeviceAndMadeAgainWithTheSameContent) {
  Open();
  TRef<TPatternTexture> tex = MakeRef<TPatternTexture>(screen.get(), TSize{40, 20});
  tex->Seed = 3;
  ASSERT_NE(tex->Realize(), nullptr);
  const std::vector<std::uint8_t> before = static_cast<TLevelTexture*>(tex->DeviceTexture())->Level(0)->Bytes;
  TRef<TTexRenderer> old(gLast);
  old->LoseAll();
  EXPECT_EQ(tex->DeviceTexture(), nullptr);
  EXPECT_EQ(screen->Renderer(), nullptr);
  EXPECT_EQ(tex->Realize(), nullptr);  // nothing to make it on until the next frame
  screen->BeginFrame();
  ASSERT_TRUE(screen->CanDraw());
  ASSERT_NE(gLast, old.get());
  EXPECT_EQ(Creates(gLast), 0);  // not before it is needed
  auto* again = static_cast<TLevelTexture*>(tex->Realize());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->Level(0)->Bytes, before);
  EXPECT_EQ(tex->Fills, 2);
  // The old texture's event no longer reaches the owner.
  old->Textures[0]->DoLost(old->Textures[0].get());
  EXPECT_EQ(tex->DeviceTexture(), again);
  // Releasing the screen's resources drops it too.
  screen->ReleaseResources();
  EXPECT_EQ(tex->DeviceTexture(), nullptr);
}

TEST_F(CustomTexture, MipLevelsAreHalvedByTwoByTwoMeansOrResized) {
  Open();
  TRef<TPatternTexture> tex = MakeRef<TPatternTexture>(screen.get(), TSize{64, 32});
  tex->SetMipmapped(true);
  EXPECT_TRUE(tex->Anisotropic);
  auto* t = static_cast<TLevelTexture*>(tex->Realize());
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(gLast->Called("CreateTexture 0 64x32 mip"));
  ASSERT_EQ(t->Levels.size(), 7u);
  for (std::size_t l = 1; l < t->Levels.size(); ++l) {
    const TLevelSurface* src = t->Level(l - 1);
    const TLevelSurface* dst = t->Level(l);
    if (src->Size.cy != 2 * dst->Size.cy) continue;  // 2 x 1 to 1 x 1 is resized
    for (std::int32_t y = 0; y < dst->Size.cy; ++y)
      for (std::int32_t x = 0; x < dst->Size.cx; ++x) {
        std::uint32_t want = 0;
        for (int shift = 0; shift < 32; shift += 8) {
          std::uint32_t sum = 0;
          for (auto [dx, dy] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}})
            sum += (src->Pixel(2 * x + dx, 2 * y + dy) >> shift) & 0xFF;
          want |= (sum >> 2) << shift;
        }
        ASSERT_EQ(dst->Pixel(x, y), want) << "level " << l << " at " << x << "," << y;
      }
  }
  for (auto& l : t->Levels) {
    EXPECT_EQ(l->Locks, 1);
    EXPECT_EQ(l->Unlocks, 1);
  }

  // Levels that are not exact halves go through the resize: a uniform
  // picture stays uniform.
  gOddChain = true;
  gLast->LoseAll();
  screen->BeginFrame();
  class TFlat : public TCustomTexture {
  public:
    using TCustomTexture::TCustomTexture;
    void FillLevel(TSysBitmap* d) override {
      for (std::int32_t y = 0; y < d->Height(); ++y)
        for (std::int32_t x = 0; x < d->Width(); ++x) d->Row32(y)[x] = 0x80402010u;
    }
  };
  TRef<TFlat> flat = MakeRef<TFlat>(screen.get(), TSize{64, 64}, tkColorAlpha);
  flat->SetMipmapped(true);
  auto* f = static_cast<TLevelTexture*>(flat->Realize());
  ASSERT_NE(f, nullptr);
  ASSERT_GE(f->Levels.size(), 3u);
  EXPECT_EQ(f->Level(1)->Size.cx, 25);
  for (auto& l : f->Levels) EXPECT_EQ(l->Pixel(l->Size.cx - 1, l->Size.cy - 1), 0x80402010u);
}

TEST_F(CustomTexture, MipLevelsThatAreNot32BitAreRefusedAndUnlocked) {
  Open();
  TRef<TPatternTexture> plane = MakeRef<TPatternTexture>(screen.get(), TSize{16, 16}, tkLuminance8);
  ASSERT_NE(plane->Realize(), nullptr);  // one 8-bit level is fine
  EXPECT_EQ(static_cast<TLevelTexture*>(plane->DeviceTexture())->Level(0)->Bytes[32 + 1], 2);  // 32 wide: (1, 1)
  plane->SetMipmapped(true);
  EXPECT_EQ(plane->DeviceTexture(), nullptr);
  EXPECT_EQ(plane->Realize(), nullptr);  // never raises
  const TLevelTexture* t = gLast->Textures.back().get();
  EXPECT_TRUE(t->Mipmapped);
  for (auto& l : t->Levels) EXPECT_EQ(l->Locks, l->Unlocks);
}

TEST_F(CustomTexture, KindMipmapAndSizeChangesLetTheTextureGo) {
  Open();
  TRef<TPatternTexture> tex = MakeRef<TPatternTexture>(screen.get(), TSize{10, 10});
  ASSERT_NE(tex->Realize(), nullptr);
  tex->SetSize({10, 10});
  EXPECT_NE(tex->DeviceTexture(), nullptr);  // same size: kept
  tex->SetSize({10, 11});
  EXPECT_EQ(tex->DeviceTexture(), nullptr);
  ASSERT_NE(tex->Realize(), nullptr);
  tex->SetMipmapped(false);
  EXPECT_NE(tex->DeviceTexture(), nullptr);
  EXPECT_FALSE(tex->MipmappedChanged());
  tex->SetMipmapped(true);
  EXPECT_EQ(tex->DeviceTexture(), nullptr);
  EXPECT_TRUE(tex->MipmappedChanged());
  ASSERT_NE(tex->Realize(), nullptr);
  tex->SetExtra(MakeRef<TFakeShader>());
  tex->SetKind(tkTargetAlpha);
  EXPECT_EQ(tex->DeviceTexture(), nullptr);
  EXPECT_EQ(tex->Extra(), nullptr);
  const int fills = tex->Fills;
  ASSERT_NE(tex->Realize(), nullptr);
  EXPECT_EQ(tex->Fills, fills);  // a render target is not filled
  EXPECT_TRUE(gLast->Called("CreateTexture 2 32x32 mip"));
}

TEST_F(CustomTexture, ShortMemoryForATargetFreesManagedTexturesByHalves) {
  Open();
  std::vector<TRef<TPatternTexture>> managed;
  for (int i = 0; i < 10; ++i) {
    managed.push_back(MakeRef<TPatternTexture>(screen.get(), TSize{8, 8}, i == 4 ? tkLuminance8 : tkColorAlpha));
    ASSERT_NE(managed.back()->Realize(), nullptr);
  }
  TRef<TPatternTexture> other = MakeRef<TPatternTexture>(screen.get(), TSize{8, 8}, tkColor565);
  ASSERT_NE(other->Realize(), nullptr);  // not a managed kind: never freed
  TRef<TPatternTexture> rt = MakeRef<TPatternTexture>(screen.get(), TSize{100, 50}, tkTarget);
  auto* log = new TLinesLog;
  SetLog(log);

  gLast->TargetFailures = 2;  // the second retry succeeds
  ASSERT_NE(rt->Realize(), nullptr);
  EXPECT_EQ(log->Lines, (std::vector<WideString>{
                            u"Rt Create First Attempt Ok= False", u"tmpTexListcount= 10",
                            u"Released Managed Texs from 9 to 5; Rt Create 1nd Attempt Ok= False",
                            u"Released Managed Texs from 4 to 2; Rt Create 2nd Attempt Ok= True"}));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(managed[std::size_t(i)]->DeviceTexture() == nullptr, i >= 2) << i;
  EXPECT_NE(other->DeviceTexture(), nullptr);

  // Failing throughout: every step is tried, then the target stays nil.
  for (auto& m : managed) ASSERT_NE(m->Realize(), nullptr);
  rt->Release();
  log->Lines.clear();
  gLast->TargetFailures = 100;
  EXPECT_EQ(rt->Realize(), nullptr);
  EXPECT_EQ(log->Lines, (std::vector<WideString>{
                            u"Rt Create First Attempt Ok= False", u"tmpTexListcount= 10",
                            u"Released Managed Texs from 9 to 5; Rt Create 1nd Attempt Ok= False",
                            u"Released Managed Texs from 4 to 2; Rt Create 2nd Attempt Ok= False",
                            u"Released Managed Texs from 1 to 1; Rt Create 3nd Attempt Ok= False",
                            u"Released Managed Texs from 0 to 0; Rt Create 4nd Attempt Ok= False"}));
  for (auto& m : managed) EXPECT_EQ(m->DeviceTexture(), nullptr);

  // Another failure frees nothing.
  for (auto& m : managed) ASSERT_NE(m->Realize(), nullptr);
  log->Lines.clear();
  gLast->FailCode = drFailed;
  gLast->TargetFailures = 1;
  EXPECT_EQ(rt->Realize(), nullptr);
  EXPECT_EQ(log->Lines, (std::vector<WideString>{u"Rt Create First Attempt Ok= False"}));
  for (auto& m : managed) EXPECT_NE(m->DeviceTexture(), nullptr);
  SetLog(nullptr);
}

TEST_F(CustomTexture, FreedWhileOnTheResourceListOrAfterTheScreen) {
  Open();
  TRef<TPatternTexture> tex = MakeRef<TPatternTexture>(screen.get(), TSize{8, 8});
  const std::int32_t listed = screen->Resources()->Count();
  ASSERT_GE(screen->Resources()->IndexOf(tex.get()), 0);
  ASSERT_NE(tex->Realize(), nullptr);
  TRef<TLevelTexture> device0 = gLast->Textures.back();
  tex = nullptr;  // freed while realised and listed
  EXPECT_EQ(screen->Resources()->Count(), listed - 1);
  device0->DoLost(device0.get());  // its event was cut: nothing reaches the freed owner
  screen->ReleaseResources();
  gLast->LoseAll();
  screen->BeginFrame();

  // The screen goes first: the texture is cut loose and makes nothing.
  TRef<TPatternTexture> orphan = MakeRef<TPatternTexture>(screen.get(), TSize{8, 8});
  ASSERT_NE(orphan->Realize(), nullptr);
  screen = nullptr;
  EXPECT_EQ(orphan->Screen(), nullptr);
  EXPECT_EQ(orphan->DeviceTexture(), nullptr);
  EXPECT_EQ(orphan->Realize(), nullptr);
  orphan->Prepare();
  orphan->SetSize({16, 16});
}

TEST_F(CustomTexture, ColoringTextureDropsItsObjectWhenTheDeviceGoes) {
  Open();
  TRef<TCustomColoringTexture> c = MakeRef<TCustomColoringTexture>(screen.get());
  TRef<TLevelTexture> object = MakeRef<TLevelTexture>(tkColorAlpha, false);
  c->SetDeviceObject(object);
  EXPECT_EQ(c->DeviceObject(), object.get());
  object->DoLost(object.get());
  EXPECT_EQ(c->DeviceObject(), nullptr);
  c->SetDeviceObject(object);
  const std::int32_t listed = screen->Resources()->Count();
  c = nullptr;
  EXPECT_EQ(screen->Resources()->Count(), listed - 1);
  object->DoLost(object.get());  // cut loose with its owner
  EXPECT_THROW(MakeRef<TCustomColoringTexture>(nullptr), Exception);
  EXPECT_THROW(MakeRef<TPatternTexture>(nullptr, TSize{1, 1}), Exception);
}

}  // namespace custom_texture_test
