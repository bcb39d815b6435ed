#include "ZmLib/Graphics/zmGeneratorKeys.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmGeneratorCallbacks.h"
#include "ZmLib/zmHookScope.h"

using namespace zm;

namespace keys_test {

TShadowParams SampleShadow() {
  TShadowParams p;
  p.Name = u"pics\\photo.jpg";
  p.Left = 0.5f;
  p.Top = 2;
  p.Right = 640.25f;
  p.Bottom = 480;
  p.MarginX = 12.75f;
  p.MarginY = 0;
  p.BackAlpha = 17;
  p.Blur = 3.5f;
  p.Contour = 7;
  p.StartOpacity = 10;
  p.EndOpacity = 200;
  p.Direction = 3;
  p.MipLevel = 2;
  return p;
}

}  // namespace keys_test

using namespace keys_test;

TEST(GeneratorKeys, ShadowKeyTextAndRoundTrip) {
  TShadowParams p = SampleShadow();
  const WideString key = MakeShadowKey(p);
  EXPECT_EQ(key, u"Shadow: 0.5:2:640.25:480:12.75:0:17:3.5:7:3:10:200:2:pics\\photo.jpg");

  TShadowParams q;
  q.OffsetAlongAxes = p.OffsetAlongAxes = 1;  // not carried: must survive untouched
  ParseShadowKey(key, q);
  EXPECT_EQ(q, p);

  // A blur of 16 decimals round-trips a single exactly; names keep their colons.
  p.Blur = 0.1f;
  p.Name = u"C:\\a:b:";
  ParseShadowKey(MakeShadowKey(p), q);
  EXPECT_EQ(q.Blur, 0.1f);
  EXPECT_EQ(q.Name, u"C:\\a:b:");
  EXPECT_NE(MakeShadowKey(p).find(u":0.1000000014901161:"), WideString::npos);

  // No exponents, no "-0", and values that are not finite still parse back.
  p.Right = 1e30f;
  p.Left = -0.001f;
  p.MarginX = std::numeric_limits<float>::quiet_NaN();
  const WideString big = MakeShadowKey(p);
  EXPECT_EQ(big.find(u'e'), WideString::npos);
  EXPECT_EQ(big.find(u"-0:"), WideString::npos);
  ParseShadowKey(big, q);
  EXPECT_FLOAT_EQ(q.Right, 1e30f);
  EXPECT_EQ(q.Left, 0.0f);
  EXPECT_EQ(q.MarginX, 0.0f);
}

TEST(GeneratorKeys, ShadowKeyShortAndDamaged) {
  const TShadowParams p = SampleShadow();
  TShadowParams q = p;
  ParseShadowKey(u"Shadow: ", q);
  EXPECT_EQ(q, p);
  ParseShadowKey(u"", q);
  EXPECT_EQ(q, p);
  // Missing fields keep their values.
  ParseShadowKey(u"Shadow: 9:8", q);
  EXPECT_EQ(q.Left, 9.0f);
  EXPECT_EQ(q.Top, 8.0f);
  EXPECT_EQ(q.Right, p.Right);
  EXPECT_EQ(q.Name, p.Name);
  // Fields that are not numbers take their fallbacks.
  q = p;
  ParseShadowKey(u"Shadow: x:1e5:inf: :-:0x1:a:nan:?:z:q:w:e:", q);
  EXPECT_EQ(q.Left, 0);
  EXPECT_EQ(q.Top, 0);
  EXPECT_EQ(q.Right, 0);
  EXPECT_EQ(q.Bottom, 0);
  EXPECT_EQ(q.MarginX, 0);
  EXPECT_EQ(q.MarginY, 0);
  EXPECT_EQ(q.BackAlpha, 255);
  EXPECT_EQ(q.Blur, 0);
  EXPECT_EQ(q.Contour, 0);
  EXPECT_EQ(q.Direction, 8);
  EXPECT_EQ(q.StartOpacity, 0);
  EXPECT_EQ(q.EndOpacity, 0);
  EXPECT_EQ(q.MipLevel, 0);
  EXPECT_EQ(q.Name, u"");
  // Out-of-range numbers: integers beyond 32 bits and floats beyond a single fall back.
  q = p;
  ParseShadowKey(u"Shadow: 1" + WideString(60, u'0') + u":2:3:4:5:6:99999999999:7:8:300:-1:256:5:n", q);
  EXPECT_EQ(q.Left, 0);
  EXPECT_EQ(q.BackAlpha, 255);
  EXPECT_EQ(q.Direction, 300 & 255);
  EXPECT_EQ(q.StartOpacity, 255);
  EXPECT_EQ(q.EndOpacity, 0);
  // Characters outside ASCII in a number field.
  ParseShadowKey(u"Shadow: \u0661:\u00B2", q);
  EXPECT_EQ(q.Left, 0);
  EXPECT_EQ(q.Top, 0);
}

