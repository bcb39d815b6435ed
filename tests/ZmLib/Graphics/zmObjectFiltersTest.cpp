#include "ZmLib/Graphics/zmObjectFilters.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLocal.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::Contains;

namespace {

struct Rgb {
  int R, G, B;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) { return os << "(" << c.R << "," << c.G << "," << c.B << ")"; }

// A document holding the filter objects; the filters bind to its blocks.
struct Doc {
  TRef<TIniFile> File = MakeRef<TIniFile>();
  explicit Doc(const std::string& text) { File->LoadFromText(TByteString(text)); }
  TIniObject* Object(int i = 0) const {
    TIniObject* o = File->FirstObject();
    while (o && i-- > 0) o = File->NextObject(o);
    return o;
  }
};

TRef<TObjectFilter> FilterOf(const Doc& doc, int i = 0) { return CreateObjectFilter(doc.Object(i)); }

TRef<TSysBitmap> Table(const std::vector<Rgb>& pixels, int rows = 1) {
  TRef<TSysBitmap> b = CreateSysBitmap(std::int32_t(pixels.size()), rows, FindPixelFormat(PF_A8R8G8B8));
  for (int y = 0; y < rows; ++y)
    for (std::size_t x = 0; x < pixels.size(); ++x) {
      std::uint8_t* p = b->ScanLine(y) + 4 * x;
      p[0] = std::uint8_t(pixels[x].B);
      p[1] = std::uint8_t(pixels[x].G);
      p[2] = std::uint8_t(pixels[x].R);
      p[3] = 0;
    }
  return b;
}

std::vector<Rgb> Row(TSysBitmap* b, int y = 0) {
  std::vector<Rgb> out;
  for (int x = 0; x < b->Width(); ++x) {
    const std::uint8_t* p = b->ScanLine(y) + 4 * x;
    out.push_back({p[2], p[1], p[0]});
  }
  return out;
}

std::vector<Rgb> Greys(std::initializer_list<int> values) {
  std::vector<Rgb> v;
  for (int c : values) v.push_back({c, c, c});
  return v;
}

// The filter of the one object in text applied to the pixels.
std::vector<Rgb> Filtered(const std::string& text, const std::vector<Rgb>& pixels) {
  Doc doc(text);
  TRef<TObjectFilter> f = FilterOf(doc);
  EXPECT_TRUE(f) << text;
  if (!f) return {};
  TRef<TSysBitmap> b = Table(pixels);
  f->ApplyToBitmap(b.get(), b->Width(), 1);
  return Row(b.get());
}

}  // namespace

// ---- Per-channel filters against the formulas worked by hand ------------------------------

TEST(ObjectFilters, InvertAndLinearMapsClampAndTruncate) {
  EXPECT_EQ(Filtered("object Invert\nend\n", Greys({0, 100, 255})), Greys({255, 155, 0}));
  // k 2, d 0.1: v = trunc(2c + 25.5), clamped.
  Doc doc("object Lin\n  k=2\n  d=0.1\nend\n");
  TRef<TObjectFilter> lin = TRef<TObjectFilter>::Adopt(NewObjectFilter<TLinearGenerator>());
  ASSERT_TRUE(lin->Load(doc.Object()));
  TRef<TSysBitmap> b = Table(Greys({0, 100, 200}));
  lin->ApplyToBitmap(b.get(), 3, 1);
  EXPECT_EQ(Row(b.get()), Greys({25, 225, 255}));
  // Hostile factors saturate instead of overflowing.
  Doc huge("object Lin\n  k=-1e300\n  d=1e300\nend\n");
  TRef<TObjectFilter> h = TRef<TObjectFilter>::Adopt(NewObjectFilter<TLinearGenerator>());
  h->Load(huge.Object());
  b = Table(Greys({0, 255}));
  h->ApplyToBitmap(b.get(), 2, 1);
  EXPECT_EQ(Row(b.get()), Greys({255, 0}));
}

TEST(ObjectFilters, BrightContrast) {
  std::vector<Rgb> all;
  for (int c = 0; c < 256; ++c) all.push_back({c, 255 - c, c / 2});
  EXPECT_EQ(Filtered("object BrightContrast\nend\n", all), all);
  EXPECT_EQ(Filtered("object BrightContrast\n  Bright=50\nend\n", Greys({0, 100, 220})), Greys({50, 150, 255}));
  // Out of range: clamped to 100.
  EXPECT_EQ(Filtered("object BrightContrast\n  Bright=500\nend\n", Greys({0, 100})), Greys({100, 200}));
  // Contrast 50: k = cot(pi / 8) = 2.4142137, b = (1 - k) * 127.5 = -180.31.
  EXPECT_EQ(Filtered("object BrightContrast\n  Contrast=50\nend\n", Greys({0, 100, 128, 200})),
            Greys({0, 61, 128, 255}));
  // -100 (and below): flat grey; 100: a hard step.
  EXPECT_EQ(Filtered("object BrightContrast\n  Contrast=-300\nend\n", Greys({0, 255})), Greys({127, 127}));
  EXPECT_EQ(Filtered("object BrightContrast\n  Contrast=100\nend\n", Greys({127, 128})), Greys({0, 255}));
  // Damaged numbers take the default.
  EXPECT_EQ(Filtered("object BrightContrast\n  Bright=x5\n  Contrast=\nend\n", Greys({7})), Greys({7}));
}

TEST(ObjectFilters, Levels) {
  const auto px = Greys({0, 50, 100, 150, 200});
  EXPECT_EQ(Filtered("object Levels\n  Min=50\n  Max=150\nend\n", px), Greys({0, 0, 127, 255, 255}));
  // Med 50: gamma 1/3, 0.5 ^ (1/3) * 255 = 202.4.
  EXPECT_EQ(Filtered("object Levels\n  Min=50\n  Max=150\n  Med=50\nend\n", px)[2].R, 202);
  // Med -100: gamma 10 (0.5 ^ 10 * 255 = 0.25); Med 100: gamma 0 clamped to 0.1 (237.9).
  EXPECT_EQ(Filtered("object Levels\n  Min=50\n  Max=150\n  Med=-100\nend\n", px)[2].R, 0);
  EXPECT_EQ(Filtered("object Levels\n  Min=50\n  Max=150\n  Med=100\nend\n", px)[2].R, 237);
  EXPECT_EQ(Filtered("object Levels\n  Min=50\n  Max=150\n  Med=900\nend\n", px)[2].R, 237);
  // Max = Min: a step at Min.
  EXPECT_EQ(Filtered("object Levels\n  Min=100\n  Max=100\nend\n", Greys({99, 100, 101})), Greys({0, 0, 255}));
  // Out of range bounds clamp to 0..255: the identity.
  EXPECT_EQ(Filtered("object Levels\n  Min=-5\n  Max=999\nend\n", px), px);
  // Max below Min: no real power of a negative base, so the output minimum.
  EXPECT_EQ(Filtered("object Levels\n  Min=200\n  Max=100\n  Med=30\nend\n", Greys({100, 250})), Greys({0, 0}));
}

// ---- Channel-mixing filters ------------------------------------------------------------------

TEST(ObjectFilters, ColorizationBlendsTowardColourTimesLuminance) {
  // L of (200, 100, 50) = (200 * 13933 + 100 * 46871 + 50 * 7471) shr 16 = 119.
  const std::vector<Rgb> px = {{200, 100, 50}, {255, 255, 255}};
  const auto grey = Filtered("object Colorization\n  Color=#808080\nend\n", px);
  EXPECT_EQ(grey[0], (Rgb{119, 119, 119}));
  EXPECT_EQ(grey[1], (Rgb{255, 255, 255}));  // L 265, capped
  // Amount 50: A = 128; t rounds toward zero: red (119 - 200) * 128 / 256 = -40.5 -> -40.
  EXPECT_EQ(Filtered("object Colorization\n  Color=#808080\n  Amount=50\nend\n", px)[0], (Rgb{160, 109, 84}));
  // Amount clamped: above 100 is 100, below 0 is the identity.
  EXPECT_EQ(Filtered("object Colorization\n  Color=#808080\n  Amount=250\nend\n", px)[0], (Rgb{119, 119, 119}));
  EXPECT_EQ(Filtered("object Colorization\n  Color=#808080\n  Amount=-3\nend\n", px), px);
  // Sepia (155, 130, 99): target (C * 119) shr 7.
  EXPECT_EQ(Filtered("object Colorization\n  Color=155,130,99\nend\n", px)[0], (Rgb{144, 120, 92}));
}

TEST(ObjectFilters, ColourMultiplies) {
  const std::vector<Rgb> px = {{200, 100, 50}};
  // (C * c) shr 8.
  EXPECT_EQ(Filtered("object Colorisation2\n  Color=255,128,0\nend\n", px)[0], (Rgb{199, 50, 0}));
  // min((C * c) shr 7, 255): 128 is the identity, 255 doubles.
  EXPECT_EQ(Filtered("object Colorisation3\n  Color=#808080\nend\n", px), px);
  EXPECT_EQ(Filtered("object Colorisation3\n  Color=#FFFF00\nend\n", px)[0], (Rgb{255, 199, 0}));
  // No colour: black.
  EXPECT_EQ(Filtered("object Colorisation2\nend\n", px)[0], (Rgb{0, 0, 0}));
}