TEST(GeneratorKeys, ButtonKeyTextAndRoundTrip) {
  EXPECT_EQ(MakeButtonKey(u"Blue Glass", kButtonHover, 120, -30, 0, 100), u"Button: Blue Glass:1:120:-30:0:100");
  TButtonKeyParams p{u"Skin", kButtonClick, 64, 359, -100, 2147483647};
  TButtonKeyParams q;
  ParseButtonKey(MakeButtonKey(p), q);
  EXPECT_EQ(q, p);

  q = p;
  ParseButtonKey(u"Button: Other:x:12", q);
  EXPECT_EQ(q.SkinName, u"Other");
  EXPECT_EQ(q.State, 0);
  EXPECT_EQ(q.Width, 12);
  EXPECT_EQ(q.Hue, p.Hue);  // missing: kept
  ParseButtonKey(u"Button: ", q);
  EXPECT_EQ(q.SkinName, u"Other");
  ParseButtonKey(u"Button: s:2:3:4:5:6:7:8", q);  // extra fields are ignored
  EXPECT_EQ(q, (TButtonKeyParams{u"s", 2, 3, 4, 5, 6}));
}

TEST(GeneratorKeys, MaskKeyTextAndRoundTrip) {
  TMaskParams p{kMaskEllipse, 12.5f, 0.3f, 640, 480};
  const WideString key = MakeMaskKey(p);
  EXPECT_EQ(key.substr(0, 17), u"PresetedMask:640:");
  EXPECT_EQ(key, u"PresetedMask:640:480:1:12.5:0.300000011920929");
  TMaskParams q;
  ParseMaskKey(key, q);
  EXPECT_EQ(q, p);

  q = p;
  ParseMaskKey(u"PresetedMask:", q);
  EXPECT_EQ(q, p);
  ParseMaskKey(u"PresetedMask:  77:  x: 2: 1.5:y:9", q);
  EXPECT_EQ(q.Width, 77);
  EXPECT_EQ(q.Height, 512);
  EXPECT_EQ(q.Shape, kMaskRoundRect);
  EXPECT_EQ(q.Softness, 1.5f);
  EXPECT_EQ(q.CornerSize, 0.0f);
  ParseMaskKey(u"PresetedMask:1:2:1", q);
  EXPECT_EQ(q.Shape, kMaskEllipse);
  EXPECT_EQ(q.Softness, 1.5f);  // missing: kept
}

TEST(GeneratedImages, KindsByPrefix) {
  struct {
    const char16_t* Name;
    TGeneratedImageKind Kind;
  } cases[] = {
      {u"Button: a:0:1:2:3:4", TGeneratedImageKind::Button},
      {u"Shadow: 1", TGeneratedImageKind::Shadow},
      {u"Text: x", TGeneratedImageKind::Text},
      {u"Mask: x", TGeneratedImageKind::Mask},
      {u"PresetedMask:1", TGeneratedImageKind::PresetMask},
      {u"SlideEffectBuffer:1", TGeneratedImageKind::SlideEffectBuffer},
      {u"EffectResource:a", TGeneratedImageKind::EffectResource},
      {u"TextWithSize:a", TGeneratedImageKind::TextWithSize},
      {u"shadow: 1", TGeneratedImageKind::None},
      {u"Shadow:1", TGeneratedImageKind::None},
      {u"photo.jpg", TGeneratedImageKind::None},
      {u"", TGeneratedImageKind::None},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GeneratedImageKind(c.Name), c.Kind);
    if (c.Kind != TGeneratedImageKind::None) {
      EXPECT_TRUE(WideString(c.Name).starts_with(GeneratedImageKindPrefix(c.Kind)));
    }
  }
  EXPECT_EQ(GeneratedImageKindPrefix(TGeneratedImageKind::None), u"");
}

TEST(GeneratedImages, ResolverHook) {
  zm::THookScope resolve(ResolveGeneratedImageHook, nullptr);
  EXPECT_FALSE(ResolveGeneratedImage(u"Shadow: 1"));

  std::vector<WideString> asked;
  resolve.Set([&](const WideString& name) -> TRef<TImage> {
    asked.push_back(name);
    if (name == u"Mask: boom") throw std::runtime_error("generator failed");
    TRef<TSysBitmap> b = CreateSysBitmap(2, 2, FindPixelFormat(PF_A8R8G8B8));
    return SysBitmapToImage(b.get(), false, name);
  });
  TRef<TImage> img = ResolveGeneratedImage(u"Shadow: 1");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->Params.FileName, u"Shadow: 1");
  EXPECT_FALSE(ResolveGeneratedImage(u"photo.jpg"));  // not a generated name: the hook is not asked
  EXPECT_FALSE(ResolveGeneratedImage(u"Mask: boom"));  // a failing generator: simply missing
  EXPECT_EQ(asked, (std::vector<WideString>{u"Shadow: 1", u"Mask: boom"}));
}