TEST(ObjectFilters, HSLShifts) {
  const std::vector<Rgb> px = {{255, 0, 0}, {40, 120, 200}};
  EXPECT_EQ(Filtered("object HSL\n  Lightness=100\nend\n", px), (std::vector<Rgb>{{255, 255, 255}, {255, 255, 255}}));
  EXPECT_EQ(Filtered("object HSL\n  Lightness=-250\nend\n", px), (std::vector<Rgb>{{0, 0, 0}, {0, 0, 0}}));
  // No saturation: the grey of the lightness (127.5 rounds to even).
  const auto grey = Filtered("object HSL\n  Saturation=-100\nend\n", px);
  EXPECT_EQ(grey[0], (Rgb{128, 128, 128}));
  // Half a turn either way is the same hue, and red turns cyan (within the
  // 256 steps of the hue scale).
  const auto plus = Filtered("object HSL\n  Hue=180\nend\n", px);
  EXPECT_EQ(Filtered("object HSL\n  Hue=-180\nend\n", px), plus);
  EXPECT_EQ(Filtered("object HSL\n  Hue=999\nend\n", px), plus);
  EXPECT_LE(std::abs(plus[0].R - 0) + std::abs(plus[0].G - 255) + std::abs(plus[0].B - 255), 6) << plus[0];
}

TEST(ObjectFilters, TableShapesAndBadBitmaps) {
  Doc doc("object Invert\nend\n");
  TRef<TObjectFilter> f = FilterOf(doc);
  // Rows below Rows take row 0; only Width pixels are mapped.
  TRef<TSysBitmap> b = Table(Greys({10, 20, 30}), 4);
  f->ApplyToBitmap(b.get(), 2, 1);
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(Row(b.get(), y), Greys({245, 235, 30})) << y;
    EXPECT_EQ(b->ScanLine(y)[3], 255);
    EXPECT_EQ(b->ScanLine(y)[11], 0);
  }
  // Sizes beyond the bitmap are cut; nonsense is ignored.
  b = Table(Greys({10}), 2);
  f->ApplyToBitmap(b.get(), 1000, 1000);
  EXPECT_EQ(Row(b.get(), 1), Greys({245}));
  f->ApplyToBitmap(b.get(), 0, 1);
  f->ApplyToBitmap(b.get(), 1, -1);
  EXPECT_EQ(Row(b.get(), 1), Greys({245}));
  f->ApplyToBitmap(nullptr, 1, 1);
  TRef<TSysBitmap> rgb = CreateSysBitmap(2, 2, FindPixelFormat(PF_R8G8B8));
  f->ApplyToBitmap(rgb.get(), 2, 2);
  EXPECT_EQ(rgb->ScanLine(0)[0], 0);
}

// ---- Chains -----------------------------------------------------------------------------

TEST(ObjectFilterChains, KindOrderAndRevision) {
  // An empty chain, or one of disabled filters only, is kind 0 and changes nothing.
  TRef<TSysBitmap> b = Table(Greys({10}));
  EXPECT_EQ(GetFilterChainKind(nullptr), fkNone);
  ApplyFilterChain(nullptr, b.get(), 1, 1);
  EXPECT_EQ(b->ScanLine(0)[3], 0);
  EXPECT_EQ(GetFilterChainRevision(nullptr), TByteString());

  Doc doc(
      "object BrightContrast\n  Bright=50\n  $rev=3\nend\n"
      "object Invert\n  $rev=4\nend\n"
      "object HSL\n  Disable=1\nend\n");
  TObjectFilter* chain = nullptr;
  for (int i = 2; i >= 0; --i) chain = PrependFilter(FilterOf(doc, i).Detach(), chain);
  EXPECT_EQ(PrependFilter(nullptr, chain), chain);
  // The last filter runs first: invert, then brighten.
  ApplyFilterChain(chain, b.get(), 1, 1);
  EXPECT_EQ(Row(b.get()), Greys({255}));
  b = Table(Greys({100}));
  ApplyFilterChain(chain, b.get(), 1, 1);
  EXPECT_EQ(Row(b.get()), Greys({205}));
  EXPECT_EQ(GetFilterChainKind(chain), fkChannel);  // the disabled HSL does not count
  EXPECT_EQ(chain->Next->Next->GetKind(), fkNone);  // disabled: the chain from itself
  EXPECT_EQ(GetFilterChainRevision(chain), TByteString("7"));

  chain = ReverseFilterChain(chain);
  EXPECT_TRUE(chain->Disabled());
  TObjectFilter* tail = TakeFilterTail(chain);
  EXPECT_EQ(chain->Next, nullptr);
  EXPECT_EQ(GetFilterChainKind(tail), fkChannel);
  FreeFilterChain(tail);
  FreeFilterChain(chain);
  EXPECT_EQ(chain, nullptr);
  EXPECT_EQ(TakeFilterTail(chain), nullptr);
}

namespace {
class TValueDouble : public TObjectFilter {
public:
  std::int32_t GetKind() override { return fkValue; }
  double MapValue(double v) override { return v * 2 + Add; }
  double Add = 0;
};
}  // namespace

TEST(ObjectFilterChains, ValueFiltersAndMixing) {
  auto* first = static_cast<TValueDouble*>(NewObjectFilter<TValueDouble>());
  auto* second = static_cast<TValueDouble*>(NewObjectFilter<TValueDouble>());
  second->Add = 1;
  TObjectFilter* chain = PrependFilter(first, second);
  double v = 3;
  ApplyValueFilters(chain, v);  // (3 * 2 + 1) * 2
  EXPECT_EQ(v, 14);
  float s = 1;
  ApplyValueFiltersSingle(chain, s);
  EXPECT_EQ(s, 6.0f);
  EXPECT_EQ(GetFilterChainKind(chain), fkValue);

  // A value filter in front of a colour filter cannot be combined.
  Doc doc("object HSL\nend\nobject Colorization\n  Disable=1\nend\n");
  TObjectFilter* colour = FilterOf(doc).Detach();
  second->Next = colour;
  EXPECT_TRUE(Contains(AssertionOf([&] { GetFilterChainKind(chain); }), "Error: Value filters can`t be combined"));
  // A disabled colouring filter hands the kind to the filters behind it.
  TRef<TObjectFilter> off = FilterOf(doc, 1);
  EXPECT_EQ(off->GetKind(), fkNone);
  FreeFilterChain(chain);
}

TEST(ObjectFilterChains, LongChainFreesWithoutDeepRecursion) {
  TObjectFilter* chain = nullptr;
  for (int i = 0; i < 200000; ++i) chain = PrependFilter(NewObjectFilter<TInvertColor>(), chain);
  // A link still held elsewhere outlives the chain.
  TObjectFilter* held = chain->Next->Next;
  held->AddRef();
  FreeFilterChain(chain);
  EXPECT_EQ(held->RefCount(), 1);
  held->Free();
}

// ---- Binding, parameters and the registry ---------------------------------------------------------

TEST(ObjectFilterBinding, IdRevisionAndPrepare) {
  Doc doc("object BrightContrast\n  Bright=10\nend\nobject BrightContrast\n  id=other\nend\n");
  TIniObject* o = doc.Object();
  TRef<TObjectFilter> f = FilterOf(doc);
  // A new GUID, braced hexadecimal.
  const std::string id(reinterpret_cast<const char*>(f->Id().Data()), std::size_t(f->Id().Length()));
  ASSERT_EQ(id.size(), 38u);
  EXPECT_EQ(id.front(), '{');
  EXPECT_EQ(id[9], '-');
  EXPECT_EQ(o->Find(u"id")->GetValue(), f->Id());
  EXPECT_EQ(f->PreparedRevision(), 1);
  EXPECT_FALSE(f->NotPrepared());

  // Another object, or the same one at another revision, does not match.
  EXPECT_FALSE(f->Load(doc.Object(1)));
  EXPECT_EQ(f->IniObject(), o);
  o->GetOrAdd(u"$rev")->SetInt64(5);
  EXPECT_FALSE(f->Load(o));
  o->GetOrAdd(u"$rev")->SetInt64(0);
  EXPECT_TRUE(f->Load(o));

  // A changed parameter bumps the revision; the next Load prepares again.
  EXPECT_TRUE(f->SetParamText(0, u"60"));
  EXPECT_FALSE(f->SetParamText(0, u"60"));
  EXPECT_EQ(f->Revision(), 1);
  EXPECT_EQ(o->Find(u"$rev")->GetInt64(0), 1);
  EXPECT_EQ(f->GetParamText(0), u"60");
  EXPECT_EQ(f->GetParamText(1), u"");
  EXPECT_EQ(f->GetParamText(7), u"");
  EXPECT_EQ(f->GetParamText(-1), u"");
  EXPECT_FALSE(f->SetParamText(2, u"1"));
  EXPECT_FALSE(f->SetParamText(-1, u"1"));
  TRef<TSysBitmap> b = Table(Greys({0}));
  f->ApplyToBitmap(b.get(), 1, 1);
  EXPECT_EQ(Row(b.get()), Greys({10}));  // still the prepared values
  EXPECT_TRUE(f->Load(o));
  EXPECT_EQ(f->PreparedRevision(), 2);
  f->ApplyToBitmap(b.get(), 1, 1);
  EXPECT_EQ(Row(b.get()), Greys({70}));

  // Damaged binding input.
  EXPECT_FALSE(f->Load(nullptr));
  TRef<TObjectFilter> unbound = TRef<TObjectFilter>::Adopt(NewObjectFilter<TInvertColor>());
  EXPECT_FALSE(unbound->SetParamText(0, u"1"));
  EXPECT_EQ(unbound->GetParamText(0), u"");
}

TEST(ObjectFilterBinding, ColorisationPresetAndCaption) {
  Doc doc("object Colorisation2\n  Preset=Sepia\n  Color=155,130,99\n  id=abc\n  $rev=9\nend\n");
  TRef<TObjectFilter> f = FilterOf(doc);
  EXPECT_EQ(f->Id(), TByteString("abc"));
  EXPECT_EQ(f->Revision(), 9);
  EXPECT_EQ(f->GetCaption(), u"Sepia: Colorisation2");
  EXPECT_EQ(f->GetParamCount(), 2);
  EXPECT_FALSE(f->SetParamText(0, u"155,130,99"));
  EXPECT_NE(doc.Object()->Find(u"Preset"), nullptr);
  EXPECT_TRUE(f->SetParamText(1, u"40"));
  EXPECT_EQ(doc.Object()->Find(u"Preset"), nullptr);
  EXPECT_EQ(f->GetCaption(), u"Colorisation2");
  EXPECT_EQ(GetFilterChainRevision(f.get()), TByteString("10"));

  const auto presets = ColorPresets();
  ASSERT_EQ(presets.size(), 4u);
  EXPECT_EQ(presets[1].Name, u"Sepia");
  EXPECT_EQ(presets[1].Color, u"155,130,99");
  EXPECT_EQ(presets[3].Color, u"");
}

TEST(ObjectFilterRegistry, NamesAndTranslations) {
  Doc doc("object invert\nend\nobject INVERT\nend\nobject Blur\nend\nobject\nend\n");
  EXPECT_TRUE(FilterOf(doc, 0));
  EXPECT_TRUE(FilterOf(doc, 1));
  EXPECT_FALSE(FilterOf(doc, 2));
  EXPECT_FALSE(FilterOf(doc, 3));
  EXPECT_FALSE(CreateObjectFilter(nullptr));
  RegisterObjectFilter(nullptr, u"Nothing");
  RegisterObjectFilter(&NewObjectFilter<TInvertColor>, u"");
  const auto infos = ObjectFilterInfos();
  ASSERT_EQ(infos.size(), 7u);
  EXPECT_EQ(infos.front()->Name, u"Invert");
  EXPECT_EQ(infos.back()->Name, u"Levels");
  EXPECT_EQ(infos.back()->DisplayName, u"Levels");

  static WideString language;
  language = u"en";
  zm::THookScope translate(TranslateHook, [](const WideString& section, const WideString& key, const WideString& def) -> WideString {
    if (key.empty()) return language;
    if (section == u"Objects") return language + u":" + key;
    return def;
  });
  EXPECT_EQ(FilterOf(doc)->DisplayName(), u"en:filter_Invert");
  Doc hsl("object HSL\nend\n");
  TRef<TObjectFilter> f = FilterOf(hsl);
  TFilterParamList params = f->GetParams();
  ASSERT_EQ(params->size(), 3u);
  EXPECT_EQ((*params)[0].Key, u"Hue");
  EXPECT_EQ((*params)[0].Text, u"en:filteropt_Hue");
  EXPECT_EQ((*params)[0].Min, -180);
  EXPECT_EQ(f->GetParams(), params);  // cached
  language = u"de";
  TFilterParamList again = f->GetParams();
  EXPECT_EQ((*again)[0].Text, u"de:filteropt_Hue");
  EXPECT_EQ((*params)[0].Text, u"en:filteropt_Hue");  // a list handed out stays as it was
  translate.Restore();
  EXPECT_EQ((*f->GetParams())[2].Text, u"Lightness");
  EXPECT_EQ(TRef<TObjectFilter>::Adopt(NewObjectFilter<TInvertColor>())->GetParams()->size(), 0u);
}
